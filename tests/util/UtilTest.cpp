#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QDateTime>
#include <QTemporaryDir>

#include <cmath>
#include <limits>

#include "shared/util/AppPaths.h"
#include "shared/util/ByteLines.h"
#include "shared/util/Files.h"
#include "shared/util/Json.h"
#include "shared/util/ReferenceTime.h"
#include "shared/util/Settings.h"
#include "shared/util/Text.h"
#include "shared/util/Uuid.h"

TEST(Json, StrictReadersRefuseMissingNullAndWrongTypes)
{
    const Json doc = json::parse(R"({"n":1.5,"i":7,"s":"x","b":true,"z":null})");
    EXPECT_EQ(json::requireNumber(doc, "n"), 1.5);
    EXPECT_EQ(json::requireNumber(doc, "i"), 7.0);
    EXPECT_EQ(json::requireInteger(doc, "i"), 7);
    EXPECT_THROW(json::requireInteger(doc, "n"), JsonDecodeError);
    EXPECT_THROW(json::requireInteger(json::parse(R"({"big":9223372036854775808})"), "big"), JsonDecodeError);
    EXPECT_EQ(json::requireInteger(json::parse(R"({"low":-9223372036854775808})"), "low"), INT64_MIN);
    EXPECT_THROW(json::requireNumber(doc, "s"), JsonDecodeError);
    EXPECT_THROW(json::requireString(doc, "missing"), JsonDecodeError);
    EXPECT_THROW(json::requireBool(doc, "z"), JsonDecodeError);
    EXPECT_FALSE(json::optionalBool(doc, "z").has_value());
    EXPECT_FALSE(json::optionalBool(doc, "missing").has_value());
    EXPECT_THROW(json::optionalBool(doc, "s"), JsonDecodeError);
    EXPECT_THROW(json::requireString(json::parse("[1]"), "s"), JsonDecodeError);
    EXPECT_THROW(json::parse(QByteArray("{\"a\":")), JsonDecodeError);
}

TEST(Json, WriterRefusesNonFiniteNumbersAnywhereInTheTree)
{
    EXPECT_THROW(json::number(std::numeric_limits<double>::quiet_NaN()), JsonEncodeError);
    Json doc = Json::object();
    doc["b"] = 1;
    doc["a"] = Json::array({ 1.0, Json { { "x", std::numeric_limits<double>::infinity() } } });
    EXPECT_THROW(json::dump(doc), JsonEncodeError);
    doc["a"] = 2.5;
    EXPECT_EQ(json::dump(doc), R"({"b":1,"a":2.5})"); // insertion order kept
}

