// The folder for short-lived private files: the user's runtime folder when it is theirs, else their
// cache folder; never the shared temporary folder; made private either way.
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "shared/util/AppPaths.h"

namespace {

int modeOf(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

} // namespace

TEST(AppPaths, PrivateTemporaryFilesGoToTheRuntimeOrCacheFolder)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QString runtime = home.filePath(QStringLiteral("runtime"));
    const QString cache = home.filePath(QStringLiteral("cache"));
    ASSERT_TRUE(QDir().mkpath(runtime));
    // The real locations, as the program meets them, for this test only.
    const QString testRoot = AppPaths::appFolder().section(u'/', 0, -3);
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray savedCache = qgetenv("XDG_CACHE_HOME");
    const auto restore = qScopeGuard([&] {
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
        qputenv("XDG_CACHE_HOME", savedCache);
        AppPaths::overrideRoot(testRoot);
    });
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache));
    AppPaths::overrideRoot({});

    struct Case {
        const char* what;
        QByteArray runtimeVariable;
        QString expected;
    };
    const Case cases[] = {
        {"the runtime folder", QFile::encodeName(runtime), runtime + QStringLiteral("/Tovrick")},
        {"no runtime folder", {}, cache + QStringLiteral("/Tovrick")},
        {"a runtime folder that does not exist", QFile::encodeName(home.filePath(QStringLiteral("gone"))),
         cache + QStringLiteral("/Tovrick")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        qputenv("XDG_RUNTIME_DIR", c.runtimeVariable);
        const QString folder = AppPaths::privateTemporary();
        EXPECT_EQ(folder, c.expected);
        EXPECT_EQ(modeOf(folder), 0700);
    }
}
