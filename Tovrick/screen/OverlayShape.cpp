#include "Tovrick/screen/OverlayShape.h"

#include <QBitmap>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QWindow>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/shape.h>

#include <algorithm>
#include <optional>
#include <vector>

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
    const QImage argb = drawn.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int width = argb.width();
    const int height = argb.height();
    std::vector<uchar> alpha(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < width; ++x)
            alpha[static_cast<size_t>(y) * width + x] = static_cast<uchar>(qAlpha(line[x]));
    }
    if (grow > 0) {
        // The picture drawn shifted in every direction, one copy over the other, grows its opaque
        // part by `grow`. The countdown's shape is made once a second: the painter's source-over
        // sums, on the alpha channel alone and in the same order, cost a tenth of the painting.
        std::vector<uchar> grown(alpha.size(), 0);
        for (int dx = -grow; dx <= grow; ++dx)
            for (int dy = -grow; dy <= grow; ++dy)
                for (int y = std::max(0, dy); y < std::min(height, height + dy); ++y) {
                    const uchar* from = &alpha[static_cast<size_t>(y - dy) * width];
                    uchar* to = &grown[static_cast<size_t>(y) * width];
                    for (int x = std::max(0, dx); x < std::min(width, width + dx); ++x) {
                        const uint source = from[x - dx];
                        if (source == 255) {
                            to[x] = 255;
                        } else if (source != 0) {
                            const uint product = to[x] * (255 - source);
                            to[x] = static_cast<uchar>(source + ((product + (product >> 8) + 0x80) >> 8));
                        }
                    }
                }
        alpha.swap(grown);
    }
    // At least half opaque, as QImage::createAlphaMask draws the line: bit set, colour 1 (black).
    QImage mask(width, height, QImage::Format_MonoLSB);
    mask.setColorCount(2);
    mask.setColor(0, qRgb(255, 255, 255));
    mask.setColor(1, qRgb(0, 0, 0));
    mask.fill(0);
    for (int y = 0; y < height; ++y) {
        uchar* bits = mask.scanLine(y);
        const uchar* row = &alpha[static_cast<size_t>(y) * width];
        for (int x = 0; x < width; ++x)
            if (row[x] >= 128)
                bits[x >> 3] |= static_cast<uchar>(1u << (x & 7));
    }
    QRegion region(QBitmap::fromImage(std::move(mask)));
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
