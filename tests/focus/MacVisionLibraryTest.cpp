#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

#include "Tovrick/focus/MacVisionLibrary.h"
#include "focus/FocusWindowWorld.h"
#include "shared/account/TovrickAccount.h"
#include "shared/util/AppPaths.h"
#include "support/RunTask.h"

namespace {

// A picture whose left half is red and right half blue, so a turn shows in its pixels.
QImage halves(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(0, 0, width / 2, height, Qt::red);
    painter.fillRect(width / 2, 0, width - width / 2, height, Qt::blue);
    return image;
}

QImage noise(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    quint32 state = 12345;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            image.setPixel(x, y, state >> 8);
        }
    return image;
}

QByteArray jpeg(const QImage& image)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(90);
    writer.write(image);
    return data;
}

// The same JPEG with an EXIF block whose orientation tag says how to turn it upright.
QByteArray withOrientation(const QByteArray& data, quint16 orientation)
{
    QByteArray tiff("MM\0*", 4);
    tiff += QByteArray::fromHex("00000008"); // first directory right after the header
    tiff += QByteArray::fromHex("0001");     // one entry
    tiff += QByteArray::fromHex("011200030000000100"); // orientation, SHORT, count 1, value (big end)
    tiff += static_cast<char>(orientation);
    tiff += QByteArray(2, '\0');
    tiff += QByteArray(4, '\0'); // no next directory
    QByteArray segment = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray length(2, '\0');
    qToBigEndian<quint16>(static_cast<quint16>(segment.size() + 2), length.data());
    return data.left(2) + QByteArray::fromHex("FFE1") + length + segment + data.mid(2);
}

QString write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
    return path;
}

QSize storedSize(const QString& path)
{
    QImageReader reader(path);
    reader.setAutoTransform(false);
    return reader.size();
}

struct Library : FocusWindowWorld {
    QTemporaryDir picked;

    Library() { account.adoptSession(focusWindowSession(QStringLiteral("user-1"))); }
    QString pick(const QString& name, const QByteArray& bytes) { return write(picked.filePath(name), bytes); }
    // Stores `count` images straight into the account's folder, as earlier imports left them.
    void store(int count)
    {
        QDir().mkpath(vision.folder());
        const QByteArray bytes = jpeg(halves(40, 30));
        for (int i = 0; i < count; ++i)
            write(QDir(vision.folder()).filePath(QStringLiteral("stored-%1.jpg").arg(i, 2, 10, QLatin1Char('0'))), bytes);
        vision.reload();
    }
    void choose(const QStringList& files)
    {
        vision.chooseImages();
        ASSERT_TRUE(chooser->pending);
        chooser->answer(files);
        waitForImport();
    }
    void waitForImport()
    {
        ASSERT_TRUE(waitUntil([this] { return !vision.importing(); }, std::chrono::seconds(20)));
    }
};

} // namespace

TEST(MacVisionLibrary, TheCapLeavesRoomForOnlyTheFirstChosen)
{
    Library l;
    l.store(19);
    EXPECT_TRUE(l.vision.canAdd());
    const QString first = l.pick(QStringLiteral("first.jpg"), jpeg(halves(300, 100)));
    QStringList chosen { first };
    for (int i = 0; i < 4; ++i)
        chosen << l.pick(QStringLiteral("more-%1.jpg").arg(i), jpeg(halves(100, 300)));
    l.choose(chosen);

    ASSERT_EQ(l.vision.entries().size(), 20);
    EXPECT_TRUE(l.vision.message().isEmpty());
    EXPECT_FALSE(l.vision.canAdd());
    QStringList imported;
    for (const QString& entry : l.vision.entries())
        if (!QFileInfo(entry).fileName().startsWith(QLatin1String("stored-")))
            imported << entry;
    ASSERT_EQ(imported.size(), 1);
    EXPECT_EQ(storedSize(imported[0]), QSize(300, 100));
    EXPECT_FALSE(QUuid::fromString(QFileInfo(imported[0]).completeBaseName()).isNull());
    EXPECT_EQ(QFileInfo(imported[0]).completeBaseName(), QFileInfo(imported[0]).completeBaseName().toUpper());

    // Full: whatever is chosen next is left out.
    l.choose({ l.pick(QStringLiteral("late.jpg"), jpeg(halves(50, 50))) });
    EXPECT_EQ(l.vision.entries().size(), 20);
    EXPECT_TRUE(l.vision.message().isEmpty());
}

