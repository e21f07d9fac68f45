#include "Tovrick/screen/X11Display.h"

#include "Tovrick/screen/ScreenReaderError.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/shape.h>
#include <X11/extensions/scrnsaver.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

namespace {

// Xlib's default error handler ends the process, and the handler is process-wide: errors on our
// own connections are recorded per connection; errors on anyone else's go to the handler that was
// there before.
std::mutex gErrorsMutex;
std::map<Display*, bool> gOwnDisplays;
XErrorHandler gPreviousHandler = nullptr;

int recordError(Display* display, XErrorEvent* event)
{
    {
        std::lock_guard lock(gErrorsMutex);
        auto found = gOwnDisplays.find(display);
        if (found != gOwnDisplays.end()) {
            found->second = true;
            return 0;
        }
    }
    return gPreviousHandler ? gPreviousHandler(display, event) : 0;
}

void installErrorHandler()
{
    static std::once_flag once;
    std::call_once(once, [] { gPreviousHandler = XSetErrorHandler(recordError); });
}

// Reads one property of `window` as raw items; empty when missing or of another format.
QByteArray windowProperty(Display* display, Window window, Atom property, Atom type, int format)
{
    Atom actualType = 0;
    int actualFormat = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(display, window, property, 0, 1 << 16, False, type,
                                          &actualType, &actualFormat, &count, &remaining, &data);
    QByteArray result;
    if (status == Success && data && actualType == type && actualFormat == format && count > 0) {
        // Xlib hands 32-bit items back as longs.
        const size_t itemSize = format == 32 ? sizeof(long) : static_cast<size_t>(format / 8);
        result = QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(count * itemSize));
    }
    if (data)
        XFree(data);
    return result;
}

std::optional<unsigned long> firstCardinal(Display* display, Window window, Atom property, Atom type)
{
    const QByteArray raw = windowProperty(display, window, property, type, 32);
    if (raw.size() < static_cast<qsizetype>(sizeof(long)))
        return std::nullopt;
    unsigned long value = 0;
    std::memcpy(&value, raw.constData(), sizeof(value));
    return value;
}

QString titleOf(Display* display, Window window)
{
    const QByteArray utf8 = windowProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False),
                                           XInternAtom(display, "UTF8_STRING", False), 8);
    if (!utf8.isEmpty())
        return QString::fromUtf8(utf8);
    return QString::fromLatin1(windowProperty(display, window, XA_WM_NAME, XA_STRING, 8));
}

// The window inside `window` (itself, or a client a level or two down in a window manager's frame)
// that says which process owns it, and that process; `window` and none when none says.
std::pair<Window, std::optional<unsigned long>> ownedClient(Display* display, Window window)
{
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    std::optional<unsigned long> owner = firstCardinal(display, window, pidAtom, XA_CARDINAL);
    if (owner)
        return {window, owner};
    QList<Window> below {window};
    for (int depth = 0; depth < 2 && !below.isEmpty(); ++depth) {
        QList<Window> next;
        for (const Window up : std::as_const(below)) {
            Window rootReturn = 0;
            Window parent = 0;
            Window* children = nullptr;
            unsigned int count = 0;
            if (!XQueryTree(display, up, &rootReturn, &parent, &children, &count))
                continue;
            for (unsigned int i = 0; i < count; ++i)
                next.append(children[i]);
            if (children)
                XFree(children);
        }
        for (const Window candidate : std::as_const(next))
            if ((owner = firstCardinal(display, candidate, pidAtom, XA_CARDINAL)))
                return {candidate, owner};
        below = next;
    }
    return {window, std::nullopt};
}

QImage toImage(const XImage* image)
{
    const int width = image->width;
    const int height = image->height;
    QImage out(width, height, QImage::Format_RGB32);
    if (out.isNull())
        return out;
    const bool direct = image->bits_per_pixel == 32 && image->red_mask == 0xff0000
        && image->green_mask == 0xff00 && image->blue_mask == 0xff
        && image->byte_order == (QSysInfo::ByteOrder == QSysInfo::LittleEndian ? LSBFirst : MSBFirst);
    if (direct) {
        for (int y = 0; y < height; ++y)
            std::memcpy(out.scanLine(y), image->data + static_cast<qsizetype>(y) * image->bytes_per_line,
                        static_cast<size_t>(width) * 4);
        return out;
    }
    // Unusual visuals: per-pixel, through the image's own masks.
    auto channel = [](unsigned long pixel, unsigned long mask) -> int {
        if (!mask)
            return 0;
        int shift = 0;
        while (!((mask >> shift) & 1))
            ++shift;
        const unsigned long max = mask >> shift;
        return static_cast<int>(((pixel & mask) >> shift) * 255 / max);
    };
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const unsigned long pixel = XGetPixel(const_cast<XImage*>(image), x, y);
            line[x] = qRgb(channel(pixel, image->red_mask), channel(pixel, image->green_mask),
                           channel(pixel, image->blue_mask));
        }
    }
    return out;
}

