#include "Tovrick/motivation/GstClipPlayer.h"

#include <gst/gst.h>

#include "Tovrick/motivation/Mp4Duration.h"
#include "shared/util/Log.h"

namespace {

constexpr int kPollMilliseconds = 40;

void ensureInitialised()
{
    if (!gst_is_initialized())
        gst_init(nullptr, nullptr);
}

// The sound server's own sink where it is installed, as the recordings take the server's source.
QString sinkElement()
{
    GstElementFactory* factory = gst_element_factory_find("pulsesink");
    if (!factory)
        return QStringLiteral("autoaudiosink");
    gst_object_unref(factory);
    return QStringLiteral("pulsesink");
}

// The pipeline from `source`, or none with the reason.
GstElement* build(const QString& source, QString& failure)
{
    ensureInitialised();
    const QByteArray launch = (source + QStringLiteral(" ! audioconvert ! audioresample ! ") + sinkElement()).toUtf8();
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(launch.constData(), &error);
    if (error) {
        failure = QString::fromUtf8(error->message);
        g_error_free(error);
        if (pipeline)
            gst_object_unref(pipeline);
        return nullptr;
    }
    return pipeline;
}

QString errorText(GstMessage* message)
{
    GError* error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    const QString text = QString::fromUtf8(error ? error->message : "unknown error");
    if (error)
        g_error_free(error);
    return text;
}

GstElement* named(GstElement* pipeline, const char* name)
{
    return pipeline ? gst_bin_get_by_name(reinterpret_cast<GstBin*>(pipeline), name) : nullptr;
}

} // namespace

std::unique_ptr<GstClipPlayback> GstClipPlayback::fromFile(const QString& path)
{
    QString failure;
    GstElement* pipeline = build(QStringLiteral("filesrc name=file ! decodebin"), failure);
    if (GstElement* file = named(pipeline, "file")) {
        const QByteArray location = path.toLocal8Bit();
        g_object_set(file, "location", location.constData(), nullptr);
        gst_object_unref(file);
    }
    return std::unique_ptr<GstClipPlayback>(new GstClipPlayback(pipeline, failure));
}

std::unique_ptr<GstClipPlayback> GstClipPlayback::fromWav(const QByteArray& wav)
{
    QString failure;
    GstElement* pipeline = build(QStringLiteral("appsrc name=bytes ! wavparse"), failure);
    auto playback = std::unique_ptr<GstClipPlayback>(new GstClipPlayback(pipeline, failure));
    playback->m_wav = wav;
    return playback;
}

GstClipPlayback::GstClipPlayback(GstElement* pipeline, const QString& failure)
    : m_pipeline(pipeline)
    , m_failure(failure)
{
    if (m_pipeline)
        m_bus = gst_element_get_bus(m_pipeline);
    else if (m_failure.isEmpty())
        m_failure = QStringLiteral("the pipeline could not be built");
    m_poll.setInterval(kPollMilliseconds);
    QObject::connect(&m_poll, &QTimer::timeout, &m_poll, [this] { poll(); });
}

GstClipPlayback::~GstClipPlayback()
{
    release();
    if (m_bus)
        gst_object_unref(m_bus);
    if (m_pipeline)
        gst_object_unref(m_pipeline);
}

bool GstClipPlayback::play()
{
    if (m_reported)
        return false;
    if (!m_pipeline) {
        logline::warning(QStringLiteral("motivation clip playback failed: ") + m_failure);
        return false;
    }
    if (gst_element_set_state(m_pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        // A sound server that refuses the stream breaks the sound off, as a file that fails to
        // decode does: neither is for the user to mend by recording again.
        const QString reason = busError().value_or(QStringLiteral("the sound did not start"));
        logline::warning(QStringLiteral("motivation clip playback failed: ") + reason);
        release();
        QTimer::singleShot(0, &m_poll, [this] { report(false); });
        return true;
    }
    // The source has started with the state change: the whole sound is queued at once, and handed
    // on as the pipeline asks.
    if (!m_wav.isEmpty()) {
        if (GstElement* source = named(m_pipeline, "bytes")) {
            GstBuffer* buffer = gst_buffer_new_memdup(m_wav.constData(), gsize(m_wav.size()));
            GstFlowReturn pushed = GST_FLOW_OK;
            g_signal_emit_by_name(source, "push-buffer", buffer, &pushed);
            gst_buffer_unref(buffer);
            g_signal_emit_by_name(source, "end-of-stream", &pushed);
            gst_object_unref(source);
        }
        m_wav.clear();
    }
    m_poll.start();
    return true;
}

void GstClipPlayback::stop()
{
    m_reported = true;
    release();
}

void GstClipPlayback::release()
{
    m_poll.stop();
    // The null state closes the sink's sound-server connection before this returns.
    if (m_pipeline)
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
}

std::optional<QString> GstClipPlayback::busError()
{
    GstMessage* message = gst_bus_pop_filtered(m_bus, GST_MESSAGE_ERROR);
    if (!message)
        return std::nullopt;
    const QString text = errorText(message);
    gst_message_unref(message);
    return text;
}

void GstClipPlayback::poll()
{
    // Read here, on the main thread: the first end or error finishes the sound.
    GstMessage* message = gst_bus_pop_filtered(m_bus, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    if (!message)
        return;
    const bool ended = message->type == GST_MESSAGE_EOS;
    if (!ended)
        logline::warning(QStringLiteral("motivation clip playback failed: ") + errorText(message));
    gst_message_unref(message);
    release();
    report(ended);
}

void GstClipPlayback::report(bool successfully)
{
    if (m_reported)
        return;
    m_reported = true;
    // The receiver may destroy this playback: nothing of it is touched after the call.
    if (auto finished = onFinished)
        finished(successfully);
}

std::unique_ptr<ClipPlayback> GstClipPlayer::open(const QString& path)
{
    // Refuses a missing file or one without a sound track now, as opening an audio file would.
    mp4::audioDuration(path);
    return GstClipPlayback::fromFile(path);
}
