#include "Tovrick/motivation/GstClipRecorder.h"

#include <QTimer>

#include <gst/gst.h>

#include <algorithm>
#include <atomic>
#include <cmath>

#include "shared/util/Log.h"
#include "shared/util/UserFacingError.h"

namespace {

constexpr int kPollMilliseconds = 40;
// The raw audio handed to the encoder; the pipeline converts whatever the source gives into it.
constexpr int kRate = 24000;
constexpr int kBytesPerFrame = 2; // 16-bit samples, one channel
// How long the muxer may take to finish the file after the end of the stream was sent.
constexpr int kFinishLimitMilliseconds = 5000;

void ensureInitialised()
{
    if (!gst_is_initialized())
        gst_init(nullptr, nullptr);
}

bool hasElement(const char* name)
{
    GstElementFactory* factory = gst_element_factory_find(name);
    if (!factory)
        return false;
    gst_object_unref(factory);
    return true;
}

// Lets exactly the allowed number of sample frames through to the encoder and drops the rest, with
// timestamps counted from the samples themselves. The file's length then follows from the samples
// alone, whatever the source's clock, the buffers in flight or the lag of the main thread: a recording
// that runs to its end is never longer than the limit (plus the encoder's last partial frame).
// Runs on the streaming thread.
struct SampleLimit {
    std::atomic<qint64> frames {0};
    qint64 limit = 0;
    std::atomic<bool> reached {false};

    static GstPadProbeReturn probe(GstPad*, GstPadProbeInfo* info, gpointer data)
    {
        auto* self = static_cast<SampleLimit*>(data);
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        const qint64 before = self->frames.load();
        if (!buffer || before >= self->limit) {
            self->reached = true;
            return GST_PAD_PROBE_DROP;
        }
        const qint64 offered = qint64(gst_buffer_get_size(buffer)) / kBytesPerFrame;
        const qint64 taken = std::min(offered, self->limit - before);
        buffer = gst_buffer_make_writable(buffer);
        if (taken < offered)
            gst_buffer_resize(buffer, 0, gssize(taken * kBytesPerFrame));
        GST_BUFFER_PTS(buffer) = gst_util_uint64_scale_int(guint64(before), GST_SECOND, kRate);
        GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale_int(guint64(taken), GST_SECOND, kRate);
        GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
        GST_BUFFER_FLAG_UNSET(buffer, GST_BUFFER_FLAG_DISCONT);
        GST_PAD_PROBE_INFO_DATA(info) = buffer;
        self->frames = before + taken;
        if (before + taken >= self->limit)
            self->reached = true;
        return GST_PAD_PROBE_OK;
    }
};

class GstClipRecording : public ClipRecording {
public:
    GstClipRecording(GstElement* pipeline, double seconds) : m_pipeline(pipeline)
    {
        m_limit.limit = qint64(std::llround(seconds * kRate));
        GstElement* raw = gst_bin_get_by_name(reinterpret_cast<GstBin*>(m_pipeline), "raw");
        if (raw) {
            GstPad* pad = gst_element_get_static_pad(raw, "src");
            if (pad) {
                gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &SampleLimit::probe, &m_limit, nullptr);
                gst_object_unref(pad);
            }
            gst_object_unref(raw);
        }
        m_bus = gst_element_get_bus(m_pipeline);
        m_poll.setInterval(kPollMilliseconds);
        QObject::connect(&m_poll, &QTimer::timeout, &m_poll, [this] { poll(); });
        m_finishLimit.setSingleShot(true);
        m_finishLimit.setInterval(kFinishLimitMilliseconds);
        QObject::connect(&m_finishLimit, &QTimer::timeout, &m_finishLimit, [this] {
            logline::warning(QStringLiteral("motivation recording: the file was not finished in time"));
            finish(false);
        });
    }

    ~GstClipRecording() override
    {
        m_poll.stop();
        m_finishLimit.stop();
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        gst_object_unref(m_bus);
        gst_object_unref(m_pipeline);
    }

