#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "FocusFakes.h"
#include "shared/util/Files.h"

namespace {

FocusSession finished(int index)
{
    FocusSession session(QStringLiteral("Task %1").arg(index), 600, false);
    session.elapsed = 600;
    session.end();
    return session;
}

class FocusHistory : public ::testing::Test {
protected:
    FocusWorld world;

    QString signedOut() const { return world.historyFolder() + QStringLiteral("/focus-history-signed-out.json"); }
    void write(const QString& path, const QByteArray& bytes)
    {
        QDir().mkpath(QFileInfo(path).path());
        ASSERT_FALSE(files::writeAtomically(path, bytes, true).has_value());
    }
    std::vector<FocusSession> stored(const QString& path) const
    {
        const auto bytes = files::read(path);
        return bytes ? decodeFocusSessions(*bytes) : std::vector<FocusSession> {};
    }
};

} // namespace

TEST_F(FocusHistory, LoadsEverythingAndSavesTheNewestThirty)
{
    std::vector<FocusSession> many;
    for (int i = 0; i < 31; ++i)
        many.push_back(finished(i));
    write(signedOut(), encodeFocusSessions(many));

    auto engine = world.engine();
    EXPECT_EQ(engine->history(), many) << "loaded as stored, untrimmed";
    engine->start(QStringLiteral("Write"), false, 25);
    const auto onDisk = stored(signedOut());
    ASSERT_EQ(onDisk.size(), 30u);
    EXPECT_EQ(onDisk[0].id, engine->current()->id);
    EXPECT_EQ(onDisk[1].id, many[0].id);
    EXPECT_EQ(onDisk[29].id, many[28].id);
}

TEST_F(FocusHistory, OpenSessionIsWrittenAsEndedWhileItKeepsRunning)
{
    auto engine = world.engine();
    engine->start(QStringLiteral("Write"), false, 25);
    world.run(*engine, 40);
    engine->pause(QStringLiteral("Paused"));

    const auto onDisk = stored(signedOut());
    ASSERT_EQ(onDisk.size(), 1u);
    EXPECT_EQ(onDisk[0].status, FocusSession::Status::ended);
    EXPECT_EQ(onDisk[0].detail, QStringLiteral("App closed or restarted"));
    EXPECT_EQ(onDisk[0].elapsed, 40);
    EXPECT_EQ(engine->current()->status, FocusSession::Status::paused);
    EXPECT_TRUE(engine->history().empty());

    // A restart (or crash) shows it in the history; ending it later replaces that entry.
    auto restarted = world.engine();
    ASSERT_EQ(restarted->history().size(), 1u);
    EXPECT_EQ(restarted->history()[0].detail, QStringLiteral("App closed or restarted"));
    engine->resume();
    engine->end();
    const auto afterEnd = stored(signedOut());
    ASSERT_EQ(afterEnd.size(), 1u);
    EXPECT_EQ(afterEnd[0].detail, QStringLiteral("Session finished"));

    // Archived twice (a developer-mode switch after the end): still one entry, at the front.
    engine->setDeveloperMode(true);
    ASSERT_EQ(engine->history().size(), 1u);
    EXPECT_EQ(stored(signedOut()).size(), 1u);
}

// An unreadable history must not be lost to the next save.
TEST_F(FocusHistory, UndecodableFileIsKeptAsideBeforeItIsReplaced)
{
    FocusSession lacksDetail = finished(1);
    Json broken = focusSessionsToJson({ finished(0), lacksDetail });
    broken[1].erase("detail");
    const QByteArray samples[] = { QByteArray(R"({"sessions":[]})"), json::dumpBytes(broken), QByteArray("\x00\xff", 2) };
    for (const QByteArray& sample : samples) {
        SCOPED_TRACE(sample.toStdString());
        QFile::remove(signedOut() + QStringLiteral(".bad"));
        write(signedOut(), sample);
        auto engine = world.engine();
        EXPECT_TRUE(engine->history().empty());
        EXPECT_EQ(files::read(signedOut()), std::optional(sample)) << "loading writes nothing";

        engine->start(QStringLiteral("Write"), false, 25);
        EXPECT_EQ(files::read(signedOut() + QStringLiteral(".bad")), std::optional(sample));
        EXPECT_EQ(stored(signedOut()).size(), 1u) << "the next save replaces it";
        engine->end();
        EXPECT_EQ(files::read(signedOut() + QStringLiteral(".bad")), std::optional(sample)) << "copied once";
    }

    // A file that was simply missing leaves no copy.
    QFile::remove(signedOut());
    QFile::remove(signedOut() + QStringLiteral(".bad"));
    auto engine = world.engine();
    engine->start(QStringLiteral("Write"), false, 25);
    EXPECT_FALSE(QFile::exists(signedOut() + QStringLiteral(".bad")));
}

TEST_F(FocusHistory, EachAccountHasItsOwnFile)
{
    auto engine = world.engine();
    engine->start(QStringLiteral("Signed out"), false, 25);
    engine->end();
    engine->accountChanged(QStringLiteral("user-1"));
    const QString userFile = world.historyFolder()
        + QStringLiteral("/focus-history-c6c289e49e9c05b2145860387b73bcb18df43fb09a1e4a4a9713c76c88bb541b.json");
    EXPECT_EQ(engine->historyFile(), userFile);
    engine->start(QStringLiteral("Signed in"), false, 25);
    engine->end();
    EXPECT_EQ(stored(userFile).front().task, QStringLiteral("Signed in"));
    EXPECT_EQ(stored(signedOut()).front().task, QStringLiteral("Signed out"));

    engine->accountChanged(std::nullopt);
    ASSERT_EQ(engine->history().size(), 1u);
    EXPECT_EQ(engine->history().front().task, QStringLiteral("Signed out"));
}

TEST_F(FocusHistory, FolderAndFilesArePrivate)
{
    auto engine = world.engine();
    engine->start(QStringLiteral("Write"), false, 25);
    const auto folder = QFileInfo(world.historyFolder()).permissions();
    EXPECT_EQ(folder & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther
                        | QFile::ExeGroup | QFile::ExeOther),
              0);
    EXPECT_EQ(QFileInfo(signedOut()).permissions(),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
}

TEST_F(FocusHistory, WriteFailureKeepsTheEngineRunningInMemory)
{
    QDir().mkpath(signedOut()); // a folder where the file should be
    auto engine = world.engine();
    EXPECT_TRUE(engine->history().empty());
    EXPECT_EQ(engine->start(QStringLiteral("Write"), false, 1), QStringLiteral("Focus started: Write, 1 minutes."));
    world.run(*engine, 60);
    EXPECT_EQ(engine->current()->status, FocusSession::Status::ended);
    EXPECT_EQ(engine->history().size(), 1u);
    EXPECT_TRUE(QFileInfo(signedOut()).isDir());
}

TEST_F(FocusHistory, WithoutAnAppFolderNothingIsWrittenAnywhere)
{
    FocusEnvironment environment = world.environment();
    environment.historyFolder.clear();
    FocusCompanion engine(environment);
    engine.start(QStringLiteral("Write"), false, 25);
    engine.end();
    EXPECT_EQ(engine.history().size(), 1u);
    EXPECT_FALSE(QFile::exists(QStringLiteral("focus-history-signed-out.json"))) << "written in the working folder";
}
