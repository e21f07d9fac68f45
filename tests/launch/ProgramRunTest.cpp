#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>

#include "app/ProgramFolders.h"
#include "shared/util/Files.h"
#include "support/RunTask.h"

using namespace std::chrono_literals;

// The program's runs need a display to draw on: scripts/with-test-services gives one.
#define REQUIRE_DISPLAY()                                                                 \
    do {                                                                                  \
        if (!qEnvironmentVariableIsSet("DISPLAY"))                                        \
            GTEST_SKIP() << "needs the display of scripts/with-test-services";            \
    } while (false)

namespace {

struct Finished {
    bool ended = false;
    int code = -1;
    QByteArray out;
    QByteArray err;
};

// Runs the program to its end while this process's event loop serves the loopback API.
Finished runProgram(const QStringList& arguments, const QProcessEnvironment& environment,
                    std::chrono::milliseconds limit = 60s)
{
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(TOVRICK_PROGRAM), arguments);
    Finished result;
    if (!program.waitForStarted(10000))
        return result;
    result.ended = waitUntil([&] { return program.state() == QProcess::NotRunning; }, limit);
    if (!result.ended) {
        program.kill();
        program.waitForFinished(5000);
    }
    result.code = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
    result.out = program.readAllStandardOutput();
    result.err = program.readAllStandardError();
    return result;
}

QString statusFile(const ProgramFolders& folders)
{
    return QDir(folders.data).filePath(QStringLiteral("Fennow/status.txt"));
}

} // namespace

