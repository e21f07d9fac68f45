#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Mp4Fixtures.h"
#include "Tovrick/motivation/MotivationAudioError.h"
#include "Tovrick/motivation/MotivationLibrary.h"

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

    static std::optional<Kind> refusal(const std::function<void()>& action)
    {
        try {
            action();
        } catch (const MotivationAudioError& error) {
            return error.kind();
        }
        return std::nullopt;
    }

    QTemporaryDir m_root;
};

const QUuid kId = QUuid::fromString(QStringLiteral("{0F8E6C1A-5B2D-4C3E-9A7F-1234567890AB}"));
const QString kIdText = QStringLiteral("0f8e6c1a-5b2d-4c3e-9a7f-1234567890ab");

} // namespace

TEST_F(LibraryTest, AddBoundsOnBytesAndDurationAndChecksDuplicateThenLimitThenData)
{
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        qsizetype bytes;
        double duration;
        bool accepted;
    } cases[] = {
        { 0, 1.0, false }, { 1, 1.0, true }, { 200000, 1.0, true }, { 200001, 1.0, false },
        { 10, 0.0, false }, { 10, -1.0, false }, { 10, inf, false }, { 10, std::nan(""), false },
        { 10, 20.1, true }, { 10, std::nextafter(20.1, inf), false },
    };
    for (const auto& c : cases) {
        QDir(folder()).removeRecursively();
        const QUuid id = QUuid::createUuid();
        const QString name = id.toString(QUuid::WithoutBraces) + ".m4a";
        const auto refused = refusal([&] { library().add(QByteArray(c.bytes, 'x'), id, "t", c.duration); });
        EXPECT_EQ(refused, c.accepted ? std::nullopt : std::optional(Kind::invalid)) << c.bytes << " " << c.duration;
        EXPECT_EQ(files::read(path(name)), c.accepted ? std::optional(QByteArray(c.bytes, 'x')) : std::nullopt);
        EXPECT_EQ(QFileInfo::exists(path("library.json")), c.accepted);
    }

    // Then the order of the checks: duplicate, limit, data.
    QDir(folder()).removeRecursively();
    for (int i = 0; i < 9; ++i)
        library().add(QByteArray(10, 'a'), QUuid::createUuid(), QStringLiteral("t"), 1.0);
    library().add("x", kId, "mine", 2.0);
    const QByteArray before = contents("library.json");

    // The same id again: unchanged and no error, even at the limit and with bad data.
    EXPECT_EQ(library().add(QByteArray(), kId, "other", std::nan("")).clips.size(), 10);
    EXPECT_EQ(contents("library.json"), before);
    EXPECT_EQ(contents(kIdText + ".m4a"), "x");

    // A new id at the limit is refused as such before its data or duration are looked at.
    EXPECT_EQ(refusal([&] { library().add(QByteArray(), QUuid::createUuid(), "t", -1); }), Kind::limit);
    EXPECT_EQ(MotivationAudioError::text(Kind::limit),
              QStringLiteral("Du hast bereits 10 eigene Aufnahmen auf diesem Computer. L\u00f6sche eine alte Aufnahme, "
                             "bevor du eine neue erstellst."));
    library().deleteClip(kIdText);
    EXPECT_EQ(library().add("y", QUuid::createUuid(), "t", 1).clips.size(), 10);
}

