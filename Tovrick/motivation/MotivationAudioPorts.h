#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// The store's ways into the world, each small enough for a test to replace.

// One opened own clip.
class ClipPlayback {
public:
    virtual ~ClipPlayback() = default;
    // Starts playing; false when the clip cannot be played at all. An output that refuses the sound
    // is reported through onFinished, as a sound that broke off.
    virtual bool play() = 0;
    virtual void stop() = 0;

    // Reported once on the main thread when playback ends: true at the end of the audio, false when
    // it broke off. Never reported after stop() or destruction.
    std::function<void(bool successfully)> onFinished;
};

// Opens own clips.
class ClipPlayer {
public:
    virtual ~ClipPlayer() = default;
    // Throws MotivationFileError (a user-facing sentence) when the file cannot be opened as audio.
    virtual std::unique_ptr<ClipPlayback> open(const QString& path) = 0;
};

// Speaks the default clips' sentence.
class SpeechVoice {
public:
    virtual ~SpeechVoice() = default;
    // `language` like "de-DE" (the default voice when there is none for it); `rate` on a scale
    // where 0.5 is the normal pace. Replaces anything still being spoken.
    virtual void speak(const QString& text, const QString& language, double rate) = 0;
    // Silences at once; onFinished is not reported for what was cut off.
    virtual void stopSpeaking() = 0;
    virtual bool isSpeaking() const = 0;

    // Reported on the main thread when an utterance has ended by itself, or could not be spoken.
    std::function<void()> onFinished;
};

// Who is signed in, as far as the clips care: the account's user id.
class ClipOwnerFeed {
public:
    virtual ~ClipOwnerFeed() = default;
    // Calls `receiver` with the user id of the current session at once, then with that of every new
    // session (none when signed out), for as long as `context` lives. Expiry is not looked at.
    virtual void subscribe(QObject* context, std::function<void(const std::optional<QString>&)> receiver) = 0;
    // The user id while a valid session is held; none otherwise.
    virtual std::optional<QString> userId() const = 0;
};

// Picks an index in [0, count) uniformly; count is at least 1.
using RandomIndex = std::function<qsizetype(qsizetype count)>;
