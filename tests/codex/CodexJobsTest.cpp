// The job commands the assistant calls, against the scripted agent.
#include "CodexTestSupport.h"

#include <QFileInfo>

#include "shared/util/Text.h"

namespace {

using Event = CodexController::Event;

Json threadStarted(const char* thread)
{
    return reply(Json {{"thread", {{"id", thread}}}});
}

Json turnStarted(const char* thread, const char* turn)
{
    return notification("turn/started", Json {{"threadId", thread}, {"turn", {{"id", turn}, {"status", "inProgress"}}}});
}

Json turnCompleted(const char* thread, const char* turn, const char* status = "completed")
{
    return notification("turn/completed",
                        Json {{"threadId", thread}, {"turn", {{"id", turn}, {"status", status}, {"items", Json::array()}}}});
}

class CodexJobs : public CodexTest {
protected:
    void SetUp() override
    {
        CodexTest::SetUp();
        controller.onEvent = [this](const Event& event) { events.append(event); };
        controller.onChange = [this] { ++changes; };
        controller.openUrl = [this](const QUrl& url) { opened.append(url.toString()); };
    }

    // Jobs started in the background finish before the controller goes.
    void TearDown() override
    {
        EXPECT_TRUE(waitUntil([&] {
            QCoreApplication::processEvents();
            return CodexControllerProbe::pendingRequests(controller) == 0;
        }));
        QCoreApplication::processEvents();
        CodexTest::TearDown();
    }

    QString start(std::optional<QString> project, const QString& task)
    {
        return controller.startJob(std::move(project), task);
    }

    bool waitForStatus(qsizetype index, const char* status)
    {
        return waitUntil([&] { return controller.jobs.size() > index && controller.jobs[index].status == status; });
    }

    QString input(const Json& request) const { return json::toQString(request["params"]["input"][0]["text"]); }

