// Where the focus window's parts sit: the task field's three lines, the Sounds page's header and the
// sign-in buttons' width.
#include <QEventLoop>
#include <QQuickItem>
#include <QQuickView>
#include <QQuickWindow>
#include <QTimer>
#include <gtest/gtest.h>

#include "Tovrick/focus/MacFocusPanel.h"
#include "Tovrick/focus/MacFocusView.h"
#include "focus/FocusWindowWorld.h"
#include "support/QuickItems.h"

namespace {

void settle()
{
    QEventLoop loop;
    QTimer::singleShot(50, &loop, &QEventLoop::quit);
    loop.exec();
}

struct LaidOutWindow : FocusWindowWorld {
    MacFocusPanel panel { &account, &access };

    explicit LaidOutWindow(bool signedIn)
    {
        if (signedIn)
            account.adoptSession(focusWindowSession(QStringLiteral("user-1")));
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        panel.setVisionLibrary(vision);
        panel.show(*engine, [] {});
        settle();
    }
    QQuickItem* item(const QString& name, QQuickItem* under = nullptr)
    {
        QQuickItem* found = findItem(under ? under : panel.window()->rootObject(), name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }
    static QRectF sceneRect(QQuickItem* item) { return item->mapRectToScene(QRectF(0, 0, item->width(), item->height())); }
};

} // namespace

TEST(FocusWindowLayout, ALongTaskScrollsWithinThreeLinesAboveTheChips)
{
    LaidOutWindow w(true);
    QQuickItem* field = w.item(QStringLiteral("macFocusTask"));
    QQuickItem* box = w.item(QStringLiteral("macFocusTaskScroll"));
    QQuickItem* chip = w.item(QStringLiteral("macFocusDuration15"));
    ASSERT_TRUE(field && box && chip);
    const double emptyHeight = box->height();

    QStringList lines;
    for (int n = 1; n <= 8; ++n)
        lines << QStringLiteral("Line %1 of a task that goes on").arg(n);
    field->forceActiveFocus();
    field->setProperty("text", lines.join(u'\n'));
    field->setProperty("cursorPosition", field->property("length"));
    settle();

    // Two lines empty, three at most: the field stops growing and holds the rest inside.
    EXPECT_GT(box->height(), emptyHeight);
    EXPECT_LT(box->height(), emptyHeight * 1.6);
    EXPECT_TRUE(box->clip());
    EXPECT_LE(LaidOutWindow::sceneRect(box).bottom(), LaidOutWindow::sceneRect(chip).top());
    // The cursor at the end of the eighth line is in view: the text has scrolled up inside the box.
    const QRectF cursor = field->property("cursorRectangle").toRectF();
    const QRectF cursorInScene = field->mapRectToScene(cursor);
    EXPECT_GE(cursorInScene.top(), LaidOutWindow::sceneRect(box).top());
    EXPECT_LE(cursorInScene.bottom(), LaidOutWindow::sceneRect(box).bottom());
}

TEST(FocusWindowLayout, TheSoundsPageHasItsHeader)
{
    LaidOutWindow w(true);
    w.panel.view()->selectPage(static_cast<int>(FocusPage::sounds));
    settle();
    QQuickItem* area = w.item(QStringLiteral("macFocusSoundsArea"));
    ASSERT_NE(area, nullptr);
    QQuickItem* header = w.item(QStringLiteral("macFocusPageHeader"), area);
    QQuickItem* screen = w.item(QStringLiteral("motivationSounds"), area);
    ASSERT_TRUE(header && screen);
    EXPECT_TRUE(isShown(header));
    EXPECT_EQ(header->property("text").toString(), QStringLiteral("Sounds"));
    EXPECT_GE(LaidOutWindow::sceneRect(screen).top(), LaidOutWindow::sceneRect(header).bottom());
}

TEST(FocusWindowLayout, SignInButtonsFillTheWidthLessThePadding)
{
    LaidOutWindow w(false);
    for (const int width : { 640, 1000 }) {
        SCOPED_TRACE(width);
        w.panel.window()->resize(width, 800);
        settle();
        for (const char* name : { "macGoogleSignIn", "macAppleSignIn" }) {
            QQuickItem* button = w.item(QString::fromLatin1(name));
            ASSERT_NE(button, nullptr);
            const QRectF placed = LaidOutWindow::sceneRect(button);
            EXPECT_DOUBLE_EQ(placed.width(), width - 40) << name;
            EXPECT_DOUBLE_EQ(placed.left(), 20) << name;
        }
    }
}
