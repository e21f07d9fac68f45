#include <gtest/gtest.h>

#include <QScopeGuard>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "Tovrick/shell/GlobalHotKeys.h"
#include "support/RunTask.h"

using namespace std::chrono_literals;

namespace {

QStringList* gLines = nullptr;
void captureLine(QtMsgType, const QMessageLogContext&, const QString& message)
{
    if (gLines)
        *gLines << message;
}

bool gRefused = false;
int noteRefusal(Display*, XErrorEvent*)
{
    gRefused = true;
    return 0;
}

// Another program on the same display: types with XTest and may hold keys itself.
class OtherClient {
public:
    OtherClient() : m_display(XOpenDisplay(nullptr)) {}
    ~OtherClient()
    {
        if (m_display)
            XCloseDisplay(m_display);
    }
    explicit operator bool() const { return m_display != nullptr; }

    void tap(KeySym symbol)
    {
        key(symbol, true);
        key(symbol, false);
    }
    void key(KeySym symbol, bool down)
    {
        XTestFakeKeyEvent(m_display, XKeysymToKeycode(m_display, symbol), down ? True : False, CurrentTime);
    }
    // Ctrl+Alt and the letter, pressed and released as a hand would.
    void chord(KeySym letter)
    {
        key(XK_Control_L, true);
        key(XK_Alt_L, true);
        tap(letter);
        key(XK_Alt_L, false);
        key(XK_Control_L, false);
        XSync(m_display, False);
    }
    // Whether a grab of Ctrl+Alt and the letter succeeds for this client; it keeps it when it does.
    bool grab(KeySym letter)
    {
        const XErrorHandler previous = XSetErrorHandler(noteRefusal);
        gRefused = false;
        XGrabKey(m_display, XKeysymToKeycode(m_display, letter), ControlMask | Mod1Mask, DefaultRootWindow(m_display),
                 False, GrabModeAsync, GrabModeAsync);
        XSync(m_display, False);
        XSetErrorHandler(previous);
        return !gRefused;
    }
    void ungrab(KeySym letter)
    {
        XUngrabKey(m_display, XKeysymToKeycode(m_display, letter), ControlMask | Mod1Mask, DefaultRootWindow(m_display));
        XSync(m_display, False);
    }

private:
    Display* m_display;
};

class HotKeysOnDisplay : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X display (scripts/with-test-services starts one)";
        // Xvfb starts afresh when its last client leaves, refusing connections meanwhile: one
        // connection stays open for the whole run.
        static const OtherClient keeper;
        ASSERT_TRUE(other);
        previous = qInstallMessageHandler(captureLine);
        gLines = &lines;
    }
    void TearDown() override
    {
        qInstallMessageHandler(previous);
        gLines = nullptr;
    }

    OtherClient other;
    QStringList lines;
    QtMessageHandler previous = nullptr;
};

} // namespace

TEST_F(HotKeysOnDisplay, CtrlAltSReachesTheStopWhateverTheLocks)
{
    QList<ShellAction> pressed;
    GlobalHotKeys keys([&](ShellAction action) { pressed << action; });
    ASSERT_EQ(keys.grab(shellHotKeys()).size(), shellHotKeys().size()) << lines.join(u'\n').toStdString();

    struct Case {
        const char* name;
        KeySym lock;   // toggled on before the chord and off after it; 0 for none
    };
    for (const Case& c : {Case {"no lock", 0}, Case {"Caps Lock", XK_Caps_Lock}, Case {"Num Lock", XK_Num_Lock}}) {
        SCOPED_TRACE(c.name);
        pressed.clear();
        if (c.lock)
            other.tap(c.lock);
        other.chord(XK_s);
        EXPECT_TRUE(waitUntil([&] { return !pressed.isEmpty(); }, 5s));
        if (c.lock)
            other.tap(c.lock);
        waitUntil([] { return false; }, 50ms);
        EXPECT_EQ(pressed, QList<ShellAction> {ShellAction::stop}) << "one chord, one action";
    }

    // Another of the seven, and a combination that is not one of them.
    pressed.clear();
    other.chord(XK_m);
    other.chord(XK_q);
    EXPECT_TRUE(waitUntil([&] { return !pressed.isEmpty(); }, 5s));
    waitUntil([] { return false; }, 50ms);
    EXPECT_EQ(pressed, QList<ShellAction> {ShellAction::toggleFollowMouse});
}

TEST_F(HotKeysOnDisplay, AKeyAnotherProgramHoldsIsLoggedOnceAndTheOthersStillWork)
{
    ASSERT_TRUE(other.grab(XK_s));
    const auto release = qScopeGuard([&] { other.ungrab(XK_s); });

    QList<ShellAction> pressed;
    GlobalHotKeys keys([&](ShellAction action) { pressed << action; });
    const QList<HotKey> grabbed = keys.grab(shellHotKeys());
    EXPECT_EQ(grabbed.size(), shellHotKeys().size() - 1);
    for (const HotKey& key : grabbed)
        EXPECT_NE(key.action, ShellAction::stop);
    EXPECT_EQ(lines.filter(QStringLiteral("Ctrl+Alt+S is held by another program")).size(), 1)
        << lines.join(u'\n').toStdString();

    other.chord(XK_z);
    EXPECT_TRUE(waitUntil([&] { return pressed.contains(ShellAction::toggleAwake); }, 5s));
}

TEST_F(HotKeysOnDisplay, TheKeysAreFreeAgainOnceReleased)
{
    {
        GlobalHotKeys keys([](ShellAction) {});
        ASSERT_EQ(keys.grab(shellHotKeys()).size(), shellHotKeys().size());
        EXPECT_FALSE(other.grab(XK_e)) << "held while it lives";
    }
    EXPECT_TRUE(other.grab(XK_e));
    other.ungrab(XK_e);
}

TEST(HotKeysWithoutDisplay, NoDisplayMeansNoKeysAndOneLine)
{
    QStringList lines;
    gLines = &lines;
    const QtMessageHandler previous = qInstallMessageHandler(captureLine);
    {
        GlobalHotKeys keys([](ShellAction) {}, QByteArrayLiteral(":4097"));
        EXPECT_TRUE(keys.grab(shellHotKeys()).isEmpty());
    }
    qInstallMessageHandler(previous);
    gLines = nullptr;
    EXPECT_EQ(lines.filter(QStringLiteral("no X display")).size(), 1);
}
