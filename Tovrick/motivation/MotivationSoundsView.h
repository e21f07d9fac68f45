#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantList>

#include <optional>

#include "Tovrick/motivation/ClipTileModel.h"
#include "Tovrick/motivation/MotivationLibrary.h"
#include "Tovrick/motivation/MotivationRecordingView.h"

class MotivationAudioStore;
class TovrickAccount;

// The rules of the Sounds screen: which tiles, banner and lines show, what each control shows and
// calls. Everything comes from the clip store and the account; QML lays it out.
class MotivationSoundsView : public QObject {
    Q_OBJECT
    // Each tile's roles: id, title, own, playing, symbol, playLabel, deleteLabel, on.
    Q_PROPERTY(QObject* defaultModel READ defaultModel CONSTANT)
    Q_PROPERTY(QObject* ownModel READ ownModel CONSTANT)
    Q_PROPERTY(bool limitReached READ limitReached NOTIFY tilesChanged)
    Q_PROPERTY(bool ownSectionShown READ ownSectionShown NOTIFY tilesChanged)
    Q_PROPERTY(bool recordDisabled READ recordDisabledShown NOTIFY tilesChanged)
    Q_PROPERTY(double recordOpacity READ recordOpacity NOTIFY tilesChanged)
    Q_PROPERTY(bool switchesDisabled READ busyShown NOTIFY tilesChanged)
    Q_PROPERTY(bool savingShown READ busyShown NOTIFY tilesChanged)
    Q_PROPERTY(QString message READ message NOTIFY tilesChanged)
    Q_PROPERTY(bool deleteDialogShown READ deleteDialogShown NOTIFY deletingChanged)
    Q_PROPERTY(bool recording READ recording NOTIFY recordingChanged)
    Q_PROPERTY(MotivationRecordingView* sheet READ sheet NOTIFY recordingChanged)

public:
    static inline const QString kBanner = QStringLiteral(
        "10 von 10 Aufnahmen. Lösche eine alte Aufnahme, bevor du eine neue erstellst.");

    MotivationSoundsView(MotivationAudioStore& store, TovrickAccount& account, QObject* parent = nullptr);
    ~MotivationSoundsView() override;

    // How each recording sheet records and opens the sound settings.
    MotivationRecordingView::Ports recordingPorts;

    // Each tile as a map of its values.
    QVariantList defaultTiles() const;
    QVariantList ownTiles() const;
    QObject* defaultModel() { return &m_defaultModel; }
    QObject* ownModel() { return &m_ownModel; }
    bool limitReached() const;
    bool ownSectionShown() const;
    bool recordDisabled() const;
    double recordOpacity() const;
    bool busy() const;
    // As drawn: the store's busy state as it stood at the last turn of the event loop.
    bool busyShown() const { return m_busyShown; }
    bool recordDisabledShown() const;
    QString message() const;
    bool deleteDialogShown() const { return m_deleting.has_value(); }
    const std::optional<MotivationClip>& deleting() const { return m_deleting; }
    bool recording() const { return m_sheet != nullptr; }
    MotivationRecordingView* sheet() const { return m_sheet; }

    Q_INVOKABLE void togglePlay(const QString& id);
    Q_INVOKABLE void setSwitch(const QString& id, bool on);
    Q_INVOKABLE void askDelete(const QString& id);
    Q_INVOKABLE void confirmDelete();
    Q_INVOKABLE void dismissDelete();
    Q_INVOKABLE void openRecording();
    Q_INVOKABLE void closeRecording();

    // The screen came on screen or went away; the window became active or stopped being so.
    Q_INVOKABLE void setShown(bool shown);
    Q_INVOKABLE void setWindowActive(bool active);

signals:
    void tilesChanged();
    // The store has answered a switch's change, whether it took it or not.
    void switchAnswered(const QString& id);
    void deletingChanged();
    void recordingChanged();

private:
    QVariantMap tile(const QString& id, const QString& title, bool own) const;
    QVector<QVariantMap> defaultTileMaps() const;
    QVector<QVariantMap> ownTileMaps() const;
    void storeChanged();
    void userMayHaveChanged();
    // Closes the sheet whatever it is doing: its recording stops and its file goes.
    void endRecording();

    MotivationAudioStore& m_store;
    TovrickAccount& m_account;
    ClipTileModel m_defaultModel;
    ClipTileModel m_ownModel;
    std::optional<MotivationClip> m_deleting;
    QPointer<MotivationRecordingView> m_sheet;
    bool m_shown = false;
    bool m_busyShown = false;
    std::optional<QString> m_refreshedFor;
    std::optional<QString> m_userId;
};
