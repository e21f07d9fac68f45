#include <QtEndian>
#include <gtest/gtest.h>

#include <thread>

#include "shared/voice/VoiceAudio.h"
#include "shared/voice/VoiceCaptureGate.h"
#include "shared/voice/VoiceTurnBuffer.h"

namespace {

quint32 u32(const QByteArray& bytes, int offset)
{
    return qFromLittleEndian<quint32>(bytes.constData() + offset);
}

quint16 u16(const QByteArray& bytes, int offset)
{
    return qFromLittleEndian<quint16>(bytes.constData() + offset);
}

QByteArray bytes(qsizetype count, char fill = 'a')
{
    return QByteArray(count, fill);
}

} // namespace

TEST(VoiceAudio, HeaderSizesFollowThePcm)
{
    struct Case {
        qsizetype pcm;
    };
    for (const Case c : { Case { 0 }, Case { 1 }, Case { 48000 } }) {
        const QByteArray pcm = bytes(c.pcm, '\x7f');
        const QByteArray wav = VoiceAudio::wav(pcm);
        SCOPED_TRACE(c.pcm);
        ASSERT_EQ(wav.size(), 44 + c.pcm);
        EXPECT_EQ(wav.left(4), "RIFF");
        EXPECT_EQ(u32(wav, 4), c.pcm + 36);
        EXPECT_EQ(wav.mid(8, 8), "WAVEfmt ");
        EXPECT_EQ(u32(wav, 16), 16u);
        EXPECT_EQ(u16(wav, 20), 1);
        EXPECT_EQ(u16(wav, 22), 1);
        EXPECT_EQ(u32(wav, 24), 24000u);
        EXPECT_EQ(u32(wav, 28), 48000u);
        EXPECT_EQ(u16(wav, 32), 2);
        EXPECT_EQ(u16(wav, 34), 16);
        EXPECT_EQ(wav.mid(36, 4), "data");
        EXPECT_EQ(u32(wav, 40), c.pcm);
        EXPECT_EQ(wav.mid(44), pcm);
    }
}

TEST(VoiceCaptureGate, OnlyTheLatestTurnIsAccepted)
{
    VoiceCaptureGate gate;
    EXPECT_FALSE(gate.isHeld());
    EXPECT_FALSE(gate.accepts(QUuid::createUuid()));
    EXPECT_FALSE(gate.accepts(QUuid()));
    const QUuid a = gate.begin();
    EXPECT_TRUE(gate.isHeld());
    EXPECT_TRUE(gate.accepts(a));
    const QUuid b = gate.begin();
    EXPECT_NE(a, b);
    EXPECT_FALSE(gate.accepts(a));
    EXPECT_TRUE(gate.accepts(b));
    gate.end();
    EXPECT_FALSE(gate.isHeld());
    EXPECT_FALSE(gate.accepts(a));
    EXPECT_FALSE(gate.accepts(b));
}

TEST(VoiceCaptureGate, SharedBetweenThreads)
{
    VoiceCaptureGate gate;
    const QUuid mine = gate.begin();
    int accepted = 0;
    std::thread capture([&] {
        for (int i = 0; i < 2000; ++i)
            accepted += gate.accepts(mine) ? 1 : 0;
    });
    for (int i = 0; i < 200; ++i)
        gate.begin();
    capture.join();
    EXPECT_FALSE(gate.accepts(mine));
    EXPECT_LE(accepted, 2000);
}

// One step of a turn: what is appended (or `connected()` when `connect` is set) and what must follow.
struct Step {
    const char* what;
    qsizetype chunk = 0;
    bool ready = false;
    bool connect = false;
    bool passedThrough = false;
    QList<qsizetype> drained {};
    qsizetype recorded = 0;
    bool overflowed = false;
    bool canCommit = false;
};

class VoiceTurnBufferEdges : public ::testing::TestWithParam<std::vector<Step>> {};

