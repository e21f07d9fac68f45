#include "Tovrick/screen/ControlsReader.h"
#include "Tovrick/screen/DesktopSignals.h"
#include "Tovrick/screen/ScreenReader.h"
#include "Tovrick/screen/ScreenReaderError.h"
#include "Tovrick/screen/TextRecognizer.h"
#include "Tovrick/screen/X11Display.h"

#include "support/RunTask.h"

#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRasterWindow>
#include <QThread>
#include <QtConcurrent>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

using testing::Property;
using testing::Throws;

namespace {

struct Placed {
    QString text;
    QRectF rect;
};

double offBy(const QRectF& a, const QRectF& b)
{
    return std::max({std::abs(a.left() - b.left()), std::abs(a.top() - b.top()), std::abs(a.right() - b.right()),
                     std::abs(a.bottom() - b.bottom())});
}

// Every drawn word (placed in pixels) is read within `tolerance` points, in the order drawn (reading
// order), and ids count from one across all lines and words.
void expectWordsRead(const ScreenSnapshot& snapshot, const QList<Placed>& words, double scale, double tolerance)
{
    SCOPED_TRACE(snapshot.promptText().toStdString());
    int wordNumber = 0;
    for (qsizetype i = 0; i < snapshot.lines.size(); ++i) {
        EXPECT_EQ(snapshot.lines[i].id, QStringLiteral("L%1").arg(i + 1));
        for (const auto& word : snapshot.lines[i].words) {
            EXPECT_EQ(word.id, QStringLiteral("W%1").arg(++wordNumber));
            EXPECT_TRUE(snapshot.lines[i].rect.contains(word.rect)) << word.text.toStdString();
        }
    }
    ASSERT_FALSE(words.isEmpty());
    int previous = 0;
    for (const auto& drawn : words) {
        int number = 0;
        for (const auto& line : snapshot.lines)
            for (const auto& word : line.words)
                if (word.text == drawn.text
                    && offBy(word.rect, QRectF(drawn.rect.topLeft() / scale, drawn.rect.size() / scale)) <= tolerance)
                    number = word.id.mid(1).toInt();
        EXPECT_GT(number, previous) << drawn.text.toStdString() << " near " << drawn.rect.x() << "," << drawn.rect.y();
        previous = std::max(previous, number);
    }
}

TEST(TextRecognition, FramesAndPanelsAloneHoldNoText)
{
    QImage frames(800, 600, QImage::Format_RGB32);
    frames.fill(QColor(240, 240, 240));
    QPainter painter(&frames);
    painter.fillRect(QRect(400, 0, 400, 600), QColor(30, 30, 30));
    painter.setPen(QColor(90, 90, 90));
    for (int i = 0; i < 10; ++i)
        painter.drawRect(QRect(20 + i * 30, 20 + i * 25, 300, 200));
    painter.drawLine(0, 300, 800, 300);
    painter.end();
    EXPECT_TRUE(ScreenReader::recognizeText(frames, QSizeF(800, 600)).isEmpty());
    EXPECT_TRUE(ScreenReader::recognizeText(QImage(), QSizeF(100, 100)).isEmpty());
}

// A reading after another reuses only what did not change: a block with a new word is read again,
// and the engines ended while idle start again for the next reading.
TEST(TextRecognition, ReadsAgainOnlyWhatChanged)
{
    const auto screen = [](const QString& right) {
        QImage image(900, 300, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        QFont font = painter.font();
        font.setPixelSize(28);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(40, 150, QStringLiteral("Harbour"));
        painter.drawText(560, 150, right);
        return image;
    };
    const auto words = [](const QList<TextLine>& lines) {
        QStringList found;
        for (const auto& line : lines)
            for (const auto& word : line.words)
                found << word.text;
        return found;
    };
    const QSizeF size(900, 300);
    EXPECT_EQ(words(ScreenReader::recognizeText(screen(QStringLiteral("Lantern")), size)),
              (QStringList {QStringLiteral("Harbour"), QStringLiteral("Lantern")}));
    EXPECT_EQ(words(ScreenReader::recognizeText(screen(QStringLiteral("Compass")), size)),
              (QStringList {QStringLiteral("Harbour"), QStringLiteral("Compass")}));
    TextRecognizer::shared().releaseIdleEngines();
    EXPECT_EQ(words(ScreenReader::recognizeText(screen(QStringLiteral("Lantern")), size)),
              (QStringList {QStringLiteral("Harbour"), QStringLiteral("Lantern")}));
}

// The application ending while a reading runs on its threads (a quit during a focus check) waits for
// the reading instead of ending the engines under it.
TEST(TextRecognitionDeathTest, AnApplicationEndingMidReadingWaitsForTheReading)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            QImage page(1400, 900, QImage::Format_RGB32);
            page.fill(Qt::white);
            QPainter painter(&page);
            QFont font = painter.font();
            font.setPixelSize(16);
            painter.setFont(font);
            for (int y = 30; y < 880; y += 24)
                painter.drawText(20, y, QStringLiteral("The quarterly report lists every invoice and payment for review"));
            painter.end();
            auto read = [page] { return TextRecognizer::shared().recognize(page).size(); };
            auto reading = QtConcurrent::run(read);
            QThread::msleep(100);
            // The end of the application (on main's stack, never unwound here) runs the shutdown routines.
            QCoreApplication::instance()->~QCoreApplication();
            std::exit(reading.isFinished() ? 0 : 3);
        },
        testing::ExitedWithCode(0), "");
}

