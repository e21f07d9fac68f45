#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>

#include "FocusFakes.h"
#include "Tovrick/focus/FocusCountdown.h"
#include "Tovrick/screen/OverlayShape.h"

TEST(FocusCountdownText, LabelModeAndPlace)
{
    FocusSession session(QStringLiteral("Write"), 600, false);
    session.elapsed = 600 - 125.2;
    EXPECT_EQ(FocusCountdown::labelText(session), QStringLiteral("02:06"));
    session.pause(QStringLiteral("Paused"));
    session.setDeveloperMode(true);
    EXPECT_EQ(FocusCountdown::labelText(session), QStringLiteral("\u2161 02:06"));
    EXPECT_EQ(FocusCountdown::modeText(session), QStringLiteral("DEVELOPER MODE \u00b7 4\u00d7"));
    session.elapsed = 603;
    EXPECT_EQ(FocusCountdown::labelText(session), QStringLiteral("\u2161 00:00"));

    // A usable area below a top bar on a second screen, in top-left coordinates.
    EXPECT_EQ(FocusCountdown::panelGeometry(QRect(1920, 28, 1280, 732)), QRect(2748, 604, 420, 132));

    // Without a compositor only the drawn text may cover what is underneath.
    FocusCountdown countdown(false);
    FocusSession running(QStringLiteral("Write"), 600, false);
    running.elapsed = 600 - 125.2;
    countdown.update(running);
    const QRect digits = countdown.shape().boundingRect();
    EXPECT_GE(digits.right(), FocusCountdown::kWidth - 12) << "right-aligned digits";
    EXPECT_GT(digits.left(), FocusCountdown::kWidth / 4) << "not the whole panel";
    countdown.update(session);
    EXPECT_LT(countdown.shape().boundingRect().top(), FocusCountdown::kDigitsRect.top());

    // Right-aligned, the clock stays put only if every digit is as wide as the others ("D050000L"
    // draws its digits at widths of their own).
    for (const char* family : { "Sans Serif", "D050000L" }) {
        QFont font { QString::fromLatin1(family) };
        font.setPixelSize(76);
        const QFontMetricsF metrics(FocusCountdown::evenDigitsFont(font));
        for (const char* time : { "11:11", "00:00", "47:58" })
            EXPECT_EQ(metrics.horizontalAdvance(QString::fromLatin1(time)), metrics.horizontalAdvance(QStringLiteral("88:88")))
                << family << " " << time;
    }
    EXPECT_EQ(countdown.digitsFont(), FocusCountdown::evenDigitsFont(countdown.digitsFont()));
}

// The shape is put together from characters drawn once; it must still fit the text as the window
// draws it whole, to within a pixel, or the dark edge shows or the digits are cut.
TEST(FocusCountdownText, ShapeFitsTheTextDrawnWhole)
{
    FocusCountdown countdown(false);
    const auto wholeShape = [&] {
        QImage image(FocusCountdown::kWidth, FocusCountdown::kHeight, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setPen(Qt::white);
        painter.setFont(countdown.digitsFont());
        painter.drawText(FocusCountdown::kDigitsRect, Qt::AlignRight | Qt::AlignVCenter, countdown.label());
        painter.setFont(countdown.modeFont());
        painter.drawText(FocusCountdown::kModeRect, Qt::AlignRight | Qt::AlignVCenter, countdown.modeLabel());
        painter.end();
        return overlayShape::fromAlpha(image, 2);
    };
    // Every point of `a` has a point of `b` within one pixel.
    const auto within = [](const QRegion& a, const QRegion& b) {
        for (int y = 0; y < FocusCountdown::kHeight; ++y)
            for (int x = 0; x < FocusCountdown::kWidth; ++x)
                if (a.contains(QPoint(x, y)) && !b.intersects(QRect(x - 1, y - 1, 3, 3)))
                    return false;
        return true;
    };
    const struct {
        double duration;
        double elapsed;
        bool paused;
        bool developer;
    } cases[] = { { 600, 474.8, false, false }, { 600, 603, true, true }, { 14400, 60, false, false },
                  { 3600, 1, true, false }, { 1500, 1500 - 78.3, false, true } };
    for (const auto& c : cases) {
        FocusSession session(QStringLiteral("Write"), c.duration, false);
        session.elapsed = c.elapsed;
        session.setDeveloperMode(c.developer);
        if (c.paused)
            session.pause(QStringLiteral("Paused"));
        countdown.update(session);
        SCOPED_TRACE(countdown.label().toStdString());
        const QRegion whole = wholeShape();
        const QRegion shape = countdown.shape();
        ASSERT_FALSE(whole.isEmpty());
        EXPECT_TRUE(within(whole, shape));
        EXPECT_TRUE(within(shape, whole));
    }
}

TEST(FocusCountdownPanel, MadeOnceHiddenOnEndAndReused)
{
    FocusWorld world;
    FocusEnvironment environment = world.environment();
    environment.showsCountdown = true;
    FocusCompanion engine(environment);
    const FocusCountdown& countdown = engine.countdown();
    engine.publish();
    EXPECT_EQ(countdown.window(), nullptr) << "no window before a session";

    engine.start(QStringLiteral("Write"), false, 25);
    QQuickView* panel = countdown.window();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(panel->errors().isEmpty());
    EXPECT_EQ(panel->geometry(), FocusCountdown::panelGeometry(QGuiApplication::primaryScreen()->availableGeometry()));
    EXPECT_TRUE(panel->flags().testFlags(Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus | Qt::WindowStaysOnTopHint));
    world.run(engine, 2);
    engine.pause(QStringLiteral("Paused"));
    auto* label = panel->rootObject()->findChild<QQuickItem*>(QStringLiteral("countdownLabel"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->property("text").toString(), QStringLiteral("\u2161 24:58"));

    engine.end();
    EXPECT_FALSE(panel->isVisible()) << "the ended session stays current but the panel hides";
    engine.start(QStringLiteral("Again"), false, 10);
    EXPECT_EQ(countdown.window(), panel);
    EXPECT_TRUE(panel->isVisible());
}
