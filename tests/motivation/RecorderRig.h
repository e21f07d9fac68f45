#pragma once

#include <QCoro/QCoroSignal>
#include <QCoreApplication>
#include <QFile>

#include <memory>
#include <optional>

#include "Mp4Fixtures.h"
#include "Tovrick/motivation/AccountClipOwners.h"
#include "Tovrick/motivation/MotivationAudioStore.h"
#include "Tovrick/motivation/MotivationRecorderPorts.h"
#include "shared/account/DeviceVaults.h"
#include "shared/account/TovrickAccount.h"

// Holds the microphone's question open until the test answers it.
class MicrophoneGate : public QObject {
    Q_OBJECT
signals:
    void answered();
};

// A recorder and microphone whose time, answers and ends the test decides, and a store over a real
// account with silent playback.
struct RecorderRig : ClipRecorder, MicrophoneAccess {
    struct Recording : ClipRecording {
        explicit Recording(RecorderRig& owner) : rig(owner) { rig.current = this; }
        ~Recording() override
        {
            rig.current = nullptr;
            ++rig.destroyed;
        }
        double currentTime() const override { return rig.time; }
        void stop() override { ++rig.stops; }
        RecorderRig& rig;
    };

    struct SilentPlayer : ClipPlayer {
        std::unique_ptr<ClipPlayback> open(const QString&) override
        {
            throw MotivationFileError(QStringLiteral("no playback in this test"));
        }
    };
    struct SilentVoice : SpeechVoice {
        void speak(const QString&, const QString&, double) override { speaking = true; }
        void stopSpeaking() override { speaking = false; }
        bool isSpeaking() const override { return speaking; }
        bool speaking = false;
    };

    // The microphone's answer; none keeps the question open until answer() is called.
    std::optional<bool> granted = true;
    MicrophoneGate gate;
    bool refuseToStart = false;
    std::optional<QString> setupError;
    double time = 0;
    Recording* current = nullptr;
    int stops = 0;
    int destroyed = 0;
    QString path;
    double seconds = 0;
    int asked = 0;

    QCoro::Task<bool> request() override
    {
        ++asked;
        if (!granted) {
            auto answered = qCoro(&gate, &MicrophoneGate::answered);
            co_await answered;
        }
        co_return granted.value_or(false);
    }
    void answer(bool value)
    {
        granted = value;
        emit gate.answered();
    }

    std::unique_ptr<ClipRecording> record(const QString& file, double limit) override
    {
        path = file;
        seconds = limit;
        if (setupError)
            throw UserFacingError(*setupError);
        if (refuseToStart)
            return nullptr;
        fixtures::writeFile(file, QByteArray("partial"));
        return std::make_unique<Recording>(*this);
    }

    // The platform's end: the file now complete with `fileSeconds` of sound.
    void finish(bool successfully, double fileSeconds)
    {
        fixtures::writeFile(path, fixtures::mp4Lasting(fileSeconds));
        if (current && current->onFinished)
            current->onFinished(successfully);
    }
    void encodeError()
    {
        if (current && current->onEncodeError)
            current->onEncodeError(QStringLiteral("encoder broke"));
    }

    MemoryDeviceVault vault;
    TovrickAccount account { vault };
    SilentVoice* voice = nullptr;
    std::unique_ptr<MotivationAudioStore> store = makeStore();

    std::unique_ptr<MotivationAudioStore> makeStore()
    {
        auto speech = std::make_unique<SilentVoice>();
        voice = speech.get();
        return std::make_unique<MotivationAudioStore>(MotivationAudioStore::Ports {
            std::make_unique<AccountClipOwners>(account), std::make_unique<SilentPlayer>(), std::move(speech),
            [](qsizetype) { return qsizetype(0); } });
    }
};

// Runs what is queued on the main thread.
inline void drainEvents()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}