// Where the pointer is on the root window, and the root's child under it (0 for none).
struct PointerAt {
    QPoint root;
    Window child = 0;
};
std::optional<PointerAt> pointerAt(Display* display)
{
    Window root = 0;
    Window child = 0;
    int rootX = 0;
    int rootY = 0;
    int x = 0;
    int y = 0;
    unsigned int buttons = 0;
    if (!XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rootX, &rootY, &x, &y, &buttons))
        return std::nullopt;
    return PointerAt { QPoint(rootX, rootY), child };
}

} // namespace

X11Display::X11Display(const QByteArray& name)
{
    installErrorHandler();
    m_display = XOpenDisplay(name.isEmpty() ? nullptr : name.constData());
    if (m_display) {
        std::lock_guard lock(gErrorsMutex);
        gOwnDisplays[m_display] = false;
    }
}

X11Display::~X11Display()
{
    if (!m_display)
        return;
    XCloseDisplay(m_display);
    std::lock_guard lock(gErrorsMutex);
    gOwnDisplays.erase(m_display);
}

int X11Display::rootWidth() const
{
    return m_display ? DisplayWidth(m_display, DefaultScreen(m_display)) : 0;
}

int X11Display::rootHeight() const
{
    return m_display ? DisplayHeight(m_display, DefaultScreen(m_display)) : 0;
}

bool X11Display::takeError()
{
    XSync(m_display, False);
    std::lock_guard lock(gErrorsMutex);
    bool& flag = gOwnDisplays[m_display];
    const bool had = flag;
    flag = false;
    return had;
}

QImage X11Display::capture(QRect area)
{
    if (!m_display)
        throw ScreenReaderError::noDisplay();
    area = area.intersected(QRect(0, 0, rootWidth(), rootHeight()));
    if (area.isEmpty())
        throw ScreenReaderError(ScreenReaderError::Kind::captureFailed);
    QImage image = captureShared(area);
    m_usedShm = !image.isNull();
    if (image.isNull())
        image = capturePlain(area);
    if (image.isNull())
        throw ScreenReaderError(ScreenReaderError::Kind::captureFailed);
    return image;
}

QImage X11Display::captureShared(QRect area)
{
    if (!XShmQueryExtension(m_display))
        return {};
    const int screen = DefaultScreen(m_display);
    XShmSegmentInfo segment {};
    XImage* image = XShmCreateImage(m_display, DefaultVisual(m_display, screen),
                                    static_cast<unsigned>(DefaultDepth(m_display, screen)), ZPixmap,
                                    nullptr, &segment, static_cast<unsigned>(area.width()),
                                    static_cast<unsigned>(area.height()));
    if (!image)
        return {};
    QImage result;
    segment.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(image->bytes_per_line) * image->height,
                           IPC_CREAT | 0600);
    if (segment.shmid >= 0) {
        void* address = shmat(segment.shmid, nullptr, 0);
        if (address != reinterpret_cast<void*>(-1)) {
            segment.shmaddr = image->data = static_cast<char*>(address);
            segment.readOnly = False;
            // A server on another machine (or in another IPC namespace) cannot attach: fall back.
            const bool attached = XShmAttach(m_display, &segment) && !takeError();
            if (attached) {
                if (XShmGetImage(m_display, RootWindow(m_display, screen), image, area.x(), area.y(),
                                 AllPlanes)
                    && !takeError())
                    result = toImage(image);
                XShmDetach(m_display, &segment);
                XSync(m_display, False);
            }
            shmdt(address);
        }
        shmctl(segment.shmid, IPC_RMID, nullptr);
    }
    image->data = nullptr;
    XDestroyImage(image);
    return result;
}

