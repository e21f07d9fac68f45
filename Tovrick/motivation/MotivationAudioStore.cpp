#include "Tovrick/motivation/MotivationAudioStore.h"

#include <QDir>
#include <QFile>

#include "Tovrick/motivation/Mp4Duration.h"
#include "shared/account/TovrickAccount.h"
#include "shared/util/AppPaths.h"

namespace {

const QString kSpeechLanguage = QStringLiteral("de-DE");
constexpr double kSpeechRate = 0.47;

// Clears `busy` however the operation ends.
class BusyScope {
public:
    explicit BusyScope(std::function<void(bool)> set) : m_set(std::move(set)) { m_set(true); }
    ~BusyScope() { m_set(false); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    std::function<void(bool)> m_set;
};

} // namespace

MotivationAudioStore::MotivationAudioStore(Ports ports, QObject* parent)
    : QObject(parent), m_ports(std::move(ports))
{
    Q_ASSERT(m_ports.owners && m_ports.player && m_ports.speech && m_ports.random);
    m_ports.speech->onFinished = [this] { speechFinished(); };

    // Each new session is taken up after the current call has finished, as long as the store lives.
    m_ports.owners->subscribe(this, [this](const std::optional<QString>& userId) {
        QMetaObject::invokeMethod(this, [this, userId] { setOwner(userId); }, Qt::QueuedConnection);
    });
    setOwner(m_ports.owners->userId());
}

MotivationAudioStore::~MotivationAudioStore()
{
    m_ports.speech->onFinished = nullptr;
    if (m_player) {
        m_player->onFinished = nullptr;
        m_player->stop();
    }
}

QString MotivationAudioStore::directoryFor(const std::optional<QString>& owner)
{
    const QString appFolder = AppPaths::appFolder();
    if (appFolder.isEmpty())
        return {};
    const QString hashed = TovrickAccount::nonceHash(owner.value_or(QStringLiteral("signed-out")));
    return QDir(appFolder).filePath(QStringLiteral("Motivation-") + hashed);
}

LocalMotivationLibrary MotivationAudioStore::currentLibrary() const
{
    return LocalMotivationLibrary(directoryFor(m_owner));
}

// MARK: - Owner and library

void MotivationAudioStore::setOwner(const std::optional<QString>& owner)
{
    if (owner == m_owner)
        return;
    stop();
    m_owner = owner;
    setMessage({});
    setLibrary({});
    try {
        setLibrary(currentLibrary().load());
    } catch (const std::exception& error) {
        setMessage(describeError(error));
    }
}

void MotivationAudioStore::refresh()
{
    setOwner(m_ports.owners->userId());
    if (m_busy)
        return;
    try {
        setLibrary(currentLibrary().load());
        setMessage({});
    } catch (const std::exception& error) {
        setMessage(describeError(error));
    }
}

bool MotivationAudioStore::enabled(const QString& id) const
{
    if (motivation::isDefaultId(id))
        return !m_library.disabledDefaults.contains(id);
    for (const MotivationClip& clip : m_library.clips) {
        if (clip.id == id)
            return clip.enabled;
    }
    return false;
}

void MotivationAudioStore::setEnabled(const QString& id, bool value)
{
    if (m_busy)
        return;
    BusyScope busy([this](bool on) { setBusy(on); });
    try {
        const LocalMotivationLibrary folder = currentLibrary();
        MotivationLibrary changed = folder.load();
        if (motivation::isDefaultId(id)) {
            changed.disabledDefaults.removeAll(id);
            if (!value)
                changed.disabledDefaults.append(id);
        } else {
            for (MotivationClip& clip : changed.clips) {
                if (clip.id == id) {
                    clip.enabled = value;
                    break;
                }
            }
        }
        folder.save(changed);
        setLibrary(std::move(changed));
        if (!value && m_playingID == id)
            stop();
        setMessage({});
    } catch (const std::exception& error) {
        setMessage(describeError(error));
    }
}

void MotivationAudioStore::save(const QString& path, double recorderDuration, const QUuid& clientId)
{
    if (m_busy)
        throw AudioError(AudioError::Kind::busy);
    BusyScope busy([this](bool on) { setBusy(on); });

    const double fileDuration = mp4::audioDuration(path);
    if (!(recorderDuration > 0) || !(fileDuration > 0) || fileDuration > motivation::maxDuration)
        throw AudioError(AudioError::Kind::invalid);

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw MotivationFileError::couldNot(QStringLiteral("opened"), path, file.errorString());
    // One byte over the bound is enough for the library to refuse a file that is too large.
    const QByteArray bytes = file.read(motivation::maxAudioBytes + 1);
    if (file.error() != QFileDevice::NoError)
        throw MotivationFileError::couldNot(QStringLiteral("read"), path, file.errorString());

    MotivationLibrary added = currentLibrary().add(bytes, clientId, motivation::newClipTitle(), fileDuration);
    setLibrary(std::move(added));
    setMessage({});
}

void MotivationAudioStore::remove(const MotivationClip& clip)
{
    if (m_busy)
        return;
    BusyScope busy([this](bool on) { setBusy(on); });
    if (m_playingID == clip.id)
        stop();
    try {
        setLibrary(currentLibrary().deleteClip(clip.id));
        setMessage({});
    } catch (const std::exception& error) {
        setMessage(describeError(error));
    }
}

void MotivationAudioStore::deleteRecordings(const QString& userId)
{
    stop();
    LocalMotivationLibrary(directoryFor(userId)).removeIfExists();
    if (m_owner && *m_owner == userId)
        setLibrary({});
}

// MARK: - Playback

void MotivationAudioStore::setRecordingActive(bool active)
{
    if (active == m_recordingActive)
        return;
    m_recordingActive = active;
    emit recordingActiveChanged();
}

void MotivationAudioStore::stop()
{
    ++m_playbackGeneration;
    m_playbackPending = false;
    m_ports.speech->stopSpeaking();
    if (m_player) {
        std::unique_ptr<ClipPlayback> player = std::move(m_player);
        player->onFinished = nullptr;
        player->stop();
    }
    setPlayingID(std::nullopt);
}

void MotivationAudioStore::play(const QString& id)
{
    if (m_recordingActive)
        return;
    stop();
    const std::optional<QString> notedOwner = m_owner;
    setPlayingID(id);
    m_playbackPending = true;
    const quint64 generation = m_playbackGeneration;
    QMetaObject::invokeMethod(
        this, [this, id, notedOwner, generation] { performPlayback(id, notedOwner, generation); },
        Qt::QueuedConnection);
}

void MotivationAudioStore::performPlayback(const QString& id, const std::optional<QString>& notedOwner,
                                           quint64 generation)
{
    // A stop before the sound starts cancels it, for speech as well as for files.
    if (generation != m_playbackGeneration || !m_playbackPending)
        return;
    m_playbackPending = false;

    if (motivation::isDefaultId(id)) {
        m_ports.speech->speak(placeholder(), kSpeechLanguage, kSpeechRate);
        return;
    }

    const std::optional<QString> path = currentLibrary().audioPath(id);
    if (!path) {
        playbackFailed(AudioError::text(AudioError::Kind::invalid), notedOwner, generation);
        return;
    }
    try {
        std::unique_ptr<ClipPlayback> player = m_ports.player->open(*path);
        const quint64 serial = ++m_playerSerial;
        player->onFinished = [this, serial](bool) { playerFinished(serial); };
        ClipPlayback* started = player.get();
        m_player = std::move(player);
        // A player may report its end from inside play(); then there is nothing left to fail.
        if (!started->play() && m_player.get() == started)
            playbackFailed(AudioError::text(AudioError::Kind::invalid), notedOwner, generation);
    } catch (const std::exception& error) {
        playbackFailed(describeError(error), notedOwner, generation);
    }
}

void MotivationAudioStore::playbackFailed(const QString& description, const std::optional<QString>& notedOwner,
                                          quint64 generation)
{
    if (generation != m_playbackGeneration || m_owner != notedOwner)
        return;
    setMessage(description);
    stop();
}

void MotivationAudioStore::playerFinished(quint64 serial)
{
    if (!m_player || serial != m_playerSerial)
        return;
    // This runs inside the player's own report: let it return before the player goes.
    std::shared_ptr<ClipPlayback> finished(std::move(m_player));
    finished->onFinished = nullptr;
    QMetaObject::invokeMethod(this, [finished] { }, Qt::QueuedConnection);
    setPlayingID(std::nullopt);
}

void MotivationAudioStore::speechFinished()
{
    if (!m_ports.speech->isSpeaking())
        setPlayingID(std::nullopt);
}

void MotivationAudioStore::nudge()
{
    setOwner(m_ports.owners->userId());
    if (!m_owner || m_playingID || m_recordingActive)
        return;
    QStringList candidates;
    for (const QString& id : motivation::defaultIds()) {
        if (enabled(id))
            candidates.append(id);
    }
    for (const MotivationClip& clip : m_library.clips) {
        if (clip.enabled)
            candidates.append(clip.id);
    }
    if (candidates.isEmpty())
        return;
    const qsizetype picked = m_ports.random(candidates.size());
    play(candidates.at(std::clamp<qsizetype>(picked, 0, candidates.size() - 1)));
}

// MARK: - Published values

void MotivationAudioStore::setLibrary(MotivationLibrary library)
{
    if (library == m_library)
        return;
    m_library = std::move(library);
    emit libraryChanged();
}

void MotivationAudioStore::setBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    emit busyChanged();
}

void MotivationAudioStore::setPlayingID(std::optional<QString> id)
{
    if (id == m_playingID)
        return;
    m_playingID = std::move(id);
    emit playingIDChanged();
}

void MotivationAudioStore::setMessage(QString message)
{
    if (message == m_message)
        return;
    m_message = std::move(message);
    emit messageChanged();
}
