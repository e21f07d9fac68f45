#pragma once

#include <QCoro/QCoroTask>
#include <QImage>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>
#include <memory>
#include <optional>

#include "Tovrick/focus/ImageChooser.h"

class TovrickAccount;

// The account's reminder images: at most 20 JPEG files of at most 1600 pixels on the long side,
// in a folder of the signed-in account (or of the signed-out state) under the app folder. Lives on
// the main thread; only the decoding and writing of an import runs on a worker.
class MacVisionLibrary : public QObject {
    Q_OBJECT
    Q_PROPERTY(QVariantList entryUrls READ entryUrls NOTIFY entriesChanged)
    Q_PROPERTY(bool importing READ importing NOTIFY importingChanged)
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)
    Q_PROPERTY(bool canAdd READ canAdd NOTIFY canAddChanged)

public:
    static constexpr int kMaximumImages = 20;
    static constexpr int kMaximumPixels = 1600;
    static constexpr int kJpegQuality = 85;
    static inline const QString kFailureText =
        QStringLiteral(" image(s) couldn\u2019t be added. Please try another photo.");
    static inline const QString kRemoveFailed = QStringLiteral("That image couldn\u2019t be removed. Please try again.");
    static inline const QString kNoFolder =
        QStringLiteral("Images can\u2019t be added: Tovrick\u2019s folder couldn\u2019t be created. Please try again.");

    // The process-wide library over the shared account and the app folder, listed on first use.
    static MacVisionLibrary& shared();

    // `appFolder` gives the app folder at each use (its "ReminderImages" folder holds the images).
    MacVisionLibrary(TovrickAccount& account, std::function<QString()> appFolder,
                     std::unique_ptr<ImageChooser> chooser, QObject* parent = nullptr);
    ~MacVisionLibrary() override;

    // The folder of the account signed in now, computed anew at every call; empty when the app
    // folder cannot be made private.
    QString folder() const;
    static QString folderFor(const QString& appFolder, const std::optional<QString>& userId);

    // Lists the folder's ".jpg" files (that exact case) sorted by name; clears the message.
    Q_INVOKABLE void reload();
    // Opens the chooser, unless one is open (it is raised) or an import runs.
    Q_INVOKABLE void chooseImages();
    // Deletes one of the listed images (a path or a file URL); anything else is ignored.
    Q_INVOKABLE void remove(const QString& image);
    // One of the images picked at random, decoded; none when there is none or it cannot be decoded.
    std::optional<QImage> randomImage() const;

    const QStringList& entries() const { return m_entries; }
    QVariantList entryUrls() const;
    bool importing() const { return m_importing; }
    QString message() const { return m_message; }
    bool canAdd() const { return !m_importing && m_entries.size() < kMaximumImages; }
    bool choosing() const { return m_choosing; }

    // What the chooser answered: keeps as many files as the cap leaves room for and imports them.
    void handleChosen(const std::optional<QStringList>& files);

    // Re-encodes each file into `folder` (scaled to at most 1600 pixels, turned upright, as JPEG
    // quality 0.85, under a new UUID name, written atomically) while the folder holds fewer than
    // `cap` images; files past the cap are left out. Answers the number that failed. Blocking: runs
    // on a worker thread.
    static int importFiles(const QStringList& files, const QString& folder, int cap = kMaximumImages);
    // The reader's picture bounded to `kMaximumPixels` on its long side (never enlarged), upright,
    // decoded scaled where the format allows; a null image when it cannot be read whole.
    static QImage loadBounded(const QString& path);

signals:
    void entriesChanged();
    void importingChanged();
    void messageChanged();
    void canAddChanged();

private:
    QCoro::Task<> importChosen(QStringList files, QString folder);
    void setEntries(QStringList entries);
    void setImporting(bool importing);
    void setMessage(const QString& message);

    TovrickAccount& m_account;
    std::function<QString()> m_appFolder;
    std::unique_ptr<ImageChooser> m_chooser;
    std::optional<QString> m_userId;
    QStringList m_entries;
    bool m_importing = false;
    bool m_choosing = false;
    QString m_message;
};
