#include "Tovrick/shell/CommandLine.h"

#include <QSet>

#ifndef TOVRICK_VERSION
#define TOVRICK_VERSION "0"
#endif

namespace {

// Qt's own options, taken from the command line by the application object: they are not ours to
// refuse. The first set takes a value (as the next argument or after "=").
const QSet<QString>& qtOptionsWithValue()
{
    static const QSet<QString> options {
        QStringLiteral("platform"), QStringLiteral("platformpluginpath"), QStringLiteral("platformtheme"),
        QStringLiteral("plugin"), QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowicon"),
        QStringLiteral("qwindowtitle"), QStringLiteral("session"), QStringLiteral("display"),
        QStringLiteral("name"), QStringLiteral("title"), QStringLiteral("geometry"),
    };
    return options;
}

const QSet<QString>& qtFlags()
{
    static const QSet<QString> flags {
        QStringLiteral("reverse"), QStringLiteral("nograb"), QStringLiteral("dograb"), QStringLiteral("sync"),
    };
    return flags;
}

// "-platform" and "--platform" name the same option; anything else gives an empty name.
QString qtOptionName(const QString& argument)
{
    QString name = argument;
    if (name.startsWith(QStringLiteral("--")))
        name.remove(0, 2);
    else if (name.startsWith(QLatin1Char('-')))
        name.remove(0, 1);
    else
        return {};
    return name.section(QLatin1Char('='), 0, 0);
}

} // namespace

const QStringList& CommandLine::checkSwitches()
{
    static const QStringList switches {
        QStringLiteral("--focus-link-test"), QStringLiteral("--focus-developer-test"),
        QStringLiteral("--focus-nudge-test"), QStringLiteral("--focus-api-test"),
        QStringLiteral("--focus-screen-test"), QStringLiteral("--screen-permission-check"),
    };
    return switches;
}

CommandLine CommandLine::parse(const QStringList& arguments)
{
    CommandLine line;
    const auto refuse = [&line](const QString& problem) {
        line.action = Action::refuse;
        line.problem = problem;
        return line;
    };
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QStringLiteral("--help") || argument == QStringLiteral("-h")) {
            line.action = Action::help;
            return line;
        }
        if (argument == QStringLiteral("--version")) {
            line.action = Action::version;
            return line;
        }
        if (argument == QStringLiteral("--pair")) {
            line.pair = true;
            continue;
        }
        if (checkSwitches().contains(argument)) {
            if (line.check.isEmpty())
                line.check = argument;
            continue;
        }
        if (argument.startsWith(QStringLiteral("tovrick:"))) {
            const QUrl url(argument, QUrl::StrictMode);
            if (!url.isValid())
                return refuse(QStringLiteral("tovrick: not a link this program can open: %1").arg(argument));
            if (line.link.isEmpty())
                line.link = url;
            continue;
        }
        const QString qtName = qtOptionName(argument);
        if (qtFlags().contains(qtName) && !argument.contains(QLatin1Char('=')))
            continue;
        if (qtOptionsWithValue().contains(qtName)) {
            if (!argument.contains(QLatin1Char('=')) && ++i >= arguments.size())
                return refuse(QStringLiteral("tovrick: %1 needs a value (see tovrick --help)").arg(argument));
            continue;
        }
        if (argument.startsWith(QStringLiteral("-qmljsdebugger=")))
            continue;
        if (argument.startsWith(QLatin1Char('-')))
            return refuse(QStringLiteral("tovrick: unknown option %1 (see tovrick --help)").arg(argument));
        return refuse(QStringLiteral("tovrick: unexpected argument %1 (see tovrick --help)").arg(argument));
    }
    return line;
}

QString CommandLine::versionText()
{
    return QStringLiteral("tovrick " TOVRICK_VERSION "\n");
}

QString CommandLine::helpText(const QString& program)
{
    return QStringLiteral(
               "Usage: %1 [--pair] [tovrick:link]\n"
               "A desktop companion for focus sessions, with a character drawn over the desktop.\n"
               "One runs per user session: a second start hands its arguments to it and exits.\n"
               "\n"
               "Options:\n"
               "  --pair                     open the window that adds this computer to an account\n"
               "  tovrick:...                finish a sign-in (the browser passes this link)\n"
               "  -h, --help                 print this help and exit\n"
               "  --version                  print the version and exit\n"
               "\n"
               "Checks (each runs once, prints its lines and exits 0 when it passes, else 1):\n"
               "  --screen-permission-check  whether the screen can be captured\n"
               "  --focus-api-test           the focus judge against the product's API\n"
               "  --focus-screen-test        the focus judge on a real capture of this screen\n"
               "  --focus-link-test          a focus session driven over the phone link of the running program\n"
               "  --focus-developer-test     the same in developer mode\n"
               "  --focus-nudge-test         the same, until a nudge\n"
               "\n"
               "Environment:\n"
               "  TOVRICK_API_URL            https address of the product's API\n"
               "  FENNOW_DEMO_BUBBLE         show the character with the bubble text of FENNOW_DEMO_TEXT\n"
               "  FENNOW_DEMO_TEXT           the bubble text, or the research question\n"
               "  FENNOW_DEMO_OUT            write the demo's picture (or pictures' path prefix) there and exit\n"
               "  FENNOW_DEMO_TRANSCRIBE     transcribe the audio file named and print its segments\n"
               "  FENNOW_DEMO_RESEARCH       research FENNOW_DEMO_TEXT and write pictures of the report card\n"
               "\n"
               "Needs an X11 session (or Xwayland).\n")
        .arg(program);
}
