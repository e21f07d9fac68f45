#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include "shared/focus/FocusJson.h"
#include "shared/focus/FocusSync.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const QUuid kSessionId = QUuid::fromString(QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF"));

FocusSession sampleSession()
{
    FocusSession session(QStringLiteral("Write \"the\" report"), 1500, false, kSessionId, 700000000.5);
    session.advance(30);
    FocusCheck check(30, FocusActivity::offTask, 0.75, 0.5,
                     FocusCheck::Probabilities { { QStringLiteral("on_task"), 0.25 }, { QStringLiteral("off_task"), 0.75 } },
                     30.0);
    check.id = QUuid::fromString(QStringLiteral("0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D"));
    check.nudged = true;
    session.checks.push_back(check);
    return session;
}

} // namespace

TEST(FocusJson, WritesFieldsInOrder)
{
    EXPECT_EQ(json::dump(sampleSession().toJson()),
              R"({"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","task":"Write \"the\" report","duration":1500.0,)"
              R"("startedAt":700000000.5,"elapsed":30.0,"status":"running","detail":"First check in 30 seconds",)"
              R"("checks":[{"id":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D","elapsed":30.0,"activity":"off_task",)"
              R"("probability":0.75,"confidence":0.5,"probabilities":{"off_task":0.75,"on_task":0.25},)"
              R"("sampleDuration":30.0,"nudged":true}],"developerMode":false,"usedDeveloperMode":false,)"
              R"("realElapsed":30.0})");
    EXPECT_EQ(FocusSync(std::nullopt, {}, 7, std::nullopt, 12.25).encode(),
              QByteArray(R"({"history":[],"revision":7,"sentAt":12.25})"));
}

TEST(FocusJson, RoundTripsLeavingAbsentOptionalsOutAndReadingNullsAsAbsent)
{
    const FocusSession full = sampleSession();
    FocusSession bare = full; // every optional field absent, as older records have it
    bare.developerMode = bare.usedDeveloperMode = std::nullopt;
    bare.realElapsed = bare.checks.front().sampleDuration = std::nullopt;
    bare.checks.front().probabilities.reset();
    Json withNulls = bare.toJson();
    for (const char* key : { "developerMode", "usedDeveloperMode", "realElapsed" }) {
        EXPECT_FALSE(withNulls.contains(key)) << key;
        withNulls[key] = nullptr;
    }
    for (const char* key : { "probabilities", "sampleDuration" }) {
        EXPECT_FALSE(withNulls["checks"][0].contains(key)) << key;
        withNulls["checks"][0][key] = nullptr;
    }
    withNulls["somethingNew"] = "ignored";
    EXPECT_EQ(FocusSession::fromJson(withNulls), bare);

    // Ids in either case, integers where numbers are expected, keys in any order.
    const FocusSession relaxed = FocusSession::fromJson(json::parse(
        R"({"checks":[],"status":"paused","detail":"d","elapsed":3,"startedAt":0,"duration":60,"task":"t",)"
        R"("id":"6f9619ff-8b86-d011-b42d-00c04fc964ff"})"));
    EXPECT_EQ(relaxed.id, kSessionId);
    EXPECT_EQ(relaxed.status, FocusSession::Status::paused);
    EXPECT_EQ(relaxed.realActiveElapsed(), 3.0);

    FocusSession ended = full;
    ended.end();
    const FocusSync back = FocusSync::decode(FocusSync(full, { ended, bare }, 42, true, 800000000.125).encode());
    EXPECT_EQ(back.current, full);
    EXPECT_EQ(back.history, (std::vector<FocusSession> { ended, bare }));
    EXPECT_EQ(back.revision, 42);
    EXPECT_EQ(back.sentAt, 800000000.125);
    EXPECT_EQ(back.developerMode, true);
}

