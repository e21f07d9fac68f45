// The project catalogue, the default workspace and the agent's state file, in a temporary home.
#include "CodexTestSupport.h"

#include <QFileInfo>

#include <filesystem>

namespace {

using Match = CodexProjects::Match;

class CodexCatalogue : public CodexTest {
protected:
    QStringList names() const
    {
        QStringList list;
        for (const auto& project : CodexProjects::all())
            list.append(project.name);
        return list;
    }

    static QString describe(const Match& match)
    {
        switch (match.kind) {
        case Match::Kind::one:
            return QStringLiteral("one ") + match.project.name;
        case Match::Kind::many:
            return QStringLiteral("many ") + match.names.join(u',');
        case Match::Kind::none:
            break;
        }
        return QStringLiteral("none");
    }

    QString stateFile() const { return QDir(AppPaths::home()).filePath(QStringLiteral(".codex/.codex-global-state.json")); }

    void writeState(const QByteArray& bytes)
    {
        QDir().mkpath(QFileInfo(stateFile()).path());
        ASSERT_FALSE(files::writeAtomically(stateFile(), bytes, false));
    }
};

TEST_F(CodexCatalogue, ScanFindsRepositoriesTwoLevelsDownButNotInsideOthers)
{
    makeRepository(documents(QStringLiteral("alpha")), QStringLiteral("git@github.com:owner/alpha-remote.git"));
    makeRepository(documents(QStringLiteral("alpha/nested")));
    makeRepository(documents(QStringLiteral("group/beta")));
    makeRepository(documents(QStringLiteral("group/deeper/gamma")));
    makeRepository(documents(QStringLiteral(".hidden")));
    QDir().mkpath(documents(QStringLiteral("plain/.git")));
    QDir().mkpath(documents(QStringLiteral("notes")));
    QDir().mkpath(documents(QStringLiteral("filegit")));
    ASSERT_FALSE(files::writeAtomically(documents(QStringLiteral("filegit/.git")), "gitdir: elsewhere\n", false));
    QFile::link(documents(QStringLiteral("alpha")), documents(QStringLiteral("link-to-alpha")));

    const auto projects = CodexProjects::all();
    ASSERT_EQ(projects.size(), 3);
    EXPECT_EQ(projects[0].name, "alpha");
    EXPECT_EQ(projects[0].path, documents(QStringLiteral("alpha")));
    EXPECT_EQ(projects[0].aliases, QStringList {"alpha-remote"});
    EXPECT_EQ(projects[1].name, "beta");
    EXPECT_TRUE(projects[1].aliases.isEmpty());
    EXPECT_EQ(projects[2].name, "plain");
}

TEST_F(CodexCatalogue, ChosenFoldersComeFirstAndAreListedOnce)
{
    const QString shared = makeRepository(documents(QStringLiteral("shared")));
    makeRepository(documents(QStringLiteral("another")));
    const QString elsewhere = QDir(AppPaths::home()).filePath(QStringLiteral("work/Client-Site"));
    makeRepository(elsewhere, QStringLiteral("https://example.com/acme/acme-portal.git"));
    CodexProjects::saveFolders({elsewhere, shared, QStringLiteral("/gone/Vanished")});

    const auto projects = CodexProjects::all();
    ASSERT_EQ(projects.size(), 4);
    EXPECT_EQ(projects[0].path, elsewhere);
    EXPECT_EQ(projects[0].aliases, QStringList {"acme-portal"});
    EXPECT_EQ(projects[1].path, shared);
    EXPECT_EQ(projects[2].name, "Vanished");
    EXPECT_TRUE(projects[2].aliases.isEmpty());
    EXPECT_EQ(projects[3].name, "another");

    EXPECT_EQ(describe(CodexProjects::match(QStringLiteral("client site"))), "one Client-Site");
    EXPECT_EQ(describe(CodexProjects::match(QStringLiteral("acme portal"))), "one Client-Site");
}

TEST_F(CodexCatalogue, CacheLastsUnderSixtySecondsAndSavingDropsIt)
{
    double now = 1000.0;
    CodexProjects::setClock([&] { return now; });
    makeRepository(documents(QStringLiteral("first")));
    EXPECT_EQ(names(), QStringList {"first"});

    makeRepository(documents(QStringLiteral("second")));
    now += 59.0;
    EXPECT_EQ(names(), QStringList {"first"});
    now += 1.0;
    EXPECT_EQ(names(), (QStringList {"first", "second"}));

    makeRepository(documents(QStringLiteral("third")));
    now -= 500.0; // a build time in the future counts as fresh
    EXPECT_EQ(names().size(), 2);
    CodexProjects::saveFolders({});
    EXPECT_EQ(names().size(), 3);
}

TEST_F(CodexCatalogue, SlugKeepsOnlyLettersAndNumbers)
{
    const struct {
        const char* name;
        const char* slug;
    } cases[] = {
        {"My-App 2", "myapp2"},
        {"Über_Tool.v3", "übertoolv3"},
        {"  !!! ", ""},
        {"Café\u0301 №5", "café\u03015"},
        {"日本語 app", "日本語app"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CodexProjects::slug(QString::fromUtf8(c.name)), QString::fromUtf8(c.slug)) << c.name;
}

TEST_F(CodexCatalogue, MatchingSpokenNames)
{
    for (const char* name : {"api", "api-server", "app", "myapp", "web", "shop", "twin-a", "twin_a"})
        makeRepository(documents(QString::fromUtf8(name)));

    const struct {
        const char* spoken;
        const char* expected;
    } cases[] = {
        {"API", "one api"},
        {"server", "one api-server"},
        {"my app", "one myapp"},
        {"app", "one app"},
        {"webshop", "one shop"},
        {"Twin A", "many twin-a,twin_a"},
        {"a", "many api,api-server,app,myapp,twin-a,twin_a"},
        {"zebra", "none"},
        {" ... ", "none"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(describe(CodexProjects::match(QString::fromUtf8(c.spoken))), c.expected) << c.spoken;
}

TEST_F(CodexCatalogue, RemoteNames)
{
    const auto remote = [&](const QByteArray& config) -> std::optional<QString> {
        const QString folder = documents(QStringLiteral("r"));
        QDir().mkpath(folder + QStringLiteral("/.git"));
        EXPECT_FALSE(files::writeAtomically(folder + QStringLiteral("/.git/config"), config, false));
        return CodexProjects::gitRemoteName(folder);
    };
    EXPECT_EQ(remote("[remote \"origin\"]\n\turl = https://github.com/owner/billing.git\n"), QStringLiteral("billing"));
    EXPECT_EQ(remote("[remote \"origin\"]\n\turl = git@github.com:owner/billing.git\n"), QStringLiteral("billing"));
    EXPECT_EQ(remote("\turl = https://host/owner/portal/\n\turl = https://host/other.git\n"), QStringLiteral("portal"));
    EXPECT_EQ(remote("\turl = https://host/my.github.tools.git\n"), QStringLiteral("myhub.tools"));
    EXPECT_EQ(remote("\turl = https://host/.git\n"), std::nullopt);
    EXPECT_EQ(remote("\turl = \n"), std::nullopt);
    EXPECT_EQ(remote("[core]\n\tbare = false\n"), std::nullopt);
    EXPECT_EQ(CodexProjects::gitRemoteName(documents(QStringLiteral("nothing-here"))), std::nullopt);
}

TEST_F(CodexCatalogue, DefaultWorkspaceIsMadeOnceAndKeepsAnExistingReadme)
{
    const QString folder = CodexController::ensureDefaultWorkspace();
    EXPECT_EQ(folder, documents(QStringLiteral("Tovrick")));
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral("/.git")).isDir());
    EXPECT_EQ(files::read(folder + QStringLiteral("/README.md")),
              QByteArray("# Tovrick\n\nCodex jobs started by Tovrick, the blueberry on Jorvy's iPhone, run from here.\n"));

    QDir(folder + QStringLiteral("/.git")).removeRecursively();
    ASSERT_FALSE(files::writeAtomically(folder + QStringLiteral("/README.md"), "mine\n", false));
    EXPECT_EQ(CodexController::ensureDefaultWorkspace(), folder);
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral("/.git")).isDir());
    EXPECT_EQ(files::read(folder + QStringLiteral("/README.md")), QByteArray("mine\n"));