// What a new user meets on the command line: help and version without starting anything (and
// without a display), one line and status 2 for what is not understood, one line and status 1
// where there is no X display instead of Qt's abort.
TEST(ProgramRun, TheCommandLineAnswersWithoutStartingTheProgram)
{
    QProcessEnvironment noDisplay = QProcessEnvironment::systemEnvironment();
    noDisplay.remove(QStringLiteral("DISPLAY"));
    noDisplay.remove(QStringLiteral("QT_QPA_PLATFORM"));
    QProcessEnvironment wayland = noDisplay;
    wayland.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-0"));
    QProcessEnvironment goneDisplay = noDisplay;
    goneDisplay.insert(QStringLiteral("DISPLAY"), QStringLiteral(":4711"));

    const struct {
        QStringList arguments;
        const QProcessEnvironment* environment;
        int code;
        const char* out; // printed on standard output (a part of it)
        const char* err; // the one line on standard error (a part of it); empty: nothing there
    } cases[] = {
        {{QStringLiteral("--help")}, &noDisplay, 0, "--pair", ""},
        {{QStringLiteral("-h")}, &noDisplay, 0, "FENNOW_DEMO_BUBBLE", ""},
        {{QStringLiteral("--pair"), QStringLiteral("--help")}, &noDisplay, 0, "--focus-api-test", ""},
        {{QStringLiteral("--version")}, &noDisplay, 0, "tovrick 0.", ""},
        {{QStringLiteral("--frobnicate")}, &noDisplay, 2, "", "unknown option --frobnicate"},
        {{QStringLiteral("--pair"), QStringLiteral("notes.txt")}, &noDisplay, 2, "", "unexpected argument notes.txt"},
        {{QStringLiteral("-platform")}, &noDisplay, 2, "", "-platform needs a value"},
        {{}, &wayland, 1, "", "Tovrick needs an X11 session (or Xwayland): DISPLAY is not set."},
        {{QStringLiteral("--pair")}, &goneDisplay, 1, "",
         "Tovrick needs an X11 session (or Xwayland): the display :4711"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        const Finished run = runProgram(c.arguments, *c.environment, 30s);
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(run.code, c.code) << run.err.toStdString();
        EXPECT_TRUE(run.out.contains(c.out)) << run.out.toStdString();
        if (*c.err) {
            EXPECT_TRUE(run.err.contains(c.err)) << run.err.toStdString();
            EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
        } else {
            EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
        }
    }
}

// A later start hands what it was asked to the running program and ends; the running one acts on
// it and keeps its permission status file current.
TEST(ProgramRun, ALaterStartHandsOverToTheRunningOne)
{
    REQUIRE_DISPLAY();
    ProgramFolders folders;
    ASSERT_NO_FATAL_FAILURE(folders.prepare());
    QProcessEnvironment environment = folders.environment;
    environment.remove(QStringLiteral("TOVRICK_API_URL"));

    RunningProgram app;
    ASSERT_NO_FATAL_FAILURE(app.start(environment));
    QByteArray& log = app.log;
    ASSERT_TRUE(waitUntil([&] { return log.contains("Fennow: started"); }, 30s)) << log.toStdString();
    EXPECT_EQ(log.count("set TOVRICK_API_URL"), 1) << "one line says how to configure the API\n" << log.toStdString();

    const struct {
        QStringList arguments;
        const char* heard;
    } cases[] = {
        {{QStringLiteral("--pair")}, "a later start asked for the pairing window"},
        {{QStringLiteral("tovrick://auth/google?state=s&code=c")}, "a later start handed over a sign-in link"},
        {{}, "a later start asked for the focus window"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.heard);
        const Finished later = runProgram(c.arguments, environment, 30s);
        ASSERT_TRUE(later.ended);
        EXPECT_EQ(later.code, 0) << later.err.toStdString();
        EXPECT_TRUE(waitUntil([&] { return log.contains(c.heard); }, 10s)) << log.toStdString();
        EXPECT_EQ(app.process.state(), QProcess::Running);
    }
    EXPECT_FALSE(log.contains("code=c")) << "the sign-in code is never logged";

    // The status file: what the desktop allows (a display, no accessibility bus here), rewritten.
    std::optional<QByteArray> first;
    ASSERT_TRUE(waitUntil([&] { return (first = files::read(statusFile(folders))).has_value(); }, 10s));
    EXPECT_TRUE(first->startsWith("screen=granted\naccessibility=denied\nupdated=")) << first->toStdString();
    EXPECT_TRUE(waitUntil([&] { return files::read(statusFile(folders)) != first; }, 10s)) << "rewritten every 3 s";

    app.process.terminate();
    ASSERT_TRUE(waitUntil([&] { return app.process.state() == QProcess::NotRunning; }, 20s));
    EXPECT_EQ(app.process.exitCode(), 0);
}

// The bubble demo draws the character and its bubble on the display and writes a picture of them;
// a capture run writes no status file.
TEST(ProgramRun, TheBubbleDemoWritesAPictureOfTheDisplay)
{
    REQUIRE_DISPLAY();
    ProgramFolders folders;
    ASSERT_NO_FATAL_FAILURE(folders.prepare());
    QProcessEnvironment environment = folders.environment;
    const QString picture = folders.root.filePath(QStringLiteral("bubble.png"));
    environment.insert(QStringLiteral("FENNOW_DEMO_BUBBLE"), QStringLiteral("1"));
    environment.insert(QStringLiteral("FENNOW_DEMO_TEXT"), QStringLiteral("Time to focus on the report!"));
    environment.insert(QStringLiteral("FENNOW_DEMO_OUT"), picture);

    const Finished run = runProgram({}, environment);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    const QImage image(picture);
    ASSERT_FALSE(image.isNull());
    if (qEnvironmentVariableIsSet("TOVRICK_KEEP_DEMO_PICTURES"))
        image.save(qEnvironmentVariable("TOVRICK_KEEP_DEMO_PICTURES") + QStringLiteral("/bubble.png"));
    // The bubble is a wide white shape; the character is coloured. Neither is the empty display.
    int white = 0;
    int coloured = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            white += pixel.lightness() > 240;
            coloured += pixel.hsvSaturation() > 120 && pixel.value() > 120;
        }
    }
    EXPECT_GT(image.width(), 200);
    EXPECT_GT(white, 2000);
    EXPECT_GT(coloured, 400);
    EXPECT_FALSE(QFileInfo::exists(statusFile(folders))) << "no status file while capturing";
}

