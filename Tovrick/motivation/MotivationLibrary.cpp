#include "Tovrick/motivation/MotivationLibrary.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

#include <cmath>

#include "Tovrick/motivation/MotivationAudioError.h"
#include "shared/util/Files.h"
#include "shared/util/Uuid.h"

namespace {

const QString kLibraryFile = QStringLiteral("library.json");
const QString kDefaultPrefix = QStringLiteral("default-");

bool existsAt(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace

// MARK: - Values

Json MotivationClip::toJson() const
{
    Json object = Json::object();
    object["id"] = json::fromQString(id);
    object["title"] = json::fromQString(title);
    object["duration"] = json::number(duration);
    object["enabled"] = enabled;
    return object;
}

MotivationClip MotivationClip::fromJson(const Json& object)
{
    json::requireObject(object, "clip");
    MotivationClip clip;
    clip.id = json::requireString(object, "id");
    clip.title = json::requireString(object, "title");
    clip.duration = json::requireNumber(object, "duration");
    clip.enabled = json::requireBool(object, "enabled");
    return clip;
}

Json MotivationLibrary::toJson() const
{
    Json clipArray = Json::array();
    for (const MotivationClip& clip : clips)
        clipArray.push_back(clip.toJson());
    Json disabled = Json::array();
    for (const QString& id : disabledDefaults)
        disabled.push_back(json::fromQString(id));
    Json object = Json::object();
    object["clips"] = std::move(clipArray);
    object["disabledDefaults"] = std::move(disabled);
    return object;
}

MotivationLibrary MotivationLibrary::fromJson(const Json& object)
{
    json::requireObject(object, "library");
    MotivationLibrary library;
    for (const Json& item : json::requireArrayAt(object, "clips"))
        library.clips.append(MotivationClip::fromJson(item));
    for (const Json& item : json::requireArrayAt(object, "disabledDefaults"))
        library.disabledDefaults.append(json::asString(item, "a disabled default"));
    return library;
}

// MARK: - Constants

namespace motivation {

QString placeholder()
{
    return QStringLiteral("Ach komm, denk daran, wofür du das machst. Zurück zu deiner Aufgabe. Ein "
                          "kleiner Schritt reicht. Ich glaub an dich.");
}

const QStringList& defaultTitles()
{
    static const QStringList titles {
        QStringLiteral("Du schaffst das"),
        QStringLiteral("Zurück zu deinem Warum"),
        QStringLiteral("Ein kleiner Schritt"),
        QStringLiteral("Bleib bei deiner Aufgabe"),
        QStringLiteral("Ich glaub an dich"),
    };
    return titles;
}

const QStringList& defaultIds()
{
    static const QStringList ids = [] {
        QStringList list;
        for (int n = 1; n <= defaultTitles().size(); ++n)
            list.append(kDefaultPrefix + QString::number(n));
        return list;
    }();
    return ids;
}

bool isDefaultId(const QString& id)
{
    return id.startsWith(kDefaultPrefix);
}

QString newClipTitle(const QLocale& locale, const QDateTime& at)
{
    // Some short time formats (the C locale's among them) carry seconds: drop them and their separator.
    static const QRegularExpression seconds(QStringLiteral("[^hHmaApPt]*s+(\\.z+)?"));
    QString time = locale.timeFormat(QLocale::ShortFormat);
    time.remove(seconds);
    return QStringLiteral("Meine Aufnahme ") + locale.toString(at.date(), QLocale::ShortFormat) + u' '
        + locale.toString(at.time(), time);
}

} // namespace motivation

// MARK: - The folder

LocalMotivationLibrary::LocalMotivationLibrary(QString directory, Writer writer)
    : m_directory(std::move(directory)), m_writer(std::move(writer))
{
    if (!m_writer) {
        m_writer = [](const QString& path, const QByteArray& bytes) {
            return files::writeAtomically(path, bytes, false);
        };
    }
}

QString LocalMotivationLibrary::libraryPath() const
{
    return QDir(m_directory).filePath(kLibraryFile);
}

std::optional<QString> LocalMotivationLibrary::audioPath(const QString& id) const
{
    // Ids come from a file on disk; one that could reach outside the folder never names a file.
    if (id.isEmpty() || id.contains(u'/') || id.contains(QChar(0)))
        return std::nullopt;
    return QDir(m_directory).filePath(id + QStringLiteral(".m4a"));
}

void LocalMotivationLibrary::ensureFolder() const
{
    // A relative path would land in whatever the working folder happens to be.
    if (m_directory.isEmpty() || QDir::isRelativePath(m_directory))
        throw MotivationFileError(QStringLiteral("The folder for motivation clips is not available."));
    if (!QDir().mkpath(m_directory))
        throw MotivationFileError(QStringLiteral("The folder “%1” couldn’t be created.")
                                      .arg(QFileInfo(m_directory).fileName()));
}

void LocalMotivationLibrary::write(const QString& path, const QByteArray& bytes) const
{
    if (const auto error = m_writer(path, bytes))
        throw MotivationFileError::couldNot(QStringLiteral("saved"), path, *error);
}

MotivationLibrary LocalMotivationLibrary::load() const
{
    if (m_directory.isEmpty() || QDir::isRelativePath(m_directory))
        throw MotivationFileError(QStringLiteral("The folder for motivation clips is not available."));
    const QString path = libraryPath();
    if (!existsAt(path))
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw MotivationFileError::couldNot(QStringLiteral("opened"), path, file.errorString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw MotivationFileError::couldNot(QStringLiteral("read"), path, file.errorString());
    try {
        return MotivationLibrary::fromJson(json::parse(bytes));
    } catch (const JsonDecodeError& error) {
        throw MotivationFileError(
            QStringLiteral("The data couldn’t be read because it isn’t in the correct format (%1).")
                .arg(QString::fromUtf8(error.what())));
    }
}

void LocalMotivationLibrary::save(const MotivationLibrary& library) const
{
    ensureFolder();
    QByteArray bytes;
    try {
        bytes = json::dumpBytes(library.toJson());
    } catch (const JsonEncodeError& error) {
        throw MotivationFileError(QStringLiteral("The clip library couldn’t be saved (%1).")
                                      .arg(QString::fromUtf8(error.what())));
    }
    write(libraryPath(), bytes);
}

MotivationLibrary LocalMotivationLibrary::add(const QByteArray& audio, const QUuid& clientId,
                                              const QString& title, double duration) const
{
    MotivationLibrary library = load();
    const QString id = uuid::text(clientId).toLower();
    for (const MotivationClip& clip : library.clips) {
        if (clip.id == id)
            return library;
    }
    if (library.clips.size() >= motivation::limit)
        throw MotivationAudioError(MotivationAudioError::Kind::limit);
    if (audio.isEmpty() || audio.size() > motivation::maxAudioBytes)
        throw MotivationAudioError(MotivationAudioError::Kind::invalid);
    if (!std::isfinite(duration) || !(duration > 0) || duration > motivation::maxDuration)
        throw MotivationAudioError(MotivationAudioError::Kind::invalid);

    ensureFolder();
    const QString path = *audioPath(id);
    write(path, audio);

    library.clips.append(MotivationClip { id, title, duration, true });
    try {
        save(library);
    } catch (...) {
        // No audio file may stay behind without its entry.
        QFile::remove(path);
        throw;
    }
    return library;
}

MotivationLibrary LocalMotivationLibrary::deleteClip(const QString& id) const
{
    MotivationLibrary library = load();
    const auto found = std::find_if(library.clips.cbegin(), library.clips.cend(),
                                    [&](const MotivationClip& clip) { return clip.id == id; });
    if (found == library.clips.cend())
        return library;

    const std::optional<QString> path = audioPath(id);
    std::optional<QByteArray> backup;
    if (path) {
        backup = files::read(*path);
        if (QFile::exists(*path)) {
            QFile file(*path);
            if (!file.remove())
                throw MotivationFileError::couldNot(QStringLiteral("removed"), *path, file.errorString());
        }
    }

    library.clips.removeIf([&](const MotivationClip& clip) { return clip.id == id; });
    try {
        save(library);
    } catch (...) {
        if (path && backup)
            m_writer(*path, *backup);
        throw;
    }
    return library;
}

void LocalMotivationLibrary::removeIfExists() const
{
    if (m_directory.isEmpty() || QDir::isRelativePath(m_directory))
        throw MotivationFileError(QStringLiteral("The folder for motivation clips is not available."));
    const QFileInfo info(m_directory);
    if (!info.exists() && !info.isSymLink())
        return;
    const bool removed = info.isDir() && !info.isSymLink() ? QDir(m_directory).removeRecursively()
                                                           : QFile::remove(m_directory);
    if (!removed)
        throw MotivationFileError(QStringLiteral("The folder “%1” couldn’t be removed.")
                                      .arg(info.fileName()));
}
