#include "Tovrick/screen/OverlayShape.h"

#include <QBitmap>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPainter>
#include <QWindow>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/shape.h>

#include <optional>

namespace {

// Qt's own connection, so that our requests are ordered with Qt's on the same windows.
Display* qtDisplay()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

Window xWindow(const QWindow& window)
{
    return static_cast<Window>(window.winId());
}

} // namespace

namespace overlayShape {

bool compositorRunning()
{
    static QElapsedTimer checked;
    static bool running = false;
    if (checked.isValid() && checked.elapsed() < 2000)
        return running;
    checked.start();
    Display* display = qtDisplay();
    if (!display) {
        running = false;
        return running;
    }
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(display));
    const Atom selection = XInternAtom(display, name.constData(), False);
    running = XGetSelectionOwner(display, selection) != None;
    return running;
}

QRegion fromAlpha(const QImage& drawn, int grow)
{
    if (drawn.isNull())
        return {};
    QImage alpha = drawn.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (grow > 0) {
        // Drawing the picture shifted in every direction grows its opaque part by `grow`.
        QImage grown(alpha.size(), QImage::Format_ARGB32_Premultiplied);
        grown.fill(Qt::transparent);
        QPainter painter(&grown);
        for (int dx = -grow; dx <= grow; ++dx)
            for (int dy = -grow; dy <= grow; ++dy)
                painter.drawImage(QPoint(dx, dy), alpha);
        painter.end();
        alpha = grown;
    }
    QRegion region(QBitmap::fromImage(alpha.createAlphaMask()));
    const double ratio = drawn.devicePixelRatio();
    if (ratio != 1.0)
        region = QTransform::fromScale(1.0 / ratio, 1.0 / ratio).map(region);
    return region;
}

void apply(QWindow& window, const QRegion& shape)
{
    if (compositorRunning() || !shape.isEmpty()) {
        window.setMask(compositorRunning() ? QRegion() : shape);
        return;
    }
    // Qt takes an empty mask for "no mask": an empty shape is cut here.
    window.setMask(QRegion());
    if (Display* display = qtDisplay()) {
        XShapeCombineRectangles(display, xWindow(window), ShapeBounding, 0, 0, nullptr, 0, ShapeSet, Unsorted);
        XFlush(display);
    }
}

void markOverlay(QWindow& window)
{
    Display* display = qtDisplay();
    if (!display)
        return;
    const Window id = xWindow(window);
    const auto atom = [display](const char* name) { return XInternAtom(display, name, False); };
    const Atom states[] = { atom("_NET_WM_STATE_ABOVE"), atom("_NET_WM_STATE_STICKY"),
                            atom("_NET_WM_STATE_SKIP_TASKBAR"), atom("_NET_WM_STATE_SKIP_PAGER") };
    XChangeProperty(display, id, atom("_NET_WM_STATE"), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(states), 4);
    const long allDesktops = 0xFFFFFFFF;
    XChangeProperty(display, id, atom("_NET_WM_DESKTOP"), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&allDesktops), 1);
    XShapeCombineRectangles(display, id, ShapeInput, 0, 0, nullptr, 0, ShapeSet, Unsorted);
    XFlush(display);
}

void raise(QWindow& window)
{
    if (Display* display = qtDisplay()) {
        XRaiseWindow(display, xWindow(window));
        XFlush(display);
    }
}

QStringList netWmStates(const QWindow& window)
{
    QStringList names;
    Display* display = qtDisplay();
    if (!display)
        return names;
    XSync(display, False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(display, xWindow(window), XInternAtom(display, "_NET_WM_STATE", False), 0,
                                          64, False, XA_ATOM, &type, &format, &count, &remaining, &data);
    if (status == Success && data && format == 32) {
        const auto* atoms = reinterpret_cast<const Atom*>(data);
        for (unsigned long i = 0; i < count; ++i) {
            char* name = XGetAtomName(display, atoms[i]);
            names.append(QString::fromLatin1(name));
            XFree(name);
        }
    }
    if (data)
        XFree(data);
    return names;
}

bool inputShapeIsEmpty(const QWindow& window)
{
    Display* display = qtDisplay();
    if (!display)
        return false;
    XSync(display, False);
    int count = 0;
    int ordering = 0;
    XRectangle* rectangles = XShapeGetRectangles(display, xWindow(window), ShapeInput, &count, &ordering);
    if (rectangles)
        XFree(rectangles);
    return count == 0;
}

} // namespace overlayShape
