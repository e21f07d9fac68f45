// What the agent asks of us and tells us about its turns.
#include "Tovrick/codex/CodexController.h"

#include "Tovrick/codex/CodexJson.h"

std::optional<qsizetype> CodexController::newestJob(const QString& threadID) const
{
    for (qsizetype i = jobs.size() - 1; i >= 0; --i)
        if (jobs.at(i).threadID == threadID)
            return i;
    return std::nullopt;
}

void CodexController::handleServerRequest(const Json& id, const QString& method, const Json& params)
{
    // Jobs run unattended: every approval is granted at once so the agent never waits on the user.
    if (method == u"item/commandExecution/requestApproval" || method == u"item/fileChange/requestApproval") {
        respond(id, Json {{"decision", "acceptForSession"}});
    } else if (method == u"execCommandApproval" || method == u"applyPatchApproval") {
        respond(id, Json {{"decision", "approved_for_session"}});
    } else if (method == u"item/permissions/requestApproval") {
        respond(id, Json {{"permissions", codexjson::grantedPermissions(params)}, {"scope", "session"}});
    } else {
        respondError(id, QStringLiteral("Tovrick can't answer ") + method + u'.');
    }
}

void CodexController::handleNotification(const QString& method, const Json& params)
{
    const std::optional<QString> threadID = codexjson::string(params, "threadId");

    if (method == u"serverRequest/resolved") {
        const auto requestID = params.find("requestId");
        if (requestID == params.end())
            return;
        if (threadID) {
            const QString printed = codexjson::printedId(*requestID);
            approvals.removeIf([&](const Approval& approval) {
                return approval.threadID == *threadID && codexjson::printedId(approval.rpcID) == printed;
            });
        }
        changed();
        return;
    }

    if (method != u"turn/started" && method != u"item/completed" && method != u"turn/completed" && method != u"error")
        return;
    if (!threadID)
        return;
    const auto index = newestJob(*threadID);
    if (!index)
        return;
    Job& job = jobs[*index];

    // The user was told this job did not start: a turn the agent begins anyway is stopped unseen.
    if (job.status == u"failed" && m_failedStarts.contains(*threadID)) {
        const Json* turn = codexjson::object(params, "turn");
        const auto turnID = turn ? codexjson::string(*turn, "id") : std::nullopt;
        if (method == u"turn/started" && turnID)
            interruptLateTurn(*threadID, *turnID);
        return;
    }

    if (method == u"turn/started") {
        const Json* turn = codexjson::object(params, "turn");
        job.turnID = turn ? codexjson::string(*turn, "id") : std::nullopt;
        job.status = QStringLiteral("working");
        job.lastMessage.reset();
        job.retrying.reset();
        changed();
    } else if (method == u"error") {
        const Json* error = codexjson::object(params, "error");
        const auto message = error ? codexjson::string(*error, "message") : std::nullopt;
        if (!message || message->isEmpty())
            return;
        // While the agent retries this is the only word of what it is doing; once the turn is over
        // it is stale.
        const auto retry = params.find("willRetry");
        if (retry != params.end() && retry->is_boolean() && retry->get<bool>())
            job.retrying = *message;
        else
            job.lastMessage = *message;
        changed();
    } else if (method == u"item/completed") {
        const Json* item = codexjson::object(params, "item");
        if (!item || codexjson::string(*item, "type") != u"agentMessage")
            return;
        const auto text = codexjson::string(*item, "text");
        if (text && !text->isEmpty()) {
            job.lastMessage = *text;
            job.retrying.reset();
        }
    } else {
        finishTurn(*index, *threadID, params);
    }
}

void CodexController::finishTurn(qsizetype index, const QString& threadID, const Json& params)
{
    const Json* turn = codexjson::object(params, "turn");
    if (!turn)
        return;
    const QString status = codexjson::string(*turn, "status").value_or(QStringLiteral("completed"));
    Job& job = jobs[index];
    job.retrying.reset();
    if (const Json* items = codexjson::arrayOfObjects(*turn, "items")) {
        for (const Json& item : *items) {
            const auto text = codexjson::string(item, "text");
            if (codexjson::string(item, "type") == u"agentMessage" && text && !text->isEmpty())
                job.lastMessage = *text;
        }
    }
    approvals.removeIf([&](const Approval& approval) { return approval.threadID == threadID; });
    const Job copy = job;

    const QString quoted = QStringLiteral(" (job: \"") + oneLineClip(copy.prompt, 160);
    if (status == u"interrupted") {
        job.status = QStringLiteral("stopped");
    } else if (status == u"failed") {
        job.status = QStringLiteral("failed");
        if (onEvent) {
            const Json* error = codexjson::object(*turn, "error");
            const auto message = error ? codexjson::string(*error, "message") : std::nullopt;
            const QString reason = message ? oneLineClip(*message, 300) : QStringLiteral("no reason given");
            onEvent(Event::finished(QStringLiteral("Codex hit a problem in ") + copy.project + quoted
                                        + QStringLiteral("\"). Error: ") + reason,
                                    QStringLiteral("Codex tripped over something in ") + copy.project
                                        + QStringLiteral(". Have a look?")));
        }
    } else {
        job.status = QStringLiteral("done");
        if (onEvent) {
            const QString summary = copy.lastMessage ? oneLineClip(*copy.lastMessage, 900) : QStringLiteral("(no summary)");
            onEvent(Event::finished(QStringLiteral("Codex finished in ") + copy.project + quoted
                                        + QStringLiteral("\"). Codex's own summary: ") + summary,
                                    QStringLiteral("Codex is done in ") + copy.project + u'.'));
        }
    }
    changed();
}
