#include <gtest/gtest.h>

#include "shared/link/Packet.h"
#include "shared/link/PairingRecord.h"

TEST(Packet, WritesOnlyPresentFieldsInTheirOrderAndReadsThemBack)
{
    EXPECT_EQ(Packet().encode(), "{}");
    Packet full;
    full.face = FaceState { 0.25, -0.5, Mood::pointing, 0.75 };
    full.hello = QStringLiteral("paired");
    full.volume = 0.5;
    full.command = QStringLiteral("focusStart");
    full.audio = QStringLiteral("AAAA");
    full.speech = 3;
    full.callID = QStringLiteral("c-1");
    full.tool = QStringLiteral("look_at_screen");
    full.text = QStringLiteral("{\"task\":\"Write\"}");
    full.image = QStringLiteral("/9j/");
    EXPECT_EQ(full.encode(),
              R"({"face":{"gazeX":0.25,"gazeY":-0.5,"mood":"pointing","talk":0.75},"hello":"paired","volume":0.5,)"
              R"("command":"focusStart","audio":"AAAA","speech":3,"callID":"c-1","tool":"look_at_screen",)"
              R"("text":"{\"task\":\"Write\"}","image":"/9j/"})");
    EXPECT_EQ(Packet::decode(full.encode()), full);

    // JSON has no infinity: such a packet must not go out as text the phone cannot read.
    full.face = FaceState { std::nan(""), 0, Mood::happy, 0 };
    EXPECT_THROW(full.encode(), JsonEncodeError);
}

TEST(Packet, DecodingIsStrictAboutTypesAndIgnoresUnknownKeys)
{
    const char* refused[] = {
        "", "[]", R"({"command":"a")", "{\"text\":\"\xff\xfe\"}", R"({"command":5})", R"({"hello":true})",
        R"({"volume":"loud"})", R"({"volume":1e999})", R"({"speech":1.5})", R"({"speech":18446744073709551615})",
        R"({"callID":["a"]})", R"({"face":"happy"})", R"({"face":{"gazeX":0,"gazeY":0,"mood":"grumpy","talk":0}})",
        R"({"face":{"gazeX":0,"gazeY":0,"mood":"happy"}})",
    };
    for (const char* text : refused)
        EXPECT_THROW(Packet::decode(QByteArray(text)), JsonDecodeError) << text;

    const Packet lenient = Packet::decode(R"({"command":"awake","future":{"x":1},"text":null})");
    EXPECT_EQ(lenient.command, QStringLiteral("awake"));
    EXPECT_FALSE(lenient.text);
}

TEST(PairingRecord, KeyOnlyForExactly32BytesOfStrictBase64)
{
    const QByteArray key(32, '\x07');
    const QString good = QString::fromLatin1(key.toBase64());
    const std::pair<QString, bool> cases[] = {
        { good, true },
        { QString::fromLatin1(QByteArray(31, 'a').toBase64()), false },
        { QString::fromLatin1(QByteArray(33, 'a').toBase64()), false },
        { QString(), false },
        { QString(good).insert(8, QLatin1Char(' ')), false },
        { QString::fromLatin1(QByteArray(32, '\xfb').toBase64(QByteArray::Base64UrlEncoding)), false },
        { QString(good).replace(0, 1, QChar(0x4e2d)), false },
    };
    for (const auto& [secret, hasKey] : cases) {
        PairingRecord record;
        record.secret = secret;
        EXPECT_EQ(record.key().has_value(), hasKey) << secret.toStdString();
        EXPECT_EQ(record.identifier().has_value(), hasKey);
    }
    EXPECT_EQ(PairingRecord::withKey(QStringLiteral("desk"), key).key(), key);
    // SHA-256 of 32 zero bytes begins 66687aad f862bd77 6c8fc18b.
    EXPECT_EQ(PairingRecord::withKey(QStringLiteral("desk"), QByteArray(32, '\0')).identifier(),
              QStringLiteral("66687aadf862bd776c8fc18b"));
}

TEST(PairingRecord, JsonRoundTripAndStrictReading)
{
    const PairingRecord record = PairingRecord::withKey(QStringLiteral("Ada’s desk"), QByteArray(32, 'k'));
    EXPECT_EQ(json::dump(record.toJson()).rfind(R"({"version":1,"service":"Ada’s desk","secret":")", 0), 0u);
    EXPECT_EQ(PairingRecord::fromJson(record.toJson()), record);
    for (const char* text : { R"({"service":"a","secret":"b"})", R"({"version":"1","service":"a","secret":"b"})",
                              R"({"version":1,"service":2,"secret":"b"})", R"({"version":1,"service":"a"})",
                              R"({"version":99999999999,"service":"a","secret":"b"})", "[]" })
        EXPECT_THROW(PairingRecord::fromJson(json::parse(text)), JsonDecodeError) << text;
}
