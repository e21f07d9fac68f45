#include "Tovrick/screen/ControlsReader.h"
#include "Tovrick/screen/DesktopSignals.h"
#include "Tovrick/screen/ScreenReader.h"
#include "Tovrick/screen/ScreenReaderError.h"
#include "Tovrick/screen/X11Display.h"

#include "support/RunTask.h"

#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRasterWindow>
#include <QThread>
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace {

struct Placed {
    QString text;
    QRectF rect; // the window's logical coordinates
};

// The window program, started with the accessibility bus already up, and its report of what it drew.
class TestWindow {
public:
    explicit TestWindow(const QByteArray& scale = "1")
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::fromLatin1(scale));
        env.insert(QStringLiteral("QT_ENABLE_HIGHDPI_SCALING"), QStringLiteral("1"));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(SCREEN_TEST_WINDOW), {});
        QByteArray output;
        const bool ready = waitUntil(
            [&] {
                output += process.readAllStandardOutput();
                return output.contains("READY\n") || process.state() == QProcess::NotRunning;
            },
            std::chrono::seconds(15));
        if (!ready || !output.contains("READY\n"))
            return;
        for (const QByteArray& line : output.split('\n')) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.value(0) == "WINDOW")
                window = parts.value(1).toULongLong();
            if ((parts.value(0) == "WORD" || parts.value(0) == "CONTROL") && parts.size() == 6) {
                const Placed placed {QString::fromUtf8(parts[1]),
                                     QRectF(parts[2].toDouble(), parts[3].toDouble(), parts[4].toDouble(),
                                            parts[5].toDouble())};
                (parts[0] == "WORD" ? words : controls).append(placed);
            }
        }
    }
    ~TestWindow()
    {
        process.closeWriteChannel();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(3000);
        }
    }

    // What a window manager does for the focused window.
    void makeActive() const
    {
        Display* display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
        const Window id = static_cast<Window>(window);
        XChangeProperty(display, DefaultRootWindow(display), XInternAtom(display, "_NET_ACTIVE_WINDOW", False),
                        XA_WINDOW, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&id), 1);
        XSync(display, False);
        XCloseDisplay(display);
    }

    QRectF control(const QString& name) const
    {
        for (const auto& c : controls)
            if (c.text == name)
                return c.rect;
        return {};
    }

    QProcess process;
    quint64 window = 0;
    QList<Placed> words;
    QList<Placed> controls;
};

void clearActiveWindow()
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return;
    XDeleteProperty(display, DefaultRootWindow(display), XInternAtom(display, "_NET_ACTIVE_WINDOW", False));
    XSync(display, False);
    XCloseDisplay(display);
}

double offBy(const QRectF& a, const QRectF& b)
{
    return std::max({std::abs(a.left() - b.left()), std::abs(a.top() - b.top()), std::abs(a.right() - b.right()),
                     std::abs(a.bottom() - b.bottom())});
}

void expectWordsFound(const ScreenSnapshot& snapshot, const QList<Placed>& words, double tolerance)
{
    ASSERT_FALSE(words.isEmpty());
    for (const auto& drawn : words) {
        const Target* found = nullptr;
        for (const auto& line : snapshot.lines)
            for (const auto& word : line.words)
                if (word.text == drawn.text && offBy(word.rect, drawn.rect) <= tolerance)
                    found = &word;
        EXPECT_TRUE(found) << drawn.text.toStdString() << " near " << drawn.rect.x() << "," << drawn.rect.y()
                           << " in\n"
                           << snapshot.promptText().toStdString();
    }
}

