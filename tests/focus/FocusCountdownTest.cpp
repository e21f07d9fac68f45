#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>

#include "FocusFakes.h"
#include "Tovrick/focus/FocusCountdown.h"

namespace {

FocusSession sessionWithLeft(double remaining)
{
    FocusSession session(QStringLiteral("Write"), 600, false);
    session.elapsed = 600 - remaining;
    return session;
}

QString labelOnScreen(const FocusCountdown& countdown)
{
    auto* item = countdown.window()->rootObject()->findChild<QQuickItem*>(QStringLiteral("countdownLabel"));
    return item ? item->property("text").toString() : QString();
}

} // namespace

TEST(FocusCountdownText, RemainingTimeRoundsUpAndMarksPauseAndMode)
{
    FocusSession session = sessionWithLeft(125.2);
    EXPECT_EQ(FocusCountdown::labelText(session), QStringLiteral("02:06"));
    session.pause(QStringLiteral("Paused"));
    EXPECT_EQ(FocusCountdown::labelText(session), QStringLiteral("\u2161 02:06"));
    EXPECT_EQ(FocusCountdown::labelText(sessionWithLeft(0.01)), QStringLiteral("00:01"));
    EXPECT_EQ(FocusCountdown::labelText(sessionWithLeft(-3)), QStringLiteral("00:00"));

    EXPECT_EQ(FocusCountdown::modeText(session), QString());
    session.setDeveloperMode(true);
    EXPECT_EQ(FocusCountdown::modeText(session), QStringLiteral("DEVELOPER MODE \u00b7 4\u00d7"));
    session.setDeveloperMode(false);
    EXPECT_EQ(FocusCountdown::modeText(session), QString());
}

TEST(FocusCountdownText, PanelSitsAboveTheBottomRightOfTheUsableArea)
{
    // Usable areas in top-left coordinates: below a top bar, and a second screen to the right.
    EXPECT_EQ(FocusCountdown::panelGeometry(QRect(0, 28, 1920, 1052)), QRect(1468, 924, 420, 132));
    EXPECT_EQ(FocusCountdown::panelGeometry(QRect(1920, 0, 1280, 760)), QRect(2748, 604, 420, 132));
    const QRect usable(0, 0, 800, 600);
    const QRect panel = FocusCountdown::panelGeometry(usable);
    EXPECT_EQ(usable.x() + usable.width() - (panel.x() + panel.width()), 32);
    EXPECT_EQ(usable.y() + usable.height() - (panel.y() + panel.height()), 24);
}

TEST(FocusCountdownText, ShapeCoversOnlyTheDrawnText)
{
    FocusCountdown countdown(false);
    const QRegion digits = FocusCountdown::shapeFor(QStringLiteral("02:06"), QString(), countdown.digitsFont(),
                                                    countdown.modeFont());
    ASSERT_FALSE(digits.isEmpty());
    const QRect bounds = digits.boundingRect();
    EXPECT_GE(bounds.right(), FocusCountdown::kWidth - 12) << "right-aligned digits";
    EXPECT_GT(bounds.left(), FocusCountdown::kWidth / 4) << "not the whole panel";
    EXPECT_GE(bounds.top(), FocusCountdown::kDigitsRect.top() - 3);
    EXPECT_FALSE(digits.contains(QPoint(2, 2)));

    const QRegion withMode = FocusCountdown::shapeFor(QStringLiteral("02:06"), QStringLiteral("DEVELOPER MODE \u00b7 4\u00d7"),
                                                      countdown.digitsFont(), countdown.modeFont());
    EXPECT_LT(withMode.boundingRect().top(), FocusCountdown::kDigitsRect.top());
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
    EXPECT_TRUE(panel->flags().testFlag(Qt::WindowTransparentForInput));
    EXPECT_TRUE(panel->flags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(panel->flags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(labelOnScreen(countdown), QStringLiteral("25:00"));
    world.run(engine, 2);
    EXPECT_EQ(labelOnScreen(countdown), QStringLiteral("24:58"));

    engine.setDeveloperMode(true);
    EXPECT_EQ(countdown.modeLabel(), QStringLiteral("DEVELOPER MODE \u00b7 4\u00d7"));
    engine.pause(QStringLiteral("Paused"));
    EXPECT_EQ(labelOnScreen(countdown), QStringLiteral("\u2161 24:58"));

    engine.end();
    EXPECT_FALSE(panel->isVisible()) << "the ended session stays current but the panel hides";
    EXPECT_TRUE(engine.current().has_value());

    engine.start(QStringLiteral("Again"), false, 10);
    EXPECT_EQ(countdown.window(), panel);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->geometry(), FocusCountdown::panelGeometry(QGuiApplication::primaryScreen()->availableGeometry()));
}
