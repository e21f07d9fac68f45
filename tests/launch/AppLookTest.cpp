#include <gtest/gtest.h>

#include <QFile>
#include <QFontDatabase>
#include <QTemporaryDir>

#include "Tovrick/shell/AppFonts.h"
#include "Tovrick/shell/AppIcon.h"

// The icon that scripts/run installs for the application list is the program's own icon: the
// character's portrait as the artwork draws it now.
TEST(AppLook, TheInstalledIconIsTheCharactersPortrait)
{
    const QImage installed(QStringLiteral(TOVRICK_SOURCE_DIR "/Tovrick/resources/tovrick.png"));
    ASSERT_EQ(installed.size(), QSize(256, 256));
    const QImage drawn = appIcon::image(256);
    const QImage a = installed.convertToFormat(QImage::Format_ARGB32);
    const QImage b = drawn.convertToFormat(QImage::Format_ARGB32);
    int differing = 0;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const QColor p = a.pixelColor(x, y);
            const QColor q = b.pixelColor(x, y);
            differing += std::abs(p.red() - q.red()) + std::abs(p.green() - q.green()) + std::abs(p.blue() - q.blue())
                    + std::abs(p.alpha() - q.alpha()) > 24;
        }
    EXPECT_LT(differing, 256 * 256 / 100)
        << "the artwork changed: run test_launch --gtest_also_run_disabled_tests "
           "--gtest_filter=AppLook.DISABLED_WriteTheInstalledIcon";
    // A transparent corner, an opaque middle: a portrait, not a filled square.
    EXPECT_EQ(a.pixelColor(2, 2).alpha(), 0);
    EXPECT_EQ(a.pixelColor(128, 150).alpha(), 255);
    EXPECT_GE(appIcon::icon().availableSizes().size(), 5);
}

// Not a check: writes the installed icon again after the artwork changed.
TEST(AppLook, DISABLED_WriteTheInstalledIcon)
{
    EXPECT_TRUE(appIcon::image(256).save(QStringLiteral(TOVRICK_SOURCE_DIR "/Tovrick/resources/tovrick.png")));
}

// Fonts are registered from what is in the folder; what cannot be read is skipped, and no folder is
// no fonts, never an error.
TEST(AppLook, FontsComeFromTheFolderAndBadFilesAreSkipped)
{
    QTemporaryDir folder;
    EXPECT_TRUE(appFonts::registerFolder(folder.filePath(QStringLiteral("none"))).isEmpty());
    EXPECT_TRUE(appFonts::registerFolder(QString()).isEmpty());

    QFile::copy(QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf"),
                folder.filePath(QStringLiteral("mono.ttf")));
    QFile broken(folder.filePath(QStringLiteral("broken.woff2")));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("wOF2 but not really");
    broken.close();
    QFile notes(folder.filePath(QStringLiteral("LICENSE")));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("Open Font License");
    notes.close();
    const QStringList families = appFonts::registerFolder(folder.path());
    if (QFile::exists(folder.filePath(QStringLiteral("mono.ttf"))))
        EXPECT_EQ(families, QStringList {QStringLiteral("DejaVu Sans Mono")});
    else
        EXPECT_TRUE(families.isEmpty());
}

// The fonts scripts/install-fonts fetched (compressed web fonts) load under the names the windows
// ask for.
TEST(AppLook, TheFetchedFontsGiveTheFamiliesTheWindowsAskFor)
{
    const QString fetched = appFonts::defaultFolder();
    if (!QFile::exists(fetched + QStringLiteral("/fredoka-latin-700-normal.woff2")))
        GTEST_SKIP() << "scripts/install-fonts has not fetched the fonts here";
    const QStringList families = appFonts::registerFolder(fetched);
    // The fetched Fredoka files name their family "Fredoka Light" at every weight.
    for (const char* family : {"Fredoka Light", "IBM Plex Sans", "IBM Plex Mono"}) {
        EXPECT_TRUE(families.contains(QString::fromLatin1(family)))
            << family << " in " << families.join(", ").toStdString();
        EXPECT_TRUE(QFontDatabase::families().contains(QString::fromLatin1(family))) << family;
    }
    EXPECT_TRUE(QFontDatabase::styles(QStringLiteral("Fredoka Light")).contains(QStringLiteral("Bold")))
        << "the report card's heading is bold";
}