TEST(ScreenReaderOnDisplay, ReadsTheWindowItsAppAndItsControls)
{
    TestWindow window;
    ASSERT_NE(window.window, 0u) << "the test window did not start";
    window.makeActive();

    ScreenReader reader;
    const ScreenSnapshot snapshot = runTask(reader.snapshot(), std::chrono::seconds(60));
    clearActiveWindow();

    EXPECT_EQ(snapshot.size, QSizeF(1920, 1080));
    const QImage decoded = QImage::fromData(snapshot.jpeg, "JPEG");
    EXPECT_EQ(decoded.size(), QSize(1920, 1080));
    expectWordsFound(snapshot, window.words, 4.0);
    ASSERT_TRUE(snapshot.app.has_value());
    EXPECT_FALSE(snapshot.app->isEmpty());

    // The button and both fields come from the window's accessibility tree.
    const QRectF button = window.control(QStringLiteral("button"));
    const auto match = std::find_if(snapshot.controls.begin(), snapshot.controls.end(), [&](const auto& c) {
        return c.kind == QStringLiteral("button") && c.label == QStringLiteral("Save draft");
    });
    ASSERT_NE(match, snapshot.controls.end()) << snapshot.promptText().toStdString();
    EXPECT_LE(offBy(match->rect, button), 2.0);
    EXPECT_TRUE(std::any_of(snapshot.controls.begin(), snapshot.controls.end(), [](const auto& c) {
        return c.kind == QStringLiteral("password") && c.label == QStringLiteral("Password field");
    }));
    for (qsizetype i = 0; i < snapshot.controls.size(); ++i)
        EXPECT_EQ(snapshot.controls[i].id, QStringLiteral("C%1").arg(i + 1));
    EXPECT_EQ(snapshot.targetNear(button.center())->text, QStringLiteral("Save draft"));
}

TEST(ScreenReaderOnDisplay, ReportsPointsOnADisplayOfScaleTwo)
{
    TestWindow window("2");
    ASSERT_NE(window.window, 0u) << "the test window did not start";
    // The whole root window as a display of two pixels per point.
    ScreenReader reader([] { return DisplayGeometry(QRect(0, 0, 1920, 1080), 2.0); });
    const ScreenSnapshot snapshot = runTask(reader.snapshot(), std::chrono::seconds(60));
    EXPECT_EQ(snapshot.size, QSizeF(960, 540));
    expectWordsFound(snapshot, window.words, 3.0);
}

TEST(ScreenReaderOnDisplay, WithoutAnActiveWindowThereIsNoAppAndNoControls)
{
    clearActiveWindow();
    ScreenReader reader;
    const ScreenSnapshot snapshot = runTask(reader.snapshot(), std::chrono::seconds(60));
    EXPECT_FALSE(snapshot.app);
    EXPECT_TRUE(snapshot.controls.isEmpty());
    EXPECT_FALSE(runTask(ControlsReader::focusedFieldIsSecure()).frame);
}

TEST(ScreenReaderOnDisplay, FindsTheFocusedPasswordField)
{
    TestWindow window;
    ASSERT_NE(window.window, 0u);
    window.makeActive();
    const auto field = runTask(ControlsReader::focusedFieldIsSecure());
    clearActiveWindow();
    ASSERT_TRUE(field.frame);
    EXPECT_TRUE(field.secure);
    EXPECT_LE(offBy(*field.frame, window.control(QStringLiteral("password"))), 2.0);
}

TEST(ScreenReaderOnDisplay, CapturesRootPixelsInTheirTrueColours)
{
    TestWindow window;
    ASSERT_NE(window.window, 0u);
    const QRect red = window.control(QStringLiteral("red")).toRect();
    X11Display display;
    ASSERT_TRUE(display);
    const QImage image = display.capture(red.adjusted(-10, -10, 10, 10));
    ASSERT_EQ(image.size(), red.size() + QSize(20, 20));
    EXPECT_TRUE(display.lastCaptureUsedSharedMemory());
    EXPECT_EQ(QColor(image.pixel(25, 25)), QColor(255, 0, 0));
    EXPECT_NE(QColor(image.pixel(2, 2)), QColor(255, 0, 0));

    // An area reaching past the root window is clipped to it; one wholly outside is an error.
    EXPECT_EQ(display.capture(QRect(1900, 1060, 100, 100)).size(), QSize(20, 20));
    EXPECT_THROW(display.capture(QRect(5000, 5000, 10, 10)), ScreenReaderError);
}

TEST(ScreenReaderOnDisplay, MissingDisplayIsNoDisplay)
{
    const QByteArray saved = qgetenv("DISPLAY");
    qputenv("DISPLAY", ":987");
    ScreenReader reader; // asks for the main display at every reading
    bool noDisplay = false;
    try {
        runTask(reader.snapshot());
    } catch (const ScreenReaderError& error) {
        noDisplay = error.kind() == ScreenReaderError::Kind::noDisplay;
    }
    qputenv("DISPLAY", saved);
    EXPECT_TRUE(noDisplay);

    ScreenReader nowhere([] { return std::optional<DisplayGeometry>(); });
    EXPECT_THROW(runTask(nowhere.snapshot()), ScreenReaderError);
}