TEST(MacVisionLibrary, TheFolderIsCountedAgainWhenTheImportStarts)
{
    Library l;
    QDir().mkpath(l.vision.folder());
    l.store(15);
    l.vision.chooseImages();
    // Files arrive in the folder while the chooser is open: the listing still says 15.
    const QByteArray bytes = jpeg(halves(40, 30));
    for (int i = 15; i < 19; ++i)
        write(QDir(l.vision.folder()).filePath(QStringLiteral("late-%1.jpg").arg(i)), bytes);
    QStringList chosen;
    for (int i = 0; i < 3; ++i)
        chosen << l.pick(QStringLiteral("pick-%1.jpg").arg(i), bytes);
    l.chooser->answer(chosen);
    l.waitForImport();
    EXPECT_EQ(l.vision.entries().size(), 20);
    EXPECT_TRUE(l.vision.message().isEmpty());
}

TEST(MacVisionLibrary, ListsOnlyLowercaseJpgFilesByName)
{
    Library l;
    const QDir folder(l.vision.folder());
    QDir().mkpath(folder.path());
    const QByteArray bytes = jpeg(halves(20, 20));
    for (const char* name : { "b.jpg", "A.jpg", "c.JPG", "d.Jpg", "notes.txt", "e.jpeg", "a.jpg" })
        write(folder.filePath(QString::fromLatin1(name)), bytes);
    QDir().mkpath(folder.filePath(QStringLiteral("dir.jpg")));
    l.vision.reload();
    QStringList names;
    for (const QString& entry : l.vision.entries())
        names << QFileInfo(entry).fileName();
    EXPECT_EQ(names, (QStringList { QStringLiteral("A.jpg"), QStringLiteral("a.jpg"), QStringLiteral("b.jpg") }));
}

TEST(MacVisionLibrary, ImportsAreBoundedUprightJpegs)
{
    const struct {
        const char* name;
        QSize source;
        quint16 orientation; // 0: no EXIF block
        QSize stored;
        bool redOnTop; // after a quarter turn the left half comes to the top
    } cases[] = {
        { "large", { 4000, 3000 }, 0, { 1600, 1200 }, false },
        { "tall", { 1000, 2400 }, 0, { 667, 1600 }, false },
        { "small, never enlarged", { 800, 600 }, 0, { 800, 600 }, false },
        { "turned a quarter", { 400, 200 }, 6, { 200, 400 }, true },
        { "large and turned", { 3200, 2000 }, 6, { 1000, 1600 }, true },
        { "upright tag", { 400, 200 }, 1, { 400, 200 }, false },
    };
    for (const auto& c : cases) {
        QTemporaryDir picked, folder;
        QByteArray bytes = jpeg(halves(c.source.width(), c.source.height()));
        if (c.orientation)
            bytes = withOrientation(bytes, c.orientation);
        const QString file = write(picked.filePath(QStringLiteral("in.jpg")), bytes);
        EXPECT_EQ(MacVisionLibrary::importFiles({ file }, folder.path()), 0) << c.name;
        const QStringList stored = QDir(folder.path()).entryList({ QStringLiteral("*.jpg") }, QDir::Files);
        ASSERT_EQ(stored.size(), 1) << c.name;
        const QString path = folder.filePath(stored[0]);
        EXPECT_EQ(storedSize(path), c.stored) << c.name;
        const QImage image(path);
        const QColor topLeft = image.pixelColor(image.width() / 4, image.height() / 8);
        if (c.redOnTop) {
            EXPECT_GT(topLeft.red(), 200) << c.name;
            EXPECT_LT(image.pixelColor(image.width() / 4, image.height() * 7 / 8).red(), 60) << c.name;
        } else {
            EXPECT_GT(topLeft.red(), 200) << c.name;
            EXPECT_GT(image.pixelColor(image.width() * 3 / 4, image.height() / 8).blue(), 200) << c.name;
        }
    }
}