// What a window manager does for the focused window; 0 leaves no window active.
void setActiveWindow(quint64 id)
{
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Atom active = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    const Window window = static_cast<Window>(id);
    if (id)
        XChangeProperty(display, DefaultRootWindow(display), active, XA_WINDOW, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&window), 1);
    else
        XDeleteProperty(display, DefaultRootWindow(display), active);
    XSync(display, False);
    XCloseDisplay(display);
}

// The window program, started with accessibility on, and its report of where it drew what.
struct TestWindow {
    explicit TestWindow(const QStringList& arguments = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(SCREEN_TEST_WINDOW), arguments);
        QByteArray output;
        const auto ready = [&] { return (output += process.readAllStandardOutput()).contains("READY\n"); };
        if (!waitUntil(ready, std::chrono::seconds(15)))
            return;
        for (const QByteArray& line : output.split('\n')) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts[0] == "WINDOW")
                window = parts.value(1).toULongLong();
            if (parts.size() != 6)
                continue;
            const QRectF rect(parts[2].toDouble(), parts[3].toDouble(), parts[4].toDouble(), parts[5].toDouble());
            if (parts[0] == "WORD")
                words.append({QString::fromUtf8(parts[1]), rect});
            else
                controls.insert(QString::fromUtf8(parts[1]), rect);
        }
    }
    ~TestWindow()
    {
        process.kill();
        process.waitForFinished(3000);
    }

    QProcess process;
    quint64 window = 0;
    QList<Placed> words;
    QHash<QString, QRectF> controls;
};

TEST(ScreenReaderOnDisplay, ReadsTheActiveWindowItsAppItsControlsAndItsFocusedField)
{
    TestWindow window;
    ASSERT_NE(window.window, 0u) << "the test window did not start";
    setActiveWindow(window.window);
    ScreenReader reader;
    const ScreenSnapshot snapshot = runTask(reader.snapshot(), std::chrono::seconds(60));
    const auto field = runTask(ControlsReader::focusedFieldIsSecure());
    const auto app = X11DesktopSignals().frontmostApp();
    setActiveWindow(0);

    EXPECT_EQ(snapshot.size, QSizeF(1920, 1080));
    EXPECT_EQ(QImage::fromData(snapshot.jpeg, "JPEG").size(), QSize(1920, 1080));
    expectWordsRead(snapshot, window.words, 1.0, 4.0);
    EXPECT_FALSE(snapshot.app.value_or(QString()).isEmpty());
    ASSERT_TRUE(app);
    EXPECT_EQ(app->pid, window.process.processId());

    // The button and the password field come from the window's accessibility tree.
    const auto control = [&](const char* kind, const char* label) {
        for (const auto& c : snapshot.controls)
            if (c.kind == QLatin1String(kind) && c.label == QLatin1String(label))
                return c.rect;
        return QRectF();
    };
    const QRectF button = window.controls.value(QStringLiteral("button"));
    EXPECT_LE(offBy(control("button", "Save draft"), button), 2.0) << snapshot.promptText().toStdString();
    EXPECT_LE(offBy(control("password", "Password field"), window.controls.value(QStringLiteral("password"))), 2.0);
    for (qsizetype i = 0; i < snapshot.controls.size(); ++i)
        EXPECT_EQ(snapshot.controls[i].id, QStringLiteral("C%1").arg(i + 1));
    EXPECT_EQ(snapshot.targetNear(button.center())->text, QStringLiteral("Save draft"));
    ASSERT_TRUE(field.frame);
    EXPECT_TRUE(field.secure);
    EXPECT_LE(offBy(*field.frame, window.controls.value(QStringLiteral("password"))), 2.0);
}

