#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUuid>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "AudioFixtures.h"
#include "Tovrick/motivation/MotivationAudioError.h"
#include "Tovrick/motivation/MotivationAudioStore.h"
#include "Tovrick/motivation/MotivationLibrary.h"
#include "shared/util/Files.h"

namespace {

using Kind = MotivationAudioError::Kind;

class LibraryTest : public ::testing::Test {
protected:
    QString folder() const { return m_root.filePath(QStringLiteral("Motivation-owner")); }
    LocalMotivationLibrary library(LocalMotivationLibrary::Writer writer = {}) const
    {
        return LocalMotivationLibrary(folder(), std::move(writer));
    }
    QString path(const QString& name) const { return QDir(folder()).filePath(name); }
    QByteArray contents(const QString& name) const { return files::read(path(name)).value_or("<none>"); }

    // Fills the library with `count` clips through add itself.
    void addClips(int count)
    {
        for (int i = 0; i < count; ++i)
            library().add(QByteArray(10, 'a'), QUuid::createUuid(), QStringLiteral("t"), 1.0);
    }

    static Kind refusal(const std::function<void()>& action)
    {
        try {
            action();
        } catch (const MotivationAudioError& error) {
            return error.kind();
        }
        ADD_FAILURE() << "no refusal";
        return Kind::permission;
    }

    QTemporaryDir m_root;
};

const QUuid kId = QUuid::fromString(QStringLiteral("{0F8E6C1A-5B2D-4C3E-9A7F-1234567890AB}"));
const QString kIdText = QStringLiteral("0f8e6c1a-5b2d-4c3e-9a7f-1234567890ab");

} // namespace

TEST_F(LibraryTest, AddStoresAudioAndEntryInTheFileFormat)
{
    EXPECT_EQ(library().load(), MotivationLibrary {});
    EXPECT_FALSE(QFileInfo::exists(folder()));

    const MotivationLibrary added = library().add("AUDIO", kId, QStringLiteral("Meine Aufnahme 1"), 1.5);
    ASSERT_EQ(added.clips.size(), 1);
    EXPECT_EQ(added.clips[0], (MotivationClip { kIdText, QStringLiteral("Meine Aufnahme 1"), 1.5, true }));
    EXPECT_EQ(contents(kIdText + ".m4a"), "AUDIO");
    EXPECT_EQ(contents("library.json"),
              R"({"clips":[{"id":"0f8e6c1a-5b2d-4c3e-9a7f-1234567890ab","title":"Meine Aufnahme 1",)"
              R"("duration":1.5,"enabled":true}],"disabledDefaults":[]})");
    EXPECT_EQ(library().load(), added);

    // A second clip goes to the end.
    const MotivationLibrary two = library().add("B", QUuid::createUuid(), QStringLiteral("x"), 20.1);
    ASSERT_EQ(two.clips.size(), 2);
    EXPECT_EQ(two.clips[0].id, kIdText);
    EXPECT_EQ(library().load().clips[1].duration, 20.1);
}

TEST_F(LibraryTest, AddBoundsOnBytesAndDuration)
{
    struct Case {
        qsizetype bytes;
        double duration;
        bool accepted;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        { 0, 1.0, false },
        { 1, 1.0, true },
        { 200000, 1.0, true },
        { 200001, 1.0, false },
        { 10, 0.0, false },
        { 10, -0.0, false },
        { 10, -1.0, false },
        { 10, inf, false },
        { 10, -inf, false },
        { 10, nan, false },
        { 10, 20.1, true },
        { 10, std::nextafter(20.1, inf), false },
        { 10, std::numeric_limits<double>::denorm_min(), true },
    };
    for (const Case& c : cases) {
        QDir(folder()).removeRecursively();
        const QUuid id = QUuid::createUuid();
        const QString name = id.toString(QUuid::WithoutBraces) + ".m4a";
        const QByteArray audio(c.bytes, 'x');
        if (c.accepted) {
            EXPECT_EQ(library().add(audio, id, "t", c.duration).clips.size(), 1) << c.bytes << " " << c.duration;
            EXPECT_EQ(contents(name).size(), c.bytes);
        } else {
            EXPECT_EQ(refusal([&] { library().add(audio, id, "t", c.duration); }), Kind::invalid)
                << c.bytes << " " << c.duration;
            EXPECT_FALSE(QFileInfo::exists(path(name)));
            EXPECT_FALSE(QFileInfo::exists(path("library.json")));
        }
    }
}

