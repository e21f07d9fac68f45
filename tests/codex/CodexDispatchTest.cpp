// The agent's server requests and turn notifications, fed through the line reader.
#include "CodexTestSupport.h"

namespace {

using Event = CodexController::Event;

class CodexDispatch : public CodexTest {
protected:
    void SetUp() override
    {
        CodexTest::SetUp();
        CodexControllerProbe::captureLines(controller, [this](const QByteArray& line) {
            ASSERT_TRUE(line.endsWith('\n'));
            written.append(parseJson(line.chopped(1)));
        });
        controller.onChange = [this] { ++changes; };
        controller.onEvent = [this](const Event& event) { events.append(event); };
    }

    void feed(const Json& message) { CodexControllerProbe::feed(controller, json::dumpBytes(message) + '\n'); }

    CodexController::Job& addJob(const QString& thread, const QString& project, const QString& prompt,
                                 const QString& status = QStringLiteral("working"))
    {
        controller.jobs.append({thread, project, QStringLiteral("/w"), prompt, QStringLiteral("turn-0"), status,
                                std::nullopt, QDateTime::currentDateTime()});
        return controller.jobs.last();
    }

    static Json turnCompleted(const char* thread, Json turn)
    {
        return Json {{"method", "turn/completed"}, {"params", {{"threadId", thread}, {"turn", std::move(turn)}}}};
    }

