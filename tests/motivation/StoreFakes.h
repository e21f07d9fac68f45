#pragma once

#include <QFile>
#include <QPointer>
#include <QStringList>

#include <memory>
#include <vector>

#include "Tovrick/motivation/MotivationAudioPorts.h"
#include "Tovrick/motivation/Mp4Duration.h"

// Stand-ins for the account, the audio player, the speech and the random source. Each keeps its
// observations in a shared record that outlives the object the store owns.

struct FakeOwners : ClipOwnerFeed {
    struct State {
        std::optional<QString> validUserId;
        QPointer<QObject> context;
        std::function<void(const std::optional<QString>&)> receiver;
        std::optional<QString> delivered;
    };
    std::shared_ptr<State> state = std::make_shared<State>();

    void subscribe(QObject* context, std::function<void(const std::optional<QString>&)> receiver) override
    {
        state->context = context;
        state->receiver = std::move(receiver);
        state->receiver(state->delivered);
    }
    std::optional<QString> userId() const override { return state->validUserId; }
};

// What the account does on sign-in or sign-out: a new session value, delivered to subscribers.
inline void deliverSession(FakeOwners::State& state, std::optional<QString> userId, bool valid = true)
{
    state.delivered = userId;
    state.validUserId = valid ? userId : std::nullopt;
    if (state.context && state.receiver)
        state.receiver(userId);
}

struct FakePlayer : ClipPlayer {
    struct Record {
        QString path;
        bool played = false;
        bool stopped = false;
        bool fileExistedAtStop = false;
        std::function<void(bool)> finish; // the callback as it was when playback started
    };
    struct State {
        std::vector<std::shared_ptr<Record>> opened;
        bool starts = true;
        std::shared_ptr<Record> last() const { return opened.empty() ? nullptr : opened.back(); }
    };

    struct Playback : ClipPlayback {
        std::shared_ptr<Record> record;
        bool starts = true;
        bool play() override
        {
            record->played = true;
            record->finish = onFinished;
            return starts;
        }
        void stop() override
        {
            record->stopped = true;
            record->fileExistedAtStop = QFile::exists(record->path);
        }
    };

    std::shared_ptr<State> state = std::make_shared<State>();

    std::unique_ptr<ClipPlayback> open(const QString& path) override
    {
        mp4::audioDuration(path); // opening refuses what is not audio, as the real player does
        auto playback = std::make_unique<Playback>();
        playback->record = std::make_shared<Record>();
        playback->record->path = path;
        playback->starts = state->starts;
        state->opened.push_back(playback->record);
        return playback;
    }
};

struct FakeSpeech : SpeechVoice {
    struct State {
        bool speaking = false;
        QStringList spoken;
        QString language;
        double rate = 0;
        int stops = 0;
        SpeechVoice* voice = nullptr;
        // The utterance ends by itself.
        void finish()
        {
            speaking = false;
            if (auto finished = voice->onFinished)
                finished();
        }
    };
    std::shared_ptr<State> state = std::make_shared<State>();

    FakeSpeech() { state->voice = this; }
    ~FakeSpeech() override { state->voice = nullptr; }

    void speak(const QString& text, const QString& language, double rate) override
    {
        state->speaking = true;
        state->spoken.append(text);
        state->language = language;
        state->rate = rate;
    }
    void stopSpeaking() override
    {
        state->speaking = false;
        ++state->stops;
    }
    bool isSpeaking() const override { return state->speaking; }
};

struct FakeRandom {
    std::vector<qsizetype> counts;
    qsizetype next = 0;
};
