#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QFile>
#include <QImage>
#include <QQuickItem>
#include <QQuickView>
#include <QTemporaryDir>

#include "Tovrick/assistant/RealtimeHost.h"
#include "Tovrick/assistant/ReportPanel.h"
#include "Tovrick/codex/CodexController.h"
#include "shared/account/TovrickAccount.h"
#include "support/LoopbackApi.h"
#include "support/RunTask.h"
#include "support/QuickItems.h"

using namespace std::chrono_literals;

namespace {

ResearchReport sampleReport()
{
    ResearchReport report;
    report.question = QStringLiteral("What is Bonjour?");
    report.title = QStringLiteral("Bonjour finds things nearby");
    report.paragraphs = {QStringLiteral("Bonjour lets devices on one network find each other without any setup at all."),
                         QStringLiteral("Printers, speakers and phones announce what they offer.")};
    report.sources = {{QStringLiteral("Apple Developer"), QUrl(QStringLiteral("https://developer.apple.com/bonjour/"))},
                      {QStringLiteral("Not a page"), QUrl(QStringLiteral("javascript:alert(1)"))},
                      {QStringLiteral("A file"), QUrl(QStringLiteral("file:///etc/passwd"))}};
    return report;
}

ResearchReport reportOf(QStringList paragraphs, int sources)
{
    ResearchReport report;
    report.title = QStringLiteral("T");
    report.paragraphs = std::move(paragraphs);
    for (int i = 0; i < sources; ++i)
        report.sources.push_back({QStringLiteral("s"), QUrl(QStringLiteral("https://s.example/%1").arg(i))});
    return report;
}

// Receives the addresses the desktop would open.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.append(url); }
};

QQuickItem* item(ReportPanel& panel, const char* name)
{
    if (!panel.window() || !panel.window()->rootObject())
        return nullptr;
    return findItem(panel.window()->rootObject(), QString::fromLatin1(name));
}

QString textOf(ReportPanel& panel, const char* name)
{
    QQuickItem* found = item(panel, name);
    return found ? found->property("text").toString() : QStringLiteral("<no %1>").arg(QString::fromLatin1(name));
}

bool shown(ReportPanel& panel, const char* name)
{
    QQuickItem* found = item(panel, name);
    return found && found->isVisible();
}

} // namespace