QImage X11Display::capturePlain(QRect area)
{
    XImage* image = XGetImage(m_display, DefaultRootWindow(m_display), area.x(), area.y(),
                              static_cast<unsigned>(area.width()), static_cast<unsigned>(area.height()),
                              AllPlanes, ZPixmap);
    takeError();
    if (!image)
        return {};
    QImage result = toImage(image);
    XDestroyImage(image);
    return result;
}

std::optional<quint64> X11Display::activeWindow()
{
    if (!m_display)
        return std::nullopt;
    const Window root = DefaultRootWindow(m_display);
    const Atom activeAtom = XInternAtom(m_display, "_NET_ACTIVE_WINDOW", False);
    const auto active = firstCardinal(m_display, root, activeAtom, XA_WINDOW);
    takeError();
    if (!active || *active == 0)
        return std::nullopt;
    return static_cast<quint64>(*active);
}

std::optional<FrontmostApp> X11Display::activeWindowApp()
{
    const std::optional<quint64> active = activeWindow();
    if (!active)
        return std::nullopt;
    const Window window = static_cast<Window>(*active);

    FrontmostApp app;
    if (const auto pid = firstCardinal(m_display, window, XInternAtom(m_display, "_NET_WM_PID", False),
                                       XA_CARDINAL))
        app.pid = static_cast<qint64>(*pid);

    XClassHint hint {};
    if (XGetClassHint(m_display, window, &hint)) {
        const QString className = QString::fromLocal8Bit(hint.res_class);
        const QString instance = QString::fromLocal8Bit(hint.res_name);
        app.name = !className.isEmpty() ? className : instance;
        if (hint.res_class)
            XFree(hint.res_class);
        if (hint.res_name)
            XFree(hint.res_name);
    }
    if (app.name.isEmpty())
        app.name = titleOf(m_display, window);
    // A stale id (the window closed meanwhile) is no frontmost app.
    if (takeError())
        return std::nullopt;
    return app;
}

QList<X11Display::PlacedWindow> X11Display::windowsOf(qint64 pid)
{
    QList<PlacedWindow> found;
    if (!m_display || pid <= 0)
        return found;
    const Window root = DefaultRootWindow(m_display);
    QList<Window> candidates;
    Window rootReturn = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(m_display, root, &rootReturn, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count; ++i)
            candidates.append(children[i]);
        XFree(children);
    }
    // Under a window manager the clients sit inside its frames.
    const QByteArray clients = windowProperty(m_display, root, XInternAtom(m_display, "_NET_CLIENT_LIST", False),
                                              XA_WINDOW, 32);
    for (qsizetype at = 0; at + static_cast<qsizetype>(sizeof(long)) <= clients.size(); at += sizeof(long)) {
        unsigned long id = 0;
        std::memcpy(&id, clients.constData() + at, sizeof(id));
        if (!candidates.contains(static_cast<Window>(id)))
            candidates.append(static_cast<Window>(id));
    }
    const Atom pidAtom = XInternAtom(m_display, "_NET_WM_PID", False);
    for (const Window window : std::as_const(candidates)) {
        const auto owner = firstCardinal(m_display, window, pidAtom, XA_CARDINAL);
        XWindowAttributes attributes {};
        if (!owner || static_cast<qint64>(*owner) != pid || !XGetWindowAttributes(m_display, window, &attributes)
            || attributes.map_state != IsViewable) {
            takeError();
            continue;
        }
        PlacedWindow placed;
        placed.id = window;
        int x = 0;
        int y = 0;
        Window child = 0;
        XTranslateCoordinates(m_display, window, root, 0, 0, &x, &y, &child);
        placed.client = QRect(x, y, attributes.width, attributes.height);
        placed.frame = placed.client;
        placed.title = titleOf(m_display, window);
        const Window up = static_cast<Window>(topLevelOf(window));
        XWindowAttributes frame {};
        if (up != window && XGetWindowAttributes(m_display, up, &frame))
            placed.frame = QRect(frame.x, frame.y, frame.width + 2 * frame.border_width,
                                 frame.height + 2 * frame.border_width);
        // A window that closed meanwhile is left out.
        if (!takeError())
            found.append(placed);
    }
    return found;
}

quint64 X11Display::topLevelOf(quint64 window)
{
    if (!m_display)
        return window;
    Window at = static_cast<Window>(window);
    for (int depth = 0; depth < 8; ++depth) {
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(m_display, at, &root, &parent, &children, &count))
            break;
        if (children)
            XFree(children);
        if (parent == root || parent == 0)
            break;
        at = parent;
    }
    return at;
}

