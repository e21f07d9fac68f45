#include "Tovrick/focus/MacVisionLibrary.h"

#include <QBuffer>
#include <QCoro/QCoroFuture>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QPointer>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QUrl>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cmath>

#include "shared/account/TovrickAccount.h"
#include "shared/util/AppPaths.h"

namespace {

// Walks the JPEG's segments and entropy-coded data up to the end-of-image marker. A JPEG cut short
// still decodes (the rest drawn grey), so it is refused here; what follows the end (a phone's
// trailer, say) is not looked at.
bool jpegIsWhole(const uchar* bytes, qint64 size)
{
    if (size < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        return false;
    const auto isRestart = [](uchar marker) { return marker >= 0xD0 && marker <= 0xD7; };
    qint64 at = 2;
    while (at + 1 < size) {
        if (bytes[at] != 0xFF)
            return false;
        const uchar marker = bytes[at + 1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD9)
            return true;
        if (marker == 0x01 || isRestart(marker)) {
            at += 2;
            continue;
        }
        if (at + 3 >= size)
            return false;
        const qint64 length = (qint64(bytes[at + 2]) << 8) | bytes[at + 3];
        if (length < 2)
            return false;
        at += 2 + length;
        if (marker != 0xDA)
            continue;
        // Scan data ends at the first marker that is neither a stuffed byte nor a restart.
        while (at + 1 < size
               && !(bytes[at] == 0xFF && bytes[at + 1] != 0x00 && bytes[at + 1] != 0xFF && !isRestart(bytes[at + 1])))
            ++at;
    }
    return false;
}

bool jpegFileIsWhole(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() <= 0)
        return false;
    const qint64 size = file.size();
    uchar* bytes = file.map(0, size);
    if (!bytes)
        return false;
    const bool whole = jpegIsWhole(bytes, size);
    file.unmap(bytes);
    return whole;
}

int storedImageCount(const QString& folder)
{
    int count = 0;
    for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::Files))
        if (info.suffix() == QLatin1String("jpg"))
            ++count;
    return count;
}

} // namespace

MacVisionLibrary& MacVisionLibrary::shared()
{
    static MacVisionLibrary* library = new MacVisionLibrary(
        TovrickAccount::shared(), [] { return AppPaths::appFolder(); }, std::make_unique<FileDialogImageChooser>());
    return *library;
}

MacVisionLibrary::MacVisionLibrary(TovrickAccount& account, std::function<QString()> appFolder,
                                   std::unique_ptr<ImageChooser> chooser, QObject* parent)
    : QObject(parent),
      m_account(account),
      m_appFolder(std::move(appFolder)),
      m_chooser(std::move(chooser)),
      m_userId(account.userId())
{
    // The nudge path reads the library even while the window was never opened: follow the account.
    connect(&m_account, &TovrickAccount::sessionChanged, this, [this] {
        const std::optional<QString> user = m_account.userId();
        if (user == m_userId)
            return;
        m_userId = user;
        reload();
    });
    reload();
}

MacVisionLibrary::~MacVisionLibrary() = default;

QString MacVisionLibrary::folderFor(const QString& appFolder, const std::optional<QString>& userId)
{
    // Without the app folder there is no folder at all: never one under the file system's root.
    if (appFolder.isEmpty())
        return QString();
    const QString owner = TovrickAccount::nonceHash(userId.value_or(QStringLiteral("signed-out")));
    return appFolder + QStringLiteral("/ReminderImages/") + owner;
}

QString MacVisionLibrary::folder() const
{
    return folderFor(m_appFolder(), m_account.userId());
}

void MacVisionLibrary::reload()
{
    QStringList found;
    const QString listed = folder();
    // An empty path would list the working folder.
    if (!listed.isEmpty()) {
        for (const QFileInfo& info : QDir(listed).entryInfoList(QDir::Files, QDir::Unsorted))
            if (info.suffix() == QLatin1String("jpg"))
                found << info.absoluteFilePath();
    }
    // Plain comparison of the names, whatever the locale.
    std::sort(found.begin(), found.end(), [](const QString& a, const QString& b) {
        return QFileInfo(a).fileName() < QFileInfo(b).fileName();
    });
    setEntries(std::move(found));
    setMessage({});
}

void MacVisionLibrary::chooseImages()
{
    if (m_importing)
        return;
    if (m_choosing) {
        m_chooser->raise();
        return;
    }
    m_choosing = true;
    QPointer<MacVisionLibrary> self(this);
    m_chooser->open([self](const std::optional<QStringList>& files) {
        if (self)
            self->handleChosen(files);
    });
}