TEST(DesktopSignalsOnDisplay, FrontmostAppAndIdleTime)
{
    X11DesktopSignals desktop;
    clearActiveWindow();
    EXPECT_FALSE(desktop.frontmostApp());

    TestWindow window;
    ASSERT_NE(window.window, 0u);
    window.makeActive();
    const auto app = desktop.frontmostApp();
    ASSERT_TRUE(app);
    EXPECT_EQ(app->pid, window.process.processId());
    EXPECT_FALSE(app->name.isEmpty());
    clearActiveWindow();

    // Input resets the server's idle counter.
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    XTestFakeMotionEvent(display, -1, 500, 500, CurrentTime);
    XSync(display, False);
    EXPECT_LT(desktop.idleSeconds(), 0.5);
    QThread::msleep(1200);
    EXPECT_GE(desktop.idleSeconds(), 1.0);
    XTestFakeMotionEvent(display, -1, 510, 505, CurrentTime);
    XSync(display, False);
    EXPECT_LT(desktop.idleSeconds(), 0.5);
    XCloseDisplay(display);
}

TEST(ScreenReaderErrors, DeclinedIsRecognisedThroughAnyErrorHandle)
{
    EXPECT_TRUE(ScreenReaderError::isDeclined(ScreenReaderError::declined()));
    EXPECT_FALSE(ScreenReaderError::isDeclined(ScreenReaderError::noDisplay()));
    EXPECT_TRUE(ScreenReaderError::isDeclined(std::make_exception_ptr(ScreenReaderError::declined())));
    EXPECT_FALSE(ScreenReaderError::isDeclined(std::make_exception_ptr(std::runtime_error("other"))));
    EXPECT_FALSE(ScreenReaderError::isDeclined(std::exception_ptr()));
    EXPECT_FALSE(ScreenReaderError::declined().description().isEmpty());
}

} // namespace

namespace {

// A window of the test process itself, showing one large word.
class OwnWindow : public QRasterWindow {
public:
    explicit OwnWindow(QString word) : m_word(std::move(word)) { setFlags(Qt::FramelessWindowHint); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(QRect(QPoint(0, 0), size()), Qt::white);
        QFont font = painter.font();
        font.setPixelSize(40);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(QRect(QPoint(0, 0), size()), Qt::AlignCenter, m_word);
    }

private:
    QString m_word;
};

bool readsWord(const ScreenSnapshot& snapshot, const QString& word)
{
    for (const auto& line : snapshot.lines)
        if (line.text.contains(word))
            return true;
    return false;
}

} // namespace

TEST(ScreenReaderOnDisplay, LeavesItsOwnWindowsOutOfTheReading)
{
    OwnWindow window(QStringLiteral("Marmalade"));
    window.setGeometry(300, 300, 420, 120);
    window.show();
    ASSERT_TRUE(waitUntil([&] { return window.isExposed(); }));
    waitUntil([] { return false; }, std::chrono::milliseconds(300)); // let the server draw it

    ScreenReader reader;
    ScreenReader::setOwnWindows([] { return QList<QRect> {}; });
    const ScreenSnapshot shown = runTask(reader.snapshot(), std::chrono::seconds(60));
    ScreenReader::setOwnWindows(nullptr); // back to this process's visible windows
    const ScreenSnapshot covered = runTask(reader.snapshot(), std::chrono::seconds(60));
    window.hide();

    EXPECT_TRUE(readsWord(shown, QStringLiteral("Marmalade"))) << shown.promptText().toStdString();
    EXPECT_FALSE(readsWord(covered, QStringLiteral("Marmalade"))) << covered.promptText().toStdString();
}

TEST(ScreenReaderCover, PaintsOwnWindowsWithTheColourBesideThem)
{
    QImage image(100, 50, QImage::Format_RGB32);
    image.fill(Qt::blue);
    image.setPixelColor(9, 10, Qt::green);
    for (int x = 10; x < 30; ++x)
        image.setPixelColor(x, 20, Qt::red);
    // Root coordinates: the image starts at (1000, 500); one window overlaps its left edge.
    ScreenReader::coverOwnWindows(image, { QRect(1010, 510, 20, 20), QRect(990, 540, 20, 20) }, QPoint(1000, 500));
    EXPECT_EQ(image.pixelColor(15, 20), QColor(Qt::green));
    EXPECT_EQ(image.pixelColor(29, 29), QColor(Qt::green));
    EXPECT_EQ(image.pixelColor(30, 20), QColor(Qt::blue));
    EXPECT_EQ(image.pixelColor(0, 45), QColor(Qt::blue));
}