TEST(ReportCardLayout, SizeFollowsTheStateAndTheEstimate)
{
    const QString line58(58, QLatin1Char('a'));
    const QString line59(59, QLatin1Char('a'));
    // 58 user-perceived characters, each two code units or more.
    QString wide58;
    for (int i = 0; i < 58; ++i)
        wide58 += QStringLiteral("\U0001F44D\U0001F3FD");
    struct Case {
        const char* name;
        bool expanded;
        std::optional<ResearchReport> report;
        int usableHeight;
        QSize size;
    };
    const Case cases[] = {
        {"loading", false, std::nullopt, 1000, {400, 140}},
        {"loading, expanded", true, std::nullopt, 1000, {520, 140}},
        {"collapsed report", false, reportOf({line59, line59}, 3), 1000, {400, 190}},
        {"58 characters: one line", true, reportOf({line58}, 0), 1000, {520, 21 + 12 + 110}},
        {"59 characters: two lines", true, reportOf({line59}, 0), 1000, {520, 42 + 12 + 110}},
        {"58 wide characters", true, reportOf({wide58}, 0), 1000, {520, 21 + 12 + 110}},
        {"no paragraphs", true, reportOf({}, 0), 1000, {520, 110}},
        {"three sources", true, reportOf({}, 3), 1000, {520, 110 + 96}},
        {"empty paragraph", true, reportOf({QString()}, 1), 1000, {520, 12 + 110 + 52}},
        {"capped", true, reportOf(QStringList(4, QString(2000, QLatin1Char('x'))), 5), 1000, {520, 750}},
        {"capped, odd height", true, reportOf(QStringList(4, QString(2000, QLatin1Char('x'))), 5), 601, {520, 450}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReportPanel::panelSize(c.expanded, c.report, c.usableHeight), c.size) << c.name;

    EXPECT_EQ(ReportPanel::panelFrame({400, 140}, QRect(0, 27, 1920, 1053)), QRect(1496, 51, 400, 140));
    EXPECT_EQ(ReportPanel::panelFrame({520, 300}, QRect(1920, 0, 1280, 1024)), QRect(1920 + 1280 - 544, 24, 520, 300));
}

TEST(ReportCardModel, AReportWinsOverAnErrorAndOnlyWebPagesOpen)
{
    ReportModel model;
    EXPECT_EQ(model.state(), QStringLiteral("loading"));
    EXPECT_EQ(model.heading(), QStringLiteral("Researching"));
    model.setQuestion(QStringLiteral("Why?"));
    EXPECT_EQ(model.loadingText(), QStringLiteral("Doing some research on \u201cWhy?\u201d"));
    model.setError(QStringLiteral("Failed."));
    EXPECT_EQ(model.state(), QStringLiteral("error"));
    EXPECT_EQ(model.heading(), QStringLiteral("Research"));
    model.setReport(sampleReport());
    model.setExpanded(true);
    EXPECT_EQ(model.state(), QStringLiteral("expanded"));
    EXPECT_EQ(model.heading(), QStringLiteral("Bonjour finds things nearby"));
    EXPECT_EQ(model.preview(), sampleReport().paragraphs.join(QLatin1Char(' ')));

    const struct {
        const char* url;
        bool opens;
    } cases[] = {{"https://a.b/c", true},       {"HTTP://a.b", true},          {"javascript:alert(1)", false},
                 {"file:///etc/passwd", false}, {"ftp://a.b/c", false},        {"data:text/html,hi", false},
                 {"tovrick://x", false},        {"https:relative", false},     {"/just/a/path", false}};
    for (const auto& c : cases)
        EXPECT_EQ(ReportModel::opensOnClick(QUrl(QString::fromLatin1(c.url))), c.opens) << c.url;
}

TEST(ReportCard, EachStateRendersOnTheCardAndTheCardFollowsItsModel)
{
    ReportPanel panel;
    const QRect area(0, 30, 800, 770);
    panel.usableArea = [area] { return std::optional<QRect>(area); };

    panel.showLoading(QStringLiteral("What is Bonjour?"));
    ASSERT_TRUE(panel.window());
    EXPECT_TRUE(panel.isShown());
    EXPECT_EQ(panel.window()->geometry(), QRect(376, 54, 400, 140));
    EXPECT_EQ(textOf(panel, "reportHeading"), QStringLiteral("Researching"));
    EXPECT_TRUE(shown(panel, "reportLoading"));
    EXPECT_EQ(textOf(panel, "reportLoadingText"), QStringLiteral("Doing some research on \u201cWhat is Bonjour?\u201d"));
    EXPECT_TRUE(shown(panel, "reportIconSearch"));
    EXPECT_FALSE(shown(panel, "reportCollapseButton"));
    EXPECT_TRUE(shown(panel, "reportCloseButton"));

    // Closed during the run, the report brings the same card back.
    panel.close();
    EXPECT_FALSE(panel.isShown());
    panel.show(sampleReport());
    EXPECT_TRUE(panel.isShown());
    EXPECT_EQ(panel.window()->geometry(), QRect(376, 54, 400, 190));
    EXPECT_EQ(textOf(panel, "reportHeading"), QStringLiteral("Bonjour finds things nearby"));
    EXPECT_TRUE(shown(panel, "reportPreview"));
    EXPECT_EQ(textOf(panel, "reportReadMore"), QStringLiteral("Click to read more"));
    EXPECT_FALSE(shown(panel, "reportLoading"));
    EXPECT_TRUE(shown(panel, "reportIconDocument"));

    // A click opens it; a second click does nothing; the chevron closes it.
    panel.tapped();
    EXPECT_TRUE(panel.model().expanded());
    ASSERT_TRUE(waitUntil([&] { return panel.window()->width() == 520; }));
    EXPECT_EQ(panel.window()->geometry().right(), 775);
    EXPECT_TRUE(shown(panel, "reportParagraph1"));
    EXPECT_TRUE(shown(panel, "reportSourcesHeading"));
    EXPECT_TRUE(shown(panel, "reportCollapseButton"));
    EXPECT_EQ(textOf(panel, "reportSource2"), QStringLiteral("A file"));
    panel.tapped();
    EXPECT_TRUE(panel.model().expanded());

    OpenedUrls opened;
    for (const char* scheme : {"https", "javascript", "file"})
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &opened, "open");
    for (int index : {0, 1, 2, 3, -1})
        panel.openSource(index);
    for (const char* scheme : {"https", "javascript", "file"})
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    EXPECT_EQ(opened.urls, QList<QUrl>({QUrl(QStringLiteral("https://developer.apple.com/bonjour/"))}));

    panel.toggle();
    EXPECT_FALSE(panel.model().expanded());
    ASSERT_TRUE(waitUntil([&] { return panel.window()->width() == 400; }));

    // Loading again, then an error.
    panel.showLoading(QStringLiteral("Again?"));
    panel.showError(QStringLiteral("The research didn't come back: empty answer"));
    EXPECT_EQ(textOf(panel, "reportHeading"), QStringLiteral("Research"));
    EXPECT_EQ(textOf(panel, "reportError"), QStringLiteral("The research didn't come back: empty answer"));
    EXPECT_EQ(panel.window()->geometry(), QRect(376, 54, 400, 140));

    // Without a screen the card still follows its model and comes to the front, where it was.
    panel.close();
    panel.usableArea = [] { return std::optional<QRect>(); };
    panel.show(sampleReport());
    EXPECT_TRUE(panel.isShown());
    EXPECT_TRUE(shown(panel, "reportPreview"));
    EXPECT_EQ(panel.window()->geometry(), QRect(376, 54, 400, 140));
}

