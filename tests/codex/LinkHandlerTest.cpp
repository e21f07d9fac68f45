#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "Tovrick/codex/CodexController.h"
#include "Tovrick/codex/LinkHandler.h"
#include "XdgLayout.h"

namespace {

const QByteArray codex = "x-scheme-handler/codex;";

} // namespace

// The handler is found as the desktop's opener finds it: chosen defaults first, then associations,
// then what the installed applications say they take.
TEST(LinkHandler, FollowsTheDesktopsDefaultsAndAssociations)
{
    using Files = std::vector<std::pair<const char*, QByteArray>>;
    const struct {
        const char* what;
        Files files;
        std::optional<QString> handler;
    } cases[] = {
        {"nothing installed", {}, std::nullopt},
        {"an application that takes it", {{"share/applications/agent.desktop", XdgLayout::application(codex)}},
         "agent.desktop"},
        {"only other schemes", {{"share/applications/web.desktop", XdgLayout::application("x-scheme-handler/https;")}},
         std::nullopt},
        {"a chosen default before what applications say",
         {{"share/applications/agent.desktop", XdgLayout::application(codex)},
          {"share/applications/other.desktop", XdgLayout::application("")},
          {"config/mimeapps.list", "[Default Applications]\nx-scheme-handler/codex=other.desktop\n"}},
         "other.desktop"},
        {"a default that is not installed",
         {{"share/applications/agent.desktop", XdgLayout::application(codex)},
          {"config/mimeapps.list", "[Default Applications]\nx-scheme-handler/codex=gone.desktop;\n"}},
         "agent.desktop"},
        {"the desktop's own list first",
         {{"share/applications/a.desktop", XdgLayout::application("")},
          {"share/applications/b.desktop", XdgLayout::application("")},
          {"config/mimeapps.list", "[Default Applications]\nx-scheme-handler/codex=a.desktop\n"},
          {"etc/test-mimeapps.list", "[Default Applications]\nx-scheme-handler/codex=b.desktop\n"}},
         "a.desktop"},
        {"an entry in a vendor folder",
         {{"share/applications/vendor/agent.desktop", XdgLayout::application("")},
          {"share/applications/mimeapps.list", "[Added Associations]\nx-scheme-handler/codex=vendor-agent.desktop;\n"}},
         "vendor-agent.desktop"},
        {"an association the user removed",
         {{"share/applications/agent.desktop", XdgLayout::application(codex)},
          {"config/mimeapps.list", "[Removed Associations]\nx-scheme-handler/codex=agent.desktop;\n"}},
         std::nullopt},
        {"an entry the user hid",
         {{"share/applications/agent.desktop", XdgLayout::application(codex)},
          {"data/applications/agent.desktop", XdgLayout::application(codex, true)}},
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        XdgLayout layout;
        for (const auto& [path, text] : c.files)
            layout.write(QString::fromLatin1(path), text);
        EXPECT_EQ(linkhandler::find(QStringLiteral("codex")), c.handler);
    }
}

// Opening in the agent's app never claims what did not happen.
TEST(LinkHandler, OpenInAppSaysWhetherAnythingOpened)
{
    CodexController controller;
    controller.jobs = {{QStringLiteral("th-1"), QStringLiteral("site"), QStringLiteral("/w"), QStringLiteral("task"),
                        std::nullopt, QStringLiteral("done"), std::nullopt, QDateTime::currentDateTime()}};
    QList<QUrl> opened;
    bool opens = true;
    controller.openUrl = [&](const QUrl& url) {
        opened.append(url);
        return opens;
    };

    XdgLayout layout;
    EXPECT_EQ(controller.openInApp(QStringLiteral("site")),
              "Couldn't open the site job: nothing on this computer opens Codex links.");
    EXPECT_EQ(controller.openInApp(std::nullopt), "Couldn't open the site job: nothing on this computer opens Codex links.");
    controller.jobs.clear();
    EXPECT_EQ(controller.openInApp(std::nullopt), "Couldn't open the Codex app: nothing on this computer opens Codex links.");
    EXPECT_TRUE(opened.isEmpty());

    layout.write(QStringLiteral("data/applications/codex.desktop"), XdgLayout::application(codex));
    EXPECT_EQ(controller.openInApp(std::nullopt), "Opened the Codex app.");
    opens = false;
    EXPECT_EQ(controller.openInApp(std::nullopt), "Couldn't open the Codex app: the Codex link didn't open.");
    EXPECT_EQ(opened, QList<QUrl>(2, QUrl(QStringLiteral("codex://"))));
}
