#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>

#include "ProgramFolders.h"
#include "support/RunTask.h"

namespace {

struct Finished {
    int exitCode = -1;
    QString output;
};

Finished runProgram(const ProgramFolders& folders, const QString& flag)
{
    QProcess program;
    program.setProcessEnvironment(folders.environment);
    program.setProcessChannelMode(QProcess::SeparateChannels);
    program.start(QStringLiteral(TOVRICK_PROGRAM), { flag });
    EXPECT_TRUE(program.waitForStarted(10000)) << flag.toStdString();
    // The loopback API answers on this thread: spin the loop while the program runs.
    EXPECT_TRUE(waitUntil([&] { return program.state() == QProcess::NotRunning; }, std::chrono::seconds(90)))
        << flag.toStdString();
    if (program.state() != QProcess::NotRunning) {
        program.kill();
        program.waitForFinished(5000);
    }
    std::fputs(program.readAllStandardError().constData(), stderr);
    return { program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1,
             QString::fromUtf8(program.readAllStandardOutput()) };
}

} // namespace

// The program's own judge checks, run as a user runs them, against the loopback product API.
TEST(FocusSelfTestEndToEnd, JudgeChecksPassAgainstTheProductApi)
{
    REQUIRE_END_TO_END_SERVICES();

    ProgramFolders folders;
    ASSERT_NO_FATAL_FAILURE(folders.prepare());
    LoopbackApi& api = folders.api;
    api.handle(QStringLiteral("ai/decisions"), [](const RecordedRequest& request) {
        const bool feed = request.body.contains("Work on the Tovrick app inside the Codex app");
        return LoopbackAnswer::json(LoopbackApi::decisionAnswer(feed ? QStringLiteral("off_task") : QStringLiteral("on_task")));
    });
    api.handle(QStringLiteral("ai/responses"), [](const RecordedRequest& request) {
        const Json body = request.json()["body"];
        if (body.contains("tools")) {
            Json answer = LoopbackApi::responseAnswer(QStringLiteral("Bonjour\nIt finds services on the local network."));
            answer["output"][0]["content"][0]["annotations"]
                = Json::array({ { { "type", "url_citation" }, { "url", "https://developer.apple.com/bonjour/" } } });
            return LoopbackAnswer::json(answer);
        }
        if (body.contains("text"))
            return LoopbackAnswer::json(LoopbackApi::responseAnswer(
                QStringLiteral(R"({"message":"Back to the report.","target_id":null,"target_quote":null})")));
        return LoopbackAnswer::json(LoopbackApi::responseAnswer(QStringLiteral("Builds done, tests green.")));
    });

    const Finished synthetic = runProgram(folders, QStringLiteral("--focus-api-test"));
    EXPECT_EQ(synthetic.exitCode, 0) << synthetic.output.toStdString();
    EXPECT_EQ(synthetic.output,
              QStringLiteral("LIVE synthetic fixture supporting_tutorial: on_task, P(off)=0.05, confidence=0.9\n"
                             "LIVE synthetic fixture unrelated_entertainment: on_task, P(off)=0.05, confidence=0.9\n"
                             "LIVE Responses nudge: Back to the report.; target=none\n"
                             "LIVE synthetic fixture twitter_unrelated: off_task, P(off)=0.9, confidence=0.9\n"
                             "LIVE synthetic fixture twitter_research: on_task, P(off)=0.05, confidence=0.9\n"
                             "LIVE Codex status line: Builds done, tests green.\n"
                             "LIVE web research: Bonjour\n\nIt finds services on the local network.\n"
                             "LIVE web research sources: https://developer.apple.com/bonjour/\n"));
    EXPECT_EQ(api.requestCount(QStringLiteral("ai/decisions")), 4);

    const Finished desktop = runProgram(folders, QStringLiteral("--focus-screen-test"));
    EXPECT_EQ(desktop.exitCode, 0) << desktop.output.toStdString();
    EXPECT_EQ(desktop.output,
              QStringLiteral("LIVE desktop capture + Decisions: on_task, P(off)=0.05, confidence=0.9. No screenshot saved.\n"));
    EXPECT_EQ(api.requestCount(QStringLiteral("ai/decisions")), 5);

    const Finished permission = runProgram(folders, QStringLiteral("--screen-permission-check"));
    EXPECT_EQ(permission.exitCode, 0) << permission.output.toStdString();
    EXPECT_EQ(permission.output, QStringLiteral("Screen access: granted\n"));
    EXPECT_TRUE(QFile::exists(QDir(folders.appFolder()).filePath(QStringLiteral("screen-access-check.json"))));
}