TEST(ScreenReaderOnDisplay, ReportsPointsOnADisplayOfScaleTwoAndCapturesTrueColours)
{
    TestWindow window;
    ASSERT_NE(window.window, 0u) << "the test window did not start";
    // The whole root window as a display of two pixels per point.
    ScreenReader reader([] { return DisplayGeometry(QRect(0, 0, 1920, 1080), 2.0); });
    const ScreenSnapshot snapshot = runTask(reader.snapshot(), std::chrono::seconds(60));
    EXPECT_EQ(snapshot.size, QSizeF(960, 540));
    expectWordsRead(snapshot, window.words, 2.0, 3.0);

    // Root pixels in their true colours; an area reaching past the root window is clipped to it,
    // one wholly outside is an error.
    const QRect red = window.controls.value(QStringLiteral("red")).toRect();
    X11Display display;
    ASSERT_TRUE(display);
    const QImage image = display.capture(red.adjusted(-10, -10, 10, 10));
    ASSERT_EQ(image.size(), red.size() + QSize(20, 20));
    EXPECT_TRUE(display.lastCaptureUsedSharedMemory());
    EXPECT_EQ(QColor(image.pixel(25, 25)), QColor(255, 0, 0));
    EXPECT_NE(QColor(image.pixel(2, 2)), QColor(255, 0, 0));
    EXPECT_EQ(display.capture(QRect(1900, 1060, 100, 100)).size(), QSize(20, 20));
    EXPECT_THROW(display.capture(QRect(5000, 5000, 10, 10)), ScreenReaderError);
}

TEST(ScreenReaderOnDisplay, AControlsWalkCutShortSaysSoInTheDescription)
{
    TestWindow window;
    ASSERT_NE(window.window, 0u) << "the test window did not start";
    setActiveWindow(window.window);
    ScreenReader reader;
    const ScreenSnapshot whole = runTask(reader.snapshot(), std::chrono::seconds(60));
    // A walk out of time at its first node, as one on a loaded desktop runs out later.
    ControlsReader::setWalkBudget(std::chrono::milliseconds(0));
    const ScreenSnapshot cut = runTask(reader.snapshot(), std::chrono::seconds(60));
    ControlsReader::setWalkBudget(ControlsReader::kWalkBudget);
    setActiveWindow(0);

    EXPECT_FALSE(whole.controlsCutShort);
    EXPECT_FALSE(whole.promptText().contains(QStringLiteral("incomplete"))) << whole.promptText().toStdString();
    EXPECT_FALSE(whole.controls.isEmpty());
    EXPECT_TRUE(cut.controlsCutShort);
    EXPECT_LT(cut.controls.size(), whole.controls.size());
    EXPECT_TRUE(cut.promptText().contains(QStringLiteral("incomplete"))) << cut.promptText().toStdString();
}

// A control its application tells of but places nowhere may be anywhere on the screen: the look says
// it is incomplete. Only a drop-down that tells it is closed keeps its options out of sight; the
// option it has chosen is its value, not a control missing.
struct Unplaced {
    const char* extra;
    bool whole;
    const char* listed;
};

void PrintTo(const Unplaced& unplaced, std::ostream* out)
{
    *out << unplaced.extra;
}

class ScreenReaderUnplaced : public testing::TestWithParam<Unplaced> {};

TEST_P(ScreenReaderUnplaced, AControlWithoutAPlaceLeavesTheLookIncomplete)
{
    TestWindow window({QString::fromLatin1(GetParam().extra)});
    ASSERT_NE(window.window, 0u) << "the test window did not start";
    setActiveWindow(window.window);
    ScreenReader reader;
    const ScreenSnapshot snapshot = runTask(reader.snapshot(), std::chrono::seconds(60));
    setActiveWindow(0);

    const std::string seen = snapshot.promptText().toStdString();
    EXPECT_EQ(snapshot.controlsCutShort, !GetParam().whole) << seen;
    EXPECT_EQ(snapshot.promptText().contains(QStringLiteral("incomplete")), !GetParam().whole) << seen;
    const auto labelled = [&](const char* label) {
        return std::count_if(snapshot.controls.begin(), snapshot.controls.end(),
                             [label](const auto& each) { return each.label == QLatin1String(label); });
    };
    EXPECT_EQ(labelled("Save draft"), 1) << seen;
    EXPECT_EQ(labelled(GetParam().listed), 1) << seen;
    EXPECT_EQ(labelled("Medium"), 0) << seen;
}

