// The agent's child process and its JSON-RPC line link, against the scripted agent.
#include "CodexTestSupport.h"

#include <QFileInfo>

namespace {

using Error = CodexController::CodexError;

class CodexLink : public CodexTest {
protected:
    QString failureOf(QCoro::Task<> task)
    {
        try {
            runTask(std::move(task));
        } catch (const UserFacingError& error) {
            return error.description();
        }
        return QStringLiteral("(no failure)");
    }

    QString failureOf(QCoro::Task<Json> task)
    {
        try {
            runTask(std::move(task));
        } catch (const UserFacingError& error) {
            return error.description();
        }
        return QStringLiteral("(no failure)");
    }

    // Lets the agent exit on its cue and waits until the controller has seen it go.
    void exitAgent(int cue)
    {
        agent.trigger(cue);
        ASSERT_TRUE(waitUntil([&] { return !controller.isRunning(); }));
    }

    FakeAgent agent;
    CodexController controller;
};

TEST_F(CodexLink, TwoCallersWaitingTogetherShareOneLaunchAndOneHandshake)
{
    agent.on("initialize", Json::array({Json {{"sleepMs", 100}}, reply({{"userAgent", "fake"}})}));
    agent.install(controller);

    runTask([](CodexController* codex) -> QCoro::Task<> {
        auto first = codex->ensureRunning();
        auto second = codex->ensureRunning();
        co_await std::move(first);
        co_await std::move(second);
    }(&controller));

    EXPECT_EQ(agent.launches().size(), 1);
    ASSERT_TRUE(waitUntil([&] { return agent.received().size() >= 2; }));
    const auto received = agent.received();
    ASSERT_EQ(received.size(), 2);
    EXPECT_EQ(received[0]["method"], "initialize");
    EXPECT_EQ(received[0]["id"], 1);
    EXPECT_EQ(received[0]["jsonrpc"], "2.0");
    EXPECT_EQ(received[0]["params"],
              parseJson(R"({"clientInfo":{"name":"tovrick","title":"Tovrick","version":"1.0"}})"));
    EXPECT_EQ(received[1], parseJson(R"({"jsonrpc":"2.0","method":"initialized"})"));
    // A later caller finds the running, initialised child.
    runTask(controller.ensureRunning());
    EXPECT_EQ(agent.launches().size(), 1);
}

TEST_F(CodexLink, RequestIdsKeepCountingAcrossRestartsAndTheNewChildStartsClean)
{
    const int quit = agent.cue(Json::array({Json {{"exit", 0}}}));
    agent.install(controller);

    runTask(controller.ensureRunning());
    runTask(controller.request(QStringLiteral("thread/list"), Json::object()));
    exitAgent(quit);
    runTask(controller.ensureRunning());

    const auto initializes = agent.received("initialize");
    ASSERT_EQ(initializes.size(), 2);
    EXPECT_EQ(initializes[0]["id"], 1);
    EXPECT_EQ(initializes[1]["id"], 3);
    EXPECT_EQ(agent.launches().size(), 2);
}

TEST_F(CodexLink, ChildExitingDuringTheHandshakeFailsEveryWaiterAndTheNextUseRelaunches)
{
    agent.on("initialize", Json::array({Json {{"sleepMs", 50}}, Json {{"exit", 3}}}), 1);
    agent.install(controller);

    const auto failures = runTask([](CodexController* codex) -> QCoro::Task<QStringList> {
        QStringList texts;
        auto first = codex->ensureRunning();
        auto second = codex->ensureRunning();
        for (auto* task : {&first, &second}) {
            try {
                co_await std::move(*task);
                texts.append(QStringLiteral("(no failure)"));
            } catch (const UserFacingError& error) {
                texts.append(error.description());
            }
        }
        co_return texts;
    }(&controller));

    EXPECT_EQ(failures, QStringList(2, QStringLiteral("Codex said: Codex stopped unexpectedly.")));
    EXPECT_FALSE(controller.isRunning());
    EXPECT_TRUE(agent.received("initialized").isEmpty());

    runTask(controller.ensureRunning());
    EXPECT_EQ(agent.launches().size(), 2);
    EXPECT_TRUE(waitUntil([&] { return agent.received("initialized").size() == 1; }));
}

TEST_F(CodexLink, FailedHandshakeSticksUntilTheChildExits)
{
    agent.on("initialize", Json::array({Json {{"error", {{"code", -1}, {"message", "not today"}}}}}), 1);
    const int quit = agent.cue(Json::array({Json {{"exit", 0}}}));
    agent.install(controller);

    EXPECT_EQ(failureOf(controller.ensureRunning()), "Codex said: not today");
    EXPECT_EQ(failureOf(controller.ensureRunning()), "Codex said: not today");
    EXPECT_EQ(agent.launches().size(), 1);
    EXPECT_TRUE(agent.received("initialized").isEmpty());

    exitAgent(quit);
    runTask(controller.ensureRunning());
    EXPECT_EQ(agent.launches().size(), 2);
}

TEST_F(CodexLink, ResponsesAreMatchedByIdThroughJunkSplitLinesAndStrangers)
{
    const QString longMessage(250, u'x');
    agent.on("t/junk", Json::array({
                           Json {{"raw", "\n"}},
                           Json {{"raw", "hello there\n[1,2]\n"}},
                           Json {{"raw", "{\"id\":\"$ID\",\"result\":{\"wrong\":true}}\n"}},
                           Json {{"raw", "{\"id\":99999,\"result\":{\"wrong\":true}}\n"}},
                           Json {{"raw", "{\"id\":$ID,\"res"}},
                           Json {{"sleepMs", 60}},
                           Json {{"raw", "ult\":{\"ok\":true}}\n{\"method\":\"noise/x\"}\n"}},
                       }))
        .on("t/scalar", Json::array({reply(5)}))
        .on("t/bare-error", Json::array({Json {{"error", {{"code", 3}}}}}))
        .on("t/long-error", Json::array({Json {{"error", {{"message", json::fromQString(longMessage)}}}}}));
    agent.install(controller);
    runTask(controller.ensureRunning());

    EXPECT_EQ(runTask(controller.request(QStringLiteral("t/junk"), Json::object())), parseJson(R"({"ok":true})"));
    EXPECT_EQ(runTask(controller.request(QStringLiteral("t/scalar"), Json::object())), Json::object());
    EXPECT_EQ(failureOf(controller.request(QStringLiteral("t/bare-error"), Json::object())), "Codex said: error");
    EXPECT_EQ(failureOf(controller.request(QStringLiteral("t/long-error"), Json::object())),
              QStringLiteral("Codex said: ") + longMessage.left(200));
    EXPECT_TRUE(controller.isRunning());
}

TEST_F(CodexLink, RequestWithoutAChildFailsAtOnce)
{
    EXPECT_EQ(failureOf(controller.request(QStringLiteral("turn/interrupt"), Json::object())),
              "Codex said: Codex stopped unexpectedly.");

    const int quit = agent.cue(Json::array({Json {{"exit", 0}}}));
    agent.install(controller);
    runTask(controller.ensureRunning());
    exitAgent(quit);
    EXPECT_EQ(failureOf(controller.request(QStringLiteral("turn/interrupt"), Json::object())),
              "Codex said: Codex stopped unexpectedly.");
    EXPECT_TRUE(agent.received("turn/interrupt").isEmpty());
}

TEST_F(CodexLink, ExitFailsWaitingRequestsAndStopsOnlyLiveJobs)
{
    agent.on("t/hang", Json::array({Json {{"exit", 1}}}));
    agent.install(controller);
    runTask(controller.ensureRunning());
    for (const char* status : {"starting", "working", "waiting for approval", "done", "failed"})
        controller.jobs.append({QStringLiteral("th"), QStringLiteral("p"), QString(), QString(), std::nullopt,
                                QString::fromUtf8(status), std::nullopt, QDateTime::currentDateTime()});
    controller.approvals.append({Json(1), QStringLiteral("m"), QStringLiteral("th"), QString(), Json::object()});
    int changes = 0;
    controller.onChange = [&] { ++changes; };
    int events = 0;
    controller.onEvent = [&](const CodexController::Event&) { ++events; };

    EXPECT_EQ(failureOf(controller.request(QStringLiteral("t/hang"), Json::object())),
              "Codex said: Codex stopped unexpectedly.");

    QStringList statuses;
    for (const auto& job : controller.jobs)
        statuses.append(job.status);
    EXPECT_EQ(statuses, (QStringList {"stopped (Codex quit)", "stopped (Codex quit)", "stopped (Codex quit)", "done", "failed"}));
    EXPECT_TRUE(controller.approvals.isEmpty());
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(events, 0);
}

TEST_F(CodexLink, StaleExitNoticeLeavesTheNewerChildAlone)
{
    const int quit = agent.cue(Json::array({Json {{"exit", 0}}}));
    agent.on("t/ping", Json::array({reply({{"pong", true}})}));
    agent.install(controller);
    runTask(controller.ensureRunning());
    const quint64 first = CodexControllerProbe::launch(controller);
    exitAgent(quit);
    runTask(controller.ensureRunning());
    controller.jobs.append({QStringLiteral("th"), QStringLiteral("p"), QString(), QString(), QStringLiteral("tu"),
                            QStringLiteral("working"), std::nullopt, QDateTime::currentDateTime()});

    CodexControllerProbe::exitNotice(controller, first);

    EXPECT_TRUE(controller.isRunning());
    EXPECT_EQ(controller.jobs[0].status, "working");
    EXPECT_EQ(runTask(controller.request(QStringLiteral("t/ping"), Json::object())), parseJson(R"({"pong":true})"));
}

TEST_F(CodexLink, ChildRunsInHomeWithTheExtendedPathAndOneArgument)
{
    QProcessEnvironment withoutPath = QProcessEnvironment::systemEnvironment();
    withoutPath.remove(QStringLiteral("PATH"));
    agent.install(controller, withoutPath);
    runTask(controller.ensureRunning());

    const auto launches = agent.launches();
    ASSERT_EQ(launches.size(), 1);
    EXPECT_EQ(launches[0]["args"], parseJson(R"(["app-server"])"));
    EXPECT_EQ(launches[0]["path"], "/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin:");
    EXPECT_EQ(QFileInfo(json::toQString(launches[0]["cwd"])).canonicalFilePath(),
              QFileInfo(AppPaths::home()).canonicalFilePath());

    CodexController second;
    QProcessEnvironment withPath = QProcessEnvironment::systemEnvironment();
    withPath.insert(QStringLiteral("PATH"), QStringLiteral("/opt/tools/bin"));
    agent.install(second, withPath);
    runTask(second.ensureRunning());
    EXPECT_EQ(agent.launches().value(1)["path"], "/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin:/opt/tools/bin");
}

TEST_F(CodexLink, OnlyTheFirstExecutableFileOfTheListIsUsed)
{
    QTemporaryDir folder;
    const QString missing = folder.filePath(QStringLiteral("missing"));
    const QString plain = folder.filePath(QStringLiteral("plain"));
    const QString notAProgram = folder.filePath(QStringLiteral("not-a-program"));
    ASSERT_FALSE(files::writeAtomically(plain, "#!/bin/sh\nexit 0\n", false));
    ASSERT_FALSE(files::writeAtomically(notAProgram, "garbage, not a program\n", false));
    QFile::setPermissions(notAProgram, QFile::permissions(notAProgram) | QFileDevice::ExeOwner);
    const QString aFolder = folder.filePath(QStringLiteral("a-folder"));
    QDir().mkpath(aFolder);

    CodexController::setExecutablePaths(QStringList {missing, plain, aFolder});
    EXPECT_FALSE(CodexController::isInstalled());
    EXPECT_EQ(failureOf(controller.ensureRunning()), "Codex isn't installed on this Mac.");

    agent.install(controller);
    CodexController::setExecutablePaths(QStringList {missing, plain, FakeAgent::program(), notAProgram});
    EXPECT_TRUE(CodexController::isInstalled());
    runTask(controller.ensureRunning());
    EXPECT_EQ(agent.launches().size(), 1);

    // A file that is executable but cannot be run gives the system's error, and nothing is attached.
    CodexController other;
    CodexController::setExecutablePaths(QStringList {notAProgram, FakeAgent::program()});
    const QString failure = failureOf(other.ensureRunning());
    EXPECT_FALSE(failure.isEmpty());
    EXPECT_FALSE(failure.startsWith(QStringLiteral("Codex")));
    EXPECT_FALSE(other.isRunning());
}

TEST_F(CodexLink, TextInputAndOneLineClip)
{
    EXPECT_EQ(CodexController::textInput(QStringLiteral("hi")),
              parseJson(R"({"type":"text","text":"hi","text_elements":[]})"));

    const QString family = QStringLiteral("👨‍👩‍👧");
    const struct {
        QString text;
        qsizetype limit;
        QString expected;
    } cases[] = {
        {QStringLiteral(" \t two\nlines\u00a0 "), 20, QStringLiteral("two lines")},
        {QStringLiteral("\nlead"), 20, QStringLiteral("lead")},
        {QStringLiteral("abcdef"), 6, QStringLiteral("abcdef")},
        {QStringLiteral("abcdefg"), 6, QStringLiteral("abcdef…")},
        {family + family + QStringLiteral("e\u0301x"), 3, family + family + QStringLiteral("e\u0301…")},
        {QStringLiteral("line\r\n"), 10, QStringLiteral("line\r")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CodexController::oneLineClip(c.text, c.limit), c.expected) << c.text.toStdString();
}

} // namespace
