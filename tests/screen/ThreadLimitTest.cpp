// The text recognition's thread limit as the program sets it for itself: this test program starts
// through the same call (tests/support/TestMain.cpp) and links the same library, so it is run again
// here as a user would start it, and asked what it holds.
#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdio>
#include <optional>

#include "shared/util/Files.h"

namespace {

QString seen(const QProcessEnvironment& environment, const QString& name)
{
    return environment.contains(name) ? environment.value(name) : QStringLiteral("(none)");
}

} // namespace

// Run by the test below only: one line with what this process and a process it starts hold.
TEST(ThreadLimit, DISABLED_Report)
{
    QProcess child;
    child.start(QStringLiteral("/usr/bin/env"), {});
    ASSERT_TRUE(child.waitForFinished(10000));
    QProcessEnvironment childEnvironment;
    for (const QByteArray& line : child.readAllStandardOutput().split('\n'))
        if (const auto equals = line.indexOf('='); equals > 0)
            childEnvironment.insert(QString::fromUtf8(line.left(equals)), QString::fromUtf8(line.mid(equals + 1)));
    using Limit = int (*)();
    const auto inForce = reinterpret_cast<Limit>(::dlsym(RTLD_DEFAULT, "omp_get_thread_limit"));
    const QString name = QString::fromUtf8(files::read(QStringLiteral("/proc/self/comm")).value_or("?").trimmed());
    std::printf("report name=%s limit=%d own=%s child=%s marks=%d\n", qPrintable(name), inForce ? inForce() : -1,
                qPrintable(seen(QProcessEnvironment::systemEnvironment(), QStringLiteral("OMP_THREAD_LIMIT"))),
                qPrintable(seen(childEnvironment, QStringLiteral("OMP_THREAD_LIMIT"))),
                int(childEnvironment.contains(QStringLiteral("TOVRICK_STARTED_AS"))
                    || childEnvironment.contains(QStringLiteral("TOVRICK_USER_OMP_THREAD_LIMIT"))));
}

// Whatever the user set, the library runs one thread; the program keeps the name it was started
// under, and what it starts sees the user's own value, or none.
TEST(ThreadLimit, OneThreadForTheProgramAndTheUsersEnvironmentForItsChildren)
{
    const QString program = QCoreApplication::applicationFilePath();
    const QString name = QFileInfo(program).fileName().left(15);
    const struct {
        std::optional<QString> user;
        const char* seen;
    } cases[] = {{std::nullopt, "(none)"}, {QStringLiteral("3"), "3"}, {QStringLiteral("1"), "1"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seen);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("OMP_THREAD_LIMIT"));
        if (c.user)
            environment.insert(QStringLiteral("OMP_THREAD_LIMIT"), *c.user);
        QProcess run;
        run.setProcessEnvironment(environment);
        run.start(program, {QStringLiteral("--gtest_also_run_disabled_tests"), QStringLiteral("--gtest_filter=ThreadLimit.DISABLED_Report")});
        ASSERT_TRUE(run.waitForFinished(60000));
        const QString out = QString::fromUtf8(run.readAllStandardOutput());
        const QString expected = QStringLiteral("report name=%1 limit=1 own=%2 child=%2 marks=0").arg(name, QString::fromLatin1(c.seen));
        EXPECT_TRUE(out.contains(expected)) << out.toStdString() << "\nexpected: " << expected.toStdString();
    }
}