INSTANTIATE_TEST_SUITE_P(Controls, ScreenReaderUnplaced,
                         testing::Values(Unplaced {"button", false, "Save draft"},
                                         Unplaced {"closed-drop-down", true, "Size: Medium"}),
                         [](const auto& each) {
                             std::string name = each.param.extra;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// One process reading again and again, as a focus session does; CI also runs this under Valgrind
// in the optimised build, where a reading once freed an image twice.
TEST(ScreenReaderOnDisplay, ReadsFiveTimesInARowInOneProcess)
{
    TestWindow window;
    ASSERT_NE(window.window, 0u) << "the test window did not start";
    setActiveWindow(window.window);
    ScreenReader reader;
    for (int reading = 0; reading < 5; ++reading) {
        SCOPED_TRACE(reading);
        const ScreenSnapshot snapshot = runTask(reader.snapshot(), std::chrono::seconds(240));
        expectWordsRead(snapshot, window.words, 1.0, 4.0);
        EXPECT_FALSE(snapshot.jpeg.isEmpty());
    }
    setActiveWindow(0);
}

TEST(ScreenReaderOnDisplay, MissingDisplayIsNoDisplay)
{
    const QByteArray saved = qgetenv("DISPLAY");
    qputenv("DISPLAY", ":987");
    ScreenReader reader; // asks for the main display at every reading
    EXPECT_THAT([&] { runTask(reader.snapshot()); },
                Throws<ScreenReaderError>(Property(&ScreenReaderError::kind, ScreenReaderError::Kind::noDisplay)));
    qputenv("DISPLAY", saved);
}

TEST(ScreenReaderOnDisplay, LeavesItsOwnWindowsOutOfTheReading)
{
    // A window of this process showing one large word.
    struct OwnWindow : QRasterWindow {
        void paintEvent(QPaintEvent*) override
        {
            QPainter painter(this);
            painter.fillRect(QRect(QPoint(0, 0), size()), Qt::white);
            QFont font = painter.font();
            font.setPixelSize(40);
            painter.setFont(font);
            painter.drawText(QRect(QPoint(0, 0), size()), Qt::AlignCenter, QStringLiteral("Marmalade"));
        }
    } window;
    window.setGeometry(300, 300, 420, 120);
    window.show();
    ASSERT_TRUE(waitUntil([&] { return window.isExposed(); }));
    waitUntil([] { return false; }, std::chrono::milliseconds(300)); // let the server draw it
    setActiveWindow(0);

    ScreenReader reader;
    ScreenReader::setOwnWindows([] { return QList<QRect> {}; });
    const ScreenSnapshot shown = runTask(reader.snapshot(), std::chrono::seconds(60));
    ScreenReader::setOwnWindows(nullptr); // back to this process's visible windows
    const ScreenSnapshot covered = runTask(reader.snapshot(), std::chrono::seconds(60));
    window.hide();

    EXPECT_TRUE(shown.promptText().contains(QStringLiteral("Marmalade"))) << shown.promptText().toStdString();
    EXPECT_FALSE(covered.promptText().contains(QStringLiteral("Marmalade"))) << covered.promptText().toStdString();
    // Without an active window there is no app and nothing to read controls of.
    EXPECT_FALSE(covered.app);
    EXPECT_TRUE(covered.controls.isEmpty());
}

TEST(ScreenReaderCover, PaintsOwnWindowsWithTheColourBesideThem)
{
    QImage image(100, 50, QImage::Format_RGB32);
    image.fill(Qt::blue);
    image.setPixelColor(9, 10, Qt::green);
    for (int x = 10; x < 30; ++x)
        image.setPixelColor(x, 20, Qt::red);
    // Root coordinates: the image starts at (1000, 500); one window overlaps its left edge.
    ScreenReader::coverOwnWindows(image, {QRect(1010, 510, 20, 20), QRect(990, 540, 20, 20)}, QPoint(1000, 500));
    EXPECT_EQ(image.pixelColor(15, 20), QColor(Qt::green));
    EXPECT_EQ(image.pixelColor(29, 29), QColor(Qt::green));
    EXPECT_EQ(image.pixelColor(30, 20), QColor(Qt::blue));
    EXPECT_EQ(image.pixelColor(0, 45), QColor(Qt::blue));
}

TEST(DesktopSignalsOnDisplay, NoFrontmostAppWithoutAnActiveWindowAndIdleTimeFromTheLastInput)
{
    X11DesktopSignals desktop;
    setActiveWindow(0);
    EXPECT_FALSE(desktop.frontmostApp());
    EXPECT_FALSE(runTask(ControlsReader::focusedFieldIsSecure()).frame);

    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    XTestFakeMotionEvent(display, -1, 500, 500, CurrentTime);
    XSync(display, False);
    EXPECT_LT(desktop.idleSeconds(), 0.5);
    QThread::msleep(1200);
    EXPECT_GE(desktop.idleSeconds(), 1.0);
    XCloseDisplay(display);
}

TEST(ScreenReaderErrors, DeclinedIsRecognisedThroughAnExceptionPointer)
{
    EXPECT_TRUE(ScreenReaderError::isDeclined(std::make_exception_ptr(ScreenReaderError::declined())));
    EXPECT_FALSE(ScreenReaderError::isDeclined(std::make_exception_ptr(ScreenReaderError::noDisplay())));
    EXPECT_FALSE(ScreenReaderError::isDeclined(std::make_exception_ptr(std::runtime_error("other"))));
    EXPECT_FALSE(ScreenReaderError::isDeclined(std::exception_ptr()));
}

} // namespace
