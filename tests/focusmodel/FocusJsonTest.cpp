#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include "Printers.h"
#include "shared/focus/FocusJson.h"
#include "shared/focus/FocusSync.h"
#include "shared/util/ReferenceTime.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const QUuid kSessionId = QUuid::fromString(QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF"));
const QUuid kCheckId = QUuid::fromString(QStringLiteral("0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D"));

FocusCheck judgedCheck()
{
    FocusCheck check(30, FocusActivity::offTask, 0.75, 0.5,
                     FocusCheck::Probabilities { { QStringLiteral("on_task"), 0.25 },
                                                 { QStringLiteral("off_task"), 0.75 } },
                     30.0);
    check.id = kCheckId;
    check.nudged = true;
    return check;
}

FocusSession sampleSession()
{
    FocusSession session(QStringLiteral("Write \"the\" report"), 1500, false, kSessionId, 700000000.5);
    session.advance(30);
    session.checks.push_back(judgedCheck());
    return session;
}

// A session with every optional field absent, as older records have it.
FocusSession bareSession()
{
    FocusSession session = sampleSession();
    session.developerMode.reset();
    session.usedDeveloperMode.reset();
    session.realElapsed.reset();
    session.checks.front().probabilities.reset();
    session.checks.front().sampleDuration.reset();
    return session;
}

} // namespace

TEST(FocusJson, WritesFieldsInOrderAndLeavesAbsentOptionalsOut)
{
    EXPECT_EQ(json::dump(sampleSession().toJson()),
              R"({"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","task":"Write \"the\" report","duration":1500.0,)"
              R"("startedAt":700000000.5,"elapsed":30.0,"status":"running","detail":"First check in 30 seconds",)"
              R"("checks":[{"id":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D","elapsed":30.0,"activity":"off_task",)"
              R"("probability":0.75,"confidence":0.5,"probabilities":{"off_task":0.75,"on_task":0.25},)"
              R"("sampleDuration":30.0,"nudged":true}],"developerMode":false,"usedDeveloperMode":false,)"
              R"("realElapsed":30.0})");

    EXPECT_EQ(json::dump(bareSession().toJson()),
              R"({"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","task":"Write \"the\" report","duration":1500.0,)"
              R"("startedAt":700000000.5,"elapsed":30.0,"status":"running","detail":"First check in 30 seconds",)"
              R"("checks":[{"id":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D","elapsed":30.0,"activity":"off_task",)"
              R"("probability":0.75,"confidence":0.5,"nudged":true}]})");

    const FocusSync sync(std::nullopt, {}, 7, std::nullopt, 12.25);
    EXPECT_EQ(sync.encode(), QByteArray(R"({"history":[],"revision":7,"sentAt":12.25})"));
}

TEST(FocusJson, RoundTripsAndReadsNullOrMissingOptionalsAsAbsent)
{
    const FocusSession full = sampleSession();
    EXPECT_EQ(FocusSession::fromJson(json::parse(json::dump(full.toJson()))), full);

    const FocusSession bare = bareSession();
    Json withNulls = bare.toJson();
    withNulls["developerMode"] = nullptr;
    withNulls["usedDeveloperMode"] = nullptr;
    withNulls["realElapsed"] = nullptr;
    withNulls["checks"][0]["probabilities"] = nullptr;
    withNulls["checks"][0]["sampleDuration"] = nullptr;
    withNulls["somethingNew"] = "ignored";
    EXPECT_EQ(FocusSession::fromJson(withNulls), bare);
    EXPECT_EQ(FocusSession::fromJson(bare.toJson()), bare);

    // Ids in either case, integers where numbers are expected, keys in any order.
    const Json relaxed = json::parse(
        R"({"checks":[],"status":"paused","detail":"d","elapsed":3,"startedAt":0,"duration":60,"task":"t",)"
        R"("id":"6f9619ff-8b86-d011-b42d-00c04fc964ff"})");
    const FocusSession read = FocusSession::fromJson(relaxed);
    EXPECT_EQ(read.id, kSessionId);
    EXPECT_EQ(read.elapsed, 3.0);
    EXPECT_EQ(read.status, FocusSession::Status::paused);
    EXPECT_EQ(read.realActiveElapsed(), 3.0);

    FocusSession ended = full;
    ended.end();
    const FocusSync sync(full, { ended, bare }, 42, true, 800000000.125);
    const FocusSync back = FocusSync::decode(sync.encode());
    ASSERT_TRUE(back.current.has_value());
    EXPECT_EQ(*back.current, full);
    ASSERT_EQ(back.history.size(), 2u);
    EXPECT_EQ(back.history[0], ended);
    EXPECT_EQ(back.history[1], bare);
    EXPECT_EQ(back.revision, 42);
    EXPECT_EQ(back.sentAt, 800000000.125);
    EXPECT_EQ(back.developerMode, true);

    const FocusSync now(std::nullopt, {}, 1, false);
    EXPECT_NEAR(now.sentAt, referenceTime::now(), 5.0);
}

