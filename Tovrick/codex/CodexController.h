#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QProcessEnvironment>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QCoro/QCoroTask>

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>

#include "Tovrick/codex/Completion.h"
#include "shared/util/ByteLines.h"
#include "shared/util/Json.h"
#include "shared/util/UserFacingError.h"

class QProcess;

// Runs the external coding agent ("app-server") as a child process and speaks JSON-RPC 2.0 lines with
// it: jobs the assistant starts, follows up, stops, lists and opens. Lives on the main thread.
class CodexController : public QObject {
    Q_OBJECT

public:
    struct Job {
        QString threadID;
        QString project;
        QString folder;
        QString prompt;
        std::optional<QString> turnID;
        QString status;
        std::optional<QString> lastMessage;
        QDateTime started;
        // What the agent says while it retries (offline, say): news of the running turn only, never
        // its summary.
        std::optional<QString> retrying = std::nullopt;
    };

    struct Approval {
        Json rpcID;
        QString method;
        QString threadID;
        QString summary;
        Json params = Json::object();
    };

    struct Event {
        enum class Kind { finished, approval };
        Kind kind = Kind::finished;
        QString note;
        QString line;

        static Event finished(QString note, QString line) { return {Kind::finished, std::move(note), std::move(line)}; }
    };

    class CodexError : public UserFacingError {
    public:
        enum class Kind { failed, notInstalled };

        static CodexError failed(const QString& message);
        static CodexError notInstalled();

        Kind kind() const { return m_kind; }
        // What the agent said (or what stood in for it); empty for notInstalled.
        const QString& message() const { return m_message; }

    private:
        CodexError(Kind kind, QString message, QString description);
        Kind m_kind;
        QString m_message;
    };

    static const QStringList liveStatuses;

    explicit CodexController(QObject* parent = nullptr);
    ~CodexController() override;

    std::function<void(const Event&)> onEvent;
    std::function<void()> onChange;
    QList<Job> jobs;
    QList<Approval> approvals;

    // Where the agent may be installed, in the order they are tried. Tests replace the list; an
    // empty optional restores the fixed places.
    static QStringList executablePaths();
    static void setExecutablePaths(std::optional<QStringList> paths);
    static bool isInstalled();

    // The environment the agent inherits before its PATH is extended; this process's own when unset.
    std::optional<QProcessEnvironment> baseEnvironment;
    // Hands an agent app link to the desktop's opener; false when it would not take it.
    std::function<bool(const QUrl&)> openUrl;
    // How long one request may wait for its answer; an agent that stays silent all that time is ended.
    // A stop also waits this long for a turn that is still starting.
    std::chrono::milliseconds requestTimeout {std::chrono::seconds(60)};

    // The child process and its link.
    QCoro::Task<> ensureRunning();
    QCoro::Task<> warmUp();
    QCoro::Task<Json> request(QString method, Json params);
    void send(const Json& message);
    void respond(const Json& id, const Json& result);
    void respondError(const Json& id, const QString& message);
    static Json textInput(const QString& text);
    static QString oneLineClip(const QString& text, qsizetype limit);
    // Ends the running agent and everything it started (application exit): each is asked to end,
    // and what is left a second later is ended.
    void terminate();
    bool isRunning() const;

    // Job commands: each answers one line and never fails outward.
    QString startJob(std::optional<QString> project, const QString& task);
    QCoro::Task<QString> followUp(std::optional<QString> project, QString text);
    QCoro::Task<QString> stop(std::optional<QString> project);
    QString statusText() const;
    QString openInApp(const std::optional<QString>& project);
    void openThread(const QString& threadID);
    std::optional<qsizetype> findJob(const std::optional<QString>& project) const;
    void answerApproval(const Approval& approval, bool approve, bool forSession);

    // The folder every job runs in, made and registered with the agent when needed. Throws a
    // UserFacingError when the folder or its README cannot be made.
    static QString ensureDefaultWorkspace();

    // One line in the character's voice about a job note; none when the model gave nothing usable.
    static QCoro::Task<std::optional<QString>> newsLine(QString note);

private:
    friend struct CodexControllerProbe;

    void launch();
    QCoro::Task<> runHandshake(quint64 launch, Completion<bool> ready);
    void readOutput(QProcess* process, quint64 launch);
    void processExited(quint64 launch);
    void drainLines(const QByteArray& bytes);
    void handleLine(const QByteArray& line);
    void handleMessage(const Json& message);
    void handleServerRequest(const Json& id, const QString& method, const Json& params);
    void handleNotification(const QString& method, const Json& params);
    void finishTurn(qsizetype index, const QString& threadID, const Json& params);
    void endHungChild(quint64 launch);
    // Ends the child and everything it started.
    static void endTree(const QProcess& process);
    QCoro::Task<> interruptLateTurn(QString threadID, QString turnID);
    QCoro::Task<> awaitTurnID(qsizetype index);
    std::optional<qsizetype> newestJob(const QString& threadID) const;
    QCoro::Task<> runStart(QString project, QString task, QString firstMessage);
    void deliverFailedStart(const QString& task, const QString& description);
    void changed();

    QProcess* m_process = nullptr;
    // The child's process id, which also names its process group.
    pid_t m_pid = 0;
    // Which launch the current child belongs to; exit and output notices of older children are ignored.
    quint64 m_launch = 0;
    ByteLines m_buffer;
    // Counts reads from the child: one that did not move during a request's whole wait has hung.
    quint64 m_reads = 0;
    // Threads whose job was reported as failed to start: a turn the agent begins late is stopped.
    QSet<QString> m_failedStarts;
    qint64 m_nextID = 1;
    std::map<qint64, Completion<Json>> m_waiting;
    std::optional<Completion<bool>> m_ready;
    QSet<QString> m_loaded;
    // Where lines go in place of a child (the fuzzer's sink).
    std::function<void(const QByteArray&)> m_writeLine;
};
