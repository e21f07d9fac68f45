#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTimeZone>

#include <ctime>

#include "Tovrick/assistant/MeetingNotes.h"
#include "Tovrick/codex/CodexController.h"
#include "assistant/AssistantFakes.h"
#include "shared/account/TovrickAccount.h"
#include "shared/util/AppPaths.h"
#include "support/LoopbackApi.h"
#include "support/RunTask.h"

namespace {

QByteArray fixture(const char* name)
{
    QFile file(QStringLiteral(TOVRICK_ASSISTANT_DATA "/") + QString::fromLatin1(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

// Notes dates read in the user's zone and locale: pin both, and start each test from empty folders.
class Notes : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedZone = qgetenv("TZ");
        qputenv("TZ", "UTC");
        tzset();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QDir(AppPaths::documents()).removeRecursively();
        signInForTests(api);
        root = MeetingNotes::notesRoot();
    }
    void TearDown() override
    {
        QLocale::setDefault(QLocale::system());
        qputenv("TZ", savedZone);
        tzset();
    }
    QStringList folders() const
    {
        QStringList names = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort);
        names.sort();
        return names;
    }

    QByteArray savedZone;
    LoopbackApi api;
    MeetingNotes notes;
    QString root;
    const QDateTime march14 = QDateTime::fromSecsSinceEpoch(1773478800 + 5 * 60);
};

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QStringLiteral("<missing>");
}

} // namespace

TEST_F(Notes, TheRecordRendersLineByLine)
{
    const Json record = json::parse(fixture("notes-record.json"));
    const QString rendered = MeetingNotes::renderNotes(record, QDateTime::fromSecsSinceEpoch(1773478800));
    const QStringList expected = QString::fromUtf8(fixture("notes-expected.md")).split(QLatin1Char('\n'));
    const QStringList got = rendered.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < std::max(expected.size(), got.size()); ++i)
        EXPECT_EQ(got.value(i, QStringLiteral("<none>")), expected.value(i, QStringLiteral("<none>"))) << "line " << i + 1;
    EXPECT_TRUE(rendered.endsWith(QLatin1Char('\n')));
}

TEST_F(Notes, HeadLinesFollowWhatTheRecordHolds)
{
    const QDateTime start = QDateTime::fromSecsSinceEpoch(1773478800);
    struct Case {
        const char* record;
        const char* third; // the line after the title and its blank line; empty: not checked
    };
    const Case cases[] = {
        {R"({"entries":[]})", "Still recording."},
        {R"({"ended":1773478800})", "Ended 9:00:00 AM (0h 0m)."},
        // An end before the start counts down; minutes truncate toward zero.
        {R"({"ended":1773478800.0,"started":1773478919})", "Ended 9:00:00 AM (0h -1m)."},
        // Spans beyond 64 bits stop at its ends instead of wrapping.
        {R"({"started":0,"ended":1e300})", ""},
        // Mistyped members read as absent: no counters, the entries list empty.
        {R"({"transcribing":"2","entries":[{"kind":"asked","text":"q"},3]})", "Still recording."},
        {R"({"transcribing":1.5,"entries":{"kind":"asked"}})", "Still recording."},
    };
    for (const Case& c : cases) {
        const QStringList lines = MeetingNotes::renderNotes(json::parse(c.record), start).split(QLatin1Char('\n'));
        ASSERT_GE(lines.size(), 4) << c.record;
        if (*c.third) {
            EXPECT_EQ(lines[2], QString::fromUtf8(c.third)) << c.record;
        }
        EXPECT_EQ(lines.mid(3), QStringList({QString(), QStringLiteral("## Transcript"), QString()}))
            << c.record;
    }
    const QString huge = MeetingNotes::renderNotes(json::parse(R"({"started":0,"ended":1e300})"), start);
    EXPECT_TRUE(huge.contains(QStringLiteral("(153722867280912930h 7m).")));
    const QString negative = MeetingNotes::renderNotes(json::parse(R"({"started":0,"ended":-1e300})"), start);
    EXPECT_TRUE(negative.contains(QStringLiteral("(-153722867280912930h -8m).")));
}

TEST_F(Notes, TheReadmeIsWrittenOnceWithItsExactText)
{
    const QString readme = MeetingNotes::readmeText();
    EXPECT_EQ(readme.split(QLatin1Char('\n')).size(), 10);
    EXPECT_FALSE(readme.endsWith(QLatin1Char('\n')));
    EXPECT_TRUE(readme.contains(QStringLiteral("- `audio/`: the raw recording, as five-minute AAC chunks.\n\nSpeaker letters (A, B, \u2026) ")));
    EXPECT_TRUE(readme.endsWith(QStringLiteral("Lines marked \"(live)\" are a rough live transcript for audio that hasn't been fully transcribed yet.")));

    ASSERT_TRUE(notes.sessionFolder(QStringLiteral("abc"), march14));
    EXPECT_EQ(readText(root + QStringLiteral("/README.md")), readme);
    QFile edited(root + QStringLiteral("/README.md"));
    ASSERT_TRUE(edited.open(QIODevice::WriteOnly | QIODevice::Truncate));
    edited.write("mine");
    edited.close();
    notes.sessionFolder(QStringLiteral("def"), march14);
    EXPECT_EQ(readText(root + QStringLiteral("/README.md")), QStringLiteral("mine"));
}

