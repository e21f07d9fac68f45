#include <gtest/gtest.h>

#include "Tovrick/shell/CommandLine.h"

// Qt's own options belong to Qt and pass; ours are read; everything else is refused. A link and
// --pair may come together (the browser never does that, a user may).
TEST(CommandLine, QtsOptionsPassOursAreReadTheRestIsRefused)
{
    using Action = CommandLine::Action;
    const struct {
        QStringList arguments;
        Action action;
        bool pair;
        const char* link;
        const char* check;
    } cases[] = {
        {{}, Action::run, false, "", ""},
        {{QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--pair")}, Action::run, true, "",
         ""},
        {{QStringLiteral("--platform=xcb"), QStringLiteral("-reverse")}, Action::run, false, "", ""},
        {{QStringLiteral("-display"), QStringLiteral(":1"), QStringLiteral("tovrick://auth/google?state=s&code=c")},
         Action::run, false, "tovrick://auth/google?state=s&code=c", ""},
        {{QStringLiteral("--pair"), QStringLiteral("tovrick://a"), QStringLiteral("tovrick://b")}, Action::run, true,
         "tovrick://a", ""},
        {{QStringLiteral("--focus-link-test"), QStringLiteral("--focus-nudge-test")}, Action::run, false, "",
         "--focus-link-test"},
        {{QStringLiteral("--screen-permission-check")}, Action::run, false, "", "--screen-permission-check"},
        {{QStringLiteral("--frobnicate"), QStringLiteral("--help")}, Action::refuse, false, "", ""},
        {{QStringLiteral("--help"), QStringLiteral("--frobnicate")}, Action::help, false, "", ""},
        {{QStringLiteral("-reverse=1")}, Action::refuse, false, "", ""},
        {{QStringLiteral("--pair=yes")}, Action::refuse, false, "", ""},
        {{QStringLiteral("tovrick:%zz")}, Action::refuse, false, "", ""},
        {{QStringLiteral("-")}, Action::refuse, false, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        const CommandLine line = CommandLine::parse(QStringList {QStringLiteral("tovrick")} + c.arguments);
        EXPECT_EQ(line.action, c.action) << line.problem.toStdString();
        if (line.action == Action::refuse) {
            EXPECT_FALSE(line.problem.contains(QLatin1Char('\n')));
            continue;
        }
        EXPECT_EQ(line.pair, c.pair);
        EXPECT_EQ(line.link.toString(), QString::fromLatin1(c.link));
        EXPECT_EQ(line.check, QString::fromLatin1(c.check));
    }
}
