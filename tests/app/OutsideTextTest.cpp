#include <QHostAddress>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QQuickWindow>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

#include "Tovrick/assistant/ReportPanel.h"
#include "Tovrick/focus/FocusCountdown.h"
#include "Tovrick/focus/FocusHistoryStore.h"
#include "Tovrick/focus/MacFocusPanel.h"
#include "Tovrick/focus/MacFocusView.h"
#include "Tovrick/phone/PairingPanel.h"
#include "Tovrick/phone/PairingView.h"
#include "focus/FocusWindowWorld.h"
#include "shared/account/DeviceVaults.h"
#include "shared/account/TovrickAccount.h"
#include "shared/onboarding/OnboardingView.h"
#include "shared/ui/LocalOnlyNetwork.h"
#include "support/LoopbackApi.h"
#include "support/QuickItems.h"
#include "support/RunTask.h"

using namespace std::chrono_literals;

namespace {

// A web server on loopback that notes who comes and what they ask for, and turns everyone away.
class CountingServer {
public:
    CountingServer()
    {
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                ++connections;
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    // "GET /path HTTP/1.1"
                    asked.append(QString::fromLatin1(socket->readAll().split('\n').value(0).split(' ').value(1)));
                    socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                    socket->disconnectFromHost();
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString url(const QString& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(m_server.serverPort()).arg(path);
    }

    int connections = 0;
    QStringList asked;

private:
    QTcpServer m_server;
};

// Tags, a picture on the server, and entities: drawn as markup it loses its tags, turns "&amp;"
// into "&" and fetches the picture.
QString hostile(const CountingServer& server, const QString& where)
{
    return QStringLiteral("Fix the <table> layout &amp; <b>now</b> <img src=\"%1\"> &lt;done&gt;")
        .arg(server.url(where));
}

// A TextEdit's document holds what it draws; a Text draws the string literally when it is as wide
// as the string drawn as plain text in the same font.
testing::AssertionResult drawsLiterally(QQuickItem* item, const QString& expected)
{
    if (!item)
        return testing::AssertionFailure() << "no such item";
    const QString held = item->property("text").toString();
    if (held != expected)
        return testing::AssertionFailure() << "holds \"" << held.toStdString() << "\"";
    if (item->inherits("QQuickTextEdit")) {
        QString drawn;
        QMetaObject::invokeMethod(item, "getText", Q_RETURN_ARG(QString, drawn), Q_ARG(int, 0),
                                  Q_ARG(int, item->property("length").toInt()));
        if (drawn != expected)
            return testing::AssertionFailure() << "draws \"" << drawn.toStdString() << "\"";
        return testing::AssertionSuccess();
    }
    QQmlComponent component(qmlEngine(item));
    component.setData("import QtQuick\nText { textFormat: Text.PlainText }", QUrl());
    std::unique_ptr<QObject> plain(component.create());
    if (!plain)
        return testing::AssertionFailure() << component.errorString().toStdString();
    plain->setProperty("font", item->property("font"));
    plain->setProperty("text", expected);
    auto textWidth = [](QObject* text) {
        return text->property("implicitWidth").toReal() - text->property("leftPadding").toReal()
            - text->property("rightPadding").toReal();
    };
    // Within a pixel: a wrapped layout rounds its width up.
    if (std::abs(textWidth(item) - textWidth(plain.get())) > 1.0)
        return testing::AssertionFailure() << "is drawn " << textWidth(item) << " wide, the plain text "
                                           << textWidth(plain.get());
    return testing::AssertionSuccess();
}

// Asks the window's engine for a picture on the server and waits for its answer.
int pictureStatus(QQuickView* window, const QString& url)
{
    QQmlComponent component(window->engine());
    component.setData("import QtQuick\nImage {}", QUrl());
    std::unique_ptr<QObject> image(component.create());
    if (!image)
        return -1;
    image->setProperty("source", QUrl(url));
    waitUntil([&] { return image->property("status").toInt() != 2; });
    return image->property("status").toInt();
}

QQuickItem* itemIn(QQuickView* window, const char* name)
{
    return window ? findItem(window->rootObject(), QString::fromLatin1(name)) : nullptr;
}

FocusSession finishedSession(const QString& task, const QString& detail)
{
    FocusSession session(task, 1500, false, QUuid::createUuid(), 700000000);
    session.elapsed = 1500;
    session.end();
    session.detail = detail;
    return session;
}

} // namespace

// Every surface that draws text from the phone, the model, web pages or the account service,
// loaded as the user sees it.
TEST(OutsideText, IsDrawnLiterallyAndNoWindowCallsTheNetwork)
{
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    CountingServer server;
    auto text = [&](const char* where) { return hostile(server, QString::fromLatin1(where)); };

    ReportPanel report;
    report.usableArea = [] { return std::optional<QRect>(QRect(0, 30, 800, 770)); };

    FocusWindowWorld focus;
    AccountSession session = focusWindowSession(QStringLiteral("user-1"));
    session.displayName = text("name");
    session.email = text("email");
    focus.account.adoptSession(session);
    MacFocusPanel focusPanel {&focus.account, &focus.access};
    focusPanel.setVisionLibrary(focus.vision);
    FocusHistoryStore history(
        QDir(focus.world.historyFolder()).filePath(FocusHistoryStore::fileName(QStringLiteral("user-1"))));
    ASSERT_TRUE(history.save({finishedSession(text("history-task"), text("history-detail"))}, std::nullopt));
    focus.engine->accountChanged(QStringLiteral("user-1"));
    focusPanel.show(*focus.engine, [] {});
    MacFocusView& view = *focusPanel.view();
    auto page = [&](FocusPage shown) { view.selectPage(static_cast<int>(shown)); };

    LoopbackApi api;
    MemoryDeviceVault pairingVault;
    TovrickAccount pairingAccount {pairingVault};
    signInForTests(pairingAccount, api);
    pairingAccount.clearSession();
    api.handle(QStringLiteral("pairing/start"), [&](const RecordedRequest&) {
        return LoopbackAnswer::json({{"pairingId", "pairing-1"},
                                     {"code", text("pairing-code").toStdString()},
                                     {"pollToken", "poll-1"},
                                     {"expiresAt", QDateTime::currentMSecsSinceEpoch() + 600000}});
    });
    api.handle(QStringLiteral("pairing/poll"), [](const RecordedRequest&) {
        return LoopbackAnswer::json({{"status", "pending"}});
    });
    PairingPanel pairing {&pairingAccount, [] { return PairingRecord::withKey(QStringLiteral("Desk"), QByteArray(32, 'k')); }};

    const struct {
        const char* surface;
        std::function<void()> arrange;
        std::function<QQuickView*()> window;
        const char* item;
        std::function<QString()> shows;
    } cases[] = {
        {"the question researched", [&] { report.showLoading(text("question")); }, [&] { return report.window(); },
         "reportLoadingText", [&] { return QStringLiteral("Doing some research on \u201c%1\u201d").arg(text("question")); }},
        {"a research error", [&] { report.showError(text("error")); }, [&] { return report.window(); }, "reportError",
         [&] { return text("error"); }},
        {"a report's title",
         [&] {
             ResearchReport found;
             found.title = text("title");
             found.paragraphs = {text("paragraph")};
             found.sources = {{text("source"), QUrl(QStringLiteral("https://example.com/"))}};
             report.show(found);
         },
         [&] { return report.window(); }, "reportHeading", [&] { return text("title"); }},
        {"a report's preview", [] {}, [&] { return report.window(); }, "reportPreview", [&] { return text("paragraph"); }},
        {"a report's paragraph", [&] { report.toggle(); }, [&] { return report.window(); }, "reportParagraph0",
         [&] { return text("paragraph"); }},
        {"a cited page's title", [] {}, [&] { return report.window(); }, "reportSource0", [&] { return text("source"); }},
        {"a task in the history", [&] { page(FocusPage::history); }, [&] { return focusPanel.window(); },
         "historyTask0", [&] { return text("history-task"); }},
        {"a detail in the history", [] {}, [&] { return focusPanel.window(); }, "historyDetail0",
         [&] { return text("history-detail"); }},
        {"the account's name", [&] { page(FocusPage::account); }, [&] { return focusPanel.window(); },
         "macAccountName", [&] { return text("name"); }},
        {"the account's e-mail address", [] {}, [&] { return focusPanel.window(); }, "macAccountEmail",
         [&] { return text("email"); }},
        {"the task being typed",
         [&] {
             page(FocusPage::focus);
             view.setTask(text("task"));
         },
         [&] { return focusPanel.window(); }, "macFocusTask", [&] { return text("task"); }},
        {"the banner naming the task", [&] { runTask(view.start()); }, [&] { return focusPanel.window(); },
         "macFocusFeedbackText", [&] { return QStringLiteral("Focus started: %1, 30 minutes.").arg(text("task")); }},
        {"the running session's task", [] {}, [&] { return focusPanel.window(); }, "macFocusSessionTask",
         [&] { return text("task"); }},
        {"the session's detail", [&] { focus.engine->pause(text("detail")); }, [&] { return focusPanel.window(); },
         "macFocusDetail", [&] { return text("detail"); }},
        {"the code from the account service",
         [&] {
             pairing.show();
             waitUntil([&] { return !pairing.view().code().isEmpty(); });
         },
         [&] { return pairing.window(); }, "pairingCode", [&] { return text("pairing-code"); }},
    };
    for (const auto& c : cases) {
        c.arrange();
        EXPECT_TRUE(drawsLiterally(itemIn(c.window(), c.item), c.shows())) << c.surface;
    }

    // Every other window the program makes, and each again with a plain request for a picture.
    FocusCountdown countdown;
    countdown.update(FocusSession(QStringLiteral("Write"), 1500, false));
    OnboardingView onboarding(true);
    const std::pair<const char*, QQuickView*> windows[] = {
        {"report-card", report.window()},     {"focus-window", focusPanel.window()},
        {"pairing-window", pairing.window()}, {"countdown", countdown.window()},
        {"onboarding", onboarding.window()},
    };
    for (const auto& [name, window] : windows) {
        ASSERT_TRUE(window) << name;
        const QString path = QStringLiteral("picture-for-the-") + QString::fromLatin1(name);
        EXPECT_EQ(pictureStatus(window, server.url(path)), 3) << name;
        EXPECT_FALSE(server.asked.contains(QLatin1Char('/') + path)) << name << " asked the server";
    }
    // Markup read as markup asks for its pictures as it is laid out; give those requests a moment.
    waitUntil([&] { return server.connections > 0; }, 1s);
    EXPECT_EQ(server.connections, 0) << server.asked.join(QStringLiteral(", ")).toStdString();
}

TEST(LocalOnlyNetwork, AllowsTheProgramsResourcesAndLocalFilesOnly)
{
    const struct {
        const char* url;
        bool allowed;
    } cases[] = {{"qrc:/tovrick/focus/window/MacFocusView.qml", true}, {"file:///usr/share/pixmaps/x.png", true},
                 {"file://localhost/tmp/x.png", true},                 {"data:image/png;base64,AAAA", true},
                 {"QRC:/x.png", true},                                  {"http://127.0.0.1/x.png", false},
                 {"https://example.com/x.png", false},                  {"ftp://example.com/x", false},
                 {"file://server.example/share/x.png", false},          {"//example.com/x.png", false},
                 {"x.png", false},                                      {"", false}};
    for (const auto& c : cases)
        EXPECT_EQ(localOnlyNetwork::allows(QUrl(QString::fromLatin1(c.url))), c.allowed) << c.url;
}