    // Once it is a repository nothing in it is touched again.
    QFile::remove(folder + QStringLiteral("/README.md"));
    CodexController::ensureDefaultWorkspace();
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/README.md")));
}

TEST_F(CodexCatalogue, WorkspaceRootIsAddedToTheAgentsStateFileOnly)
{
    const QString folder = documents(QStringLiteral("Tovrick"));
    // No state file: none is made.
    CodexProjects::registerWorkspaceRoot(folder);
    EXPECT_FALSE(QFileInfo::exists(stateFile()));

    writeState(R"({"theme":"dark","electron-saved-workspace-roots":["/a/b"],"count":12345678901234,"nested":{"x":[1.5,null]}})");
    std::filesystem::permissions(stateFile().toStdString(), std::filesystem::perms(0600));
    CodexProjects::registerWorkspaceRoot(folder);
    EXPECT_EQ(QString::fromUtf8(*files::read(stateFile())),
              R"({"theme":"dark","electron-saved-workspace-roots":["/a/b",")" + folder
                  + R"("],"count":12345678901234,"nested":{"x":[1.5,null]}})");
    EXPECT_EQ(std::filesystem::status(stateFile().toStdString()).permissions(), std::filesystem::perms(0600));

    // Already listed: the file is not rewritten.
    writeState(*files::read(stateFile()) + "  ");
    const QByteArray listed = *files::read(stateFile());
    CodexProjects::registerWorkspaceRoot(folder);
    EXPECT_EQ(*files::read(stateFile()), listed);

    const struct {
        QByteArray before;
        QByteArray after; // empty: unchanged
    } cases[] = {
        {R"({"electron-saved-workspace-roots":5,"k":"v"})", R"({"electron-saved-workspace-roots":["F"],"k":"v"})"},
        {R"({"k":true})", R"({"k":true,"electron-saved-workspace-roots":["F"]})"},
        {R"(["not","an","object"])", ""},
        {R"({"broken":)", ""},
        {R"({"huge":1e400})", ""},
    };
    for (const auto& c : cases) {
        writeState(c.before);
        CodexProjects::registerWorkspaceRoot(QStringLiteral("F"));
        EXPECT_EQ(*files::read(stateFile()), c.after.isEmpty() ? c.before : c.after) << c.before.toStdString();
    }
}

} // namespace
