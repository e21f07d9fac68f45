#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QDateTime>
#include <QFileInfo>

#include "FocusFakes.h"
#include "shared/util/Files.h"

TEST(FocusHistory, KeepsTheNewestThirtyPrivatelyAndNeverLosesAFile)
{
    FocusWorld world;
    const QString signedOut = world.signedOutFile();
    const auto write = [&](const QByteArray& bytes) {
        QDir().mkpath(world.historyFolder());
        ASSERT_FALSE(files::writeAtomically(signedOut, bytes, true).has_value());
    };
    std::vector<FocusSession> many;
    for (int i = 0; i < 31; ++i) {
        many.emplace_back(QStringLiteral("Task %1").arg(i), 600, false);
        many.back().end();
    }
    write(encodeFocusSessions(many));
    auto engine = world.engine();
    EXPECT_EQ(engine->history(), many) << "loaded as stored, untrimmed";
    engine->start(QStringLiteral("Write"), false, 25);
    const auto onDisk = world.engine()->history();
    ASSERT_EQ(onDisk.size(), 30u);
    EXPECT_EQ(onDisk[0].id, engine->current()->id);
    EXPECT_EQ(onDisk[29].id, many[28].id);
    const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther
        | QFile::ExeOther;
    EXPECT_EQ(QFileInfo(world.historyFolder()).permissions() & others, 0);
    EXPECT_EQ(QFileInfo(signedOut).permissions(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);

    // An unreadable history must not be lost to the next save.
    const QString bad = signedOut + QStringLiteral(".bad");
    for (const QByteArray& sample : { QByteArray(R"({"sessions":[]})"), QByteArray("\x00\xff", 2) }) {
        QFile::remove(bad);
        write(sample);
        engine = world.engine();
        EXPECT_TRUE(engine->history().empty());
        EXPECT_EQ(files::read(signedOut), std::optional(sample)) << "loading writes nothing";
        engine->start(QStringLiteral("Write"), false, 25);
        engine->end();
        EXPECT_EQ(files::read(bad), std::optional(sample)) << "copied before the first save, and only then";
    }

    // A folder in the file's place: the engine runs on, its history saved beside it.
    QFile::remove(signedOut);
    QDir().mkpath(signedOut);
    engine = world.engine();
    engine->start(QStringLiteral("Write"), false, 1);
    world.run(*engine, 60);
    EXPECT_EQ(engine->history().size(), 1u);
    EXPECT_TRUE(QFileInfo(signedOut).isDir());
    EXPECT_TRUE(QFileInfo::exists(world.historyFolder() + QStringLiteral("/focus-history-signed-out.aside.json")));
}

TEST(FocusHistory, AFileThatCanBeNeitherReadNorCopiedLosesNoSession)
{
    FocusWorld world;
    const QString signedOut = world.signedOutFile();
    // A folder in the file's place (root reads every file): it can be neither read nor copied.
    ASSERT_TRUE(QDir().mkpath(signedOut));
    auto engine = world.engine();
    engine->start(QStringLiteral("First"), false, 25);
    engine->end();
    engine->start(QStringLiteral("Second"), false, 25);

    const auto restarted = world.engine()->history();
    ASSERT_EQ(restarted.size(), 2u);
    EXPECT_EQ(restarted[0].task, QStringLiteral("Second"));
    EXPECT_EQ(restarted[0].detail, QStringLiteral("App closed or restarted"));
    EXPECT_EQ(restarted[1].task, QStringLiteral("First"));
    EXPECT_TRUE(QFileInfo(signedOut).isDir()) << "what stood in the way is left alone";

    // Each save tries again: once the way is clear the usual file gets everything.
    ASSERT_TRUE(QDir(signedOut).removeRecursively());
    engine->pause(QStringLiteral("Paused"));
    const auto onDisk = files::read(signedOut);
    ASSERT_TRUE(onDisk);
    EXPECT_EQ(decodeFocusSessions(*onDisk).size(), 2u);
    EXPECT_EQ(world.engine()->history().size(), 2u);
}

TEST(FocusHistory, KilledSavesOfAnyAccountAreClearedWhenTheFolderIsNextUsed)
{
    FocusWorld world;
    ASSERT_TRUE(QDir().mkpath(world.historyFolder()));
    const QDir folder(world.historyFolder());
    const QStringList left = {QStringLiteral("focus-history-signed-out.json.AbCdEf"),
                              QStringLiteral("focus-history-0123abcd.json.ZyXwVu")};
    const QString foreign = QStringLiteral("notes.txt.AbCdEf");
    for (const QString& name : left + QStringList {foreign}) {
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[");
        file.flush(); // before the time is set: writing would set it again
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-600), QFileDevice::FileModificationTime));
    }
    auto engine = world.engine();
    for (const QString& name : left) {
        EXPECT_FALSE(QFile::exists(folder.filePath(name))) << name.toStdString();
    }
    EXPECT_TRUE(QFile::exists(folder.filePath(foreign)));
}

TEST(FocusHistory, OpenSessionIsWrittenAsEndedAndEachAccountHasItsOwnFile)
{
    FocusWorld world;
    auto engine = world.engine();
    engine->start(QStringLiteral("Signed out"), false, 25);
    world.run(*engine, 40);
    engine->pause(QStringLiteral("Paused"));
    EXPECT_TRUE(engine->history().empty());
    // A restart (or crash) shows it in the history.
    const auto restarted = world.engine()->history();
    ASSERT_EQ(restarted.size(), 1u);
    EXPECT_EQ(restarted[0].status, FocusSession::Status::ended);
    EXPECT_EQ(restarted[0].detail, QStringLiteral("App closed or restarted"));
    EXPECT_EQ(restarted[0].elapsed, 40);

    engine->accountChanged(QStringLiteral("user-1"));
    EXPECT_FALSE(engine->current().has_value());
    EXPECT_TRUE(engine->history().empty());
    EXPECT_EQ(engine->historyFile(), world.historyFolder() + QStringLiteral("/focus-history-c6c289e49e9c05b2145860387b73bcb"
                                                                            "18df43fb09a1e4a4a9713c76c88bb541b.json"));
    EXPECT_FALSE(QFile::exists(engine->historyFile())) << "switching accounts writes nothing";
    engine->start(QStringLiteral("Signed in"), false, 25);
    engine->end();
    engine->setDeveloperMode(true); // archives the ended session a second time
    engine->accountChanged(std::nullopt);
    ASSERT_EQ(engine->history().size(), 1u);
    EXPECT_EQ(engine->history().front().task, QStringLiteral("Signed out"));
    engine->accountChanged(QStringLiteral("user-1"));
    ASSERT_EQ(engine->history().size(), 1u) << "ending replaced the open entry, once";
    EXPECT_EQ(engine->history().front().task, QStringLiteral("Signed in"));
    EXPECT_EQ(engine->history().front().detail, QStringLiteral("Session finished"));
}
