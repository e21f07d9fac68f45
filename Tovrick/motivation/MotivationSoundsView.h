#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantList>

#include <optional>

#include "Tovrick/motivation/MotivationLibrary.h"
#include "Tovrick/motivation/MotivationRecordingView.h"

class MotivationAudioStore;
class TovrickAccount;

// The rules of the Sounds screen: which tiles, banner and lines show, what each control shows and
// calls. Everything comes from the clip store and the account; QML lays it out.
class MotivationSoundsView : public QObject {
    Q_OBJECT
    // Each tile: id, title, own, playing, symbol, playLabel, deleteLabel, on.
    Q_PROPERTY(QVariantList defaultTiles READ defaultTiles NOTIFY tilesChanged)
    Q_PROPERTY(QVariantList ownTiles READ ownTiles NOTIFY tilesChanged)
    Q_PROPERTY(bool limitReached READ limitReached NOTIFY tilesChanged)
    Q_PROPERTY(bool ownSectionShown READ ownSectionShown NOTIFY tilesChanged)
    Q_PROPERTY(bool recordDisabled READ recordDisabled NOTIFY tilesChanged)
    Q_PROPERTY(double recordOpacity READ recordOpacity NOTIFY tilesChanged)
    Q_PROPERTY(bool switchesDisabled READ busy NOTIFY tilesChanged)
    Q_PROPERTY(bool savingShown READ busy NOTIFY tilesChanged)
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

    QVariantList defaultTiles() const;
    QVariantList ownTiles() const;
    bool limitReached() const;
    bool ownSectionShown() const;
    bool recordDisabled() const;
    double recordOpacity() const;
    bool busy() const;
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
    void deletingChanged();
    void recordingChanged();

private:
    QVariantMap tile(const QString& id, const QString& title, bool own) const;
    void userMayHaveChanged();
    // Closes the sheet whatever it is doing: its recording stops and its file goes.
    void endRecording();

    MotivationAudioStore& m_store;
    TovrickAccount& m_account;
    std::optional<MotivationClip> m_deleting;
    QPointer<MotivationRecordingView> m_sheet;
    bool m_shown = false;
    std::optional<QString> m_refreshedFor;
    std::optional<QString> m_userId;
};
