#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QFile>
#include <QTemporaryDir>
#include <QQuickItem>
#include <QQuickView>
#include <QRasterWindow>
#include <QScreen>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include "Tovrick/CursorOverlay/CursorChoices.h"
#include "Tovrick/CursorOverlay/CursorOverlay.h"
#include "Tovrick/CursorOverlay/OverlaySprite.h"
#include "Tovrick/screen/OverlayShape.h"
#include "Tovrick/screen/X11Display.h"
#include "shared/art/BlobPortrait.h"
#include "shared/art/Palette.h"

#include "support/RunTask.h"

namespace {

// A plain window that counts the presses it receives.
class Target : public QRasterWindow {
public:
    int presses = 0;
    QPoint lastPress;

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(QRect(QPoint(), size()), QColor(240, 240, 240)); }
    void mousePressEvent(QMouseEvent* event) override
    {
        ++presses;
        lastPress = event->position().toPoint();
    }
};

void clickAt(QPoint global)
{
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    XTestFakeMotionEvent(display, -1, global.x(), global.y(), CurrentTime);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XSync(display, False);
    XCloseDisplay(display);
}

// The root's child that holds `window`: its frame under a reparenting window manager, else itself.
quint64 topLevelOf(quint64 window)
{
    return X11Display().topLevelOf(window);
}

bool overrideRedirect(quint64 window)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    XWindowAttributes attributes {};
    const bool bypasses = XGetWindowAttributes(display, static_cast<Window>(window), &attributes)
        && attributes.override_redirect;
    XCloseDisplay(display);
    return bypasses;
}

// How many pixels of `image` are close to one of the body gradient's colours.
int bodyPixels(const QImage& image)
{
    const QColor stops[] = { Color::tovrickHex(Palette::bodyTop), Color::tovrickHex(Palette::bodyUpper),
                             Color::tovrickHex(Palette::bodyLower), Color::tovrickHex(Palette::bodyBottom) };
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            for (const QColor& stop : stops)
                if (std::abs(pixel.red() - stop.red()) + std::abs(pixel.green() - stop.green())
                        + std::abs(pixel.blue() - stop.blue()) < 40) {
                    ++count;
                    break;
                }
        }
    return count;
}

TEST(OverlayOnDisplay, ClicksPassThroughTheCharacterToTheWindowBelow)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    Target target;
    target.setGeometry(200, 200, 500, 400);
    target.show();
    ASSERT_TRUE(waitUntil([&] { return target.isExposed(); }));
    // A window manager may have placed it elsewhere.
    const QPointF tipAt = QPointF(target.geometry().topLeft()) + QPointF(100, 100);

    double now = 5;
    CursorOverlay overlay(CursorEngine::Environment { [&] { return now; }, [] { return QPointF(1500, 900); } });
    CursorView& view = overlay.view();
    view.engine().setMode(CursorMode::pinned(tipAt));
    overlay.step();
    now += 2;
    overlay.step();
    ASSERT_EQ(view.engine().tip(), tipAt);
    OverlaySprite* character = view.characterWindow();
    ASSERT_NE(character, nullptr);
    ASSERT_TRUE(waitUntil([&] { return character->isExposed(); }));

    // The window bypasses any window manager (no frame of its own size around it to take the clicks),
    // carries the overlay states and takes no input.
    EXPECT_TRUE(overrideRedirect(character->winId()));
    EXPECT_EQ(topLevelOf(character->winId()), character->winId()) << "the window was put in a frame";
    const QStringList states = overlayShape::netWmStates(*character);
    for (const char* state :
         { "_NET_WM_STATE_ABOVE", "_NET_WM_STATE_STICKY", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER" })
        EXPECT_TRUE(states.contains(QLatin1String(state))) << state << " in " << states.join(' ').toStdString();
    EXPECT_TRUE(overlayShape::inputShapeIsEmpty(*character));
    EXPECT_TRUE(character->flags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_LT(character->width(), 200) << "a small window around the figure, not a sheet";

    // The figure covers the spot on screen, and a click there reaches the window below.
    const QRectF box = view.characterBox();
    const QPoint spot = (box.bottomRight() - QPointF(31, 25)).toPoint();
    waitUntil([] { return false; }, std::chrono::milliseconds(300));
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0, spot.x() - 10, spot.y() - 10, 21, 21).toImage();
    EXPECT_GT(bodyPixels(screen), 40) << "the character is drawn over the test window";
    clickAt(spot);
    ASSERT_TRUE(waitUntil([&] { return target.presses > 0; })) << "the click did not reach the window below";
    EXPECT_EQ(target.lastPress, spot - target.position());
    // So does a click at the character's tip, where an action clicks after the flight.
    clickAt(tipAt.toPoint());
    ASSERT_TRUE(waitUntil([&] { return target.presses > 1; })) << "the click at the tip did not reach the window below";
    EXPECT_EQ(target.lastPress, tipAt.toPoint() - target.position());

    // The bubble and the label are click-through overlays too.
    view.setCaption(QStringLiteral("Right here"));
    view.showLabel(QStringLiteral("Saved"), 5);
    overlay.step();
    for (OverlaySprite* window : { view.bubbleWindow(), view.labelWindow() }) {
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(overlayShape::inputShapeIsEmpty(*window)) << window->objectName().toStdString();
        EXPECT_TRUE(overlayShape::netWmStates(*window).contains(QStringLiteral("_NET_WM_STATE_ABOVE")));
        EXPECT_TRUE(overrideRedirect(window->winId())) << window->objectName().toStdString();
    }
}

// Where `window` lies in the root's stacking order, bottom first.
int stackingIndex(quint64 window)
{
    Display* display = XOpenDisplay(nullptr);
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    int index = -1;
    if (display && XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count; ++i)
            if (children[i] == static_cast<Window>(window))
                index = static_cast<int>(i);
        XFree(children);
    }
    if (display)
        XCloseDisplay(display);
    return index;
}