TEST_F(LibraryTest, StrictReadingNeverRepairsTheFileAndIdsFromItStayInTheFolder)
{
    const char* documents[] = {
        R"({"clips":[]})",
        R"({"clips":[{"id":"a","title":"t","duration":1}],"disabledDefaults":[]})",
        R"({"clips":[{"id":"a","title":"t","duration":"1","enabled":true}],"disabledDefaults":[]})",
        R"({"clips":[],"disabledDefaults":[]} trailing)",
    };
    ASSERT_TRUE(QDir().mkpath(folder()));
    for (const char* document : documents) {
        ASSERT_TRUE(fixtures::writeFile(path("library.json"), document));
        EXPECT_THROW(library().load(), MotivationFileError) << document;
        EXPECT_THROW(library().add("x", QUuid::createUuid(), "t", 1), MotivationFileError) << document;
        EXPECT_THROW(library().deleteClip("a"), MotivationFileError) << document;
        EXPECT_EQ(QDir(folder()).entryList(QDir::Files), QStringList { "library.json" }) << document;
        EXPECT_EQ(contents("library.json"), QByteArray(document));
    }

    const QString victim = m_root.filePath(QStringLiteral("victim.m4a"));
    ASSERT_TRUE(fixtures::writeFile(victim, "keep"));
    ASSERT_TRUE(fixtures::writeFile(path("library.json"),
        R"({"clips":[{"id":"../victim","title":"t","duration":1,"enabled":true}],"disabledDefaults":[]})"));
    EXPECT_FALSE(library().audioPath(QStringLiteral("../victim")));
    EXPECT_TRUE(library().deleteClip(QStringLiteral("../victim")).clips.isEmpty());
    EXPECT_EQ(files::read(victim), QByteArray("keep"));
}

TEST_F(LibraryTest, AddWritesTheFileFormatAndFailedSavesLeaveTheFolderAsItWas)
{
    EXPECT_EQ(library().load(), MotivationLibrary {});
    const MotivationLibrary added = library().add("first", kId, QStringLiteral("Meine Aufnahme 1"), 1.5);
    EXPECT_EQ(contents(kIdText + ".m4a"), "first");
    const QByteArray before = contents("library.json");
    EXPECT_EQ(before, R"({"clips":[{"id":"0f8e6c1a-5b2d-4c3e-9a7f-1234567890ab","title":"Meine Aufnahme 1",)"
                      R"("duration":1.5,"enabled":true}],"disabledDefaults":[]})");
    EXPECT_EQ(library().load(), added);

    // A folder where the audio file should go.
    const QUuid blocked = QUuid::createUuid();
    ASSERT_TRUE(QDir().mkpath(path(blocked.toString(QUuid::WithoutBraces) + ".m4a")));
    EXPECT_THROW(library().add("x", blocked, "t", 1), MotivationFileError);
    EXPECT_EQ(contents("library.json"), before);

    // The library file cannot be written: the new audio goes again, or the deleted audio comes back.
    auto failLibrary = [](const QString& target, const QByteArray& bytes) -> std::optional<QString> {
        if (target.endsWith(QStringLiteral("library.json")))
            return QStringLiteral("disk full");
        return files::writeAtomically(target, bytes, false);
    };
    EXPECT_THROW(library(failLibrary).add("x", QUuid::createUuid(), "t", 1), MotivationFileError);
    EXPECT_EQ(QDir(folder()).entryList(QDir::Files), (QStringList { kIdText + ".m4a", "library.json" }));
    EXPECT_THROW(library(failLibrary).deleteClip(kIdText), MotivationFileError);
    EXPECT_EQ(contents(kIdText + ".m4a"), "first");
    EXPECT_EQ(contents("library.json"), before);
}

TEST(ClipTitle, NamesTheMinuteInEveryLocale)
{
    const QDateTime at(QDate(2026, 12, 7), QTime(13, 2, 39));
    for (const QLocale& locale : { QLocale::c(), QLocale(QLocale::English, QLocale::UnitedStates),
                                   QLocale(QLocale::German, QLocale::Germany), QLocale(QLocale::Finnish, QLocale::Finland) }) {
        const QString title = motivation::newClipTitle(locale, at);
        EXPECT_TRUE(title.startsWith(QStringLiteral("Meine Aufnahme "))) << title.toStdString();
        EXPECT_TRUE(title.contains(QStringLiteral("02"))) << title.toStdString();
        EXPECT_FALSE(title.contains(QStringLiteral("39"))) << title.toStdString();
    }
}