// The transcription demo prints the segments of the file it names, or one line why it could not.
TEST(ProgramRun, TheTranscriptionDemoPrintsTheSegments)
{
    REQUIRE_DISPLAY();
    ProgramFolders folders;
    ASSERT_NO_FATAL_FAILURE(folders.prepare());
    const QString audio = folders.root.filePath(QStringLiteral("meeting.m4a"));
    {
        QFile file(audio);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not really audio, but bytes to send");
    }
    const struct {
        QString file;
        std::optional<LoopbackAnswer> answer;
        int code;
        const char* printed;
    } cases[] = {
        {audio, std::nullopt, 0, "[0.0-0.0] ?: Hello from the loopback API.\n"},
        {audio, LoopbackAnswer::error(QStringLiteral("server_error"), 500), 1, "transcription failed: "},
        {folders.root.filePath(QStringLiteral("missing.m4a")), std::nullopt, 1, "cannot read "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.printed);
        if (c.answer)
            folders.api.answer(QStringLiteral("ai/transcriptions"), *c.answer);
        QProcessEnvironment environment = folders.environment;
        environment.insert(QStringLiteral("FENNOW_DEMO_TRANSCRIBE"), c.file);
        const Finished run = runProgram({}, environment);
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(run.code, c.code) << run.err.toStdString();
        EXPECT_TRUE(run.out.startsWith(c.printed)) << run.out.toStdString();
        EXPECT_EQ(run.out.count('\n'), 1) << run.out.toStdString();
    }
    EXPECT_EQ(folders.api.requestCount(QStringLiteral("ai/transcriptions")), 2) << "a missing file asks nothing";
}

// The research demo writes the card's three pictures and prints the report.
TEST(ProgramRun, TheResearchDemoWritesTheCardsPictures)
{
    REQUIRE_DISPLAY();
    ProgramFolders folders;
    ASSERT_NO_FATAL_FAILURE(folders.prepare());
    QFile answer(QStringLiteral(TOVRICK_SOURCE_DIR "/tests/assistant/data/research-answer.json"));
    ASSERT_TRUE(answer.open(QIODevice::ReadOnly));
    folders.api.answer(QStringLiteral("ai/responses"), LoopbackAnswer::raw(answer.readAll(), 200, "application/json"));
    QProcessEnvironment environment = folders.environment;
    const QString prefix = folders.root.filePath(QStringLiteral("card"));
    environment.insert(QStringLiteral("FENNOW_DEMO_RESEARCH"), QStringLiteral("1"));
    environment.insert(QStringLiteral("FENNOW_DEMO_TEXT"), QStringLiteral("What is Bonjour?"));
    environment.insert(QStringLiteral("FENNOW_DEMO_OUT"), prefix);

    const Finished run = runProgram({}, environment);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith("Bonjour\n\n")) << run.out.toStdString();
    for (const char* suffix : {"-loading.png", "-preview.png", "-open.png"})
        EXPECT_FALSE(QImage(prefix + QString::fromLatin1(suffix)).isNull()) << suffix;
    EXPECT_FALSE(QFileInfo::exists(statusFile(folders)));
}

// Sound goes through GStreamer alone, so the program loads no second audio stack whose sound-server
// connection exit would tear down.
TEST(ProgramRun, TheProgramLoadsOneAudioStack)
{
    QProcess ldd;
    ldd.start(QStringLiteral("ldd"), { QStringLiteral(TOVRICK_PROGRAM) });
    ASSERT_TRUE(ldd.waitForFinished(30000));
    const QString libraries = QString::fromUtf8(ldd.readAllStandardOutput());
    EXPECT_TRUE(libraries.contains(QStringLiteral("libgstreamer-1.0.so"))) << libraries.toStdString();
    EXPECT_FALSE(libraries.contains(QStringLiteral("libQt6Multimedia"))) << libraries.toStdString();
}
