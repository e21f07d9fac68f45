// The commands the assistant's coding-agent tools call. Each answers one line and never throws.
#include "Tovrick/codex/CodexController.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QCoro/QCoroTimer>

#include "Tovrick/codex/CodexJson.h"
#include "Tovrick/codex/CodexProjects.h"
#include "Tovrick/codex/LinkHandler.h"
#include "shared/util/Log.h"
#include "shared/util/Text.h"

namespace {

QString describe(const std::exception_ptr& error)
{
    return describeError(error, QStringLiteral("unknown error"));
}

QString quoted(const QString& text)
{
    return u'"' + text + u'"';
}

// The request params are built outside the coroutines: g++ 12 miscompiles braced JSON literals
// inside a coroutine body.
Json threadStartParams(const QString& folder)
{
    return Json {{"cwd", json::fromQString(folder)}, {"sandbox", "danger-full-access"}, {"approvalPolicy", "never"}};
}

Json threadParams(const QString& threadID)
{
    return Json {{"threadId", json::fromQString(threadID)}};
}

Json turnParams(const QString& threadID, const QString& text)
{
    return Json {{"threadId", json::fromQString(threadID)}, {"input", Json::array({CodexController::textInput(text)})}};
}

Json steerParams(const QString& threadID, const QString& turnID, const QString& text)
{
    return Json {{"threadId", json::fromQString(threadID)},
                 {"expectedTurnId", json::fromQString(turnID)},
                 {"input", Json::array({CodexController::textInput(text)})}};
}

Json interruptParams(const QString& threadID, const QString& turnID)
{
    return Json {{"threadId", json::fromQString(threadID)}, {"turnId", json::fromQString(turnID)}};
}

} // namespace

QString CodexController::startJob(std::optional<QString> project, const QString& task)
{
    const QString trimmedTask = text::trimmedWhitespaceAndNewlines(task);
    if (trimmedTask.isEmpty())
        return QStringLiteral("What should Codex do?");
    if (!isInstalled())
        return CodexError::notInstalled().description();

    QString projectName = QStringLiteral("Tovrick");
    QString firstMessage = trimmedTask;
    if (project && !text::trimmedSpacesAndTabs(*project).isEmpty()) {
        const CodexProjects::Match match = CodexProjects::match(*project);
        switch (match.kind) {
        case CodexProjects::Match::Kind::none: {
            QStringList names;
            for (const auto& known : CodexProjects::all().mid(0, 20))
                names.append(known.name);
            return QStringLiteral("No project called ") + quoted(*project) + QStringLiteral(". Projects: ")
                + names.join(QStringLiteral(", "))
                + QStringLiteral(". Ask which one, or leave the project out to work in the Tovrick folder.");
        }
        case CodexProjects::Match::Kind::many:
            return QStringLiteral("Several projects match ") + quoted(*project) + QStringLiteral(": ")
                + match.names.mid(0, 6).join(QStringLiteral(", "))
                + QStringLiteral(". Ask the user which one in one short line.");
        case CodexProjects::Match::Kind::one:
            projectName = match.project.name;
            firstMessage = QStringLiteral("The work is in the existing repo at ") + match.project.path
                + QStringLiteral(".\n\n") + trimmedTask;
            break;
        }
    }

    // The job begins after this answer, as its own task: even a note about a failed start comes second.
    QTimer::singleShot(0, this, [this, projectName, trimmedTask, firstMessage] {
        runStart(projectName, trimmedTask, firstMessage);
    });
    return QStringLiteral("Codex is on it (") + projectName + QStringLiteral("). It'll ping you when it's done.");
}

QCoro::Task<> CodexController::runStart(QString project, QString task, QString firstMessage)
{
    std::optional<qsizetype> created;
    std::exception_ptr failure;
    try {
        const QString folder = ensureDefaultWorkspace();
        co_await ensureRunning();
        const QString startMethod = QStringLiteral("thread/start");
        const Json startParams = threadStartParams(folder);
        auto starting = request(startMethod, startParams);
        const Json started = co_await starting;
        const Json* thread = codexjson::object(started, "thread");
        const auto threadID = thread ? codexjson::string(*thread, "id") : std::nullopt;
        if (!threadID)
            throw CodexError::failed(QStringLiteral("no thread"));

        m_loaded.insert(*threadID);
        jobs.append(Job {*threadID, project, folder, task, std::nullopt, QStringLiteral("starting"), std::nullopt,
                         QDateTime::currentDateTime()});
        created = jobs.size() - 1;
        changed();
        const QString turnMethod = QStringLiteral("turn/start");
        const Json firstTurn = turnParams(*threadID, firstMessage);
        auto turning = request(turnMethod, firstTurn);
        co_await turning;
        co_return;
    } catch (...) {
        failure = std::current_exception();
    }

    const QString description = describe(failure);
    logline::warning(QStringLiteral("Codex job did not start: ") + description);
    // A job whose turn never began must not stay "starting" for ever.
    const bool stuck = created && jobs.at(*created).status == u"starting";
    if (stuck) {
        jobs[*created].status = QStringLiteral("failed");
        m_failedStarts.insert(jobs.at(*created).threadID);
    }
    deliverFailedStart(task, description);
    if (stuck)
        changed();
}

