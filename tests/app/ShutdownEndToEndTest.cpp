#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QScopeGuard>

#include <csignal>
#include <fstream>
#include <sys/types.h>

#include "ProgramFolders.h"
#include "Tovrick/focus/FocusHistoryStore.h"
#include "shared/util/Files.h"
#include "shared/util/ProcessTree.h"
#include "support/RunTask.h"

namespace {

using namespace std::chrono_literals;

bool processExists(pid_t pid)
{
    return ::kill(pid, 0) == 0;
}

} // namespace

// Being told to end is a Quit: SIGTERM in the middle of a focus session pauses and saves it and ends
// the coding agent with what it started, instead of killing the program where it stands. On the way,
// the program runs under its own name and starts the agent with the environment the user gave it.
TEST(ShutdownEndToEnd, SigtermPausesTheSessionSavesItAndEndsTheAgent)
{
    REQUIRE_END_TO_END_SERVICES();

    ProgramFolders folders;
    ASSERT_NO_FATAL_FAILURE(folders.prepare());

    // The coding agent where the program looks for it: a stand-in that outlives its closed input
    // for a minute, and starts a process of its own that lives as long, so only being ended ends them.
    const QString agentLog = folders.root.filePath(QStringLiteral("agent.log"));
    const QString agentScript = folders.root.filePath(QStringLiteral("agent.json"));
    std::ofstream(agentScript.toStdString()) << Json {{"log", agentLog.toStdString()},
                                                      {"rules", Json::object()},
                                                      {"cues", Json::object()},
                                                      {"linger", 60000},
                                                      {"child", {{"linger", 60000}}}}
                                                    .dump();
    const QString agent = QDir(folders.home).filePath(QStringLiteral(".local/bin/codex"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(agent).absolutePath()));
    {
        QFile wrapper(agent);
        ASSERT_TRUE(wrapper.open(QIODevice::WriteOnly));
        wrapper.write("#!/bin/sh\nexec '" TOVRICK_FAKE_AGENT "' \"$@\"\n");
        wrapper.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    QProcessEnvironment environment = folders.environment;
    environment.insert(QStringLiteral("FAKE_AGENT_SCRIPT"), agentScript);
    // What the program sets for itself (one text-recognition thread, X11) is not the user's.
    environment.remove(QStringLiteral("OMP_THREAD_LIMIT"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));

    RunningProgram app;
    ASSERT_NO_FATAL_FAILURE(app.start(environment));
    QByteArray& log = app.log;

    ProgramPhone phone;
    const QString linked = phone.connect(folders, log, 20s);
    ASSERT_TRUE(linked.isEmpty()) << linked.toStdString() << "\n" << log.toStdString();
    const QString started = phone.startSession(folders, QStringLiteral("Write the report"), 25, 20s);
    ASSERT_TRUE(started.isEmpty()) << started.toStdString() << "\n" << log.toStdString();

    // Named as it was started, not after the link it restarts itself through.
    const auto programName = files::read(QStringLiteral("/proc/%1/comm").arg(app.process.processId()));
    EXPECT_EQ(programName.value_or("(gone)"), "tovrick\n");

    // The agent, warmed up at launch, is up and answered its handshake.
    pid_t agentPid = 0;
    pid_t agentChild = 0;
    Json agentEnvironment;
    ASSERT_TRUE(waitUntil([&] {
        std::ifstream lines(agentLog.toStdString());
        bool initialized = false;
        for (std::string line; std::getline(lines, line);) {
            const Json entry = Json::parse(line, nullptr, false);
            if (entry.is_object() && entry.value("method", "") == "launch") {
                agentPid = entry.value("pid", 0);
                agentChild = entry.value("child", 0);
                agentEnvironment = entry.value("environment", Json::object());
            }
            initialized = initialized || (entry.is_object() && entry.value("method", "") == "initialized");
        }
        return agentPid > 0 && initialized;
    }, 20s)) << log.toStdString();
    const auto reapAgent = qScopeGuard([&] {
        for (const pid_t pid : {agentPid, agentChild})
            if (pid > 0 && processExists(pid))
                ::kill(pid, SIGKILL);
    });
    for (const char* name : {"OMP_THREAD_LIMIT", "QT_QPA_PLATFORM", "TOVRICK_STARTED_AS", "TOVRICK_USER_OMP_THREAD_LIMIT"})
        EXPECT_FALSE(agentEnvironment.contains(name)) << name << " reached the agent";
    EXPECT_EQ(agentEnvironment.value("FAKE_AGENT_SCRIPT", ""), agentScript.toStdString());

    // Let the focus clock run, keeping the phone alive.
    for (int second = 0; second < 3; ++second) {
        waitUntil([] { return false; }, 1s);
        phone.send(QStringLiteral("focusPing"));
    }
    ASSERT_TRUE(phone.running()) << phone.state->current->detail.toStdString() << "\n" << log.toStdString();
    EXPECT_EQ(phone.unreadable, 0) << "focus states that cannot be read";
    const double ranFor = phone.state->current->elapsed;
    ASSERT_GE(ranFor, 1); // a save at the start alone would hold 0

    ASSERT_EQ(::kill(static_cast<pid_t>(app.process.processId()), SIGTERM), 0);
    ASSERT_TRUE(waitUntil([&] { return app.process.state() == QProcess::NotRunning; }, 20s));
    log += app.process.readAllStandardError();
    EXPECT_EQ(app.process.exitStatus(), QProcess::NormalExit) << "killed by the signal instead of quitting\n"
                                                      << log.toStdString();

    // Paused with "Tovrick closed" and saved: the pause wrote the focus clock as it stood at the end
    // (the file keeps an open session as ended, as any save does).
    const auto saved = files::read(QDir(folders.appFolder()).filePath(FocusHistoryStore::fileName(QStringLiteral("user-1"))));
    ASSERT_TRUE(saved);
    const auto history = decodeFocusSessions(*saved);
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].task, QStringLiteral("Write the report"));
    EXPECT_EQ(history[0].detail, FocusHistoryStore::kClosedDetail);
    EXPECT_GE(history[0].elapsed, ranFor) << "the session was last saved at its start";

    EXPECT_TRUE(waitUntil([&] { return !processtree::alive(agentPid); }, 5s)) << "the coding agent was left running";
    EXPECT_TRUE(waitUntil([&] { return !processtree::alive(agentChild); }, 5s))
        << "what the coding agent started was left running";
}