TEST(FocusJson, OneBadFieldFailsTheWholeDocument)
{
    const auto session = [](Json& sync) -> Json& { return sync["history"][1]; };
    const auto check = [&](Json& sync) -> Json& { return session(sync)["checks"][0]; };
    const std::pair<const char*, std::function<void(Json&)>> rows[] = {
        { "history session lacks detail", [&](Json& s) { session(s).erase("detail"); } },
        { "session id is not a UUID", [&](Json& s) { session(s)["id"] = "6F9619FF8B86D011B42D00C04FC964FF"; } },
        { "status in capitals", [&](Json& s) { session(s)["status"] = "Running"; } },
        { "duration as text", [&](Json& s) { session(s)["duration"] = "60"; } },
        { "checks an object", [&](Json& s) { session(s)["checks"] = Json::object(); } },
        { "developerMode as text", [&](Json& s) { session(s)["developerMode"] = "true"; } },
        { "unknown activity", [&](Json& s) { check(s)["activity"] = "distracted"; } },
        { "check lacks nudged", [&](Json& s) { check(s).erase("nudged"); } },
        { "probabilities value null", [&](Json& s) { check(s)["probabilities"]["on_task"] = nullptr; } },
        { "probabilities an array", [&](Json& s) { check(s)["probabilities"] = Json::array({ 0.5 }); } },
        { "check not an object", [&](Json& s) { session(s)["checks"][0] = 1; } },
        { "current is broken", [](Json& s) { s["current"].erase("task"); } },
        { "revision with a fraction", [](Json& s) { s["revision"] = 1.5; } },
        { "sentAt missing", [](Json& s) { s.erase("sentAt"); } },
    };
    const FocusSync good(sampleSession(), { sampleSession(), sampleSession() }, 3, false, 1.0);
    ASSERT_NO_THROW(FocusSync::fromJson(good.toJson()));
    for (const auto& [name, edit] : rows) {
        Json document = good.toJson();
        edit(document);
        EXPECT_THROW(FocusSync::fromJson(document), JsonDecodeError) << name;
    }

    // The stored history is the bare array: one session without detail makes all of it unreadable.
    Json history = focusSessionsToJson({ sampleSession(), sampleSession(), sampleSession() });
    history[2].erase("detail");
    EXPECT_THROW(focusSessionsFromJson(history), JsonDecodeError);
    EXPECT_THROW(focusSessionsFromJson(json::parse(R"({"sessions":[]})")), JsonDecodeError);
    EXPECT_THROW(FocusSync::decode("{\"history\":["), JsonDecodeError);
}

TEST(FocusJson, TextWriterAgreesWithTheDocumentWriter)
{
    const QString texts[] = {
        QStringLiteral("quote \" back \\ slash / solidus"),
        QStringLiteral("tab\tnew\nline\rreturn\bbell\f") + QChar(0x01) + QChar(0x1F) + QChar(0x7F),
        QString::fromUtf8("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xE6\x97\xA5\xE6\x9C\xAC"),
    };
    for (const QString& text : texts) {
        focusjson::Writer out;
        out.string(text);
        EXPECT_EQ(out.text(), json::dump(Json(json::fromQString(text)))) << text.toStdString();
    }
    focusjson::Writer lone;
    lone.string(QString(QChar(0xD83D)) + QStringLiteral("x"));
    EXPECT_EQ(json::parse(lone.text()).get<std::string>(), "\xEF\xBF\xBDx");

    // Every number reads back as the same double.
    for (double number : { 0.0, -0.0, 0.1, 1.0 / 3.0, 1e-7, 1e21, 5e-324, 1.7976931348623157e308, -42.0 }) {
        focusjson::Writer out;
        out.number(number);
        const Json back = json::parse(out.text());
        ASSERT_TRUE(back.is_number_float()) << out.text();
        EXPECT_EQ(back.get<double>(), number) << out.text();
    }

    FocusSession odd = sampleSession();
    odd.task = texts[1] + texts[2];
    odd.checks.front().probabilities->emplace(texts[0], 1.0 / 3.0);
    EXPECT_EQ(decodeFocusSessions(encodeFocusSessions({ odd, sampleSession() })),
              (std::vector<FocusSession> { odd, sampleSession() }));
}

TEST(FocusJson, NumbersThatAreNotFiniteRefuseToEncode)
{
    FocusSession session = sampleSession();
    (*session.checks[0].probabilities)[QStringLiteral("uncertain")] = kNaN;
    EXPECT_THROW(FocusSync(std::nullopt, { sampleSession(), session }, 1, std::nullopt, 0).encode(), JsonEncodeError);
    EXPECT_THROW(FocusSync(std::nullopt, {}, 1, std::nullopt, kNaN).encode(), JsonEncodeError);
}