void CodexController::deliverFailedStart(const QString& task, const QString& description)
{
    if (!onEvent)
        return;
    onEvent(Event::finished(QStringLiteral("Codex couldn't start the job (") + quoted(oneLineClip(task, 120))
                                + QStringLiteral("): ") + description,
                            QStringLiteral("Codex wouldn't start: ") + oneLineClip(description, 80)));
}

std::optional<qsizetype> CodexController::findJob(const std::optional<QString>& project) const
{
    const QString key = project ? text::trimmedSpacesAndTabs(*project).toLower() : QString();
    if (key.isEmpty()) {
        if (jobs.isEmpty())
            return std::nullopt;
        return jobs.size() - 1;
    }
    // A name with no letters or digits has an empty slug, which would sit inside every project name.
    const QString wanted = CodexProjects::slug(key);
    if (!wanted.isEmpty()) {
        for (qsizetype i = jobs.size() - 1; i >= 0; --i) {
            const QString have = CodexProjects::slug(jobs.at(i).project);
            if (!have.isEmpty() && (have.contains(wanted) || wanted.contains(have)))
                return i;
        }
    }
    for (qsizetype i = jobs.size() - 1; i >= 0; --i)
        if (jobs.at(i).prompt.toLower().contains(key))
            return i;
    return std::nullopt;
}

QCoro::Task<QString> CodexController::followUp(std::optional<QString> project, QString text)
{
    const auto index = findJob(project);
    if (!index)
        co_return QStringLiteral("There's no Codex job yet. Start one with codex_start.");
    const Job job = jobs.at(*index);
    std::exception_ptr failure;
    bool begun = false;
    try {
        co_await ensureRunning();
        if ((job.status == u"working" || job.status == u"waiting for approval") && job.turnID) {
            const QString steerMethod = QStringLiteral("turn/steer");
            const Json steer = steerParams(job.threadID, *job.turnID, text);
            auto steering = request(steerMethod, steer);
            co_await steering;
            co_return QStringLiteral("Passed that to Codex in ") + job.project + QStringLiteral(" while it works.");
        }
        if (!m_loaded.contains(job.threadID)) {
            const QString resumeMethod = QStringLiteral("thread/resume");
            const Json resume = threadParams(job.threadID);
            auto resuming = request(resumeMethod, resume);
            co_await resuming;
            m_loaded.insert(job.threadID);
        }
        // A new turn: until it is announced there is no turn to stop and nothing new from Codex.
        Job& next = jobs[*index];
        next.status = QStringLiteral("starting");
        next.turnID.reset();
        next.lastMessage.reset();
        next.retrying.reset();
        m_failedStarts.remove(job.threadID);
        begun = true;
        changed();
        const QString method = QStringLiteral("turn/start");
        const Json params = turnParams(job.threadID, text);
        auto requesting = request(method, params);
        co_await requesting;
        co_return QStringLiteral("Sent the follow-up to Codex in ") + job.project + u'.';
    } catch (...) {
        failure = std::current_exception();
    }
    // Its turn never began: "failed", not "starting" for ever.
    if (begun && *index < jobs.size() && jobs.at(*index).threadID == job.threadID && jobs.at(*index).status == u"starting") {
        jobs[*index].status = QStringLiteral("failed");
        m_failedStarts.insert(job.threadID);
        changed();
    }
    co_return QStringLiteral("Couldn't reach Codex: ") + describe(failure);
}

QCoro::Task<> CodexController::awaitTurnID(qsizetype index)
{
    QPointer<CodexController> self(this);
    const QString threadID = jobs.at(index).threadID;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < requestTimeout.count()) {
        co_await QCoro::sleepFor(std::chrono::milliseconds(50));
        if (!self || index >= jobs.size() || jobs.at(index).threadID != threadID)
            co_return;
        if (jobs.at(index).turnID || jobs.at(index).status != u"starting")
            co_return;
    }
}

QCoro::Task<> CodexController::interruptLateTurn(QString threadID, QString turnID)
{
    const QString method = QStringLiteral("turn/interrupt");
    const Json params = interruptParams(threadID, turnID);
    try {
        auto requesting = request(method, params);
        co_await requesting;
    } catch (const std::exception& error) {
        logline::info(QStringLiteral("a late Codex turn could not be interrupted: ") + describeError(error));
    }
}

