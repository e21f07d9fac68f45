#include "Tovrick/motivation/EspeakVoice.h"

#include <QCoreApplication>
#include <QtEndian>

#include <espeak-ng/speak_lib.h>

#include <cmath>
#include <vector>

#include "Tovrick/motivation/GstClipPlayer.h"
#include "shared/util/Log.h"

namespace {

// espeak-ng keeps one global engine; synthesis is synchronous, so one collecting buffer suffices.
std::vector<short>* collecting = nullptr;

int collect(short* samples, int count, espeak_EVENT*)
{
    if (collecting && samples && count > 0)
        collecting->insert(collecting->end(), samples, samples + count);
    return 0;
}

// The engine's sample rate; 0 when it cannot start (for instance without its data files).
int engineSampleRate()
{
    static const int rate = [] {
        const int sampleRate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
        if (sampleRate <= 0) {
            logline::warning(QStringLiteral("espeak-ng could not start"));
            return 0;
        }
        espeak_SetSynthCallback(collect);
        return sampleRate;
    }();
    return rate;
}

bool selectVoice(const QString& language)
{
    const QString lower = language.toLower();
    for (const QString& name : { lower.section(u'-', 0, 0), lower }) {
        if (!name.isEmpty() && espeak_SetVoiceByName(name.toUtf8().constData()) == EE_OK)
            return true;
    }
    return espeak_SetVoiceByName("en") == EE_OK;
}

template <typename T>
void append(QByteArray& bytes, T value)
{
    const T little = qToLittleEndian(value);
    bytes.append(reinterpret_cast<const char*>(&little), sizeof little);
}

QByteArray wav(const std::vector<short>& samples, int sampleRate)
{
    const auto dataBytes = static_cast<quint32>(samples.size() * sizeof(short));
    QByteArray bytes;
    bytes.reserve(44 + qsizetype(dataBytes));
    bytes.append("RIFF", 4);
    append<quint32>(bytes, 36 + dataBytes);
    bytes.append("WAVEfmt ", 8);
    append<quint32>(bytes, 16);
    append<quint16>(bytes, 1); // PCM
    append<quint16>(bytes, 1); // mono
    append<quint32>(bytes, quint32(sampleRate));
    append<quint32>(bytes, quint32(sampleRate) * 2);
    append<quint16>(bytes, 2);
    append<quint16>(bytes, 16);
    bytes.append("data", 4);
    append<quint32>(bytes, dataBytes);
    for (short sample : samples)
        append<qint16>(bytes, sample);
    return bytes;
}

} // namespace

EspeakVoice::EspeakVoice() = default;

EspeakVoice::~EspeakVoice()
{
    stopSpeaking();
}

QByteArray EspeakVoice::synthesizeWav(const QString& text, const QString& language, double rate)
{
    const int sampleRate = engineSampleRate();
    if (sampleRate <= 0 || !selectVoice(language))
        return {};
    // 0.5 is the normal pace: espeak-ng's 175 words a minute.
    const double scaled = std::isfinite(rate) ? rate / 0.5 * espeakRATE_NORMAL : espeakRATE_NORMAL;
    espeak_SetParameter(espeakRATE, std::clamp(int(std::lround(scaled)), espeakRATE_MINIMUM, espeakRATE_MAXIMUM), 0);

    std::vector<short> samples;
    collecting = &samples;
    const QByteArray utf8 = text.toUtf8();
    const espeak_ERROR result = espeak_Synth(utf8.constData(), size_t(utf8.size()) + 1, 0, POS_CHARACTER, 0,
                                             espeakCHARS_UTF8, nullptr, nullptr);
    collecting = nullptr;
    if (result != EE_OK || samples.empty())
        return {};
    return wav(samples, sampleRate);
}

void EspeakVoice::speak(const QString& text, const QString& language, double rate)
{
    stopSpeaking();
    const QByteArray sound = synthesizeWav(text, language, rate);
    if (sound.isEmpty()) {
        logline::warning(QStringLiteral("the motivation line could not be spoken"));
        if (auto finished = onFinished)
            finished();
        return;
    }
    m_playback = GstClipPlayback::fromWav(sound);
    m_playback->onFinished = [this](bool) {
        m_speaking = false;
        // Called from inside the playback: it is torn down after this report returns.
        std::shared_ptr<GstClipPlayback> done(std::move(m_playback));
        done->onFinished = nullptr;
        QMetaObject::invokeMethod(qApp, [done] { }, Qt::QueuedConnection);
        if (auto finished = onFinished)
            finished();
    };
    m_speaking = true;
    GstClipPlayback* started = m_playback.get();
    if (!started->play() && m_playback.get() == started) {
        m_playback.reset();
        m_speaking = false;
        if (auto finished = onFinished)
            finished();
    }
}

void EspeakVoice::stopSpeaking()
{
    m_speaking = false;
    if (m_playback) {
        m_playback->onFinished = nullptr;
        m_playback->stop();
        m_playback.reset();
    }
}