    CodexController controller;
    QList<Json> written;
    QList<Event> events;
    int changes = 0;
};

TEST_F(CodexDispatch, ServerRequestsAreGrantedAtOnceOrRefused)
{
    feed(parseJson(R"({"id":7,"method":"item/commandExecution/requestApproval","params":{"command":"rm"}})"));
    feed(parseJson(R"({"id":"s8","method":"item/fileChange/requestApproval"})"));
    feed(parseJson(R"({"id":9,"method":"execCommandApproval","params":[]})"));
    feed(parseJson(R"({"id":{"n":10},"method":"applyPatchApproval"})"));
    feed(parseJson(R"({"id":11,"method":"item/permissions/requestApproval","params":{"permissions":{"network":true,"disk":null}}})"));
    feed(parseJson(R"({"id":12,"method":"item/permissions/requestApproval","params":{"permissions":"all"}})"));
    feed(parseJson(R"({"id":null,"method":"item/tool/call","params":{}})"));

    const QList<Json> expected {
        parseJson(R"({"jsonrpc":"2.0","id":7,"result":{"decision":"acceptForSession"}})"),
        parseJson(R"({"jsonrpc":"2.0","id":"s8","result":{"decision":"acceptForSession"}})"),
        parseJson(R"({"jsonrpc":"2.0","id":9,"result":{"decision":"approved_for_session"}})"),
        parseJson(R"({"jsonrpc":"2.0","id":{"n":10},"result":{"decision":"approved_for_session"}})"),
        parseJson(R"({"jsonrpc":"2.0","id":11,"result":{"permissions":{"network":true},"scope":"session"}})"),
        parseJson(R"({"jsonrpc":"2.0","id":12,"result":{"permissions":{},"scope":"session"}})"),
        parseJson(R"({"jsonrpc":"2.0","id":null,"error":{"code":-32601,"message":"Tovrick can't answer item/tool/call."}})"),
    };
    EXPECT_EQ(written, expected);
    EXPECT_EQ(changes, 0);
    EXPECT_TRUE(events.isEmpty());
}

TEST_F(CodexDispatch, CompletedTurnGivesTheNoteAndLine)
{
    addJob("a", "Other", "other task");
    addJob("t1", "Billing", "Fix the invoice\ntotals");
    feed(parseJson(R"({"method":"item/completed","params":{"threadId":"t1","item":{"type":"agentMessage","text":"Fixed it.\nTests pass."}}})"));
    EXPECT_EQ(changes, 0);
    feed(turnCompleted("t1", parseJson(R"({"id":"turn-0","status":"completed","items":[]})")));

    ASSERT_EQ(events.size(), 1);
    EXPECT_EQ(events[0].kind, Event::Kind::finished);
    EXPECT_EQ(events[0].note, "Codex finished in Billing (job: \"Fix the invoice totals\"). Codex's own summary: "
                              "Fixed it. Tests pass.");
    EXPECT_EQ(events[0].line, "Codex is done in Billing.");
    EXPECT_EQ(controller.jobs[1].status, "done");
    EXPECT_EQ(controller.jobs[0].status, "working");
    EXPECT_EQ(changes, 1);

    // The notifications do not look at the status: a second completion gives a second note.
    feed(turnCompleted("t1", Json::object()));
    EXPECT_EQ(events.size(), 2);
}

TEST_F(CodexDispatch, TurnEndingsByStatus)
{
    const QString longError(300, u'e');
    const QString prompt = QString(160, u'p') + u'q';
    const struct {
        Json turn;
        const char* status;
        QString note; // empty: no event
        QString line;
    } cases[] = {
        {parseJson(R"({"items":[]})"), "done",
         "Codex finished in P (job: \"" + QString(160, u'p') + "…\"). Codex's own summary: (no summary)", "Codex is done in P."},
        {parseJson(R"({"status":"weird"})"), "done",
         "Codex finished in P (job: \"" + QString(160, u'p') + "…\"). Codex's own summary: (no summary)", "Codex is done in P."},
        {parseJson(R"({"status":"interrupted"})"), "stopped", QString(), QString()},
        {parseJson(R"({"status":"failed","error":{"message":")" + longError.toStdString() + R"("}})"), "failed",
         "Codex hit a problem in P (job: \"" + QString(160, u'p') + "…\"). Error: " + longError,
         "Codex tripped over something in P. Have a look?"},
        {parseJson(R"({"status":"failed","error":{"message":7}})"), "failed",
         "Codex hit a problem in P (job: \"" + QString(160, u'p') + "…\"). Error: no reason given",
         "Codex tripped over something in P. Have a look?"},
    };
    for (const auto& c : cases) {
        controller.jobs.clear();
        events.clear();
        changes = 0;
        addJob("t", "P", prompt);
        feed(turnCompleted("t", c.turn));
        EXPECT_EQ(controller.jobs[0].status, c.status) << c.turn.dump();
        EXPECT_EQ(changes, 1);
        if (c.note.isEmpty()) {
            EXPECT_TRUE(events.isEmpty()) << c.turn.dump();
        } else {
            ASSERT_EQ(events.size(), 1) << c.turn.dump();
            EXPECT_EQ(events[0].note, c.note);
            EXPECT_EQ(events[0].line, c.line);
        }
    }
}

TEST_F(CodexDispatch, TurnItemsAndMessagesUpdateTheJob)
{
    addJob("t", "P", "task");
    const QString thousand(1000, u'm');

    feed(parseJson(R"({"method":"item/completed","params":{"threadId":"t","item":{"type":"agentMessage","text":""}}})"));
    feed(parseJson(R"({"method":"item/completed","params":{"threadId":"t","item":{"type":"commandExecution","text":"ls"}}})"));
    EXPECT_FALSE(controller.jobs[0].lastMessage.has_value());

    feed(turnCompleted("t", Json {{"items", Json::array({Json {{"type", "agentMessage"}, {"text", "first"}},
                                                         Json {{"type", "reasoning"}, {"text", "hmm"}},
                                                         Json {{"type", "agentMessage"}, {"text", json::fromQString(thousand)}}})}}));
    EXPECT_EQ(controller.jobs[0].lastMessage, thousand);
    ASSERT_EQ(events.size(), 1);
    EXPECT_TRUE(events[0].note.endsWith(QStringLiteral("Codex's own summary: ") + QString(900, u'm') + u'…'));

    // Items that are not all objects count as none.
    feed(turnCompleted("t", parseJson(R"({"items":[{"type":"agentMessage","text":"new"},3]})")));
    EXPECT_EQ(controller.jobs[0].lastMessage, thousand);
}

TEST_F(CodexDispatch, TurnStartedSetsWorkingAndTheTurnIdOfTheNewestJobOfTheThread)
{
    addJob("t", "Old", "one", QStringLiteral("done"));
    addJob("t", "New", "two", QStringLiteral("starting"));
    feed(parseJson(R"({"method":"turn/started","params":{"threadId":"t","turn":{"id":"turn-9"}}})"));
    EXPECT_EQ(controller.jobs[1].turnID, QStringLiteral("turn-9"));
    EXPECT_EQ(controller.jobs[1].status, "working");
    EXPECT_EQ(controller.jobs[0].status, "done");

    feed(parseJson(R"({"method":"turn/started","params":{"threadId":"t"}})"));
    EXPECT_FALSE(controller.jobs[1].turnID.has_value());
    EXPECT_EQ(controller.jobs[1].status, "working");
    EXPECT_EQ(changes, 2);

    // Unknown threads, missing thread ids and unknown methods change nothing.
    feed(parseJson(R"({"method":"turn/started","params":{"threadId":"nobody","turn":{"id":"x"}}})"));
    feed(parseJson(R"({"method":"turn/started","params":{"turn":{"id":"x"}}})"));
    feed(parseJson(R"({"method":"turn/completed","params":{"threadId":"t"}})"));
    feed(parseJson(R"({"method":"thread/tokenUsage/updated","params":{"threadId":"t"}})"));
    feed(parseJson(R"({"jsonrpc":"2.0","method":"turn/started","params":"t"})"));
    EXPECT_EQ(changes, 2);
    EXPECT_TRUE(events.isEmpty());
}

TEST_F(CodexDispatch, ResolvedRequestsAndFinishedTurnsClearTheirApprovals)
{
    addJob("t", "P", "task");
    controller.approvals = {
        {Json(7), QStringLiteral("m"), QStringLiteral("t"), QString(), Json::object()},
        {Json("8"), QStringLiteral("m"), QStringLiteral("t"), QString(), Json::object()},
        {Json(7), QStringLiteral("m"), QStringLiteral("u"), QString(), Json::object()},
    };
    feed(parseJson(R"({"method":"serverRequest/resolved","params":{"requestId":"7"}})"));
    EXPECT_EQ(controller.approvals.size(), 3);
    EXPECT_EQ(changes, 1);
    feed(parseJson(R"({"method":"serverRequest/resolved","params":{"threadId":"t"}})"));
    EXPECT_EQ(changes, 1);

    feed(parseJson(R"({"method":"serverRequest/resolved","params":{"threadId":"t","requestId":"7"}})"));
    ASSERT_EQ(controller.approvals.size(), 2);
    feed(parseJson(R"({"method":"serverRequest/resolved","params":{"threadId":"t","requestId":8}})"));
    ASSERT_EQ(controller.approvals.size(), 1);
    EXPECT_EQ(controller.approvals[0].threadID, "u");

    // A completion without "turn" keeps even the approvals.
    controller.approvals.append({Json(1), QStringLiteral("m"), QStringLiteral("t"), QString(), Json::object()});
    feed(parseJson(R"({"method":"turn/completed","params":{"threadId":"t"}})"));
    EXPECT_EQ(controller.approvals.size(), 2);
    feed(turnCompleted("t", Json::object()));
    ASSERT_EQ(controller.approvals.size(), 1);
    EXPECT_EQ(controller.approvals[0].threadID, "u");
}

TEST_F(CodexDispatch, WithoutAnEventReceiverTheTurnStillEnds)
{
    controller.onEvent = nullptr;
    addJob("t", "P", "task");
    feed(turnCompleted("t", parseJson(R"({"status":"failed"})")));
    EXPECT_EQ(controller.jobs[0].status, "failed");
    EXPECT_EQ(changes, 1);
}

TEST_F(CodexDispatch, ApprovalAnswers)
{
    addJob("t", "P", "task", QStringLiteral("waiting for approval"));
    const Json permissions = parseJson(R"({"permissions":{"network":true,"disk":null}})");
    const struct {
        const char* method;
        bool approve;
        bool forSession;
        Json result;
    } cases[] = {
        {"item/permissions/requestApproval", true, true, parseJson(R"({"permissions":{"network":true},"scope":"session"})")},
        {"item/permissions/requestApproval", true, false, parseJson(R"({"permissions":{"network":true},"scope":"turn"})")},
        {"item/permissions/requestApproval", false, true, parseJson(R"({"permissions":{},"scope":"session"})")},
        {"item/commandExecution/requestApproval", true, true, parseJson(R"({"decision":"acceptForSession"})")},
        {"item/commandExecution/requestApproval", true, false, parseJson(R"({"decision":"accept"})")},
        {"execCommandApproval", false, true, parseJson(R"({"decision":"decline"})")},
    };
    for (const auto& c : cases) {
        written.clear();
        controller.approvals = {{Json("7"), QString::fromUtf8(c.method), QStringLiteral("t"), QStringLiteral("run ls"), permissions},
                                {Json(7), QString::fromUtf8(c.method), QStringLiteral("other"), QString(), permissions}};
        controller.answerApproval({Json(7), QString::fromUtf8(c.method), QStringLiteral("t"), QString(), permissions},
                                  c.approve, c.forSession);
        ASSERT_EQ(written.size(), 1);
        EXPECT_EQ(written[0], (Json {{"jsonrpc", "2.0"}, {"id", 7}, {"result", c.result}})) << c.method;
        ASSERT_EQ(controller.approvals.size(), 1);
        EXPECT_EQ(controller.approvals[0].threadID, "other");
    }
    EXPECT_EQ(controller.jobs[0].status, "working");
    EXPECT_EQ(changes, int(std::size(cases)));
}

} // namespace
