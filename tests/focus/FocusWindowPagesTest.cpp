#include <QDir>
#include <QFile>
#include <QImage>
#include <QQuickItem>
#include <QQuickView>
#include <QQuickWindow>
#include <QTest>
#include <gtest/gtest.h>

#include "Tovrick/focus/FocusHistoryPage.h"
#include "Tovrick/focus/FocusHistoryStore.h"
#include "Tovrick/focus/MacFocusPanel.h"
#include "Tovrick/focus/MacFocusView.h"
#include "focus/FocusWindowWorld.h"
#include "support/QuickItems.h"
#include "support/RunTask.h"

namespace {

void settle()
{
    settleFor(std::chrono::milliseconds(50));
}

// The window over a signed-in world, shown on the page asked for.
struct PagesWindow : FocusWindowWorld {
    MacFocusPanel panel { &account, &access };

    explicit PagesWindow(FocusPage page)
    {
        account.adoptSession(focusWindowSession(QStringLiteral("user-1")));
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        panel.setVisionLibrary(vision);
        panel.show(*engine, [] {});
        panel.view()->selectPage(static_cast<int>(page));
        settle();
    }
    QQuickItem* item(const QString& name)
    {
        QQuickItem* found = findItem(panel.window()->rootObject(), name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }
    QString text(const QString& name) { return item(name)->property("text").toString(); }
    bool shown(const QString& name) { return isShown(item(name)); }
    void click(const QString& name)
    {
        QQuickItem* target = item(name);
        ASSERT_TRUE(target);
        const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
        QTest::mouseClick(panel.window(), Qt::LeftButton, {}, centre.toPoint());
        settle();
    }
    void giveHistory(const std::vector<FocusSession>& sessions)
    {
        FocusHistoryStore store(QDir(world.historyFolder()).filePath(FocusHistoryStore::fileName(QStringLiteral("user-1"))));
        ASSERT_TRUE(store.save(sessions, std::nullopt));
        engine->accountChanged(QStringLiteral("user-1"));
        settle();
    }
    void storeImages(int count)
    {
        QDir().mkpath(vision.folder());
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        for (int i = 0; i < count; ++i)
            image.save(QDir(vision.folder()).filePath(QStringLiteral("%1.jpg").arg(i, 2, 10, QLatin1Char('0'))), "jpeg");
        vision.reload();
        settle();
    }
};

FocusSession checkedSession(const QString& task, double startedAt)
{
    FocusSession session(task, 1500, false, QUuid::createUuid(), startedAt);
    session.elapsed = 1500;
    session.realElapsed = 1500;
    for (FocusActivity activity : { FocusActivity::onTask, FocusActivity::onTask, FocusActivity::offTask,
                                    FocusActivity::uncertain, FocusActivity::paused })
        session.checks.emplace_back(30, activity, 0.2, 0.8);
    session.end();
    session.detail = QStringLiteral("Completed");
    return session;
}

} // namespace

TEST(FocusWindowHistory, EmptyHistoryOffersToPlanASession)
{
    PagesWindow w(FocusPage::history);
    EXPECT_TRUE(w.panel.window()->errors().isEmpty());
    EXPECT_TRUE(w.shown(QStringLiteral("macFocusHistoryPage")));
    EXPECT_FALSE(w.shown(QStringLiteral("macFocusVisionPage")));
    EXPECT_EQ(w.text(QStringLiteral("historySessions")), QStringLiteral("0 sessions"));
    EXPECT_EQ(w.text(QStringLiteral("historyMinutes")), QStringLiteral("0 min focused"));
    EXPECT_TRUE(w.shown(QStringLiteral("historyEmpty")));
    w.click(QStringLiteral("historyPlanSession"));
    EXPECT_EQ(w.panel.view()->page(), FocusPage::focus);
}

TEST(FocusWindowHistory, CardsOpenOneAtATimeFromTheirHeaders)
{
    PagesWindow w(FocusPage::history);
    w.giveHistory({ checkedSession(QStringLiteral("Older"), 1000), checkedSession(QStringLiteral("Newer"), 5000) });
    EXPECT_FALSE(w.shown(QStringLiteral("historyEmpty")));
    EXPECT_EQ(w.text(QStringLiteral("historySessions")), QStringLiteral("2 sessions"));
    EXPECT_EQ(w.text(QStringLiteral("historyMinutes")), QStringLiteral("50 min focused"));
    EXPECT_EQ(w.text(QStringLiteral("historyTask0")), QStringLiteral("Newer"));
    EXPECT_EQ(w.text(QStringLiteral("historySessionMinutes0")), QStringLiteral("25 min"));
    EXPECT_FALSE(w.shown(QStringLiteral("historyDetails0")));
    EXPECT_EQ(w.item(QStringLiteral("historyChevron0"))->property("name").toString(), QStringLiteral("chevron.down"));

    w.click(QStringLiteral("historyHeader0"));
    EXPECT_TRUE(w.shown(QStringLiteral("historyDetails0")));
    EXPECT_EQ(w.item(QStringLiteral("historyChevron0"))->property("name").toString(), QStringLiteral("chevron.up"));
    EXPECT_EQ(w.item(QStringLiteral("historyOnTask0"))->property("count").toInt(), 2);
    EXPECT_EQ(w.item(QStringLiteral("historyOffTask0"))->property("count").toInt(), 1);
    EXPECT_EQ(w.item(QStringLiteral("historyUnknown0"))->property("count").toInt(), 1);
    EXPECT_EQ(w.text(QStringLiteral("historyDetail0")), QStringLiteral("Completed"));
    EXPECT_FALSE(w.shown(QStringLiteral("historyDeveloper0")));

    w.click(QStringLiteral("historyHeader1"));
    EXPECT_FALSE(w.shown(QStringLiteral("historyDetails0")));
    EXPECT_TRUE(w.shown(QStringLiteral("historyDetails1")));
    w.click(QStringLiteral("historyHeader1"));
    EXPECT_FALSE(w.shown(QStringLiteral("historyDetails1")));

    // The open card survives a trip to another page.
    w.click(QStringLiteral("historyHeader0"));
    w.panel.view()->selectPage(static_cast<int>(FocusPage::account));
    w.panel.view()->selectPage(static_cast<int>(FocusPage::history));
    settle();
    EXPECT_TRUE(w.shown(QStringLiteral("historyDetails0")));
}

TEST(FocusWindowVision, TilesAddAndRemove)
{
    PagesWindow w(FocusPage::vision);
    EXPECT_TRUE(w.panel.window()->errors().isEmpty());
    EXPECT_TRUE(w.shown(QStringLiteral("visionEmpty")));
    EXPECT_TRUE(w.item(QStringLiteral("visionAddImages"))->isEnabled());
    w.click(QStringLiteral("visionAddImages"));
    EXPECT_EQ(w.chooser->opens, 1);
    w.chooser->answer(std::nullopt);

    w.storeImages(3);
    EXPECT_FALSE(w.shown(QStringLiteral("visionEmpty")));
    EXPECT_TRUE(w.shown(QStringLiteral("visionTile2")));
    EXPECT_TRUE(w.item(QStringLiteral("visionImage0"))->property("loaded").toBool());
    // A stored file that no longer decodes keeps its tile, with only the Remove button.
    QFile broken(w.vision.entries()[1]);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("broken");
    broken.close();
    w.vision.reload();
    w.storeImages(0);
    EXPECT_TRUE(w.shown(QStringLiteral("visionRemove1")));

    const QString first = w.vision.entries()[0];
    w.click(QStringLiteral("visionRemove0"));
    EXPECT_FALSE(QFile::exists(first));
    EXPECT_EQ(w.vision.entries().size(), 2);

    w.storeImages(20);
    EXPECT_FALSE(w.item(QStringLiteral("visionAddImages"))->isEnabled());
}

TEST(FocusWindowVision, AFailedImportShowsTheBannerAndTheNewTile)
{
    PagesWindow w(FocusPage::vision);
    QTemporaryDir picked;
    QImage image(120, 80, QImage::Format_RGB32);
    image.fill(Qt::darkYellow);
    const QString good = picked.filePath(QStringLiteral("good.jpg"));
    image.save(good, "jpeg");
    const QString bad = picked.filePath(QStringLiteral("bad.jpg"));
    QFile file(bad);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("nope");
    file.close();

    w.vision.chooseImages();
    w.chooser->answer(QStringList { bad, good });
    EXPECT_TRUE(w.shown(QStringLiteral("visionImporting")));
    ASSERT_TRUE(waitUntil([&] { return !w.vision.importing(); }, std::chrono::seconds(20)));
    settle();
    EXPECT_FALSE(w.shown(QStringLiteral("visionImporting")));
    EXPECT_TRUE(w.shown(QStringLiteral("visionTile0")));
    EXPECT_TRUE(w.shown(QStringLiteral("visionFeedback")));
    EXPECT_EQ(w.item(QStringLiteral("visionFeedback"))->property("message").toString(),
              QStringLiteral("1 image(s) couldn\u2019t be added. Please try another photo."));

    // A change of user lists the new account's (empty) folder and clears the message.
    w.account.adoptSession(focusWindowSession(QStringLiteral("user-2")));
    settle();
    EXPECT_EQ(w.panel.view()->page(), FocusPage::focus);
    EXPECT_TRUE(w.vision.entries().isEmpty());
    EXPECT_TRUE(w.vision.message().isEmpty());
}
