#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QGuiApplication>

#include "Tovrick/CursorOverlay/CursorOverlay.h"
#include "Tovrick/CursorOverlay/OverlaySprite.h"
#include "Tovrick/assistant/RealtimeHost.h"
#include "Tovrick/codex/CodexController.h"
#include "assistant/PointingFakes.h"

namespace {

template <typename Condition>
bool waitFor(Condition condition, int milliseconds = 8000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

} // namespace

TEST(NudgeOnDisplay, ANudgeWithATargetFliesTheCharacterToItAndShowsTheSentence)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    // The real character on the media clock, and the host's real timers.
    CursorOverlay overlay;
    overlay.start();
    CodexController codex;
    RealtimeHost::Ports ports;
    ports.pointing = std::make_shared<HostPointing>(overlay.view(), HostPointing::Ports {});
    RealtimeHost host(codex, std::move(ports));
    CursorView& view = overlay.view();

    const QRectF line(700, 500, 240, 30);
    const QString sentence = QStringLiteral("Back to the quarterly report?");
    host.say(sentence, Target {QStringLiteral("L4"), QStringLiteral("Quarterly report"), line}, plan(false, false));

    const QPointF spot(820, 533);
    ASSERT_TRUE(waitFor([&] {
        return view.engine().tip() == spot && (!view.engine().flight() || view.engine().flight()->to == spot);
    })) << "the character is at " << view.engine().tip().x() << "," << view.engine().tip().y();
    OverlaySprite* character = view.characterWindow();
    ASSERT_NE(character, nullptr);
    ASSERT_TRUE(waitFor([&] { return character->isExposed(); }));
    const QRect drawn = character->geometry();
    EXPECT_TRUE(drawn.adjusted(-2, -2, 2, 2).contains(spot.toPoint()))
        << "the character's window " << drawn.x() << "," << drawn.y() << " " << drawn.width() << "x" << drawn.height();

    EXPECT_EQ(view.caption(), sentence);
    EXPECT_EQ(view.speechTarget(), line);
    ASSERT_TRUE(waitFor([&] { return view.bubbleShown() && view.bubbleWindow() && view.bubbleWindow()->isExposed(); }));
    const QRect bubble = view.bubbleWindow()->geometry();
    EXPECT_TRUE(bubble.top() >= line.bottom() || bubble.bottom() <= line.top())
        << "the bubble sits by the line, not over it: " << bubble.y() << "+" << bubble.height();

    // The sentence's reading time ends: the bubble goes, the character heads home 5 s later.
    ASSERT_TRUE(waitFor([&] { return !view.bubbleShown(); }, 9000));
    EXPECT_EQ(view.caption(), std::nullopt);
    overlay.stop();
}