TEST(ReportCard, SnapshotsAreDrawnWithTheCardsLook)
{
    QTemporaryDir dir;
    ReportPanel panel;
    panel.usableArea = [] { return std::optional<QRect>(QRect(0, 0, 800, 800)); };
    panel.showLoading(QStringLiteral("q"));
    const QString path = dir.filePath(QStringLiteral("card.png"));
    panel.snapshotPNG(false, path);
    QImage image(path);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(400, 140));
    // Clear outside the rounded card, the berry border at its edge, light inside.
    EXPECT_EQ(qAlpha(image.pixel(1, 1)), 0);
    const QColor border = image.pixelColor(200, 5);
    EXPECT_LT(border.red(), 160);
    EXPECT_GT(border.blue(), 200);
    EXPECT_GT(image.pixelColor(200, 70).lightness(), 200);

    // Asked for the state it is in, a snapshot leaves the card where the user dragged it.
    panel.window()->setPosition(10, 10);
    panel.snapshotPNG(false, path);
    EXPECT_EQ(panel.window()->geometry(), QRect(10, 10, 400, 140));
}

TEST(ReportCard, TheDemonstrationWritesThreePicturesAndOneLine)
{
    LoopbackApi api;
    signInForTests(api);
    QFile answer(QStringLiteral(TOVRICK_ASSISTANT_DATA "/research-answer.json"));
    ASSERT_TRUE(answer.open(QIODevice::ReadOnly));
    api.answer(QStringLiteral("ai/responses"), LoopbackAnswer::raw(answer.readAll(), 200, "application/json"));

    CodexController codex;
    RealtimeHost::Ports ports;
    std::optional<int> status;
    ports.terminate = [&status](int code) { status = code; };
    ports.stopMotivation = [] {};
    RealtimeHost host(codex, std::move(ports));
    host.reports().usableArea = [] { return std::optional<QRect>(QRect(0, 0, 1280, 1000)); };

    QTemporaryDir dir;
    const QString prefix = dir.filePath(QStringLiteral("card"));
    testing::internal::CaptureStdout();
    runTask(host.writeReportSnapshots(QStringLiteral("What is Bonjour?"), prefix));
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(printed,
              "Bonjour\n\nIt finds printers and speakers on the local network.\n\nSee the guide for setup\n\nLine three\n\n"
              "Line four [https://developer.apple.com/bonjour/, https://example.org/guide?page=2#part, "
              "javascript:alert(1), https://a.example/1, https://a.example/2]\n");
    const struct {
        const char* suffix;
        int width;
    } pictures[] = {{"-loading.png", 400}, {"-preview.png", 400}, {"-open.png", 520}};
    for (const auto& picture : pictures) {
        const QImage image(prefix + QString::fromLatin1(picture.suffix));
        EXPECT_EQ(image.width(), picture.width) << picture.suffix;
    }
    EXPECT_EQ(QImage(prefix + QStringLiteral("-loading.png")).height(), 140);
    EXPECT_EQ(QImage(prefix + QStringLiteral("-preview.png")).height(), 190);

    // A failed run shows its error and prints it.
    api.answer(QStringLiteral("ai/responses"), LoopbackAnswer::raw("[]", 200, "application/json"));
    status.reset();
    testing::internal::CaptureStdout();
    const QString failedPrefix = dir.filePath(QStringLiteral("failed"));
    runTask(host.writeReportSnapshots(QStringLiteral("Q"), failedPrefix));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "The research didn't come back: Invalid research response\n");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(host.reports().model().state(), QStringLiteral("error"));
    EXPECT_EQ(QImage(failedPrefix + QStringLiteral("-preview.png")).size(), QSize(400, 140));
}

