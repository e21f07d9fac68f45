#include <QQuickItem>
#include <QQuickView>
#include <QQuickWindow>
#include <gtest/gtest.h>

#include <QTest>

#include "Tovrick/phone/PairingPanel.h"
#include "Tovrick/phone/PairingView.h"
#include "phone/QrDecode.h"
#include "shared/account/DeviceVaults.h"
#include "shared/account/TovrickAccount.h"
#include "shared/util/Crypto.h"
#include "support/LoopbackApi.h"
#include "support/RunTask.h"
#include "support/QuickItems.h"

using namespace std::chrono_literals;

namespace {

Json scannedJson(const QString& text, const QString& prefix)
{
    EXPECT_TRUE(text.startsWith(prefix)) << qPrintable(text.left(20));
    return json::parse(QByteArray::fromBase64(text.mid(prefix.size()).toLatin1()));
}

// Everything the program logs while a test runs.
QStringList* logged = nullptr;
void keepLine(QtMsgType, const QMessageLogContext&, const QString& line)
{
    if (logged)
        logged->append(line);
}

// The add-this-computer window against the loopback API, with the pairing codes of a scripted
// service: each start gives "CODE-n", valid for ten minutes of the test's clock; a poll answers
// "approved" once the phone approved that code.
class PairingWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        signInForTests(account, api);
        account.clearSession();
        clock = static_cast<double>(QDateTime::currentMSecsSinceEpoch());
        view().nowMs = [this] { return clock; };
        view().setTiming({20ms, 400ms});
        api.handle(QStringLiteral("pairing/start"), [this](const RecordedRequest&) {
            ++starts;
            const std::string n = std::to_string(starts);
            expiresAt = clock + 10 * 60 * 1000;
            return LoopbackAnswer::json({{"pairingId", "pairing-" + n}, {"code", "CODE-" + n},
                                         {"pollToken", "poll-" + n}, {"expiresAt", expiresAt}});
        });
        api.handle(QStringLiteral("pairing/poll"), [this](const RecordedRequest& request) {
            const std::string id = request.json().at("pairingId");
            if (!approvedId.isEmpty() && approvedId.toStdString() == id)
                return LoopbackAnswer::json({{"status", "approved"}, {"session", LoopbackApi::sessionJson(QStringLiteral("user-7"), QStringLiteral("iphone"))}});
            return LoopbackAnswer::json({{"status", "pending"}});
        });
    }

    PairingView& view() { return panel.view(); }
    QQuickItem* item(const char* name)
    {
        QQuickItem* found = findItem(panel.window()->rootObject(), QString::fromUtf8(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    bool shown(const char* name) { return isShown(item(name)); }
    QString text(const char* name) { return item(name)->property("text").toString(); }
    // What a phone camera sees in the window.
    ScannedCode scan() { return scanQr(panel.window()->grabWindow()); }
    int polls() const { return api.requestCount(QStringLiteral("pairing/poll")); }
    // The signed-in phone approves the code it scanned.
    void phoneApproves(const ScannedCode& scanned)
    {
        approvedId = json::toQString(scannedJson(scanned.text, QStringLiteral("tovrick-account:")).at("pairingId"));
    }
    bool codeShown(const QString& code)
    {
        return waitUntil([&] { return view().code() == code; }, 5s);
    }

    LoopbackApi api;
    MemoryDeviceVault vault;
    TovrickAccount account {vault};
    QByteArray key = crypto::randomBytes(32);
    PairingPanel panel {&account, [this] { return PairingRecord::withKey(QStringLiteral("Desk"), key); }};
    double clock = 0;
    double expiresAt = 0;
    int starts = 0;
    QString approvedId;
};

} // namespace

TEST_F(PairingWindow, PhoneScansApprovesAndTheAccountAdoptsTheSession)
{
    panel.show();
    EXPECT_TRUE(panel.window()->errors().isEmpty());
    ASSERT_TRUE(codeShown(QStringLiteral("CODE-1")));
    EXPECT_EQ(text("pairingTitle"), QStringLiteral("Add this computer"));
    EXPECT_EQ(text("pairingCode"), QStringLiteral("CODE-1"));
    EXPECT_TRUE(text("pairingExpiry").startsWith(QStringLiteral("Expires at ")));
    EXPECT_TRUE(shown("pairingWaiting"));
    ASSERT_TRUE(waitUntil([&] { return polls() >= 2; }));

    const ScannedCode scanned = scan();
    EXPECT_EQ(scanned.text, view().accountCode());
    EXPECT_EQ(scannedJson(scanned.text, QStringLiteral("tovrick-account:")),
              Json({{"pairingId", "pairing-1"}, {"code", "CODE-1"}}));
    const auto poll = api.lastRequest(QStringLiteral("pairing/poll"));
    EXPECT_EQ(poll->json(), Json({{"pairingId", "pairing-1"}, {"pollToken", "poll-1"}}));

    phoneApproves(scanned);
    ASSERT_TRUE(waitUntil([&] { return account.isSignedIn(); }));
    EXPECT_EQ(account.userId(), QStringLiteral("user-7"));
    EXPECT_EQ(vault.read(QStringLiteral("session")).found().has_value(), true);

    // Signed in by that code: the window now shows how the phone reaches this computer.
    ASSERT_TRUE(waitUntil([&] { return !view().linkCode().isEmpty(); }));
    EXPECT_EQ(text("pairingTitle"), QStringLiteral("Connect your iPhone"));
    const ScannedCode link = scan();
    EXPECT_EQ(link.text, PairingRecord::withKey(QStringLiteral("Desk"), key).scanText());
    EXPECT_EQ(scannedJson(link.text, QStringLiteral("tovrick-pair:")),
              Json({{"version", 1}, {"service", "Desk"}, {"secret", key.toBase64().toStdString()}}));

    const int pollsAfter = polls();
    QTest::qWait(150);
    EXPECT_EQ(polls(), pollsAfter);
}

TEST_F(PairingWindow, AnExpiredCodeIsReplacedWhileTheWindowIsOpen)
{
    panel.show();
    ASSERT_TRUE(codeShown(QStringLiteral("CODE-1")));
    // Past its expiry by this computer's clock.
    clock = expiresAt + 1;
    ASSERT_TRUE(codeShown(QStringLiteral("CODE-2")));
    EXPECT_EQ(scannedJson(scan().text, QStringLiteral("tovrick-account:")).at("code"), "CODE-2");
    // Or by the service's word.
    api.answerOnce(QStringLiteral("pairing/poll"), LoopbackAnswer::json({{"status", "expired"}}));
    ASSERT_TRUE(codeShown(QStringLiteral("CODE-3")));
    EXPECT_FALSE(account.isSignedIn());
}

TEST_F(PairingWindow, ClosingStopsAskingAndEachShowStartsANewCode)
{
    panel.show();
    ASSERT_TRUE(codeShown(QStringLiteral("CODE-1")));
    ASSERT_TRUE(waitUntil([&] { return polls() >= 2; }));
    panel.window()->close();
    EXPECT_FALSE(view().isOpen());
    const int pollsAtClose = polls();
    QTest::qWait(200);
    EXPECT_LE(polls(), pollsAtClose + 1); // one may have been under way
    const int pollsLater = polls();
    QTest::qWait(100);
    EXPECT_EQ(polls(), pollsLater);

    // An approval that arrives after closing adopts nothing.
    approvedId = QStringLiteral("pairing-1");
    QTest::qWait(100);
    EXPECT_FALSE(account.isSignedIn());

    approvedId.clear();
    QQuickView* first = panel.window();
    panel.show();
    EXPECT_EQ(panel.window(), first);
    ASSERT_TRUE(codeShown(QStringLiteral("CODE-2")));
    panel.show();
    ASSERT_TRUE(codeShown(QStringLiteral("CODE-3")));
}

TEST_F(PairingWindow, FailuresShowTheAccountsSentence)
{
    api.answerOnce(QStringLiteral("pairing/start"), LoopbackAnswer::error(QStringLiteral("rate_limited"), 429));
    panel.show();
    ASSERT_TRUE(waitUntil([&] { return !view().message().isEmpty(); }));
    EXPECT_EQ(item("pairingMessage")->property("message").toString(),
              QStringLiteral("Too many requests in a short time. Wait a moment and try again."));
    EXPECT_TRUE(shown("pairingMessage"));
    EXPECT_TRUE(shown("pairingRetry"));
    EXPECT_TRUE(scan().text.isEmpty());

    QMetaObject::invokeMethod(item("pairingRetry"), "clicked");
    ASSERT_TRUE(codeShown(QStringLiteral("CODE-1")));
    EXPECT_TRUE(view().message().isEmpty());
    EXPECT_FALSE(shown("pairingRetry"));

    // A poll that fails is told, and the code stays until the next one goes through.
    api.answerOnce(QStringLiteral("pairing/poll"), LoopbackAnswer::error(QStringLiteral("boom"), 503));
    ASSERT_TRUE(waitUntil([&] { return !view().message().isEmpty(); }));
    EXPECT_EQ(view().message(), QStringLiteral("The Tovrick service has a problem right now (boom). Try again shortly."));
    EXPECT_EQ(view().code(), QStringLiteral("CODE-1"));
    ASSERT_TRUE(waitUntil([&] { return view().message().isEmpty(); }));
    EXPECT_EQ(view().code(), QStringLiteral("CODE-1"));
}

TEST_F(PairingWindow, TheLinkCodeShowsBrieflyOnlyWhileOpenAndIsNeverLogged)
{
    QStringList lines;
    logged = &lines;
    const QtMessageHandler previous = qInstallMessageHandler(keepLine);
    account.adoptSession(AccountSession::fromJson(LoopbackApi::sessionJson()));
    const QString secret = QString::fromLatin1(key.toBase64());

    panel.show();
    EXPECT_EQ(starts, 0);
    ASSERT_FALSE(view().linkCode().isEmpty());
    EXPECT_EQ(scan().text, view().linkCode());
    EXPECT_FALSE(shown("pairingShowLinkCode"));

    // Hidden after its while, shown again on request.
    ASSERT_TRUE(waitUntil([&] { return view().linkCode().isEmpty(); }));
    EXPECT_TRUE(shown("pairingHidden"));
    EXPECT_TRUE(scan().text.isEmpty());
    QMetaObject::invokeMethod(item("pairingShowLinkCode"), "clicked");
    EXPECT_FALSE(view().linkCode().isEmpty());

    // Closing hides it at once; showing again shows it again.
    panel.window()->close();
    EXPECT_TRUE(view().linkCode().isEmpty());
    view().showLinkCode();
    EXPECT_TRUE(view().linkCode().isEmpty());
    panel.show();
    EXPECT_EQ(scan().text, PairingRecord::withKey(QStringLiteral("Desk"), key).scanText());

    // Signing out goes back to adding this computer.
    account.clearSession();
    ASSERT_TRUE(codeShown(QStringLiteral("CODE-1")));
    EXPECT_TRUE(view().linkCode().isEmpty());

    qInstallMessageHandler(previous);
    logged = nullptr;
    for (const QString& line : lines) {
        EXPECT_FALSE(line.contains(secret)) << qPrintable(line);
        EXPECT_FALSE(line.contains(QStringLiteral("tovrick-pair"))) << qPrintable(line);
    }
}

TEST_F(PairingWindow, AnUnreadableLinkKeyIsSaidAndNoCodeIsShown)
{
    PairingPanel keyless(&account, [] { return PairingRecord(); });
    account.adoptSession(AccountSession::fromJson(LoopbackApi::sessionJson()));
    keyless.show();
    EXPECT_TRUE(keyless.view().linkCode().isEmpty());
    EXPECT_EQ(keyless.view().linkProblem(),
              QStringLiteral("Tovrick couldn\u2019t read the key of the phone link, so there is no code to show."));
    EXPECT_TRUE(scanQr(keyless.window()->grabWindow()).text.isEmpty());
}