TEST(MacVisionLibrary, BadFilesCountOneFailureEachAndTheRestGoIn)
{
    Library l;
    const QByteArray good = jpeg(halves(200, 100));
    const QByteArray whole = jpeg(noise(300, 300));
    // A PNG that claims 20000 × 20000 pixels and then ends.
    QByteArray giant = QByteArray::fromHex("89504E470D0A1A0A0000000D49484452");
    giant += QByteArray::fromHex("00004E2000004E200806000000E3704639");
    const QStringList chosen {
        l.pick(QStringLiteral("one.jpg"), good),
        l.pick(QStringLiteral("notes.jpg"), "not a picture at all\n"),
        l.pick(QStringLiteral("cut.jpg"), whole.left(whole.size() * 6 / 10)),
        l.pick(QStringLiteral("empty.png"), QByteArray()),
        l.pick(QStringLiteral("giant.png"), giant),
        l.pick(QStringLiteral("two.png"), [] {
            QByteArray png;
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            halves(60, 40).save(&buffer, "png");
            return png;
        }()),
        l.picked.filePath(QStringLiteral("missing.jpg")),
        // Whole, with a phone's trailer after its end that happens to hold a start-of-scan.
        l.pick(QStringLiteral("trailer.jpg"), good + QByteArray::fromHex("FFDA000C0000FFFF")),
    };
    l.choose(chosen);
    EXPECT_EQ(l.vision.entries().size(), 3);
    EXPECT_EQ(l.vision.message(), QStringLiteral("5 image(s) couldn\u2019t be added. Please try another photo."));

    // The next reload clears the failure.
    l.vision.reload();
    EXPECT_TRUE(l.vision.message().isEmpty());
}

TEST(MacVisionLibrary, OneNonImageAmongThree)
{
    Library l;
    const QByteArray good = jpeg(halves(20, 20));
    l.choose({ l.pick(QStringLiteral("a.jpg"), good), l.pick(QStringLiteral("b.txt"), "text"),
               l.pick(QStringLiteral("c.jpg"), good) });
    EXPECT_EQ(l.vision.entries().size(), 2);
    EXPECT_EQ(l.vision.message(), QStringLiteral("1 image(s) couldn\u2019t be added. Please try another photo."));
}

TEST(MacVisionLibrary, EachAccountHasItsOwnFolder)
{
    Library l;
    const QString root = l.imagesRoot.path() + QStringLiteral("/ReminderImages/");
    EXPECT_EQ(l.vision.folder(), root + TovrickAccount::nonceHash(QStringLiteral("user-1")));
    l.choose({ l.pick(QStringLiteral("a.jpg"), jpeg(halves(20, 20))) });
    EXPECT_EQ(l.vision.entries().size(), 1);

    l.account.adoptSession(focusWindowSession(QStringLiteral("user-2")));
    EXPECT_EQ(l.vision.folder(), root + TovrickAccount::nonceHash(QStringLiteral("user-2")));
    EXPECT_TRUE(l.vision.entries().isEmpty());

    l.account.clearSession();
    EXPECT_EQ(l.vision.folder(), root + TovrickAccount::nonceHash(QStringLiteral("signed-out")));
    EXPECT_EQ(l.vision.folder(), root + QStringLiteral("9a2c08d0e8cee584d301ebfe841f0f26773ffa403f35bbc779343623d4bd3b98"));
    EXPECT_TRUE(l.vision.entries().isEmpty());

    l.account.adoptSession(focusWindowSession(QStringLiteral("user-1")));
    EXPECT_EQ(l.vision.entries().size(), 1);
}

