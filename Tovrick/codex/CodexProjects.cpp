#include "Tovrick/codex/CodexProjects.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTextBoundaryFinder>

#include <algorithm>

#include "Tovrick/codex/CodexJson.h"
#include "shared/util/AppPaths.h"
#include "shared/util/Files.h"
#include "shared/util/Json.h"
#include "shared/util/Settings.h"
#include "shared/util/Text.h"

namespace {

const QString foldersKey = QStringLiteral("codexFolders");
const char* const rootsKey = "electron-saved-workspace-roots";

struct Cache {
    double builtAt = 0;
    QList<CodexProjects::Project> projects;
};

std::optional<Cache>& cache()
{
    static std::optional<Cache> value;
    return value;
}

std::optional<std::function<double()>>& injectedClock()
{
    static std::optional<std::function<double()>> value;
    return value;
}

double now()
{
    if (injectedClock())
        return (*injectedClock())();
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

bool isLetterOrNumber(char32_t codePoint)
{
    switch (QChar::category(codePoint)) {
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Number_DecimalDigit:
    case QChar::Number_Letter:
    case QChar::Number_Other:
        return true;
    default:
        return false;
    }
}

// A spoken slug fits a candidate slug when the candidate holds it, or when a candidate of at least
// four characters is held by it. An empty slug on either side says nothing about the other.
bool fits(const QString& candidate, const QString& spoken)
{
    if (candidate.isEmpty() || spoken.isEmpty())
        return false;
    return candidate.contains(spoken) || (text::characterCount(candidate) >= 4 && spoken.contains(candidate));
}

} // namespace

void CodexProjects::setClock(std::optional<std::function<double()>> replacement)
{
    injectedClock() = std::move(replacement);
}

void CodexProjects::dropCache()
{
    cache().reset();
}

QList<CodexProjects::Project> CodexProjects::all()
{
    if (cache() && now() - cache()->builtAt < 60.0)
        return cache()->projects;

    QStringList scanned;
    scanRepos(AppPaths::documents(), 2, scanned);
    const QStringList candidates = Settings::shared().stringList(foldersKey).value_or(QStringList()) + scanned;

    QList<Project> projects;
    QStringList taken;
    for (const QString& candidate : candidates) {
        if (taken.contains(candidate))
            continue;
        taken.append(candidate);
        Project project;
        project.path = candidate;
        project.name = QFileInfo(QDir::cleanPath(candidate)).fileName();
        if (const auto alias = gitRemoteName(candidate))
            project.aliases.append(*alias);
        projects.append(project);
    }
    cache() = Cache {now(), projects};
    return projects;
}

CodexProjects::Match CodexProjects::match(const QString& spokenName)
{
    const QString spoken = slug(spokenName);
    if (spoken.isEmpty())
        return {};
    const QList<Project> projects = all();

    QList<const Project*> exact;
    for (const Project& project : projects) {
        bool hit = slug(project.name) == spoken;
        for (const QString& alias : project.aliases)
            hit = hit || slug(alias) == spoken;
        if (hit)
            exact.append(&project);
    }
    if (exact.size() == 1)
        return {Match::Kind::one, *exact.first(), {}};

    QList<const Project*> fitting;
    for (const Project& project : projects) {
        bool fit = fits(slug(project.name), spoken);
        for (const QString& alias : project.aliases)
            fit = fit || fits(slug(alias), spoken);
        if (fit)
            fitting.append(&project);
    }
    if (fitting.size() == 1)
        return {Match::Kind::one, *fitting.first(), {}};
    if (fitting.isEmpty())
        return {};
    Match many {Match::Kind::many, {}, {}};
    for (const Project* project : fitting)
        many.names.append(project->name);
    return many;
}

QString CodexProjects::slug(const QString& name)
{
    // Whole user-perceived characters are kept or dropped, judged by their first code point.
    const QString lower = name.toLower();
    QString result;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, lower);
    qsizetype start = 0;
    while (start < lower.size()) {
        finder.setPosition(start);
        qsizetype end = finder.toNextBoundary();
        if (end <= start)
            end = lower.size();
        const QStringView character = QStringView(lower).mid(start, end - start);
        const char32_t first = character.toUcs4().value(0);
        if (isLetterOrNumber(first))
            result.append(character);
        start = end;
    }
    return result;
}

std::optional<QString> CodexProjects::gitRemoteName(const QString& folder)
{
    const auto bytes = files::read(QDir(folder).filePath(QStringLiteral(".git/config")));
    if (!bytes)
        return std::nullopt;
    const QString text = QString::fromUtf8(*bytes);
    const QString marker = QStringLiteral("url = ");
    for (const QString& line : text.split(u'\n')) {
        if (!line.contains(marker))
            continue;
        const QString url = line.split(marker).constLast();
        const QStringList pieces = url.split(u'/', Qt::SkipEmptyParts);
        if (pieces.isEmpty())
            return std::nullopt;
        QString name = pieces.constLast();
        name.remove(QStringLiteral(".git"));
        if (name.isEmpty())
            return std::nullopt;
        return name;
    }
    return std::nullopt;
}

void CodexProjects::scanRepos(const QString& folder, int depth, QStringList& results)
{
    const QDir dir(folder);
    if (!dir.exists())
        return;
    const QFileInfoList entries = dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    for (const QFileInfo& entry : entries) {
        // Links are not followed: a linked folder could lead back up the tree.
        if (entry.isSymLink() || !entry.isDir())
            continue;
        const QString path = entry.absoluteFilePath();
        if (QFileInfo(QDir(path).filePath(QStringLiteral(".git"))).isDir()) {
            results.append(path);
            continue;
        }
        if (depth >= 2)
            scanRepos(path, depth - 1, results);
    }
}

void CodexProjects::saveFolders(const QStringList& paths)
{
    Settings::shared().setStringList(foldersKey, paths);
    cache().reset();
}

void CodexProjects::registerWorkspaceRoot(const QString& path)
{
    const QString file = QDir(AppPaths::home()).filePath(QStringLiteral(".codex/.codex-global-state.json"));
    const auto bytes = files::read(file);
    if (!bytes)
        return;
    Json state;
    try {
        state = json::parse(*bytes);
    } catch (const JsonDecodeError&) {
        return;
    }
    if (!state.is_object())
        return;

    Json roots = Json::array();
    const auto existing = state.find(rootsKey);
    if (existing != state.end() && existing->is_array()
        && std::all_of(existing->begin(), existing->end(), [](const Json& item) { return item.is_string(); }))
        roots = *existing;
    const std::string wanted = json::fromQString(path);
    for (const Json& root : roots)
        if (root.get_ref<const std::string&>() == wanted)
            return;
    roots.push_back(wanted);
    state[rootsKey] = std::move(roots);
    try {
        files::writeAtomically(file, json::dumpBytes(state), false);
    } catch (const std::exception&) {
        // A state value we cannot write back (a number out of range) leaves the file as it was.
    }
}