TEST(OverlayOnDisplay, StaysAboveWindowsOpenedOrRaisedLater)
{
    double now = 1;
    CursorOverlay overlay(CursorEngine::Environment { [&] { return now; }, [] { return QPointF(300, 300); } });
    overlay.step();
    ASSERT_NE(overlay.view().characterWindow(), nullptr);
    ASSERT_TRUE(waitUntil([&] { return overlay.view().characterWindow()->isExposed(); }));
    const quint64 character = overlay.view().characterWindow()->winId();

    // No frame steps from here: the overlay goes back on top because the window was mapped (or
    // raised).
    Target later;
    later.setGeometry(250, 250, 300, 300);
    later.show();
    ASSERT_TRUE(waitUntil([&] { return later.isExposed(); }));
    const auto above = [&] { return stackingIndex(character) > stackingIndex(topLevelOf(later.winId())); };
    EXPECT_TRUE(waitUntil(above, std::chrono::milliseconds(2000)));
    later.raise();
    EXPECT_TRUE(waitUntil(above, std::chrono::milliseconds(2000)));
}

TEST(OverlayOnDisplay, WithoutACompositorTheShapeIsWhatIsDrawn)
{
    ASSERT_FALSE(overlayShape::compositorRunning()) << "the test display has no compositing manager";
    double now = 1;
    CursorOverlay overlay(CursorEngine::Environment { [&] { return now; }, [] { return QPointF(600, 500); } });
    overlay.step();
    OverlaySprite* character = overlay.view().characterWindow();
    ASSERT_NE(character, nullptr);
    const QRegion mask = character->mask();
    EXPECT_FALSE(mask.isEmpty());
    EXPECT_FALSE(mask.contains(QPoint(character->width() - 2, 2))) << "the empty corner is cut away";
    EXPECT_TRUE(mask.contains(QPoint(character->width() - 31, character->height() - 25))) << "the body is kept";
}

void movePointer(QPoint global)
{
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    XTestFakeMotionEvent(display, -1, global.x(), global.y(), CurrentTime);
    XSync(display, False);
    XCloseDisplay(display);
}

// Moved by another program, a window manager or our own restore after a click: no motion comes.
void warpPointer(QPoint global)
{
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, global.x(), global.y());
    XSync(display, False);
    XCloseDisplay(display);
}