// An app folder that cannot be made (a file in its place, a full disk) leaves no folder at all: the
// library lists nothing and refuses an import with a message, instead of writing the images under
// the root of the file system.
TEST(MacVisionLibrary, WithoutItsAppFolderAnImportIsRefusedWithAMessage)
{
    Library l;
    QTemporaryDir base;
    const QString app = write(base.filePath(QStringLiteral("Tovrick")), "in the way");
    auto* chooser = new ScriptedChooser;
    MacVisionLibrary blocked(l.account, [app] { return AppPaths::ensurePrivateFolder(app) ? app : QString(); },
                             std::unique_ptr<ImageChooser>(chooser));
    EXPECT_EQ(blocked.folder(), QString());
    EXPECT_TRUE(blocked.entries().isEmpty());

    blocked.chooseImages();
    ASSERT_TRUE(chooser->pending);
    chooser->answer(QStringList {l.pick(QStringLiteral("a.jpg"), jpeg(halves(40, 30)))});
    EXPECT_FALSE(blocked.importing());
    EXPECT_EQ(blocked.message(), MacVisionLibrary::kNoFolder);
    EXPECT_TRUE(blocked.entries().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/ReminderImages")));
}

TEST(MacVisionLibrary, OneChooserAtATimeAndNoneWhileImporting)
{
    Library l;
    l.vision.chooseImages();
    l.vision.chooseImages();
    EXPECT_EQ(l.chooser->opens, 1);
    EXPECT_EQ(l.chooser->raises, 1);
    l.chooser->answer(std::nullopt); // cancelled
    EXPECT_FALSE(l.vision.importing());

    l.vision.chooseImages();
    EXPECT_EQ(l.chooser->opens, 2);
    l.chooser->answer(QStringList { l.pick(QStringLiteral("a.jpg"), jpeg(noise(1200, 900))) });
    EXPECT_TRUE(l.vision.importing());
    EXPECT_FALSE(l.vision.canAdd());
    l.vision.chooseImages();
    EXPECT_EQ(l.chooser->opens, 2);
    l.waitForImport();
    EXPECT_EQ(l.vision.entries().size(), 1);
    EXPECT_TRUE(l.vision.canAdd());
}

TEST(MacVisionLibrary, RemoveDeletesListedImagesOnly)
{
    Library l;
    l.store(3);
    const QString outsider = l.pick(QStringLiteral("keep.jpg"), jpeg(halves(20, 20)));
    l.vision.remove(outsider);
    EXPECT_TRUE(QFile::exists(outsider));

    const QString first = l.vision.entries()[0];
    l.vision.remove(QUrl::fromLocalFile(first).toString());
    EXPECT_FALSE(QFile::exists(first));
    EXPECT_EQ(l.vision.entries().size(), 2);

    // A file that turned into a folder with something in it cannot be deleted.
    const QString stuck = l.vision.entries()[0];
    QFile::remove(stuck);
    QDir().mkpath(stuck + QStringLiteral("/inside"));
    l.vision.remove(stuck);
    EXPECT_EQ(l.vision.message(), QStringLiteral("That image couldn\u2019t be removed. Please try again."));
    EXPECT_EQ(l.vision.entries().size(), 2);
}

TEST(MacVisionLibrary, RandomImageNeedsADecodableEntry)
{
    Library l;
    EXPECT_FALSE(l.vision.randomImage().has_value());
    l.store(1);
    const std::optional<QImage> image = l.vision.randomImage();
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->size(), QSize(40, 30));

    write(l.vision.entries()[0], "broken");
    EXPECT_FALSE(l.vision.randomImage().has_value());
}
