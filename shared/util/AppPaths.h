#pragma once

#include <QString>

// Where the program keeps its files. Tests point everything at a temporary root.
class AppPaths {
public:
    // The per-user "Tovrick" data folder under the XDG data folder, created with mode 0700.
    // Empty when it cannot be created.
    static QString appFolder();
    // The XDG documents folder (not created here).
    static QString documents();
    // The user's home folder.
    static QString home();
    // A folder for short-lived files.
    static QString temporary();
    // A folder for short-lived files nobody else may read: "Tovrick" in the user's runtime folder
    // (XDG_RUNTIME_DIR), else in the user's cache folder, with mode 0700. Empty when it cannot be made.
    static QString privateTemporary();

    // Everything below `root`: root/data/Tovrick, root/Documents, root/home, root/tmp,
    // root/runtime/Tovrick. Empty restores.
    static void overrideRoot(const QString& root);

    // Creates `path` (and its parents) and sets its mode to 0700. Returns false when that fails.
    static bool ensurePrivateFolder(const QString& path);
};