TEST(FocusJson, OneBadFieldFailsTheWholeDocument)
{
    using Edit = std::function<void(Json&)>;
    struct Row {
        const char* name;
        Edit edit; // applied to a FocusSync holding the sample session as current and in the history
    };
    const auto session = [](Json& sync) -> Json& { return sync["history"][1]; };
    const auto check = [&](Json& sync) -> Json& { return session(sync)["checks"][0]; };
    const Row rows[] = {
        { "history session lacks detail", [&](Json& s) { session(s).erase("detail"); } },
        { "session detail is null", [&](Json& s) { session(s)["detail"] = nullptr; } },
        { "session id is not a UUID", [&](Json& s) { session(s)["id"] = "6F9619FF8B86D011B42D00C04FC964FF"; } },
        { "unknown status", [&](Json& s) { session(s)["status"] = "stopped"; } },
        { "status in capitals", [&](Json& s) { session(s)["status"] = "Running"; } },
        { "duration as text", [&](Json& s) { session(s)["duration"] = "60"; } },
        { "task as number", [&](Json& s) { session(s)["task"] = 5; } },
        { "checks missing", [&](Json& s) { session(s).erase("checks"); } },
        { "checks an object", [&](Json& s) { session(s)["checks"] = Json::object(); } },
        { "developerMode as text", [&](Json& s) { session(s)["developerMode"] = "true"; } },
        { "realElapsed as text", [&](Json& s) { session(s)["realElapsed"] = "1"; } },
        { "unknown activity", [&](Json& s) { check(s)["activity"] = "distracted"; } },
        { "check lacks nudged", [&](Json& s) { check(s).erase("nudged"); } },
        { "check lacks confidence", [&](Json& s) { check(s).erase("confidence"); } },
        { "probabilities value null", [&](Json& s) { check(s)["probabilities"]["on_task"] = nullptr; } },
        { "probabilities an array", [&](Json& s) { check(s)["probabilities"] = Json::array({ 0.5 }); } },
        { "check not an object", [&](Json& s) { session(s)["checks"][0] = 1; } },
        { "current is broken", [&](Json& s) { s["current"].erase("task"); } },
        { "current is a list", [&](Json& s) { s["current"] = Json::array(); } },
        { "history missing", [](Json& s) { s.erase("history"); } },
        { "revision with a fraction", [](Json& s) { s["revision"] = 1.5; } },
        { "sentAt missing", [](Json& s) { s.erase("sentAt"); } },
    };
    const FocusSync good(sampleSession(), { sampleSession(), sampleSession() }, 3, false, 1.0);
    ASSERT_NO_THROW(FocusSync::fromJson(good.toJson()));
    for (const Row& row : rows) {
        Json document = good.toJson();
        row.edit(document);
        EXPECT_THROW(FocusSync::fromJson(document), JsonDecodeError) << row.name;
    }

    // The stored history is the bare array: one session without detail makes all of it unreadable.
    Json history = focusSessionsToJson({ sampleSession(), sampleSession(), sampleSession() });
    ASSERT_EQ(focusSessionsFromJson(history).size(), 3u);
    history[2].erase("detail");
    EXPECT_THROW(focusSessionsFromJson(history), JsonDecodeError);
    EXPECT_THROW(focusSessionsFromJson(json::parse(R"({"sessions":[]})")), JsonDecodeError);
    EXPECT_THROW(FocusSync::decode("{\"history\":["), JsonDecodeError);
}

