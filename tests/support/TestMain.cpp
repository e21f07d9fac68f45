#include <QGuiApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "shared/util/AppPaths.h"
#include "shared/util/Settings.h"
#include "shared/util/ThreadLimit.h"

// Test discovery runs this binary at build time, where no display may exist: default to offscreen.
int main(int argc, char** argv)
{
    limitOpenMpThreads(argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);

    // No test may touch the real home folder or the user's settings.
    QTemporaryDir root;
    if (!root.isValid())
        return 2;
    AppPaths::overrideRoot(root.path());
    Settings::useFile(root.filePath(QStringLiteral("settings.ini")));
    return RUN_ALL_TESTS();
}