TEST(OverlayOnDisplay, AtRestNoFrameRunsAndMovingThePointerWakesIt)
{
    const struct {
        const char* name;
        void (*move)(QPoint);
        bool asleep; // nothing is due then, however long it waits
    } moves[] = { { "motion", movePointer, false }, { "warp", warpPointer, false }, { "warp asleep", warpPointer, true } };
    for (const auto& move : moves) {
        SCOPED_TRACE(move.name);
        movePointer(QPoint(400, 300));
        // The real clock and pointer, as the program has them.
        CursorOverlay overlay;
        overlay.view().engine().setMode(CursorMode::following());
        overlay.view().engine().setAwake(!move.asleep);
        const auto rested = [&] { return !overlay.framesRunning(); };
        overlay.start();
        ASSERT_TRUE(waitUntil(rested)) << "the character never came to rest";
        EXPECT_TRUE(overlay.watchesMotion()) << "the pointer's motion comes as events";
        // A blink wakes the frames anyway: the move is made well before the next one is due.
        const auto clearOfBlink = [&] {
            return rested() && (!overlay.dueAt() || *overlay.dueAt() - CursorOverlay::mediaClock() > 1.5);
        };
        ASSERT_TRUE(waitUntil(clearOfBlink, std::chrono::seconds(6)));
        EXPECT_EQ(overlay.dueAt().has_value(), !move.asleep);
        const double blinkAt = overlay.dueAt().value_or(CursorOverlay::mediaClock() + 10);
        const QPointF settled = overlay.view().engine().tip();

        // The frame count and time when the frames woke, and the frame of the first face that followed.
        std::optional<quint64> wokeAt;
        double wokeWhen = 0;
        std::optional<quint64> facedAt;
        QPointF facedTip;
        QObject::connect(&overlay, &CursorOverlay::framesRunningChanged, &overlay, [&](bool on) {
            if (on && !wokeAt) {
                wokeAt = overlay.frames();
                wokeWhen = CursorOverlay::mediaClock();
            }
        });
        overlay.onFace = [&](const FaceState&, bool) {
            if (wokeAt && !facedAt) {
                facedAt = overlay.frames();
                facedTip = overlay.view().engine().tip();
            }
        };
        move.move(QPoint(700, 520));
        ASSERT_TRUE(waitUntil([&] { return facedAt.has_value(); }, std::chrono::milliseconds(1000)))
            << "the move did not wake the frames";
        EXPECT_LT(wokeWhen, blinkAt);
        EXPECT_EQ(*facedAt, *wokeAt + 1) << "the first frame after waking did not see the pointer's new place";
        EXPECT_GT(facedTip.x(), settled.x());
        ASSERT_TRUE(waitUntil(rested)) << "the frames did not stop again";
        EXPECT_EQ(overlay.view().engine().tip(), QPointF(700, 520) + cursorChoices::followOffset);
    }
}

TEST(BlobPortraitOnDisplay, DrawsTheCharacterAtAnySize)
{
    BlobPortrait::registerQmlType();
    // The software scene graph: the display's GL driver keeps allocations past exit that the leak
    // checker reports, and the portrait is painted by QPainter either way.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QQuickView view;
    view.setColor(Qt::white);
    view.setResizeMode(QQuickView::SizeRootObjectToView);
    view.setGeometry(50, 50, 700, 320);
    QTemporaryDir folder;
    const QString page = folder.filePath(QStringLiteral("Portraits.qml"));
    QFile file(page);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"(
        import QtQuick
        import Tovrick.Art 1.0
        Item {
            BlobPortrait { objectName: "small"; x: 10; y: 10; width: 36; height: 36 }
            BlobPortrait { objectName: "smallLimbs"; x: 60; y: 10; width: 36; height: 36; showLimbs: true }
            BlobPortrait { objectName: "large"; x: 110; y: 10; width: 280; height: 280 }
            BlobPortrait { objectName: "largeLimbs"; x: 400; y: 10; width: 280; height: 280; showLimbs: true }
        })");
    file.close();
    view.setSource(QUrl::fromLocalFile(page));
    ASSERT_TRUE(view.errors().isEmpty()) << view.errors().value(0).toString().toStdString();
    QQuickItem* root = view.rootObject();
    ASSERT_NE(root, nullptr);
    view.show();
    ASSERT_TRUE(waitUntil([&] { return view.isExposed(); }));
    waitUntil([] { return false; }, std::chrono::milliseconds(300));
    const QImage picture = view.grabWindow();
    ASSERT_FALSE(picture.isNull());

    const auto squareOf = [&](const char* name) {
        auto* item = root->findChild<QQuickItem*>(QLatin1String(name));
        return item ? picture.copy(item->mapRectToScene(item->boundingRect()).toRect()) : QImage();
    };
    for (const char* name : { "small", "smallLimbs" })
        EXPECT_GT(bodyPixels(squareOf(name)), 36 * 36 / 10) << name;
    for (const char* name : { "large", "largeLimbs" })
        EXPECT_GT(bodyPixels(squareOf(name)), 280 * 280 / 6) << name;
    EXPECT_NE(squareOf("large"), squareOf("largeLimbs")) << "limbs change the picture";

    auto* portrait = root->findChild<BlobPortrait*>(QStringLiteral("large"));
    ASSERT_NE(portrait, nullptr);
    EXPECT_FALSE(portrait->showLimbs());
}

} // namespace
