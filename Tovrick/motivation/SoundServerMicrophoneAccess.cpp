#include "Tovrick/motivation/SoundServerMicrophoneAccess.h"

#include <QAudioDevice>
#include <QAudioSource>
#include <QCoro/QCoroSignal>
#include <QMediaDevices>

#include <chrono>

#include "shared/util/Log.h"

namespace {

// A server that has accepted the stream delivers its first sound well within this.
constexpr std::chrono::milliseconds kAnswerLimit { 3000 };

} // namespace

SoundServerMicrophoneAccess& SoundServerMicrophoneAccess::shared()
{
    static SoundServerMicrophoneAccess access;
    return access;
}

QCoro::Task<bool> SoundServerMicrophoneAccess::request()
{
    const QAudioDevice device = QMediaDevices::defaultAudioInput();
    if (device.isNull()) {
        logline::info(QStringLiteral("motivation recording: the sound server has no input"));
        co_return false;
    }
    auto source = std::make_unique<QAudioSource>(device, device.preferredFormat());
    QIODevice* stream = source->start();
    if (!stream || source->error() != QAudio::NoError) {
        logline::info(QStringLiteral("motivation recording: the sound server refused the input"));
        co_return false;
    }
    auto arrival = qCoro(stream, &QIODevice::readyRead, kAnswerLimit);
    const auto arrived = co_await arrival;
    const bool granted = arrived.has_value() && source->error() == QAudio::NoError;
    source->stop();
    if (!granted)
        logline::info(QStringLiteral("motivation recording: no sound came from the input"));
    co_return granted;
}
