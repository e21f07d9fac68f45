#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>

#include "FocusFakes.h"
#include "Tovrick/focus/FocusCountdown.h"

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
    const auto shape = [&](const QString& mode) {
        return FocusCountdown::shapeFor(QStringLiteral("02:06"), mode, countdown.digitsFont(), countdown.modeFont())
            .boundingRect();
    };
    const QRect digits = shape(QString());
    EXPECT_GE(digits.right(), FocusCountdown::kWidth - 12) << "right-aligned digits";
    EXPECT_GT(digits.left(), FocusCountdown::kWidth / 4) << "not the whole panel";
    EXPECT_LT(shape(FocusCountdown::modeText(session)).top(), FocusCountdown::kDigitsRect.top());

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