TEST_F(Notes, SessionFoldersAreNamedAndFoundBySuffixOnly)
{
    const auto first = notes.sessionFolder(QStringLiteral("3F2A9C1E-7B7D"), march14);
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, root + QStringLiteral("/2026-03-14 09.05 3f2a9c1e"));
    EXPECT_TRUE(QFileInfo(*first + QStringLiteral("/audio")).isDir());
    // Another start, same first eight characters in another case: the same folder.
    EXPECT_EQ(notes.sessionFolder(QStringLiteral("3f2a9c1eFFFF"), march14.addDays(3)), first);

    struct Case {
        QString id;
        std::optional<QString> folder; // none: malformed, nothing made
    };
    const Case cases[] = {
        {QString(), std::nullopt},
        {QStringLiteral("../../x"), std::nullopt},
        {QStringLiteral("ab/cd"), std::nullopt},
        {QStringLiteral("ab") + QChar(u'\0') + QStringLiteral("cd"), std::nullopt},
        // A "/" after the eighth character never reaches the name.
        {QStringLiteral("12345678/../x"), root + QStringLiteral("/2026-03-14 09.05 12345678")},
        // A short id gets its own folder, not one whose name merely ends with its letters.
        {QStringLiteral("1e"), root + QStringLiteral("/2026-03-14 09.05 1e")},
        {QStringLiteral("md"), root + QStringLiteral("/2026-03-14 09.05 md")},
        {QStringLiteral(".."), root + QStringLiteral("/2026-03-14 09.05 ..")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(notes.sessionFolder(c.id, march14), c.folder) << c.id.toStdString();
    EXPECT_EQ(folders(), QStringList({QStringLiteral("2026-03-14 09.05 .."), QStringLiteral("2026-03-14 09.05 12345678"),
                                      QStringLiteral("2026-03-14 09.05 1e"), QStringLiteral("2026-03-14 09.05 3f2a9c1e"),
                                      QStringLiteral("2026-03-14 09.05 md")}));
    EXPECT_FALSE(QFile::exists(AppPaths::documents() + QStringLiteral("/x")));
}

TEST_F(Notes, SavingWritesTheRecordAndTheNotesUnderTheSignedInAccount)
{
    const Json record = json::parse(fixture("notes-record.json"));
    const auto folder = notes.saveSession(record);
    ASSERT_TRUE(folder);
    EXPECT_EQ(*folder, AppPaths::documents() + QStringLiteral("/Tovrick Notes/")
                           + TovrickAccount::nonceHash(QStringLiteral("user-1")) + QStringLiteral("/2026-03-14 09.00 3f2a9c1e"));
    EXPECT_EQ(readText(*folder + QStringLiteral("/notes.md")), QString::fromUtf8(fixture("notes-expected.md")));
    const QString saved = readText(*folder + QStringLiteral("/session.json"));
    EXPECT_EQ(json::parse(saved.toUtf8()), json::parse(json::dump(nlohmann::json::parse(json::dump(record)))));
    EXPECT_LT(saved.indexOf(QStringLiteral("\"device\"")), saved.indexOf(QStringLiteral("\"entries\"")));
    EXPECT_TRUE(saved.contains(QStringLiteral("\n  \"ended\"")));

    // Without "id" or "started" (or with them mistyped) nothing is written.
    for (const char* bad : {R"({"started":1})", R"({"id":"abc"})", R"({"id":5,"started":1})", R"({"id":"abc","started":"1"})",
                            R"({"id":"","started":1})", "[]"})
        EXPECT_EQ(notes.saveSession(json::parse(bad)), std::nullopt) << bad;
    EXPECT_EQ(folders().size(), 1);

    // Signed out, the same session goes to the "signed-out" folder.
    TovrickAccount::shared().clearSession();
    const auto signedOut = notes.saveSession(record);
    ASSERT_TRUE(signedOut);
    EXPECT_TRUE(signedOut->contains(TovrickAccount::nonceHash(QStringLiteral("signed-out"))));
    EXPECT_TRUE(QFile::exists(*signedOut + QStringLiteral("/notes.md")));
}

// A full or broken disk is not a save: the phone's "notes" answer then carries no folder, as for a
// record it could not read, so the phone can tell.
TEST_F(Notes, ARecordThatCannotBeWrittenIsAnsweredAsNotSaved)
{
    const Json record = json::parse(fixture("notes-record.json"));
    const auto folder = notes.saveSession(record);
    ASSERT_TRUE(folder);
    CodexController codex;
    RealtimeHost::Ports ports;
    ports.notes = std::make_shared<MeetingNotes>();
    ports.stopMotivation = [] {};
    RealtimeHost host(codex, std::move(ports));
    const QString text = QString::fromStdString(json::dump(record));

    for (const char* blocked : {"session.json", "notes.md", ""}) {
        SCOPED_TRACE(blocked);
        // A folder where the file goes makes its write fail whoever runs the test.
        const QString path = *folder + QStringLiteral("/") + QString::fromLatin1(blocked);
        if (*blocked) {
            QFile::remove(path);
            ASSERT_TRUE(QDir().mkpath(path + QStringLiteral("/in-the-way")));
        }
        EXPECT_EQ(notes.saveSession(record), *blocked ? std::nullopt : folder);
        ReplySink sink;
        host.handlePhoneRequest(request("notes", text, QStringLiteral("n1")), sink.reply());
        ASSERT_EQ(sink.packets.size(), 1u);
        EXPECT_EQ(sink.packets[0].command, QStringLiteral("notes"));
        EXPECT_EQ(sink.packets[0].callID, QStringLiteral("n1"));
        EXPECT_EQ(sink.packets[0].text, *blocked ? std::nullopt : folder);
        if (*blocked) {
            ASSERT_TRUE(QDir(path).removeRecursively());
        }
    }
}

TEST_F(Notes, OneSpeakersNeighbouringSegmentsMerge)
{
    using S = MeetingNotes::Segment;
    const std::vector<S> merged = MeetingNotes::mergeSegments({
        S {QStringLiteral("A"), 0, 3, QStringLiteral("one")},
        S {QStringLiteral("A"), 4, 6, QStringLiteral("two")},
        S {QStringLiteral("B"), 6.5, 8, QStringLiteral("three")},
        S {QStringLiteral("B"), 7, 7.5, QString()},
        S {QStringLiteral("A"), 9, 10, QStringLiteral("four")},
        S {QStringLiteral("A"), 12.5, 13, QStringLiteral("five")}, // exactly 2.5 s later: apart
        S {QStringLiteral("A"), 12, 14, QStringLiteral("six")},    // overlapping: merged
    });
    ASSERT_EQ(merged.size(), 4u);
    EXPECT_EQ(merged[0].text, QStringLiteral("one two"));
    EXPECT_EQ(merged[0].start, 0);
    EXPECT_EQ(merged[0].end, 6);
    EXPECT_EQ(merged[1].text, QStringLiteral("three"));
    EXPECT_EQ(merged[2].text, QStringLiteral("four"));
    EXPECT_EQ(merged[3].text, QStringLiteral("five six"));
    EXPECT_EQ(merged[3].end, 14);
}

TEST_F(Notes, TranscriptionsReadTheServiceAnswer)
{
    api.answerOnce(QStringLiteral("ai/transcriptions"), LoopbackAnswer::json(json::parse(R"({"segments":[
        {"speaker":"A","start":0,"end":1,"text":" \tHi\n "},
        {"speaker":"A","start":1.5,"end":2,"text":"there"},
        {"start":"x","text":"unknown"}]})")));
    const auto diarized = runTask(notes.transcribeDiarized("audio"));
    ASSERT_EQ(diarized.size(), 2u);
    EXPECT_EQ(diarized[0].text, QStringLiteral("Hi\n there"));
    EXPECT_EQ(diarized[1].speaker, QStringLiteral("?"));
    EXPECT_EQ(diarized[1].start, 0);

    api.answerOnce(QStringLiteral("ai/transcriptions"), LoopbackAnswer::json(json::parse(R"({"segments":[{"text":"a"},1]})")));
    EXPECT_TRUE(runTask(notes.transcribeDiarized("audio")).empty());
    api.answerOnce(QStringLiteral("ai/transcriptions"), LoopbackAnswer::json(json::parse(R"({"text":"\n  said it \n"})")));
    const auto plain = runTask(notes.transcribePlain("audio"));
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_EQ(plain[0].text, QStringLiteral("said it"));
    api.answerOnce(QStringLiteral("ai/transcriptions"), LoopbackAnswer::raw("\"text\"", 200, "application/json"));
    try {
        runTask(notes.transcribePlain("audio"));
        ADD_FAILURE() << "a string answer was accepted";
    } catch (const UserFacingError& error) {
        EXPECT_TRUE(error.description().endsWith(QStringLiteral("Invalid transcription response")));
    }
}
