#include "Tovrick/motivation/MotivationSoundsView.h"

#include "Tovrick/motivation/MotivationAudioStore.h"
#include "shared/account/TovrickAccount.h"

MotivationSoundsView::MotivationSoundsView(MotivationAudioStore& store, TovrickAccount& account, QObject* parent)
    : QObject(parent), m_store(store), m_account(account), m_userId(account.userId())
{
    for (auto changed : { &MotivationAudioStore::libraryChanged, &MotivationAudioStore::playingIDChanged,
                          &MotivationAudioStore::messageChanged })
        connect(&m_store, changed, this, &MotivationSoundsView::storeChanged);
    // The screen draws busy as it stands when it next redraws: an operation begun and ended within
    // one turn of the event loop (as each of the store's is) shows no progress line and takes no
    // switch's focus, and tells a screen reader nothing.
    connect(&m_store, &MotivationAudioStore::busyChanged, this, [this] {
        QMetaObject::invokeMethod(this, [this] {
            if (m_busyShown == m_store.busy())
                return;
            m_busyShown = m_store.busy();
            emit tilesChanged();
        }, Qt::QueuedConnection);
    });
    m_defaultModel.update(defaultTileMaps());
    m_ownModel.update(ownTileMaps());
    connect(&m_account, &TovrickAccount::sessionChanged, this, [this] {
        storeChanged();
        userMayHaveChanged();
    });
}

MotivationSoundsView::~MotivationSoundsView()
{
    delete m_sheet;
}

QVariantMap MotivationSoundsView::tile(const QString& id, const QString& title, bool own) const
{
    const bool playing = m_store.playingID() == id;
    return {
        { QStringLiteral("id"), id },
        { QStringLiteral("title"), title },
        { QStringLiteral("own"), own },
        { QStringLiteral("playing"), playing },
        { QStringLiteral("symbol"), playing ? QStringLiteral("stop.fill") : QStringLiteral("play.fill") },
        { QStringLiteral("playLabel"), playing ? QStringLiteral("Wiedergabe stoppen") : title + QStringLiteral(" anhören") },
        { QStringLiteral("deleteLabel"), title + QStringLiteral(" löschen") },
        { QStringLiteral("on"), m_store.enabled(id) },
    };
}

QVector<QVariantMap> MotivationSoundsView::defaultTileMaps() const
{
    QVector<QVariantMap> tiles;
    const QStringList& titles = MotivationAudioStore::defaultTitles();
    const QStringList ids = motivation::defaultIds();
    for (qsizetype n = 0; n < ids.size(); ++n)
        tiles.append(tile(ids[n], titles.value(n), false));
    return tiles;
}

QVector<QVariantMap> MotivationSoundsView::ownTileMaps() const
{
    QVector<QVariantMap> tiles;
    for (const MotivationClip& clip : m_store.library().clips)
        tiles.append(tile(clip.id, clip.title, true));
    return tiles;
}

static QVariantList asList(const QVector<QVariantMap>& tiles)
{
    QVariantList list;
    for (const QVariantMap& tile : tiles)
        list.append(tile);
    return list;
}

QVariantList MotivationSoundsView::defaultTiles() const
{
    return asList(defaultTileMaps());
}

QVariantList MotivationSoundsView::ownTiles() const
{
    return asList(ownTileMaps());
}

void MotivationSoundsView::storeChanged()
{
    m_defaultModel.update(defaultTileMaps());
    m_ownModel.update(ownTileMaps());
    emit tilesChanged();
}

bool MotivationSoundsView::limitReached() const
{
    return m_store.library().clips.size() >= 10;
}

bool MotivationSoundsView::ownSectionShown() const
{
    return !m_store.library().clips.isEmpty();
}

bool MotivationSoundsView::recordDisabled() const
{
    return m_store.library().clips.size() > 9 || m_store.busy() || !m_account.isSignedIn();
}

double MotivationSoundsView::recordOpacity() const
{
    return m_store.library().clips.size() < 10 ? 1.0 : 0.45;
}

bool MotivationSoundsView::recordDisabledShown() const
{
    return m_store.library().clips.size() > 9 || m_busyShown || !m_account.isSignedIn();
}

bool MotivationSoundsView::busy() const
{
    return m_store.busy();
}

QString MotivationSoundsView::message() const
{
    return m_store.message();
}

void MotivationSoundsView::togglePlay(const QString& id)
{
    if (m_store.playingID() == id)
        m_store.stop();
    else
        m_store.play(id);
}

void MotivationSoundsView::setSwitch(const QString& id, bool on)
{
    // The switch shows the tap until the store answers, then the store's answer: taken, or refused
    // (the file could not be written, or another change is under way) and back where it was.
    QMetaObject::invokeMethod(this, [this, id, on] {
        m_store.setEnabled(id, on);
        emit switchAnswered(id);
    }, Qt::QueuedConnection);
}

void MotivationSoundsView::askDelete(const QString& id)
{
    for (const MotivationClip& clip : m_store.library().clips) {
        if (clip.id == id) {
            m_deleting = clip;
            emit deletingChanged();
            return;
        }
    }
}

void MotivationSoundsView::confirmDelete()
{
    if (m_deleting) {
        const MotivationClip clip = *m_deleting;
        QMetaObject::invokeMethod(this, [this, clip] { m_store.remove(clip); }, Qt::QueuedConnection);
    }
    dismissDelete();
}

void MotivationSoundsView::dismissDelete()
{
    if (!m_deleting)
        return;
    m_deleting.reset();
    emit deletingChanged();
}

void MotivationSoundsView::openRecording()
{
    if (recordDisabled() || m_sheet)
        return;
    m_store.stop();
    m_sheet = new MotivationRecordingView(m_store, recordingPorts, this);
    connect(m_sheet, &MotivationRecordingView::dismissRequested, this, &MotivationSoundsView::closeRecording);
    emit recordingChanged();
    m_sheet->appear();
}

void MotivationSoundsView::closeRecording()
{
    if (!m_sheet || m_sheet->saving())
        return;
    endRecording();
}

void MotivationSoundsView::endRecording()
{
    if (!m_sheet)
        return;
    MotivationRecordingView* sheet = m_sheet;
    m_sheet = nullptr;
    sheet->disappear();
    emit recordingChanged();
    // It may be calling from inside one of its own actions.
    sheet->deleteLater();
}

void MotivationSoundsView::setShown(bool shown)
{
    if (shown == m_shown)
        return;
    m_shown = shown;
    if (!shown) {
        // What was open on the screen goes with it, a recording under way and its file included: the
        // next visit may be by someone else.
        endRecording();
        dismissDelete();
        m_store.stop();
        m_refreshedFor.reset();
        return;
    }
    m_refreshedFor = m_account.userId().value_or(QString());
    m_store.refresh();
}

void MotivationSoundsView::setWindowActive(bool active)
{
    if (active)
        return;
    m_store.stop();
    if (m_sheet)
        m_sheet->setSceneActive(false);
}

void MotivationSoundsView::userMayHaveChanged()
{
    // Nothing of one user's is left open for the next.
    const std::optional<QString> user = m_account.userId();
    if (user != m_userId) {
        m_userId = user;
        endRecording();
        dismissDelete();
    }
    if (!m_shown)
        return;
    const QString userId = m_account.userId().value_or(QString());
    if (m_refreshedFor == userId)
        return;
    m_refreshedFor = userId;
    m_store.refresh();
}
