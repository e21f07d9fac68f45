#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>

#include "Tovrick/CursorOverlay/CursorOverlay.h"
#include "Tovrick/CursorOverlay/OverlaySprite.h"
#include "Tovrick/assistant/HostTools.h"
#include "Tovrick/assistant/RealtimeHost.h"
#include "Tovrick/codex/CodexController.h"
#include "Tovrick/screen/ScreenReader.h"
#include "assistant/AssistantFakes.h"
#include "assistant/PointingFakes.h"
#include "support/LoopbackApi.h"

#include "support/RunTask.h"

namespace {

// A plain window with one big word on it.
class Page : public QRasterWindow {
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(QRect(QPoint(), size()), Qt::white);
        QFont font = painter.font();
        font.setPixelSize(44);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(QRect(QPoint(), size()), Qt::AlignCenter, QStringLiteral("Marmalade"));
    }
};

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
    ASSERT_TRUE(waitUntil([&] {
        return view.engine().tip() == spot && (!view.engine().flight() || view.engine().flight()->to == spot);
    })) << "the character is at " << view.engine().tip().x() << "," << view.engine().tip().y();
    OverlaySprite* character = view.characterWindow();
    ASSERT_NE(character, nullptr);
    ASSERT_TRUE(waitUntil([&] { return character->isExposed(); }));
    const QRect drawn = character->geometry();
    EXPECT_TRUE(drawn.adjusted(-2, -2, 2, 2).contains(spot.toPoint()))
        << "the character's window " << drawn.x() << "," << drawn.y() << " " << drawn.width() << "x" << drawn.height();

    EXPECT_EQ(view.caption(), sentence);
    EXPECT_EQ(view.speechTarget(), line);
    ASSERT_TRUE(waitUntil([&] { return view.bubbleShown() && view.bubbleWindow() && view.bubbleWindow()->isExposed(); }));
    const QRect bubble = view.bubbleWindow()->geometry();
    EXPECT_TRUE(bubble.top() >= line.bottom() || bubble.bottom() <= line.top())
        << "the bubble sits by the line, not over it: " << bubble.y() << "+" << bubble.height();

    // The sentence's reading time ends: the bubble goes, the character heads home 5 s later.
    ASSERT_TRUE(waitUntil([&] { return !view.bubbleShown(); }, std::chrono::milliseconds(9000)));
    EXPECT_EQ(view.caption(), std::nullopt);
    overlay.stop();
}

TEST(NudgeOnDisplay, ThePhonesLookAndPointCallsSendTheCharacterToTheWordOnScreen)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    LoopbackApi api;
    signInForTests(api);
    // The test's own page is what the model must see, so none of this process's windows is covered.
    ScreenReader::setOwnWindows([] { return QList<QRect>(); });
    Page page;
    page.setGeometry(900, 250, 500, 160);
    page.show();
    ASSERT_TRUE(waitUntil([&] { return page.isExposed(); }));
    waitUntil([] { return false; }, std::chrono::milliseconds(300));

    CursorOverlay overlay;
    overlay.start();
    CodexController codex;
    auto pointing = std::make_shared<HostPointing>(overlay.view(), HostPointing::Ports {});
    RealtimeHost::Ports ports;
    ports.pointing = pointing;
    ports.tools = std::make_shared<HostTools>(pointing, codex, HostTools::Ports {});
    RealtimeHost host(codex, std::move(ports));
    ReplySink sink;

    Packet look = request("tool", QStringLiteral("{}"), QStringLiteral("look"));
    look.tool = QStringLiteral("look_at_screen");
    host.handlePhoneRequest(look, sink.reply());
    ASSERT_TRUE(waitUntil([&] { return sink.packets.size() == 1; }, std::chrono::milliseconds(30000)));
    ASSERT_TRUE(sink.packets[0].text);
    EXPECT_TRUE(sink.packets[0].text->contains(QStringLiteral("Marmalade"))) << sink.packets[0].text->toStdString();
    EXPECT_TRUE(sink.packets[0].image && !sink.packets[0].image->isEmpty());
    ASSERT_TRUE(pointing->snapshot());
    std::optional<Target> word;
    for (const TextLine& line : pointing->snapshot()->lines)
        for (const Target& each : line.words)
            if (each.text == QLatin1String("Marmalade"))
                word = each;
    ASSERT_TRUE(word);
    EXPECT_TRUE(QRectF(page.geometry()).adjusted(-4, -4, 4, 4).contains(word->rect)) << "the word is read where it is drawn";

    Packet point = request("tool", QStringLiteral(R"({"target_id":"%1"})").arg(word->id.toLower()), QStringLiteral("point"));
    point.tool = QStringLiteral("point_at");
    host.handlePhoneRequest(point, sink.reply());
    ASSERT_TRUE(waitUntil([&] { return sink.packets.size() == 2; }));
    EXPECT_EQ(sink.packets[1].text, QStringLiteral("Pointing at \"Marmalade\"."));
    EXPECT_EQ(sink.packets[1].callID, QStringLiteral("point"));

    const QPointF spot = HostPointing::pointBelow(word->rect);
    ASSERT_TRUE(waitUntil([&] { return overlay.view().engine().tip() == spot; }));
    OverlaySprite* character = overlay.view().characterWindow();
    ASSERT_NE(character, nullptr);
    ASSERT_TRUE(waitUntil([&] { return character->isExposed(); }));
    EXPECT_TRUE(character->geometry().adjusted(-2, -2, 2, 2).contains(spot.toPoint()));
    EXPECT_EQ(overlay.view().speechTarget(), word->rect);
    overlay.stop();
    ScreenReader::setOwnWindows(nullptr);
}