TEST_P(VoiceTurnBufferEdges, FollowsTheTurn)
{
    VoiceTurnBuffer buffer;
    buffer.begin();
    int serial = 0;
    for (const Step& step : GetParam()) {
        SCOPED_TRACE(step.what);
        if (step.connect) {
            QList<qsizetype> sizes;
            for (const QByteArray& chunk : buffer.connected())
                sizes.append(chunk.size());
            EXPECT_EQ(sizes, step.drained);
        } else {
            // Distinct fillers show that the drained chunks keep their arrival order.
            const QByteArray chunk = bytes(step.chunk, static_cast<char>('a' + serial++ % 26));
            const std::optional<QByteArray> out = buffer.append(chunk, step.ready);
            EXPECT_EQ(out.has_value(), step.passedThrough);
            if (out) {
                EXPECT_EQ(*out, chunk);
            }
        }
        EXPECT_EQ(buffer.recordedBytes(), step.recorded);
        EXPECT_EQ(buffer.overflowed(), step.overflowed);
        EXPECT_EQ(buffer.canCommit(), step.canCommit);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Edges, VoiceTurnBufferEdges,
    ::testing::Values(
        std::vector<Step> {
            { .what = "4,799 bytes are not enough", .chunk = 4799, .ready = true, .passedThrough = true, .recorded = 4799 },
            { .what = "one more byte commits", .chunk = 1, .ready = true, .passedThrough = true, .recorded = 4800, .canCommit = true },
        },
        std::vector<Step> {
            { .what = "queued first", .chunk = 100, .recorded = 100 },
            { .what = "ready chunk passes the queue", .chunk = 200, .ready = true, .passedThrough = true, .recorded = 300 },
            { .what = "empty chunk queued", .chunk = 0, .recorded = 300 },
            { .what = "backlog in order", .connect = true, .drained = { 100, 0 }, .recorded = 300 },
            { .what = "second drain is empty", .connect = true, .drained = {}, .recorded = 300 },
        },
        std::vector<Step> {
            { .what = "exactly the cap", .chunk = 480000, .recorded = 480000, .canCommit = true },
            { .what = "still the cap", .chunk = 480000, .recorded = 960000, .canCommit = true },
            { .what = "cap reached in order", .connect = true, .drained = { 480000, 480000 }, .recorded = 960000, .canCommit = true },
            { .what = "drain restarts the count", .chunk = 960000, .recorded = 1920000, .canCommit = true },
        },
        std::vector<Step> {
            { .what = "at the cap", .chunk = 960000, .recorded = 960000, .canCommit = true },
            { .what = "passed through while queued", .chunk = 10, .ready = true, .passedThrough = true, .recorded = 960010, .canCommit = true },
            { .what = "one byte over counts and overflows", .chunk = 1, .recorded = 960011, .overflowed = true },
            { .what = "refused after overflow", .chunk = 5000, .ready = true, .recorded = 960011, .overflowed = true },
            { .what = "nothing to drain", .connect = true, .drained = {}, .recorded = 960011, .overflowed = true },
        },
        std::vector<Step> {
            { .what = "queued", .chunk = 10, .recorded = 10 },
            { .what = "an over-large chunk drops the queue too", .chunk = 960000, .recorded = 960010, .overflowed = true },
            { .what = "empty after overflow", .connect = true, .drained = {}, .recorded = 960010, .overflowed = true },
        },
        std::vector<Step> {
            { .what = "drain of an empty queue", .connect = true, .drained = {} },
        }));

TEST(VoiceTurnBuffer, BeginClearsTheOverflow)
{
    VoiceTurnBuffer buffer;
    buffer.append(bytes(960001), false);
    ASSERT_TRUE(buffer.overflowed());
    buffer.begin();
    EXPECT_FALSE(buffer.overflowed());
    EXPECT_EQ(buffer.recordedBytes(), 0);
    EXPECT_FALSE(buffer.append(bytes(10), false).has_value());
    EXPECT_EQ(buffer.connected().size(), 1);
}
