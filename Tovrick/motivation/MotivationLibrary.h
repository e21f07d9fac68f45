#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <functional>
#include <optional>

#include "shared/util/Json.h"

// One clip the user recorded. Its id is also the base name of its audio file.
struct MotivationClip {
    Q_GADGET
    Q_PROPERTY(QString id MEMBER id)
    Q_PROPERTY(QString title MEMBER title)
    Q_PROPERTY(double duration MEMBER duration)
    Q_PROPERTY(bool enabled MEMBER enabled)

public:
    QString id;
    QString title;
    double duration = 0; // seconds
    bool enabled = true;

    Json toJson() const;
    // Strict: all four members are required with their types.
    static MotivationClip fromJson(const Json& object);

    bool operator==(const MotivationClip&) const = default;
};

// The content of one owner's "library.json": the own clips, oldest first, and the default clips the
// user switched off. The empty library stands for a folder without a library file.
struct MotivationLibrary {
    Q_GADGET
    Q_PROPERTY(QList<MotivationClip> clips MEMBER clips)
    Q_PROPERTY(QStringList disabledDefaults MEMBER disabledDefaults)

public:
    QList<MotivationClip> clips;
    QStringList disabledDefaults;

    Json toJson() const;
    // Strict: both members are required, and every clip must be complete.
    static MotivationLibrary fromJson(const Json& object);

    bool operator==(const MotivationLibrary&) const = default;
};

Q_DECLARE_METATYPE(MotivationClip)
Q_DECLARE_METATYPE(MotivationLibrary)

namespace motivation {

// The most own clips one library holds.
inline constexpr int limit = 10;
// Audio data of a new clip: 1 to this many bytes.
inline constexpr qsizetype maxAudioBytes = 200000;
// A new clip's duration in seconds: above 0 and at most this (inclusive).
inline constexpr double maxDuration = 20.1;

// The sentence every default clip speaks.
QString placeholder();
// The titles of the five default clips, "default-1" to "default-5".
const QStringList& defaultTitles();
// "default-1" … "default-5", in order.
const QStringList& defaultIds();
// Ids that begin with "default-" are default clips; any other id is an own clip.
bool isDefaultId(const QString& id);

// "Meine Aufnahme " and the date and time, to the minute, in the locale: by default the user's now.
QString newClipTitle(const QLocale& locale = QLocale::system(), const QDateTime& at = QDateTime::currentDateTime());

} // namespace motivation

// Reads and changes one owner's clip folder: "library.json" and one "<id>.m4a" per own clip. Keeps
// nothing between calls; every operation reads the folder afresh and throws on failure.
class LocalMotivationLibrary {
public:
    // Writes bytes atomically; returns the error text on failure. Replaceable so tests can make a
    // single write fail.
    using Writer = std::function<std::optional<QString>(const QString& path, const QByteArray& bytes)>;

    explicit LocalMotivationLibrary(QString directory, Writer writer = {});

    const QString& directory() const { return m_directory; }
    QString libraryPath() const;
    // The audio file of an own clip; none when the id cannot name a file inside the folder.
    std::optional<QString> audioPath(const QString& id) const;

    // The empty library when there is no library file; a file that cannot be read or decoded throws.
    MotivationLibrary load() const;
    void save(const MotivationLibrary& library) const;
    // Stores a new own clip and its audio. An id already present returns the library unchanged.
    // Throws MotivationAudioError limit, then invalid (size, then duration), or a file error.
    MotivationLibrary add(const QByteArray& audio, const QUuid& clientId, const QString& title,
                          double duration) const;
    // Removes an own clip and its audio file; its audio comes back when the library cannot be saved.
    MotivationLibrary deleteClip(const QString& id) const;
    // Removes the whole folder, if there is one.
    void removeIfExists() const;

private:
    void ensureFolder() const;
    void write(const QString& path, const QByteArray& bytes) const;

    QString m_directory;
    Writer m_writer;
};