    bool begin()
    {
        if (gst_element_set_state(m_pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            gst_element_set_state(m_pipeline, GST_STATE_NULL);
            return false;
        }
        m_poll.start();
        return true;
    }

    double currentTime() const override
    {
        return double(m_limit.frames.load()) / kRate;
    }

    void stop() override
    {
        if (m_stopping || m_done)
            return;
        m_stopping = true;
        // The end of the stream lets the muxer write its index; the file is complete at its arrival.
        gst_element_send_event(m_pipeline, gst_event_new_eos());
        m_finishLimit.start();
    }

private:
    void poll()
    {
        // Messages are handled here, on the main thread, one batch per tick.
        while (!m_done) {
            GstMessage* message = gst_bus_pop_filtered(m_bus, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
            if (!message)
                break;
            const bool error = message->type == GST_MESSAGE_ERROR;
            QString reason;
            if (error) {
                GError* gerror = nullptr;
                gst_message_parse_error(message, &gerror, nullptr);
                reason = QString::fromUtf8(gerror ? gerror->message : "unknown error");
                if (gerror)
                    g_error_free(gerror);
            }
            gst_message_unref(message);
            if (!error) {
                finish(true);
            } else if (m_stopping) {
                logline::warning(QStringLiteral("motivation recording failed while finishing: ") + reason);
                finish(false);
            } else {
                logline::warning(QStringLiteral("motivation recording failed: ") + reason);
                gst_element_set_state(m_pipeline, GST_STATE_NULL);
                m_done = true;
                m_poll.stop();
                if (auto report = onEncodeError)
                    report(reason);
            }
            return;
        }
        if (!m_stopping && !m_done && m_limit.reached)
            stop();
    }

    void finish(bool successfully)
    {
        if (m_done)
            return;
        m_done = true;
        m_poll.stop();
        m_finishLimit.stop();
        // Closes the file before anyone reads it.
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        if (auto report = onFinished)
            report(successfully);
    }

    GstElement* m_pipeline;
    GstBus* m_bus = nullptr;
    SampleLimit m_limit;
    bool m_stopping = false;
    bool m_done = false;
    QTimer m_poll;
    QTimer m_finishLimit;
};

} // namespace

GstClipRecorder& GstClipRecorder::shared()
{
    static GstClipRecorder recorder;
    return recorder;
}

QString GstClipRecorder::sourceElement()
{
    ensureInitialised();
    return hasElement("pulsesrc") ? QStringLiteral("pulsesrc") : QStringLiteral("autoaudiosrc");
}

QString GstClipRecorder::pipelineDescription()
{
    ensureInitialised();
    QString encoder;
    if (hasElement("voaacenc"))
        encoder = QStringLiteral("voaacenc bitrate=48000");
    else if (hasElement("avenc_aac"))
        encoder = QStringLiteral("avenc_aac bitrate=48000");
    else
        return {};
    return sourceElement()
        + QStringLiteral(" ! audioconvert ! audioresample"
                         " ! capsfilter name=raw caps=audio/x-raw,format=S16LE,layout=interleaved,rate=%1,channels=1"
                         " ! audioconvert ! ")
              .arg(kRate)
        + encoder + QStringLiteral(" ! mp4mux");
}

std::unique_ptr<ClipRecording> GstClipRecorder::record(const QString& path, double seconds)
{
    const QString description = pipelineDescription();
    if (description.isEmpty())
        throw UserFacingError(QStringLiteral("No AAC audio encoder is installed."));
    GError* error = nullptr;
    const QByteArray launch = (description + QStringLiteral(" ! filesink name=file")).toUtf8();
    GstElement* pipeline = gst_parse_launch(launch.constData(), &error);
    if (error) {
        const QString reason = QString::fromUtf8(error->message);
        g_error_free(error);
        if (pipeline)
            gst_object_unref(pipeline);
        throw UserFacingError(reason);
    }
    GstElement* sink = gst_bin_get_by_name(reinterpret_cast<GstBin*>(pipeline), "file");
    const QByteArray location = path.toLocal8Bit();
    g_object_set(sink, "location", location.constData(), nullptr);
    gst_object_unref(sink);

    auto recording = std::make_unique<GstClipRecording>(pipeline, seconds);
    if (!recording->begin())
        return nullptr;
    return recording;
}