quint64 X11Display::keyWindow()
{
    if (!m_display)
        return 0;
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(m_display, &focus, &revert);
    const Window root = DefaultRootWindow(m_display);
    if (focus == None)
        return 0;
    if (focus != PointerRoot && focus != root)
        return focus;
    // Keys go to the window under the pointer.
    const std::optional<PointerAt> at = pointerAt(m_display);
    return at ? at->child : 0;
}

qint64 X11Display::ownerOf(quint64 topLevel)
{
    if (!m_display || topLevel == 0)
        return 0;
    const std::optional<unsigned long> owner = ownedClient(m_display, static_cast<Window>(topLevel)).second;
    if (takeError())
        return 0;
    return owner ? static_cast<qint64>(*owner) : 0;
}

bool X11Display::exists(quint64 window)
{
    if (!m_display)
        return false;
    XWindowAttributes attributes {};
    const bool found = XGetWindowAttributes(m_display, static_cast<Window>(window), &attributes) != 0;
    return !takeError() && found;
}

std::optional<X11Display::WindowAt> X11Display::windowAt(QPoint pixel, qint64 lookThrough)
{
    if (!m_display)
        return std::nullopt;
    const Window root = DefaultRootWindow(m_display);
    Window rootReturn = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(m_display, root, &rootReturn, &parent, &children, &count))
        return std::nullopt;
    QList<Window> stack;
    for (unsigned int i = 0; i < count; ++i)
        stack.append(children[i]);
    if (children)
        XFree(children);
    int shapeEvent = 0;
    int shapeError = 0;
    const bool shapes = XShapeQueryExtension(m_display, &shapeEvent, &shapeError);
    // The root lists its children bottom first.
    for (auto each = stack.crbegin(); each != stack.crend(); ++each) {
        const Window window = *each;
        XWindowAttributes attributes {};
        if (!XGetWindowAttributes(m_display, window, &attributes) || attributes.map_state != IsViewable
            || attributes.c_class != InputOutput) {
            takeError();
            continue;
        }
        const QRect frame(attributes.x, attributes.y, attributes.width + 2 * attributes.border_width,
                          attributes.height + 2 * attributes.border_width);
        if (!frame.contains(pixel))
            continue;
        if (shapes) {
            int rectangles = 0;
            int ordering = 0;
            XRectangle* input = XShapeGetRectangles(m_display, window, ShapeInput, &rectangles, &ordering);
            const QPoint inside = pixel - frame.topLeft();
            bool takes = false;
            for (int i = 0; i < rectangles && !takes; ++i)
                takes = QRect(input[i].x, input[i].y, input[i].width, input[i].height).contains(inside);
            if (input)
                XFree(input);
            if (takeError() || !takes)
                continue;
        }
        WindowAt found;
        found.window.id = window;
        found.window.frame = frame;
        found.window.client = frame;
        const auto [client, owner] = ownedClient(m_display, window);
        if (client != window) {
            XWindowAttributes inner {};
            int x = 0;
            int y = 0;
            Window child = 0;
            if (XGetWindowAttributes(m_display, client, &inner)
                && XTranslateCoordinates(m_display, client, root, 0, 0, &x, &y, &child))
                found.window.client = QRect(x, y, inner.width, inner.height);
            found.window.id = client;
        }
        found.pid = owner ? static_cast<qint64>(*owner) : 0;
        // A window that closed meanwhile tells nothing of what is there now.
        if (takeError())
            return std::nullopt;
        if (lookThrough > 0 && found.pid == lookThrough)
            continue;
        return found;
    }
    return std::nullopt;
}

std::optional<QPoint> X11Display::pointer()
{
    if (!m_display)
        return std::nullopt;
    const std::optional<PointerAt> at = pointerAt(m_display);
    return at ? std::optional<QPoint>(at->root) : std::nullopt;
}

std::optional<double> X11Display::idleSeconds()
{
    if (!m_display)
        return std::nullopt;
    int eventBase = 0;
    int errorBase = 0;
    if (!XScreenSaverQueryExtension(m_display, &eventBase, &errorBase))
        return std::nullopt;
    XScreenSaverInfo* info = XScreenSaverAllocInfo();
    if (!info)
        return std::nullopt;
    std::optional<double> seconds;
    if (XScreenSaverQueryInfo(m_display, DefaultRootWindow(m_display), info))
        seconds = static_cast<double>(info->idle) / 1000.0;
    XFree(info);
    return seconds;
}