    FakeAgent agent;
    CodexController controller;
    QList<Event> events;
    QStringList opened;
    int changes = 0;
};

TEST_F(CodexJobs, AJobRunsFromStartThroughWorkingToDone)
{
    agent.on("thread/start", Json::array({threadStarted("th-1")}))
        .on("turn/start", Json::array({reply({{"turn", {{"id", "tu-1"}}}}), turnStarted("th-1", "tu-1")}));
    const int finish = agent.cue(Json::array({
        notification("item/completed", Json {{"threadId", "th-1"}, {"item", {{"type", "agentMessage"}, {"text", "Wrote it.\nAll green."}}}}),
        Json {{"raw", "{\"method\":\"thread/tokenUsage/updated\",\"params\":{}}\n{\"method\":\"turn/comp"}},
        Json {{"sleepMs", 50}},
        Json {{"raw", "leted\",\"params\":{\"threadId\":\"th-1\",\"turn\":{\"id\":\"tu-1\",\"status\":\"completed\"}}}\n"}},
    }));
    agent.install(controller);

    EXPECT_EQ(start(std::nullopt, QStringLiteral("  Write a haiku generator\n")),
              "Codex is on it (Tovrick). It'll ping you when it's done.");
    ASSERT_TRUE(waitForStatus(0, "working"));
    const CodexController::Job& job = controller.jobs[0];
    EXPECT_EQ(job.threadID, "th-1");
    EXPECT_EQ(job.project, "Tovrick");
    EXPECT_EQ(job.prompt, "Write a haiku generator");
    EXPECT_EQ(job.turnID, QStringLiteral("tu-1"));
    EXPECT_EQ(job.folder, documents(QStringLiteral("Tovrick")));

    const auto threadStart = agent.received("thread/start");
    ASSERT_EQ(threadStart.size(), 1);
    EXPECT_EQ(threadStart[0]["params"], (Json {{"cwd", json::fromQString(documents(QStringLiteral("Tovrick")))},
                                               {"sandbox", "danger-full-access"},
                                               {"approvalPolicy", "never"}}));
    const auto turnStart = agent.received("turn/start");
    ASSERT_EQ(turnStart.size(), 1);
    EXPECT_EQ(turnStart[0]["params"], parseJson(R"({"threadId":"th-1","input":[{"type":"text","text":"Write a haiku generator","text_elements":[]}]})"));
    EXPECT_TRUE(QFileInfo(documents(QStringLiteral("Tovrick/.git"))).isDir());
    EXPECT_TRUE(QFileInfo::exists(documents(QStringLiteral("Tovrick/README.md"))));

    agent.trigger(finish);
    ASSERT_TRUE(waitForStatus(0, "done"));
    ASSERT_EQ(events.size(), 1);
    EXPECT_EQ(events[0].note, "Codex finished in Tovrick (job: \"Write a haiku generator\"). Codex's own summary: "
                              "Wrote it. All green.");
    EXPECT_EQ(events[0].line, "Codex is done in Tovrick.");
}

TEST_F(CodexJobs, ANamedProjectIsToldInTheFirstMessageWhileTheJobRunsInTheWorkspace)
{
    const QString billing = makeRepository(documents(QStringLiteral("billing")));
    agent.on("thread/start", Json::array({threadStarted("th-1")}));
    agent.install(controller);

    EXPECT_EQ(start(QStringLiteral("Billing"), QStringLiteral("Add tests")),
              "Codex is on it (billing). It'll ping you when it's done.");
    ASSERT_TRUE(waitUntil([&] { return agent.received("turn/start").size() == 1; }));
    EXPECT_EQ(input(agent.received("turn/start")[0]), "The work is in the existing repo at " + billing + ".\n\nAdd tests");
    EXPECT_EQ(controller.jobs[0].project, "billing");
    EXPECT_EQ(controller.jobs[0].folder, documents(QStringLiteral("Tovrick")));
    EXPECT_EQ(json::toQString(agent.received("thread/start")[0]["params"]["cwd"]), documents(QStringLiteral("Tovrick")));

    // Spaces alone name no project.
    EXPECT_EQ(start(QStringLiteral(" \t "), QStringLiteral("Tidy up")), "Codex is on it (Tovrick). It'll ping you when it's done.");
    ASSERT_TRUE(waitUntil([&] { return agent.received("turn/start").size() == 2; }));
    EXPECT_EQ(input(agent.received("turn/start")[1]), "Tidy up");
}

TEST_F(CodexJobs, StartAnswersThatStartNothing)
{
    CodexController::setExecutablePaths(QStringList {});
    EXPECT_EQ(start(QStringLiteral("x"), QStringLiteral(" \n\t")), "What should Codex do?");
    EXPECT_EQ(start(QStringLiteral("x"), QStringLiteral("Do it")), "Codex isn't installed on this Mac.");

    agent.install(controller);
    EXPECT_EQ(start(QStringLiteral("shop"), QStringLiteral("Do it")),
              "No project called \"shop\". Projects: . Ask which one, or leave the project out to work in the Tovrick folder.");
    for (int i = 0; i < 22; ++i)
        makeRepository(documents(QStringLiteral("app%1").arg(i, 2, 10, QChar(u'0'))));
    CodexProjects::dropCache();

    QStringList twenty;
    for (int i = 0; i < 20; ++i)
        twenty.append(QStringLiteral("app%1").arg(i, 2, 10, QChar(u'0')));
    EXPECT_EQ(start(QStringLiteral("shop"), QStringLiteral("Do it")),
              "No project called \"shop\". Projects: " + twenty.join(", ")
                  + ". Ask which one, or leave the project out to work in the Tovrick folder.");
    EXPECT_EQ(start(QStringLiteral(" App "), QStringLiteral("Do it")),
              "Several projects match \" App \": app00, app01, app02, app03, app04, app05. Ask the user which one in one short line.");

    QCoreApplication::processEvents();
    EXPECT_TRUE(agent.launches().isEmpty());
    EXPECT_TRUE(controller.jobs.isEmpty());
    EXPECT_TRUE(events.isEmpty());
}

TEST_F(CodexJobs, FailedStartsBecomeNotes)
{
    agent.on("thread/start", Json::array({Json {{"error", {{"message", "no threads for you"}}}}}), 0, 1)
        .on("thread/start", Json::array({reply({{"thread", {{"name", "nameless"}}}})}), 0, 1)
        .on("thread/start", Json::array({threadStarted("th-3")}))
        .on("turn/start", Json::array({Json {{"error", {{"message", "model overloaded"}}}}}));
    agent.install(controller);

    start(std::nullopt, QStringLiteral("First"));
    ASSERT_TRUE(waitUntil([&] { return events.size() == 1; }));
    EXPECT_EQ(events[0].note, "Codex couldn't start the job (\"First\"): Codex said: no threads for you");
    EXPECT_EQ(events[0].line, "Codex wouldn't start: Codex said: no threads for you");

    start(std::nullopt, QStringLiteral("Second"));
    ASSERT_TRUE(waitUntil([&] { return events.size() == 2; }));
    EXPECT_EQ(events[1].note, "Codex couldn't start the job (\"Second\"): Codex said: no thread");
    EXPECT_TRUE(controller.jobs.isEmpty());

    // A job whose turn never started ends "failed", not "starting" for ever.
    changes = 0;
    start(std::nullopt, QString(130, u'z'));
    ASSERT_TRUE(waitUntil([&] { return events.size() == 3; }));
    EXPECT_EQ(events[2].note, "Codex couldn't start the job (\"" + QString(120, u'z') + "…\"): Codex said: model overloaded");
    ASSERT_EQ(controller.jobs.size(), 1);
    EXPECT_EQ(controller.jobs[0].status, "failed");
    EXPECT_EQ(changes, 2);
}

TEST_F(CodexJobs, AWorkspaceThatCannotBeMadeIsAFailedStart)
{
    ASSERT_FALSE(files::writeAtomically(documents(QStringLiteral("Tovrick")), "in the way", false));
    agent.install(controller);
    start(std::nullopt, QStringLiteral("Anything"));
    ASSERT_TRUE(waitUntil([&] { return events.size() == 1; }));
    EXPECT_TRUE(events[0].note.startsWith(QStringLiteral("Codex couldn't start the job (\"Anything\"): Couldn't create the folder ")));
    EXPECT_TRUE(events[0].line.startsWith(QStringLiteral("Codex wouldn't start: Couldn't create")));
    EXPECT_LE(text::characterCount(events[0].line), QStringLiteral("Codex wouldn't start: ").size() + 81);
    EXPECT_TRUE(agent.launches().isEmpty());
}

TEST_F(CodexJobs, FollowUpsSteerResumeOncePerProcessAndStartNewTurns)
{
    agent.on("thread/start", Json::array({threadStarted("th-1")}))
        .on("turn/start", Json::array({reply({{"turn", {{"id", "tu-1"}}}}), turnStarted("th-1", "tu-1")}), 1, 1)
        .on("turn/start", Json::array({reply(Json::object())}));
    const int finish = agent.cue(Json::array({turnCompleted("th-1", "tu-1")}));
    const int quit = agent.cue(Json::array({Json {{"exit", 0}}}));
    agent.install(controller);
    start(std::nullopt, QStringLiteral("Build it"));
    ASSERT_TRUE(waitForStatus(0, "working"));

    EXPECT_EQ(runTask(controller.followUp(std::nullopt, QStringLiteral(" also docs "))),
              "Passed that to Codex in Tovrick while it works.");
    const auto steer = agent.received("turn/steer");
    ASSERT_EQ(steer.size(), 1);
    EXPECT_EQ(steer[0]["params"], parseJson(R"({"threadId":"th-1","expectedTurnId":"tu-1","input":[{"type":"text","text":" also docs ","text_elements":[]}]})"));

    agent.trigger(finish);
    ASSERT_TRUE(waitForStatus(0, "done"));
    // The thread was made by this child: no resume.
    EXPECT_EQ(runTask(controller.followUp(QStringLiteral("tovrick"), QStringLiteral("next"))), "Sent the follow-up to Codex in Tovrick.");
    EXPECT_TRUE(agent.received("thread/resume").isEmpty());
    EXPECT_EQ(controller.jobs[0].status, "starting");

    agent.trigger(quit);
    ASSERT_TRUE(waitForStatus(0, "stopped (Codex quit)"));
    EXPECT_EQ(runTask(controller.followUp(std::nullopt, QStringLiteral("again"))), "Sent the follow-up to Codex in Tovrick.");
    EXPECT_EQ(runTask(controller.followUp(std::nullopt, QStringLiteral("and again"))), "Sent the follow-up to Codex in Tovrick.");
    const auto resumes = agent.received("thread/resume");
    ASSERT_EQ(resumes.size(), 1);
    EXPECT_EQ(resumes[0]["params"], parseJson(R"({"threadId":"th-1"})"));
    EXPECT_EQ(agent.launches().size(), 2);
    EXPECT_EQ(agent.received("turn/start").size(), 4);
    EXPECT_EQ(input(agent.received("turn/start").last()), "and again");
}

TEST_F(CodexJobs, WorkingWithoutATurnIdStartsANewTurnInsteadOfSteering)
{
    agent.on("thread/start", Json::array({threadStarted("th-1")}))
        .on("turn/start", Json::array({reply(Json::object()), notification("turn/started", Json {{"threadId", "th-1"}})}));
    agent.install(controller);
    start(std::nullopt, QStringLiteral("Build it"));
    ASSERT_TRUE(waitForStatus(0, "working"));
    EXPECT_FALSE(controller.jobs[0].turnID.has_value());

    EXPECT_EQ(runTask(controller.followUp(std::nullopt, QStringLiteral("more"))), "Sent the follow-up to Codex in Tovrick.");
    EXPECT_TRUE(agent.received("turn/steer").isEmpty());
    EXPECT_EQ(agent.received("turn/start").size(), 2);
}

TEST_F(CodexJobs, FollowUpFailures)
{
    EXPECT_EQ(runTask(controller.followUp(std::nullopt, QStringLiteral("x"))),
              "There's no Codex job yet. Start one with codex_start.");
    controller.jobs.append({QStringLiteral("th-1"), QStringLiteral("Tovrick"), QString(), QStringLiteral("build"),
                            std::nullopt, QStringLiteral("done"), std::nullopt, QDateTime::currentDateTime()});
    EXPECT_EQ(runTask(controller.followUp(QStringLiteral("zebra"), QStringLiteral("x"))),
              "There's no Codex job yet. Start one with codex_start.");

    CodexController::setExecutablePaths(QStringList {});
    EXPECT_EQ(runTask(controller.followUp(std::nullopt, QStringLiteral("x"))),
              "Couldn't reach Codex: Codex isn't installed on this Mac.");

    agent.on("thread/resume", Json::array({Json {{"error", {{"message", "thread not found"}}}}}));
    agent.install(controller);
    EXPECT_EQ(runTask(controller.followUp(std::nullopt, QStringLiteral("x"))),
              "Couldn't reach Codex: Codex said: thread not found");
    EXPECT_EQ(controller.jobs[0].status, "done");
}

TEST_F(CodexJobs, StopInterruptsOnlyALiveTurnItKnows)
{
    EXPECT_EQ(runTask(controller.stop(std::nullopt)), "No Codex job to stop.");

    agent.on("turn/interrupt", Json::array({reply(Json::object())}), 0, 1)
        .on("turn/interrupt", Json::array({Json {{"error", {{"message", "no such turn"}}}}}));
    agent.install(controller);
    runTask(controller.ensureRunning());
    const auto job = [](const char* project, std::optional<QString> turn, const char* status) {
        return CodexController::Job {QStringLiteral("th-") + project, QString::fromUtf8(project), QString(), QStringLiteral("task"),
                                     std::move(turn), QString::fromUtf8(status), std::nullopt, QDateTime::currentDateTime()};
    };
    controller.jobs = {job("alpha", QStringLiteral("tu-a"), "starting"), job("beta", std::nullopt, "starting"),
                       job("gamma", QStringLiteral("tu-g"), "done"), job("delta", QStringLiteral("tu-d"), "working")};
    controller.approvals = {{Json(5), QStringLiteral("execCommandApproval"), QStringLiteral("th-alpha"), QString(), Json::object()},
                            {Json(6), QStringLiteral("execCommandApproval"), QStringLiteral("th-beta"), QString(), Json::object()}};

    EXPECT_EQ(runTask(controller.stop(QStringLiteral("alpha"))), "Stopped Codex in alpha.");
    const auto interrupts = agent.received("turn/interrupt");
    ASSERT_EQ(interrupts.size(), 1);
    EXPECT_EQ(interrupts[0]["params"], parseJson(R"({"threadId":"th-alpha","turnId":"tu-a"})"));
    EXPECT_EQ(agent.answerTo(5), parseJson(R"({"jsonrpc":"2.0","id":5,"result":{"decision":"decline"}})"));
    ASSERT_EQ(controller.approvals.size(), 1);
    EXPECT_EQ(controller.jobs[0].status, "starting");

    EXPECT_EQ(runTask(controller.stop(QStringLiteral("beta"))), "Codex isn't working on anything in beta right now.");
    EXPECT_EQ(runTask(controller.stop(QStringLiteral("gamma"))), "Codex isn't working on anything in gamma right now.");
    EXPECT_EQ(runTask(controller.stop(std::nullopt)), "Couldn't stop it: Codex said: no such turn");
    EXPECT_EQ(agent.received("turn/interrupt").size(), 2);
}

TEST_F(CodexJobs, FindJobPrefersProjectsThenPrompts)
{
    EXPECT_FALSE(controller.findJob(std::nullopt).has_value());
    const auto job = [](const char* project, const char* prompt) {
        return CodexController::Job {QString(), QString::fromUtf8(project), QString(), QString::fromUtf8(prompt),
                                     std::nullopt, QStringLiteral("done"), std::nullopt, QDateTime::currentDateTime()};
    };
    controller.jobs = {job("web-shop", "Fix the CART"), job("api", "Write docs"), job("web-shop", "Add search"), job("!!", "Odd one")};

    const struct {
        std::optional<QString> name;
        std::optional<qsizetype> index;
    } cases[] = {
        {std::nullopt, 3},
        {QStringLiteral(" \t"), 3},
        {QStringLiteral("Web Shop"), 2},
        {QStringLiteral("shop"), 2},
        {QStringLiteral("the api server"), 1},
        {QStringLiteral("cart"), 0},
        {QStringLiteral("the cart"), 0},
        // No letters or digits: only the prompts can match, never every project.
        {QStringLiteral("!!!"), std::nullopt},
        {QStringLiteral("zebra"), std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(controller.findJob(c.name), c.index) << c.name.value_or(QStringLiteral("(none)")).toStdString();
}

TEST_F(CodexJobs, StatusTextListsApprovalsThenTheSixNewestJobs)
{
    EXPECT_EQ(controller.statusText(), "No Codex jobs yet.");
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = 0; i < 7; ++i)
        controller.jobs.append({QStringLiteral("th-%1").arg(i), QStringLiteral("p%1").arg(i), QString(),
                                QStringLiteral("task %1").arg(i), std::nullopt, QStringLiteral("done"), std::nullopt,
                                now.addSecs(-60 * i)});
    controller.jobs[6].prompt = QString(101, u'a') + u'\n';
    controller.jobs[6].started = now.addSecs(-119);
    controller.jobs[6].lastMessage = QStringLiteral("All\nset");
    controller.approvals = {{Json(1), QStringLiteral("m"), QStringLiteral("th-2"), QStringLiteral("run make"), Json::object()},
                            {Json(2), QStringLiteral("m"), QStringLiteral("gone"), QStringLiteral("edit files"), Json::object()}};

    const QStringList lines = controller.statusText().split(u'\n');
    ASSERT_EQ(lines.size(), 8);
    EXPECT_EQ(lines[0], "WAITING FOR APPROVAL in p2: wants to run make");
    EXPECT_EQ(lines[1], "WAITING FOR APPROVAL in ?: wants to edit files");
    EXPECT_EQ(lines[2], "p6: done, started 1 min ago, job \"" + QString(100, u'a') + "…\". Latest from Codex: All set");
    EXPECT_EQ(lines[3], "p5: done, started 5 min ago, job \"task 5\"");
    EXPECT_EQ(lines[7], "p1: done, started 1 min ago, job \"task 1\"");
}

TEST_F(CodexJobs, AppLinksOpenTheThreadOrTheApp)
{
    EXPECT_EQ(controller.openInApp(std::nullopt), "Opened the Codex app.");
    controller.jobs.append({QStringLiteral("th-1"), QStringLiteral("Tovrick"), QString(), QStringLiteral("build"),
                            std::nullopt, QStringLiteral("done"), std::nullopt, QDateTime::currentDateTime()});
    EXPECT_EQ(controller.openInApp(QStringLiteral("tovrick")), "Opened the Tovrick job in the Codex app.");
    EXPECT_EQ(controller.openInApp(QStringLiteral("zebra")), "Opened the Codex app.");
    controller.openThread(QStringLiteral("th-2"));
    controller.openThread(QStringLiteral("not a valid id"));
    EXPECT_EQ(opened, (QStringList {"codex://", "codex://threads/th-1", "codex://", "codex://threads/th-2"}));
}

} // namespace