void MacVisionLibrary::handleChosen(const std::optional<QStringList>& files)
{
    m_choosing = false;
    if (!files || m_importing)
        return;
    const qsizetype room = std::max<qsizetype>(0, kMaximumImages - m_entries.size());
    const QStringList kept = files->mid(0, room);
    const QString target = folder();
    if (target.isEmpty()) {
        setMessage(kNoFolder);
        return;
    }
    setImporting(true);
    setMessage({});
    importChosen(kept, target);
}

QCoro::Task<> MacVisionLibrary::importChosen(QStringList files, QString folder)
{
    QPointer<MacVisionLibrary> self(this);
    auto work = [files, folder] { return importFiles(files, folder); };
    QFuture<int> running = QtConcurrent::run(work);
    const int failures = co_await running;
    if (!self)
        co_return;
    reload();
    setImporting(false);
    if (failures > 0)
        setMessage(QString::number(failures) + kFailureText);
}

void MacVisionLibrary::remove(const QString& image)
{
    const QUrl url(image);
    const QString path = url.isLocalFile() ? url.toLocalFile() : image;
    if (!m_entries.contains(path))
        return;
    if (QFile::remove(path))
        reload();
    else
        setMessage(kRemoveFailed);
}

std::optional<QImage> MacVisionLibrary::randomImage() const
{
    if (m_entries.isEmpty())
        return std::nullopt;
    const auto index = static_cast<qsizetype>(QRandomGenerator::global()->bounded(static_cast<quint32>(m_entries.size())));
    QImageReader reader(m_entries[index]);
    const QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    return image;
}

QVariantList MacVisionLibrary::entryUrls() const
{
    QVariantList urls;
    for (const QString& entry : m_entries)
        urls.append(QUrl::fromLocalFile(entry));
    return urls;
}

QImage MacVisionLibrary::loadBounded(const QString& path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty())
        return {};
    if (reader.format() == "jpeg" && !jpegFileIsWhole(path))
        return {};
    const int longSide = std::max(size.width(), size.height());
    if (longSide > kMaximumPixels) {
        const double scale = static_cast<double>(kMaximumPixels) / longSide;
        // Readers that can decode scaled (JPEG) never hold the whole picture; the others stay
        // within the reader's allocation limit or fail.
        reader.setScaledSize(QSize(std::max(1, static_cast<int>(std::lround(size.width() * scale))),
                                   std::max(1, static_cast<int>(std::lround(size.height() * scale)))));
    }
    QImage image = reader.read();
    if (image.isNull())
        return {};
    if (image.hasAlphaChannel()) {
        QImage flat(image.size(), QImage::Format_RGB32);
        flat.fill(Qt::white);
        QPainter painter(&flat);
        painter.drawImage(0, 0, image);
        painter.end();
        image = flat;
    }
    return image;
}

int MacVisionLibrary::importFiles(const QStringList& files, const QString& folder, int cap)
{
    int failures = 0;
    for (const QString& file : files) {
        // Checked again here, not only when the files were chosen: the folder is what counts.
        if (storedImageCount(folder) >= cap)
            break;
        const QImage image = loadBounded(file);
        if (image.isNull()) {
            ++failures;
            continue;
        }
        QByteArray data;
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setQuality(kJpegQuality);
        if (!writer.write(image)) {
            ++failures;
            continue;
        }
        if (!QDir().mkpath(folder)) {
            ++failures;
            continue;
        }
        const QString name = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".jpg");
        QSaveFile out(QDir(folder).filePath(name));
        if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size() || !out.commit())
            ++failures;
    }
    return failures;
}

void MacVisionLibrary::setEntries(QStringList entries)
{
    if (m_entries == entries)
        return;
    const bool could = canAdd();
    m_entries = std::move(entries);
    emit entriesChanged();
    if (could != canAdd())
        emit canAddChanged();
}

void MacVisionLibrary::setImporting(bool importing)
{
    if (m_importing == importing)
        return;
    const bool could = canAdd();
    m_importing = importing;
    emit importingChanged();
    if (could != canAdd())
        emit canAddChanged();
}

void MacVisionLibrary::setMessage(const QString& message)
{
    if (m_message == message)
        return;
    m_message = message;
    emit messageChanged();
}
