#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>

#include "Tovrick/codex/CodexController.h"
#include "Tovrick/codex/CodexProjects.h"
#include "shared/util/AppPaths.h"
#include "shared/util/Files.h"
#include "shared/util/Settings.h"
#include "support/RunTask.h"

// Reaches the controller's reader and exit handling directly: the fuzzer and the dispatcher tests
// feed it bytes without a child, and a stale exit notice cannot be provoked through a real child.
struct CodexControllerProbe {
    static void feed(CodexController& controller, const QByteArray& bytes) { controller.drainLines(bytes); }
    static void captureLines(CodexController& controller, std::function<void(const QByteArray&)> sink)
    {
        controller.m_writeLine = std::move(sink);
    }
    static quint64 launch(const CodexController& controller) { return controller.m_launch; }
    static void exitNotice(CodexController& controller, quint64 launch) { controller.processExited(launch); }
    static std::size_t pendingRequests(const CodexController& controller) { return controller.m_waiting.size(); }
};

inline Json parseJson(const QByteArray& bytes)
{
    return json::parse(bytes);
}

inline Json parseJson(const char* text)
{
    return json::parse(text);
}

inline Json parseJson(const std::string& text)
{
    return json::parse(std::string_view(text));
}

// The scripted agent (tests/codex/fake_agent) with its script, log and cue files in a folder of its own.
class FakeAgent {
public:
    FakeAgent()
    {
        m_script["log"] = json::fromQString(file(QStringLiteral("received.log")));
        m_script["launches"] = json::fromQString(file(QStringLiteral("launches.log")));
        m_script["rules"] = Json::array();
        m_script["cues"] = Json::array();
    }

    static QString program() { return QStringLiteral(TOVRICK_FAKE_AGENT); }

    QString file(const QString& name) const { return m_folder.filePath(name); }

    // Answers requests of `method` with `actions`; a launch of 0 means any.
    FakeAgent& on(const char* method, Json actions, int launch = 0, int times = -1)
    {
        Json rule {{"method", method}, {"actions", std::move(actions)}};
        if (launch > 0)
            rule["launch"] = launch;
        if (times >= 0)
            rule["times"] = times;
        m_script["rules"].push_back(std::move(rule));
        return *this;
    }

    // Actions run once the returned cue is triggered.
    int cue(Json actions)
    {
        const int number = int(m_script["cues"].size());
        m_script["cues"].push_back(Json {{"file", json::fromQString(file(QStringLiteral("cue-%1").arg(number)))},
                                         {"actions", std::move(actions)}});
        return number;
    }

    void trigger(int cue) const
    {
        QFile flag(file(QStringLiteral("cue-%1").arg(cue)));
        ASSERT_TRUE(flag.open(QIODevice::WriteOnly));
    }

    // Writes the script and points the controller (and the executable lookup) at the fake agent.
    void install(CodexController& controller, std::optional<QProcessEnvironment> environment = std::nullopt)
    {
        ASSERT_FALSE(files::writeAtomically(file(QStringLiteral("script.json")), json::dumpBytes(m_script), false));
        CodexController::setExecutablePaths(QStringList {program()});
        QProcessEnvironment base = environment.value_or(QProcessEnvironment::systemEnvironment());
        base.insert(QStringLiteral("FAKE_AGENT_SCRIPT"), file(QStringLiteral("script.json")));
        controller.baseEnvironment = base;
    }

    QList<Json> received() const { return jsonLines(QStringLiteral("received.log")); }
    QList<Json> received(const std::string& method) const
    {
        QList<Json> matching;
        for (const Json& line : received())
            if (line.value("method", std::string()) == method)
                matching.append(line);
        return matching;
    }
    // The controller's answer to the agent's request `id`.
    std::optional<Json> answerTo(const Json& id) const
    {
        for (const Json& line : received())
            if (!line.contains("method") && line.contains("id") && line["id"] == id)
                return line;
        return std::nullopt;
    }
    QList<Json> launches() const { return jsonLines(QStringLiteral("launches.log")); }

private:
    QList<Json> jsonLines(const QString& name) const
    {
        QList<Json> lines;
        const auto bytes = files::read(file(name));
        if (!bytes)
            return lines;
        // The agent may be writing right now: only lines that have their newline count.
        QList<QByteArray> complete = bytes->split('\n');
        complete.removeLast();
        for (const QByteArray& line : complete)
            if (!line.isEmpty())
                lines.append(parseJson(line));
        return lines;
    }

    QTemporaryDir m_folder;
    Json m_script = Json::object();
};

inline Json reply(Json result)
{
    return Json {{"reply", std::move(result)}};
}

inline Json line(Json message)
{
    return Json {{"line", std::move(message)}};
}

inline Json notification(const char* method, Json params)
{
    return line(Json {{"method", method}, {"params", std::move(params)}});
}

// Runs a git command; the catalogue tests use real repositories.
inline void git(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("/usr/bin/git"), arguments);
    ASSERT_TRUE(process.waitForFinished(30000));
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
}

inline QString makeRepository(const QString& path, const QString& remote = QString())
{
    QDir().mkpath(path);
    git({QStringLiteral("init"), QStringLiteral("-q"), path});
    if (!remote.isEmpty())
        git({QStringLiteral("-C"), path, QStringLiteral("remote"), QStringLiteral("add"), QStringLiteral("origin"), remote});
    return path;
}

// Every test starts from an empty home and Documents, no chosen folders and a cold catalogue.
class CodexTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const QString& folder : {AppPaths::documents(), AppPaths::home()})
            QDir(folder).removeRecursively();
        Settings::shared().remove(QStringLiteral("codexFolders"));
        Settings::shared().remove(QStringLiteral("personality"));
        CodexProjects::dropCache();
        CodexProjects::setClock(std::nullopt);
    }

    void TearDown() override
    {
        CodexController::setExecutablePaths(std::nullopt);
        CodexProjects::setClock(std::nullopt);
    }

    QString documents(const QString& relative = QString()) const
    {
        return relative.isEmpty() ? AppPaths::documents() : QDir(AppPaths::documents()).filePath(relative);
    }
};