QCoro::Task<QString> CodexController::stop(std::optional<QString> project)
{
    const auto index = findJob(project);
    if (!index)
        co_return QStringLiteral("No Codex job to stop.");
    // A turn that is starting is stopped once the agent names it; the previous turn is over.
    if (jobs.at(*index).status == u"starting" && !jobs.at(*index).turnID) {
        QPointer<CodexController> self(this);
        auto waiting = awaitTurnID(*index);
        co_await waiting;
        if (!self || *index >= jobs.size())
            co_return QStringLiteral("No Codex job to stop.");
    }
    const Job job = jobs.at(*index);
    if (job.status == u"starting" && !job.turnID)
        co_return QStringLiteral("Codex hasn't begun that turn in ") + job.project
            + QStringLiteral(" yet, so there's nothing to stop. Try again in a moment.");
    if (!job.turnID || !liveStatuses.contains(job.status))
        co_return QStringLiteral("Codex isn't working on anything in ") + job.project + QStringLiteral(" right now.");

    const QList<Approval> pending = approvals;
    for (const Approval& approval : pending)
        if (approval.threadID == job.threadID)
            answerApproval(approval, false, false);
    try {
        const QString interruptMethod = QStringLiteral("turn/interrupt");
        const Json interrupt = interruptParams(job.threadID, *job.turnID);
        auto interrupting = request(interruptMethod, interrupt);
        co_await interrupting;
        co_return QStringLiteral("Stopped Codex in ") + job.project + u'.';
    } catch (...) {
        co_return QStringLiteral("Couldn't stop it: ") + describe(std::current_exception());
    }
}

void CodexController::answerApproval(const Approval& asked, bool approve, bool forSession)
{
    // `asked` may be an entry of `approvals` itself, which the removal below destroys.
    const Approval approval = asked;
    const QString printed = codexjson::printedId(approval.rpcID);
    approvals.removeIf([&](const Approval& held) {
        return held.threadID == approval.threadID && codexjson::printedId(held.rpcID) == printed;
    });
    if (const auto index = newestJob(approval.threadID); index && jobs.at(*index).status == u"waiting for approval")
        jobs[*index].status = QStringLiteral("working");

    if (approval.method == u"item/permissions/requestApproval") {
        respond(approval.rpcID,
                Json {{"permissions", approve ? codexjson::grantedPermissions(approval.params) : Json::object()},
                      {"scope", forSession ? "session" : "turn"}});
    } else {
        const char* decision = !approve ? "decline" : forSession ? "acceptForSession" : "accept";
        respond(approval.rpcID, Json {{"decision", decision}});
    }
    changed();
}

QString CodexController::statusText() const
{
    QStringList lines;
    for (const Approval& approval : approvals) {
        const auto index = newestJob(approval.threadID);
        lines.append(QStringLiteral("WAITING FOR APPROVAL in ") + (index ? jobs.at(*index).project : QStringLiteral("?"))
                     + QStringLiteral(": wants to ") + approval.summary);
    }
    const QDateTime now = QDateTime::currentDateTime();
    for (qsizetype i = jobs.size() - 1; i >= 0 && i >= jobs.size() - 6; --i) {
        const Job& job = jobs.at(i);
        const auto minutes = static_cast<qint64>(double(job.started.msecsTo(now)) / 1000.0 / 60.0);
        QString line = job.project + QStringLiteral(": ") + job.status + QStringLiteral(", started ")
            + QString::number(minutes) + QStringLiteral(" min ago, job ") + quoted(oneLineClip(job.prompt, 100));
        const std::optional<QString> latest =
            job.retrying && liveStatuses.contains(job.status) ? job.retrying : job.lastMessage;
        if (latest)
            line += QStringLiteral(". Latest from Codex: ") + oneLineClip(*latest, 300);
        lines.append(line);
    }
    if (lines.isEmpty())
        return QStringLiteral("No Codex jobs yet.");
    return lines.join(u'\n');
}

QString CodexController::openInApp(const std::optional<QString>& project)
{
    QUrl url(QStringLiteral("codex://"));
    std::optional<QString> job;
    if (const auto index = findJob(project)) {
        const QUrl thread(QStringLiteral("codex://threads/") + jobs.at(*index).threadID, QUrl::StrictMode);
        if (thread.isValid()) {
            url = thread;
            job = QStringLiteral("the ") + jobs.at(*index).project + QStringLiteral(" job");
        }
    }
    const QString what = job.value_or(QStringLiteral("the Codex app"));
    // The desktop's opener reports no failure when no application takes the link: look first.
    if (!linkhandler::find(url.scheme())) {
        logline::info(QStringLiteral("no application opens codex links"));
        return QStringLiteral("Couldn't open ") + what + QStringLiteral(": nothing on this computer opens Codex links.");
    }
    if (!openUrl(url))
        return QStringLiteral("Couldn't open ") + what + QStringLiteral(": the Codex link didn't open.");
    return job ? QStringLiteral("Opened ") + *job + QStringLiteral(" in the Codex app.") : QStringLiteral("Opened the Codex app.");
}

void CodexController::openThread(const QString& threadID)
{
    const QUrl url(QStringLiteral("codex://threads/") + threadID, QUrl::StrictMode);
    if (url.isValid())
        openUrl(url);
}
