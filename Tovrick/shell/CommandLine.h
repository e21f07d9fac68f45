#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// What the program was asked to do by its arguments. Read from the raw arguments before any window
// system is touched, so help, version and refusals work without a display.
struct CommandLine {
    enum class Action {
        run,     // start (or hand the arguments to the running instance)
        help,    // print the switches, exit 0
        version, // print the version, exit 0
        refuse,  // print `problem`, exit 2
    };

    Action action = Action::run;
    // For `refuse`: one line naming the argument that was not understood.
    QString problem;
    // "--pair": open the add-this-computer window.
    bool pair = false;
    // The first "tovrick:" link among the arguments (the browser's sign-in answer).
    QUrl link;
    // The check switch given, if any ("--focus-api-test", …); checks run and exit without the shell.
    QString check;

    // `arguments` includes the program's name at [0].
    static CommandLine parse(const QStringList& arguments);

    // The switches, the environment variables and the files, for --help.
    static QString helpText(const QString& program);
    static QString versionText();

    // The check switches in the order they are looked for.
    static const QStringList& checkSwitches();
};
