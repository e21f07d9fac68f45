#include "Tovrick/motivation/MotivationRecorder.h"

#include <QDir>
#include <QFile>
#include <QPointer>

#include <algorithm>

#include "Tovrick/motivation/GstClipRecorder.h"
#include "Tovrick/motivation/MotivationAudioStore.h"
#include "Tovrick/motivation/Mp4Duration.h"
#include "Tovrick/motivation/SoundServerMicrophoneAccess.h"
#include "shared/util/AppPaths.h"

namespace {

const QString kTooShort = QStringLiteral("Die Aufnahme war zu kurz. Bitte versuche es erneut.");
const QString kInterrupted = QStringLiteral("Die Aufnahme wurde unterbrochen. Bitte versuche es erneut.");
const QString kFailed = QStringLiteral("Die Aufnahme ist fehlgeschlagen.");

} // namespace

MotivationRecorder::MotivationRecorder(MotivationAudioStore& store, ClipRecorder* recorder, MicrophoneAccess* access,
                                       QObject* parent)
    : QObject(parent),
      m_store(store),
      m_recorder(recorder ? *recorder : GstClipRecorder::shared()),
      m_access(access ? *access : SoundServerMicrophoneAccess::shared())
{
    m_timer.setInterval(kTickMilliseconds);
    connect(&m_timer, &QTimer::timeout, this, &MotivationRecorder::tick);
}

MotivationRecorder::~MotivationRecorder()
{
    // Whoever drops a recorder without cancelling it leaves neither a file nor a silenced store.
    if (!m_cancelled)
        cancel();
}

QCoro::Task<> MotivationRecorder::start()
{
    if (m_phase != Phase::preparing || m_url || m_cancelled)
        co_return;
    m_store.stop();
    m_store.setRecordingActive(true);

    QPointer<MotivationRecorder> self(this);
    MicrophoneAccess& access = m_access;
    QCoro::Task<bool> asking = access.request();
    const bool granted = co_await std::move(asking);
    if (!self || m_cancelled)
        co_return;

    if (!granted) {
        m_store.setRecordingActive(false);
        m_needsMicrophoneSettings = true;
        emit needsMicrophoneSettingsChanged();
        setMessage(MotivationAudioError::text(MotivationAudioError::Kind::permission));
        setPhase(Phase::failed);
        co_return;
    }

    const QString name = QStringLiteral("motivation-%1.m4a").arg(m_clientId.toString(QUuid::WithoutBraces).toUpper());
    // The user's voice is for the user alone: a folder of their own and a file only they can read.
    const QString folder = AppPaths::privateTemporary();
    try {
        if (folder.isEmpty())
            throw MotivationFileError(QStringLiteral("Der Ordner „Tovrick“ für Aufnahmen konnte nicht angelegt werden."));
        m_url = QDir(folder).filePath(name);
        QFile file(*m_url);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            throw MotivationFileError::couldNot(QStringLiteral("created"), *m_url, file.errorString());
        file.close();
        m_recording = m_recorder.record(*m_url, kLongest);
        if (!m_recording)
            throw MotivationAudioError(MotivationAudioError::Kind::invalid);
    } catch (const std::exception& error) {
        m_recording.reset();
        setMessage(describeError(error));
        setPhase(Phase::failed);
        cancel();
        co_return;
    }
    // The recording may report from inside its own calls: every report is taken up afterwards.
    m_recording->onFinished = [this](bool successfully) {
        QMetaObject::invokeMethod(this, [this, successfully] { recordingFinished(successfully); }, Qt::QueuedConnection);
    };
    m_recording->onEncodeError = [this](const QString&) {
        QMetaObject::invokeMethod(this, [this] { encodeFailed(); }, Qt::QueuedConnection);
    };
    setPhase(Phase::recording);
    m_timer.start();
}

void MotivationRecorder::tick()
{
    if (m_phase != Phase::recording || m_finishing)
        return;
    setElapsed(std::min(kLongest, m_recording ? m_recording->currentTime() : m_elapsed));
}

void MotivationRecorder::stop()
{
    if (m_phase != Phase::recording || m_finishing)
        return;
    m_duration = std::min(kLongest, m_recording ? m_recording->currentTime() : m_elapsed);
    m_timer.stop();
    setElapsed(m_duration);
    if (m_duration > kShortest) {
        // The file is not complete until the recording says so; only then can it be saved.
        m_finishing = true;
        if (m_recording)
            m_recording->stop();
        else
            setPhase(Phase::stopped);
    } else {
        if (m_recording)
            m_recording->stop();
        setMessage(kTooShort);
        setPhase(Phase::failed);
    }
    releaseStore();
}

void MotivationRecorder::recordingFinished(bool successfully)
{
    if (m_cancelled || m_phase != Phase::recording)
        return;
    if (m_finishing) {
        m_finishing = false;
        if (!successfully)
            setMessage(kFailed);
        setPhase(successfully ? Phase::stopped : Phase::failed);
        return;
    }
    m_timer.stop();
    // The time recorded up to the end, not as the last progress tick saw it: a recording that ran to
    // its limit counts all of it.
    if (m_recording)
        setElapsed(std::min(kLongest, m_recording->currentTime()));
    double measured = 0;
    try {
        measured = m_url ? mp4::audioDuration(*m_url) : 0;
    } catch (const std::exception&) {
        measured = 0;
    }
    m_duration = std::min(kLongest, std::max(m_elapsed, measured));
    setElapsed(m_duration);
    const bool kept = successfully && m_duration > kShortest;
    if (!kept)
        setMessage(kInterrupted);
    setPhase(kept ? Phase::stopped : Phase::failed);
    releaseStore();
}

void MotivationRecorder::encodeFailed()
{
    if (m_cancelled)
        return;
    stop();
    m_finishing = false;
    setMessage(kFailed);
    setPhase(Phase::failed);
}

void MotivationRecorder::cancel()
{
    m_cancelled = true;
    m_finishing = false;
    m_timer.stop();
    // Closes the file before it goes.
    m_recording.reset();
    releaseStore();
    if (m_url)
        QFile::remove(*m_url);
}

void MotivationRecorder::releaseStore()
{
    m_store.setRecordingActive(false);
}

void MotivationRecorder::setPhase(Phase phase)
{
    if (phase == m_phase)
        return;
    m_phase = phase;
    emit phaseChanged();
}

void MotivationRecorder::setElapsed(double elapsed)
{
    if (elapsed == m_elapsed)
        return;
    m_elapsed = elapsed;
    emit elapsedChanged();
}

void MotivationRecorder::setMessage(const QString& message)
{
    if (message == m_message)
        return;
    m_message = message;
    emit messageChanged();
}