TEST_F(LibraryTest, AddChecksDuplicateThenLimitThenData)
{
    addClips(9);
    library().add("x", kId, "mine", 2.0);
    const QByteArray before = contents("library.json");

    // The same id again: unchanged, no error, nothing written, even at the limit and with bad data.
    const MotivationLibrary same = library().add(QByteArray(), kId, "other", std::nan(""));
    EXPECT_EQ(same.clips.size(), 10);
    EXPECT_EQ(contents("library.json"), before);
    EXPECT_EQ(contents(kIdText + ".m4a"), "x");

    // A new id at the limit is refused as such before its data or duration are looked at.
    EXPECT_EQ(refusal([&] { library().add(QByteArray(), QUuid::createUuid(), "t", -1); }), Kind::limit);
    EXPECT_EQ(MotivationAudioError(Kind::limit).description(),
              QStringLiteral("Du hast bereits 10 eigene Aufnahmen auf diesem Mac. Lösche eine alte "
                             "Aufnahme, bevor du eine neue erstellst."));

    library().deleteClip(kIdText);
    EXPECT_EQ(library().add("y", QUuid::createUuid(), "t", 1).clips.size(), 10);
}

TEST_F(LibraryTest, StrictReadingNeverRepairsTheFile)
{
    const char* documents[] = {
        R"({"clips":[]})",
        R"({"disabledDefaults":[]})",
        R"({"clips":[{"id":"a","title":"t","duration":1}],"disabledDefaults":[]})",
        R"({"clips":[{"id":"a","title":"t","duration":"1","enabled":true}],"disabledDefaults":[]})",
        R"({"clips":[{"id":"a","title":"t","duration":1,"enabled":1}],"disabledDefaults":[]})",
        R"({"clips":[{"id":null,"title":"t","duration":1,"enabled":true}],"disabledDefaults":[]})",
        R"({"clips":null,"disabledDefaults":[]})",
        R"({"clips":[],"disabledDefaults":[3]})",
        R"([])",
        R"({"clips":[],"disabledDefaults":[]} trailing)",
        "",
    };
    for (const char* document : documents) {
        ASSERT_TRUE(QDir().mkpath(folder()));
        ASSERT_TRUE(fixtures::writeFile(path("library.json"), document));
        EXPECT_THROW(library().load(), MotivationFileError) << document;
        EXPECT_THROW(library().add("x", QUuid::createUuid(), "t", 1), MotivationFileError) << document;
        EXPECT_THROW(library().deleteClip("a"), MotivationFileError) << document;
        EXPECT_EQ(contents("library.json"), QByteArray(document));
        EXPECT_EQ(QDir(folder()).entryList(QDir::Files), QStringList { "library.json" }) << document;
    }

    // Members beyond the six are ignored; integers are numbers.
    ASSERT_TRUE(fixtures::writeFile(path("library.json"),
        R"({"v":2,"clips":[{"id":"a","title":"t","duration":3,"enabled":false,"x":1}],"disabledDefaults":["default-1"]})"));
    const MotivationLibrary read = library().load();
    EXPECT_EQ(read.clips, (QList<MotivationClip> { { "a", "t", 3.0, false } }));
    EXPECT_EQ(read.disabledDefaults, QStringList { "default-1" });

    // Something that is not a file where the library belongs is an error too, not an empty library.
    QFile::remove(path("library.json"));
    ASSERT_TRUE(QDir().mkpath(path("library.json")));
    EXPECT_THROW(library().load(), MotivationFileError);
}