TEST(Json, NestingHasOneLimitCountedOutsideTexts)
{
    const auto nested = [](int depth, const char* open, const char* close) {
        QByteArray text;
        for (int i = 0; i < depth; ++i)
            text += open;
        text += "1";
        for (int i = 0; i < depth; ++i)
            text += close;
        return text;
    };
    struct Case {
        const char* what;
        QByteArray text;
        bool accepted;
    };
    const int limit = json::maximumNesting;
    const Case cases[] = {
        {"arrays at the limit", nested(limit, "[", "]"), true},
        {"objects at the limit", nested(limit, "{\"k\":", "}"), true},
        {"one array past it", nested(limit + 1, "[", "]"), false},
        {"mixed, one past it", "{\"a\":" + nested(limit, "[", "]") + "}", false},
        {"100,000 deep", nested(100'000, "[", "]"), false},
        {"brackets inside a text", "[\"" + QByteArray(100'000, '[') + "\"]", true},
        {"unterminated and deep", QByteArray(100'000, '{'), false},
    };
    for (const Case& c : cases) {
        if (!c.accepted) {
            EXPECT_THROW(json::parse(c.text), JsonDecodeError) << c.what;
            continue;
        }
        const Json document = json::parse(c.text);
        const Json copy = document;
        EXPECT_EQ(json::dumpBytes(copy), c.text) << c.what;
    }
}

TEST(Json, ObjectsOfManyKeysReadInOrderWithTheLastOfARepeatedKey)
{
    EXPECT_EQ(json::dump(json::parse(R"({"b":1,"a":2,"b":3,"c":{"x":1,"x":[2]}})")),
              R"({"b":3,"a":2,"c":{"x":[2]}})");
    // 300,000 keys once took minutes: every key was looked for among all before it.
    constexpr int keys = 300'000;
    std::string text = "{";
    for (int i = 0; i < keys; ++i)
        text += (i ? ",\"" : "\"") + std::to_string(i) + "\":" + std::to_string(i);
    text += "}";
    const Json document = json::parse(text);
    ASSERT_EQ(document.size(), std::size_t(keys));
    EXPECT_EQ(document.begin().key(), "0");
    EXPECT_EQ(json::requireInteger(document, std::to_string(keys - 1)), keys - 1);
}

bool onlyMemberA(int depth, const std::string* key)
{
    return depth == 1 && key && *key == "a";
}

TEST(Json, AReaderThatNamesItsMembersGetsOnlyThemButAllIsStillChecked)
{
    EXPECT_EQ(json::dump(json::parse(R"({"b":[1,{"a":2}],"a":{"a":1,"x":[2]},"c":"x","a":[3,4]})", onlyMemberA)),
              R"({"a":[]})");
    EXPECT_EQ(json::dump(json::parse("[1,[2],{\"a\":3}]", onlyMemberA)), "[]");
    const QByteArray refused[] = {
        R"({"b":[1,],"a":1})",
        "{\"b\":\"\xff\",\"a\":1}",
        "{\"b\":" + QByteArray(json::maximumNesting, '[') + QByteArray(json::maximumNesting, ']') + ",\"a\":1}",
    };
    for (const QByteArray& text : refused)
        EXPECT_THROW(json::parse(text, onlyMemberA), JsonDecodeError) << text.left(40).constData();
}

TEST(ReferenceTime, CountsFrom2001)
{
    const QDateTime start(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    EXPECT_EQ(referenceTime::fromDateTime(start), 0.0);
    EXPECT_EQ(referenceTime::fromDateTime(start.addSecs(90)), 90.0);
    EXPECT_EQ(referenceTime::toDateTime(12.5), start.addMSecs(12500));
    EXPECT_NEAR(referenceTime::toUnix(referenceTime::now()),
                static_cast<double>(QDateTime::currentSecsSinceEpoch()), 2.0);
}

TEST(Uuid, UppercaseTextAndReadersOfEitherCase)
{
    const QUuid id = uuid::make();
    const QString text = uuid::text(id);
    EXPECT_EQ(text.size(), 36);
    EXPECT_EQ(text, text.toUpper());
    EXPECT_EQ(uuid::parse(text.toLower()), id);
    for (const char* bad : { "", "{00000000-0000-0000-0000-000000000000}", "0000000000000000000000000000000000000",
                             "G0000000-0000-0000-0000-000000000000", "00000000-0000-0000-0000-00000000000" })
        EXPECT_FALSE(uuid::parse(QString::fromLatin1(bad)).has_value()) << bad;
}

TEST(Text, CountsAndCutsUserPerceivedCharacters)
{
    const QString family = QString::fromUtf8("\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7"); // one emoji
    const QString accented = QString::fromUtf8("e\xCC\x81"); // e + combining acute
    const QString sample = family + accented + QStringLiteral("ab");
    EXPECT_EQ(text::characterCount(sample), 4);
    EXPECT_EQ(text::prefixCharacters(sample, 1), family);
    EXPECT_EQ(text::prefixCharacters(sample, 2), family + accented);
    EXPECT_EQ(text::prefixCharacters(sample, 10), sample);
    EXPECT_EQ(text::suffixCharacters(sample, 3), accented + QStringLiteral("ab"));
    EXPECT_EQ(text::characterCount(QString()), 0);
    EXPECT_EQ(text::prefixCharacters(sample, 0), QString());
}

TEST(Text, TheTwoTrimsStayApart)
{
    const QString padded = QStringLiteral("\n\t hello world \t\n");
    EXPECT_EQ(text::trimmedWhitespaceAndNewlines(padded), QStringLiteral("hello world"));
    EXPECT_EQ(text::trimmedSpacesAndTabs(padded), padded); // line breaks shield the rest
    EXPECT_EQ(text::trimmedSpacesAndTabs(QStringLiteral(" \t a\n \t")), QStringLiteral("a\n"));
    EXPECT_EQ(text::trimmedSpacesAndTabs(QString(QChar(0x00A0)) + QStringLiteral("x")), QStringLiteral("x"));
    EXPECT_EQ(text::wordCount(QStringLiteral("  one two\nthree\t")), 3);
}

TEST(Files, AtomicPrivateWritesAndUnreadableCopies)
{
    const QString folder = AppPaths::appFolder();
    ASSERT_FALSE(folder.isEmpty());
    EXPECT_EQ(QFileInfo(folder).permissions() & 0x7777, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                  | QFileDevice::ExeOwner | QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
    const QString path = QDir(folder).filePath(QStringLiteral("file.json"));
    EXPECT_FALSE(files::writeAtomically(path, "one", true).has_value());
    EXPECT_EQ(QFileInfo(path).permissions() & 0x0077, QFileDevice::Permissions {});
    EXPECT_EQ(files::read(path), QByteArray("one"));
    ASSERT_TRUE(files::keepUnreadableCopy(path));
    EXPECT_FALSE(files::writeAtomically(path, "two", true).has_value());
    EXPECT_EQ(files::read(path + QStringLiteral(".bad")), QByteArray("one"));

    // A folder where the file should be: the write fails and says why.
    const QString blocked = QDir(folder).filePath(QStringLiteral("blocked"));
    QDir().mkpath(blocked);
    EXPECT_TRUE(files::writeAtomically(blocked, "x", true).has_value());
}

TEST(Files, AWriteClearsWhatKilledSavesOfTheSameFileLeftBehind)
{
    QTemporaryDir root;
    const QDir folder(root.path());
    const auto make = [&](const QString& name, bool old) {
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("partial");
        file.flush(); // before the time is set: writing would set it again
        if (old) {
            ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
        }
    };
    const struct {
        const char* name;
        bool old;
        bool kept;
    } files[] = {
        {"file.json.aB3dE9", true, false},  // a killed save of this file
        {"file.json.QwErTy", true, false},
        {"file.json.Zz12Xy", false, true},  // possibly another process's save under way
        {"file.json.bad", true, true},      // the copy of an unreadable file
        {"file.json.aB3dE", true, true},
        {"file.json.aB3dE9.x", true, true},
        {"other.json.aB3dE9", true, true},  // another file's: cleared when that one is written
        {"xfile.json.aB3dE9", true, true},
    };
    for (const auto& f : files)
        make(QString::fromLatin1(f.name), f.old);
    EXPECT_FALSE(files::writeAtomically(folder.filePath(QStringLiteral("file.json")), "whole", true).has_value());
    for (const auto& f : files) {
        EXPECT_EQ(QFile::exists(folder.filePath(QString::fromLatin1(f.name))), f.kept) << f.name;
    }
    EXPECT_EQ(files::read(folder.filePath(QStringLiteral("file.json"))), QByteArray("whole"));

    EXPECT_EQ(files::removeStaleTemporaries(folder.path(), {QStringLiteral("*.json")}), 2);
    EXPECT_TRUE(QFile::exists(folder.filePath(QStringLiteral("file.json"))));
}

TEST(ByteLines, CutsLinesArrivingInPiecesAndFlagsOverlongOnes)
{
    ByteLines lines(8);
    lines.append("ab");
    EXPECT_FALSE(lines.next().has_value());
    lines.append("c\nde\n\nf");
    EXPECT_EQ(lines.next(), QByteArray("abc"));
    EXPECT_EQ(lines.next(), QByteArray("de"));
    EXPECT_EQ(lines.next(), QByteArray(""));
    EXPECT_FALSE(lines.next().has_value());
    EXPECT_EQ(lines.pending(), 1);
    EXPECT_FALSE(lines.overflowed());
    lines.append("123456789");
    EXPECT_FALSE(lines.next().has_value());
    EXPECT_TRUE(lines.overflowed());

    // The room a long line took is given back once it is handed out.
    ByteLines unlimited;
    unlimited.append(QByteArray(4 * 1024 * 1024, 'x'));
    EXPECT_FALSE(unlimited.next().has_value());
    unlimited.append("\nnext");
    EXPECT_EQ(unlimited.next()->size(), 4 * 1024 * 1024);
    EXPECT_FALSE(unlimited.next().has_value());
    EXPECT_LT(unlimited.held(), 1024 * 1024);
    EXPECT_EQ(firstIndexOfByte("abc", 'c', 3), -1);
    EXPECT_EQ(firstIndexOfByte("abcc", 'c', 3), 3);
}

TEST(Settings, BooleansAreReadExplicitly)
{
    auto& settings = Settings::shared();
    EXPECT_TRUE(settings.computerControl());
    settings.setString(QStringLiteral("computerControl"), QStringLiteral("maybe"));
    EXPECT_TRUE(settings.computerControl()); // not a boolean: counts as absent
    settings.setComputerControl(false);
    settings.sync();
    EXPECT_FALSE(settings.computerControl());
    EXPECT_EQ(settings.boolValue(QStringLiteral("computerControl")), false);
    settings.setStringList(QStringLiteral("list"), { QStringLiteral("one") });
    EXPECT_EQ(settings.stringList(QStringLiteral("list")), QStringList { QStringLiteral("one") });
    settings.remove(QStringLiteral("computerControl"));
}
