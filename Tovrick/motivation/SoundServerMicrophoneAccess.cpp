#include "Tovrick/motivation/SoundServerMicrophoneAccess.h"

#include <QCoro/QCoroTimer>

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>

#include "Tovrick/motivation/GstClipRecorder.h"
#include "shared/util/Log.h"

namespace {

// A server that has accepted the stream delivers its first sound well within this.
constexpr std::chrono::milliseconds kAnswerLimit { 3000 };
constexpr std::chrono::milliseconds kPoll { 40 };

// The recordings' own source into nothing: what answers here is what a recording will hear. It goes
// with the request's frame, so a request dropped while it waits stops it too.
struct SourceCheck {
    GstElement* pipeline = nullptr;
    GstBus* bus = nullptr;
    // Set by the streaming thread at the first buffer.
    std::atomic<bool> heard { false };

    ~SourceCheck()
    {
        if (pipeline)
            gst_element_set_state(pipeline, GST_STATE_NULL);
        if (bus)
            gst_object_unref(bus);
        if (pipeline)
            gst_object_unref(pipeline);
    }

    static GstPadProbeReturn buffer(GstPad*, GstPadProbeInfo*, gpointer data)
    {
        static_cast<SourceCheck*>(data)->heard = true;
        return GST_PAD_PROBE_OK;
    }

    // Empty once the stream runs, else why it does not.
    QString start()
    {
        const QByteArray launch = (GstClipRecorder::sourceElement() + QStringLiteral(" ! fakesink name=sink sync=false")).toUtf8();
        GError* error = nullptr;
        pipeline = gst_parse_launch(launch.constData(), &error);
        if (error) {
            const QString reason = QString::fromUtf8(error->message);
            g_error_free(error);
            return reason;
        }
        GstElement* sink = gst_bin_get_by_name(reinterpret_cast<GstBin*>(pipeline), "sink");
        GstPad* pad = sink ? gst_element_get_static_pad(sink, "sink") : nullptr;
        if (pad) {
            gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &SourceCheck::buffer, this, nullptr);
            gst_object_unref(pad);
        }
        if (sink)
            gst_object_unref(sink);
        bus = gst_element_get_bus(pipeline);
        if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
            return failure().value_or(QStringLiteral("the stream did not start"));
        return {};
    }

    // The error the stream reported, if any.
    std::optional<QString> failure()
    {
        GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
        if (!message)
            return std::nullopt;
        GError* error = nullptr;
        gst_message_parse_error(message, &error, nullptr);
        const QString reason = QString::fromUtf8(error ? error->message : "unknown error");
        if (error)
            g_error_free(error);
        gst_message_unref(message);
        return reason;
    }
};

} // namespace

SoundServerMicrophoneAccess& SoundServerMicrophoneAccess::shared()
{
    static SoundServerMicrophoneAccess access;
    return access;
}

QCoro::Task<bool> SoundServerMicrophoneAccess::request()
{
    // Through GStreamer, as the recording itself: Qt Multimedia's sound-server connection on Qt 6.4
    // is torn down at exit without its lock and can abort the program when the server is busy then.
    auto check = std::make_unique<SourceCheck>();
    const QString refused = check->start();
    if (!refused.isEmpty()) {
        logline::info(QStringLiteral("motivation recording: the sound server refused the input: ") + refused);
        co_return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + kAnswerLimit;
    while (!check->heard && std::chrono::steady_clock::now() < deadline) {
        if (const std::optional<QString> failed = check->failure()) {
            logline::info(QStringLiteral("motivation recording: the sound server refused the input: ") + *failed);
            co_return false;
        }
        co_await QCoro::sleepFor(kPoll);
    }
    const bool granted = check->heard;
    if (!granted)
        logline::info(QStringLiteral("motivation recording: no sound came from the input"));
    co_return granted;
}