#include "ReportCardTest.moc"

// The "web_research" tool's run: the card shows the report and the model is told to sum it up, or
// the card shows the failure and the model is told to say so.
TEST(ReportCard, AResearchRunShowsItsEndingAndAnswersTheModel)
{
    LoopbackApi api;
    signInForTests(api);
    QFile answer(QStringLiteral(TOVRICK_ASSISTANT_DATA "/research-answer.json"));
    ASSERT_TRUE(answer.open(QIODevice::ReadOnly));
    api.answerOnce(QStringLiteral("ai/responses"), LoopbackAnswer::raw(answer.readAll(), 200, "application/json"));
    CodexController codex;
    RealtimeHost::Ports ports;
    ports.stopMotivation = [] {};
    RealtimeHost host(codex, std::move(ports));
    host.reports().usableArea = [] { return std::optional<QRect>(QRect(0, 0, 1280, 1000)); };

    const QString found = runTask(host.research(QStringLiteral("What is Bonjour?"), std::nullopt));
    EXPECT_TRUE(found.startsWith(QStringLiteral("The full report is now in a card on the user's screen. Reply with "
                                                "ONE short line: the key takeaway in your own words. Don't repeat "
                                                "the report.\n---REPORT---\nBonjour\n\n")))
        << found.toStdString();
    EXPECT_EQ(host.reports().model().state(), QStringLiteral("collapsed"));

    api.answerOnce(QStringLiteral("ai/responses"), LoopbackAnswer::error(QStringLiteral("rate_limited"), 429));
    const QString failed = runTask(host.research(QStringLiteral("Q"), std::nullopt));
    EXPECT_TRUE(failed.startsWith(QStringLiteral("Research failed: "))) << failed.toStdString();
    EXPECT_TRUE(failed.endsWith(QStringLiteral(". Tell the user in a few words."))) << failed.toStdString();
    EXPECT_EQ(host.reports().model().state(), QStringLiteral("error"));
    host.reports().close();
}