TEST(FocusJson, TextWriterAgreesWithTheDocumentWriter)
{
    const QString lone = QString(QChar(0xD83D)) + QStringLiteral("x");
    const QString texts[] = {
        QString(),
        QStringLiteral("plain"),
        QStringLiteral("quote \" back \\ slash / solidus"),
        QStringLiteral("tab\tnew\nline\rreturn\bbell\f") + QChar(0x01) + QChar(0x1F) + QChar(0x7F),
        QString::fromUtf8("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xE6\x97\xA5\xE6\x9C\xAC"),
    };
    for (const QString& text : texts) {
        focusjson::Writer out;
        out.string(text);
        EXPECT_EQ(out.text(), json::dump(Json(json::fromQString(text)))) << text.toStdString();
    }
    focusjson::Writer broken;
    broken.string(lone);
    EXPECT_EQ(json::parse(broken.text()).get<std::string>(), "\xEF\xBF\xBDx");

    // Every number reads back as the same double.
    const double numbers[] = { 0.0, -0.0, 0.1, 1.0 / 3.0, 1e-7, 1e21, 123456789.123, 5e-324,
                               1.7976931348623157e308, -42.0, 700000000.5 };
    for (double number : numbers) {
        focusjson::Writer out;
        out.number(number);
        const Json back = json::parse(out.text());
        ASSERT_TRUE(back.is_number_float()) << out.text();
        EXPECT_EQ(back.get<double>(), number) << out.text();
    }
    focusjson::Writer whole;
    whole.integer(-9223372036854775807LL - 1);
    EXPECT_EQ(whole.text(), "-9223372036854775808");

    FocusSession odd = sampleSession();
    odd.task = texts[3] + texts[4];
    odd.checks.front().probabilities->emplace(texts[2], 1.0 / 3.0);
    EXPECT_EQ(FocusSession::fromJson(odd.toJson()), odd);
    EXPECT_EQ(decodeFocusSessions(encodeFocusSessions({ odd, sampleSession() })),
              (std::vector<FocusSession> { odd, sampleSession() }));
}

TEST(FocusJson, NumbersThatAreNotFiniteRefuseToEncode)
{
    using Edit = std::function<void(FocusSession&)>;
    const std::pair<const char*, Edit> rows[] = {
        { "elapsed", [](FocusSession& s) { s.elapsed = kNaN; } },
        { "startedAt", [](FocusSession& s) { s.startedAt = std::numeric_limits<double>::infinity(); } },
        { "realElapsed", [](FocusSession& s) { s.realElapsed = kNaN; } },
        { "check probability", [](FocusSession& s) { s.checks[0].probability = kNaN; } },
        { "probabilities entry", [](FocusSession& s) { (*s.checks[0].probabilities)[QStringLiteral("uncertain")] = kNaN; } },
        { "sampleDuration", [](FocusSession& s) { s.checks[0].sampleDuration = -std::numeric_limits<double>::infinity(); } },
    };
    for (const auto& [name, edit] : rows) {
        FocusSession session = sampleSession();
        edit(session);
        EXPECT_THROW(session.toJson(), JsonEncodeError) << name;
        const FocusSync inHistory(std::nullopt, { sampleSession(), session }, 1, std::nullopt, 0);
        EXPECT_THROW(inHistory.encode(), JsonEncodeError) << name;
    }
    const FocusSync badTime(std::nullopt, {}, 1, std::nullopt, kNaN);
    EXPECT_THROW(badTime.encode(), JsonEncodeError);
}