TEST_F(LibraryTest, FailedWritesLeaveTheFolderAsItWas)
{
    library().add("first", kId, "one", 1);
    const QByteArray before = contents("library.json");

    // The audio file cannot be written: a folder is in its place.
    const QUuid blocked = QUuid::createUuid();
    const QString blockedName = blocked.toString(QUuid::WithoutBraces) + ".m4a";
    ASSERT_TRUE(QDir().mkpath(path(blockedName)));
    EXPECT_THROW(library().add("x", blocked, "t", 1), MotivationFileError);
    EXPECT_EQ(contents("library.json"), before);
    QDir(path(blockedName)).removeRecursively();

    // The library file cannot be written: the new audio file goes again.
    auto failLibrary = [](const QString& target, const QByteArray& bytes) -> std::optional<QString> {
        if (target.endsWith(QStringLiteral("library.json")))
            return QStringLiteral("disk full");
        return files::writeAtomically(target, bytes, false);
    };
    const QUuid second = QUuid::createUuid();
    try {
        library(failLibrary).add("x", second, "t", 1);
        ADD_FAILURE() << "the save should fail";
    } catch (const MotivationFileError& error) {
        EXPECT_EQ(error.description(), QStringLiteral("The file “library.json” couldn’t be saved: disk full."));
    }
    EXPECT_EQ(contents("library.json"), before);
    EXPECT_EQ(QDir(folder()).entryList(QDir::Files),
              (QStringList { kIdText + ".m4a", "library.json" }));

    // Deleting cannot save: the audio comes back and the entry stays.
    EXPECT_THROW(library(failLibrary).deleteClip(kIdText), MotivationFileError);
    EXPECT_EQ(contents(kIdText + ".m4a"), "first");
    EXPECT_EQ(contents("library.json"), before);

    // The audio cannot be removed (a folder under its name): nothing changes.
    QFile::remove(path(kIdText + ".m4a"));
    ASSERT_TRUE(QDir().mkpath(path(kIdText + ".m4a/inner")));
    EXPECT_THROW(library().deleteClip(kIdText), MotivationFileError);
    EXPECT_EQ(contents("library.json"), before);
}

TEST_F(LibraryTest, DeleteAndRemoveFolder)
{
    library().add("one", kId, "one", 1);
    const QUuid other = QUuid::createUuid();
    const QString otherId = other.toString(QUuid::WithoutBraces);
    library().add("two", other, "two", 2);

    // An id not in the library touches nothing, not even a file of that name.
    ASSERT_TRUE(fixtures::writeFile(path("stray.m4a"), "s"));
    EXPECT_EQ(library().deleteClip("stray").clips.size(), 2);
    EXPECT_EQ(contents("stray.m4a"), "s");

    // An audio file already gone does not stop the entry from going.
    QFile::remove(path(kIdText + ".m4a"));
    const MotivationLibrary left = library().deleteClip(kIdText);
    EXPECT_EQ(left.clips.size(), 1);
    EXPECT_EQ(library().load(), left);

    library().deleteClip(otherId);
    EXPECT_FALSE(QFileInfo::exists(path(otherId + ".m4a")));
    EXPECT_TRUE(library().load().clips.isEmpty());

    library().removeIfExists();
    EXPECT_FALSE(QFileInfo::exists(folder()));
    EXPECT_NO_THROW(library().removeIfExists());
}

TEST_F(LibraryTest, IdsFromTheFileNeverReachOutsideTheFolder)
{
    ASSERT_TRUE(QDir().mkpath(folder()));
    const QString victim = m_root.filePath(QStringLiteral("victim.m4a"));
    ASSERT_TRUE(fixtures::writeFile(victim, "keep"));
    ASSERT_TRUE(fixtures::writeFile(path("library.json"),
        R"({"clips":[{"id":"../victim","title":"t","duration":1,"enabled":true}],"disabledDefaults":[]})"));

    EXPECT_FALSE(library().audioPath(QStringLiteral("../victim")));
    EXPECT_TRUE(library().deleteClip(QStringLiteral("../victim")).clips.isEmpty());
    EXPECT_EQ(files::read(victim), QByteArray("keep"));
}
