#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The folders a coding job may be pointed at: git repositories below Documents and the folders the
// user chose, each named by its folder and by the repository name of its remote. Main thread only.
class CodexProjects {
public:
    struct Project {
        QString name;
        QString path;
        QStringList aliases;
    };

    struct Match {
        enum class Kind { one, many, none };
        Kind kind = Kind::none;
        Project project;   // for one
        QStringList names; // for many, in catalogue order
    };

    CodexProjects() = delete;

    // The catalogue; scanned again once the last scan is 60 s old.
    static QList<Project> all();
    static Match match(const QString& spokenName);
    // Lowercased, keeping only letters and numbers: "My-App 2" → "myapp2".
    static QString slug(const QString& name);
    static std::optional<QString> gitRemoteName(const QString& folder);
    static void scanRepos(const QString& folder, int depth, QStringList& results);
    // Stores the user's chosen folders ("codexFolders") and drops the cache.
    static void saveFolders(const QStringList& paths);
    // Lists `path` among the agent's saved workspace roots, if its state file is there.
    static void registerWorkspaceRoot(const QString& path);

    // Seconds of wall-clock time; tests replace it. None restores the system clock.
    static void setClock(std::optional<std::function<double()>> clock);
    static void dropCache();
};
