#include <gtest/gtest.h>

#include <QDir>
#include <QImage>

#include "ProgramFolders.h"
#include "Tovrick/AppDelegate.h"
#include "Tovrick/CursorOverlay/CursorOverlay.h"
#include "Tovrick/CursorOverlay/CursorView.h"
#include "Tovrick/focus/MacVisionLibrary.h"
#include "focus/FocusFakes.h"
#include "shared/account/TovrickAccount.h"

// The character's goal photo beside a nudge comes from the account's reminder images, through the
// one library the focus window also manages.
TEST(ReminderImageShell, TheGoalPhotoIsAStoredReminderImage)
{
    useOneMemoryVault();
    TovrickAccount::shared().clearSession();
    FocusWorld world;
    auto app = std::make_unique<AppDelegate>(world.environment(), 0);
    app->launched();

    MacVisionLibrary& library = MacVisionLibrary::shared();
    const QString folder = library.folder();
    EXPECT_TRUE(folder.endsWith(TovrickAccount::nonceHash(QStringLiteral("signed-out"))));
    ASSERT_TRUE(QDir().mkpath(folder));
    QImage reminder(90, 60, QImage::Format_RGB32);
    reminder.fill(Qt::darkGreen);
    ASSERT_TRUE(reminder.save(QDir(folder).filePath(QStringLiteral("only.jpg")), "jpeg"));
    library.reload();

    CursorView& view = app->overlay().view();
    view.loadFallbackGoalImage();
    EXPECT_TRUE(view.showsGoalImage());
    EXPECT_EQ(view.goalImage().size(), QSize(90, 60));

    QFile::remove(QDir(folder).filePath(QStringLiteral("only.jpg")));
    library.reload();
    app.reset();
}
