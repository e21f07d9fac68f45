// tovrick-session-bench: what a focus session costs the running program, read from /proc.
//
//   tovrick-session-bench PROGRAM [--checks N] [--cases still,one,all]
//
// Run it under scripts/with-test-services (scripts/bench-session does). It shows a dense desktop in a
// process of its own (six text windows over the whole display), starts PROGRAM signed in against the
// loopback product API with developer mode on (a check every 10 real seconds), plays the phone over a
// real TCP link to start a session, and then, for each case, lets one check settle the case in and
// measures the next N checks (default 10):
//   still  the desktop does not change;
//   one    one window shows other words after every check;
//   all    every window shows other words after every check.
//
// How the figures are made:
// - CPU is utime+stime of /proc/<pid>/stat (all threads, also ended ones); memory is VmRSS and
//   VmHWM of /proc/<pid>/status, sampled every 250 ms; each thread's CPU is read from
//   /proc/<pid>/task/*/stat, with its name.
// - The session's own running cost (the 1-second tick, the countdown, the character, the phone's
//   state) goes on whether checks come every 10 s or every 30 s; a check's cost comes once per check.
//   A check's work runs on threads of its own: the capture, the JPEG, the cutting of the screen and
//   the controls on the pool's threads ("Thread (pooled)"), the recognition on "text-recognizer",
//   the request on the network thread. Their CPU over the measured checks, per check, is a check's
//   cost; the rest of the program's CPU over the same time is the steady part (which so also holds
//   the check's little main-thread work, and any thread that ended meanwhile). The share of one
//   core at the real period is steady + check / 30 s.
// - Recognition is the CPU of the "text-recognizer" threads, which do nothing else; its share is of
//   the program's CPU at 30 s.
// - Settled memory is the median VmRSS of the quiet stretches between checks (3 s or more after a
//   verdict, with the recognition threads idle around them); peak is VmHWM at the case's end.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QRasterWindow>
#include <QScopeGuard>
#include <QSettings>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <map>
#include <cstdio>
#include <optional>
#include <unistd.h>

#include "app/ProgramFolders.h"
#include "bench/DenseDesktop.h"
#include "support/RunTask.h"

namespace {

using namespace std::chrono_literals;

// ---- The desktop: a process of its own, so that its drawing is not the program's cost. ----

// Full screen, six windows of words; each window's words come from its own seed.
class Desktop : public QRasterWindow {
public:
    QList<quint32> seeds {1, 2, 3, 4, 5, 6};
    std::function<void()> onPainted;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        denseDesktop::paint(painter, seeds);
        painter.end();
        if (onPainted)
            QTimer::singleShot(0, this, onPainted);
    }
};

// Reads "one" (the first window changes) or "all" (every window changes) on its input and answers
// "shown" on its output once it has drawn the change.
int runDesktop()
{
    Desktop desktop;
    desktop.setFlags(Qt::FramelessWindowHint);
    desktop.setGeometry(0, 0, 1920, 1080);
    desktop.onPainted = [] {
        std::printf("shown\n");
        std::fflush(stdout);
    };
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &desktop, [&] {
        char line[64];
        const ssize_t read = ::read(STDIN_FILENO, line, sizeof line - 1);
        if (read <= 0) {
            QCoreApplication::quit();
            return;
        }
        const QByteArray command = QByteArray(line, static_cast<int>(read)).trimmed();
        for (qsizetype index = 0; index < desktop.seeds.size(); ++index)
            if (index == 0 || command.startsWith("all"))
                desktop.seeds[index] += 100;
        desktop.update();
    });
    desktop.show();
    return QCoreApplication::exec();
}

// ---- Reading the program from /proc. ----

const double kTicks = static_cast<double>(::sysconf(_SC_CLK_TCK));

// utime + stime in seconds from a stat file; the fields after the command's closing parenthesis.
std::optional<double> cpuSeconds(const QString& statPath)
{
    QFile file(statPath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray line = file.readAll();
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    if (fields.size() < 13)
        return std::nullopt;
    return (fields[11].toDouble() + fields[12].toDouble()) / kTicks;
}

// The CPU of each live thread, by thread id, with its name.
std::map<QString, std::pair<QByteArray, double>> threadSeconds(qint64 pid)
{
    std::map<QString, std::pair<QByteArray, double>> threads;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& tid : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks + QLatin1Char('/') + tid + QStringLiteral("/comm"));
        if (!comm.open(QIODevice::ReadOnly))
            continue;
        threads[tid] = {comm.readAll().trimmed(),
                        cpuSeconds(tasks + QLatin1Char('/') + tid + QStringLiteral("/stat")).value_or(0)};
    }
    return threads;
}

// The CPU of the text recognition threads.
double recognitionSeconds(const std::map<QString, std::pair<QByteArray, double>>& threads)
{
    double total = 0;
    for (const auto& [tid, thread] : threads)
        if (thread.first == "text-recognizer")
            total += thread.second;
    return total;
}

// The CPU of a check's own threads between two looks.
double checkThreadsSeconds(const std::map<QString, std::pair<QByteArray, double>>& before,
                           const std::map<QString, std::pair<QByteArray, double>>& after)
{
    static const QList<QByteArray> names {"text-recognizer", "Thread (pooled)", "QNetworkAccessM"};
    double used = 0;
    for (const auto& [tid, thread] : after) {
        if (!names.contains(thread.first))
            continue;
        const auto earlier = before.find(tid);
        used += thread.second - (earlier == before.end() ? 0 : earlier->second.second);
    }
    return used;
}

// The threads that used most CPU between two looks, by name: "main" is the program's main thread.
QString busiestThreads(qint64 pid, const std::map<QString, std::pair<QByteArray, double>>& before,
                       const std::map<QString, std::pair<QByteArray, double>>& after)
{
    std::map<QByteArray, double> byName;
    for (const auto& [tid, thread] : after) {
        const auto earlier = before.find(tid);
        const double used = thread.second - (earlier == before.end() ? 0 : earlier->second.second);
        byName[tid == QString::number(pid) ? QByteArray("main") : thread.first] += used;
    }
    std::vector<std::pair<double, QByteArray>> ranked;
    for (const auto& [name, used] : byName)
        if (used > 0)
            ranked.emplace_back(used, name);
    std::sort(ranked.rbegin(), ranked.rend());
    QStringList parts;
    for (size_t i = 0; i < ranked.size() && i < 6; ++i)
        parts << QStringLiteral("%1 %2 s").arg(QString::fromUtf8(ranked[i].second)).arg(ranked[i].first, 0, 'f', 2);
    return parts.join(QStringLiteral(", "));
}

// VmRSS and VmHWM in megabytes.
std::pair<double, double> memory(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    double rss = 0, hwm = 0;
    if (!status.open(QIODevice::ReadOnly))
        return {rss, hwm};
    for (const QByteArray& line : status.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() >= 2 && parts[0] == "VmRSS:")
            rss = parts[1].toDouble() / 1024;
        if (parts.size() >= 2 && parts[0] == "VmHWM:")
            hwm = parts[1].toDouble() / 1024;
    }
    return {rss, hwm};
}

struct Sample {
    double at = 0;   // seconds since the bench started
    double cpu = 0;  // the program's CPU seconds
    double rss = 0;
    double hwm = 0;
    double recognition = 0; // CPU seconds of the recognition threads
};

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Figures {
    QString name;
    int checks = 0;
    double seconds = 0;
    double cpu = 0;
    double steadyShare = 0;  // of one core
    double perCheck = 0;     // CPU seconds
    double recognitionPerCheck = 0;
    double settledMb = 0;
    double peakMb = 0;
};

int fail(const QString& why, const QByteArray& log = {})
{
    std::fprintf(stderr, "session bench: %s\n", qPrintable(why));
    if (!log.isEmpty())
        std::fprintf(stderr, "the program's log:\n%s\n", log.constData());
    return 1;
}

int runBench(const QString& program, int checksPerCase, const QStringList& cases)
{
    QElapsedTimer clock;
    clock.start();
    const auto now = [&] { return double(clock.nsecsElapsed()) / 1e9; };

    QProcess desktop;
    desktop.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    int shown = 0;
    QObject::connect(&desktop, &QProcess::readyReadStandardOutput, [&] {
        while (desktop.canReadLine())
            shown += desktop.readLine().startsWith("shown") ? 1 : 0;
    });
    desktop.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--desktop")});
    if (!waitUntil([&] { return shown > 0; }, 20s))
        return fail(QStringLiteral("the desktop window was not shown"));

    ProgramFolders folders;
    folders.prepare();
    if (::testing::Test::HasFatalFailure())
        return fail(QStringLiteral("could not prepare the program's folders"));
    {
        QSettings settings(folders.settingsFile(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("focusDeveloperMode"), true);
    }
    QProcess app;
    app.setProcessEnvironment(folders.environment);
    QByteArray log;
    QObject::connect(&app, &QProcess::readyReadStandardError, [&] { log += app.readAllStandardError(); });
    // For a profile: SESSION_BENCH_WRAPPER="valgrind --tool=callgrind ..." runs the program under it,
    // and SESSION_BENCH_SLOWDOWN stretches every wait by that factor.
    QStringList launch = qEnvironmentVariable("SESSION_BENCH_WRAPPER").split(QLatin1Char(' '), Qt::SkipEmptyParts);
    launch << program;
    app.start(launch.takeFirst(), launch);
    if (!app.waitForStarted(10000))
        return fail(QStringLiteral("%1 did not start").arg(program));
    const auto stop = qScopeGuard([&] {
        app.terminate();
        if (!app.waitForFinished(15000))
            app.kill();
        desktop.closeWriteChannel();
        if (!desktop.waitForFinished(5000))
            desktop.kill();
    });
    const qint64 pid = app.processId();
    const int slowdown = std::max(1, qEnvironmentVariableIntValue("SESSION_BENCH_SLOWDOWN"));
    const auto within = [slowdown](std::chrono::seconds limit) { return limit * slowdown; };

    int verdicts = 0;
    std::vector<double> verdictTimes;
    std::function<void()> onVerdict;
    ProgramPhone phone;
    phone.onState = [&] {
        const int judged = phone.state->current ? static_cast<int>(phone.state->current->checks.size()) : 0;
        if (judged > verdicts) {
            verdicts = judged;
            verdictTimes.push_back(now());
            if (onVerdict)
                onVerdict();
        }
    };
    const QString linked = phone.connect(folders, log, within(30s));
    if (!linked.isEmpty())
        return fail(linked, log);
    const QString started = phone.startSession(folders, QStringLiteral("Write the quarterly report"), 240, within(30s));
    if (!started.isEmpty())
        return fail(started, log);
    // A session started from the phone pauses when the phone falls silent.
    QTimer ping;
    QObject::connect(&ping, &QTimer::timeout, [&] { phone.send(QStringLiteral("focusPing")); });
    ping.start(1000);

    std::vector<Sample> samples;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const auto cpu = cpuSeconds(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!cpu)
            return;
        const auto [rss, hwm] = memory(pid);
        samples.push_back({now(), *cpu, rss, hwm, recognitionSeconds(threadSeconds(pid))});
    });
    sampler.start(250);

    QString mode;
    onVerdict = [&] {
        if (mode != QLatin1String("still"))
            desktop.write(mode.toLatin1() + '\n');
    };
    // How long one more verdict may take: a check every 10 s, and a dense screen read from scratch.
    const auto nextVerdicts = [&](int count) {
        const int target = verdicts + count;
        return waitUntil([&] { return verdicts >= target || !phone.running(); }, within(std::chrono::seconds(40 * count)))
            && phone.running();
    };

    std::vector<Figures> results;
    for (const QString& name : cases) {
        mode = name == QLatin1String("one") ? QStringLiteral("one") : name == QLatin1String("all") ? QStringLiteral("all") : QStringLiteral("still");
        std::printf("case %s: settling in with one check, then %d checks\n", qPrintable(name), checksPerCase);
        std::fflush(stdout);
        if (!nextVerdicts(1))
            return fail(QStringLiteral("no check came (case %1)").arg(name), log);
        const double startAt = now();
        const double startCpu = cpuSeconds(QStringLiteral("/proc/%1/stat").arg(pid)).value_or(0);
        const auto startThreads = threadSeconds(pid);
        const double startRecognition = recognitionSeconds(startThreads);
        const size_t firstVerdict = verdictTimes.size() - 1;
        const size_t firstSample = samples.size();
        if (!nextVerdicts(checksPerCase))
            return fail(QStringLiteral("the checks stopped (case %1): %2")
                            .arg(name, phone.state && phone.state->current ? phone.state->current->detail : QString()),
                        log);
        const double endAt = now();
        const double endCpu = cpuSeconds(QStringLiteral("/proc/%1/stat").arg(pid)).value_or(0);
        const auto endThreads = threadSeconds(pid);
        const double endRecognition = recognitionSeconds(endThreads);

        // The quiet stretches: 3 s or more after a verdict, while no recognition runs around them.
        std::vector<double> quietRss;
        const auto settled = [&](double at) {
            double last = -1e9;
            for (size_t v = firstVerdict; v < verdictTimes.size() && verdictTimes[v] <= at; ++v)
                last = verdictTimes[v];
            return at >= last + 3;
        };
        for (size_t i = std::max<size_t>(firstSample, 2); i + 1 < samples.size(); ++i) {
            if (samples[i].at > endAt)
                break;
            if (settled(samples[i - 1].at) && samples[i + 1].recognition == samples[i - 2].recognition) {
                quietRss.push_back(samples[i].rss);
            }
        }
        Figures figures;
        figures.name = name;
        figures.checks = checksPerCase;
        figures.seconds = endAt - startAt;
        figures.cpu = endCpu - startCpu;
        const double checking = checkThreadsSeconds(startThreads, endThreads);
        figures.steadyShare = std::max(0.0, figures.cpu - checking) / figures.seconds;
        figures.perCheck = checking / checksPerCase;
        figures.recognitionPerCheck = (endRecognition - startRecognition) / checksPerCase;
        figures.settledMb = median(quietRss);
        figures.peakMb = memory(pid).second;
        results.push_back(figures);

        const double at30 = figures.steadyShare + figures.perCheck / 30;
        std::printf("  %d checks in %.1f s: %.2f s CPU (%.2f%% of one core at one check every 10 s)\n",
                    figures.checks, figures.seconds, figures.cpu, 100 * figures.cpu / figures.seconds);
        std::printf("  steady %.3f%% of one core; %.3f s CPU a check, %.3f s of it recognition\n",
                    100 * figures.steadyShare, figures.perCheck, figures.recognitionPerCheck);
        std::printf("  at one check every 30 s: %.2f%% of one core, recognition %.0f%% of it\n", 100 * at30,
                    at30 > 0 ? 100 * figures.recognitionPerCheck / 30 / at30 : 0.0);
        std::printf("  threads: %s\n", qPrintable(busiestThreads(pid, startThreads, endThreads)));
        std::printf("  resident: settled %.1f MB, peak so far %.1f MB\n", figures.settledMb, figures.peakMb);
        std::fflush(stdout);
    }
    ping.stop();
    sampler.stop();
    phone.send(QStringLiteral("focusEnd"));

    std::printf("\nsession cost at one check every 30 s (checks measured every 10 s in developer mode)\n");
    std::printf("%-6s %8s %10s %12s %12s %12s %10s\n", "case", "core %", "steady %", "CPU/check s",
                "recognition", "settled MB", "peak MB");
    for (const Figures& f : results) {
        const double at30 = f.steadyShare + f.perCheck / 30;
        std::printf("%-6s %8.2f %10.3f %12.3f %11.0f%% %12.1f %10.1f\n", qPrintable(f.name), 100 * at30,
                    100 * f.steadyShare, f.perCheck, at30 > 0 ? 100 * f.recognitionPerCheck / 30 / at30 : 0.0,
                    f.settledMb, f.peakMb);
    }
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication application(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.value(1) == QLatin1String("--desktop"))
        return runDesktop();

    QString program;
    bool understood = true;
    int checks = 10;
    QStringList cases {QStringLiteral("still"), QStringLiteral("one"), QStringLiteral("all")};
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--checks") && i + 1 < args.size())
            checks = std::max(2, args[++i].toInt());
        else if (args[i] == QLatin1String("--cases") && i + 1 < args.size())
            cases = args[++i].split(QLatin1Char(','), Qt::SkipEmptyParts);
        else if (program.isEmpty() && !args[i].startsWith(QLatin1String("--")))
            program = args[i];
        else
            understood = false;
    }
    const QStringList known {QStringLiteral("still"), QStringLiteral("one"), QStringLiteral("all")};
    if (!understood || program.isEmpty() || cases.isEmpty()
        || std::any_of(cases.begin(), cases.end(), [&](const QString& c) { return !known.contains(c); })) {
        std::fprintf(stderr, "usage: tovrick-session-bench PROGRAM [--checks N] [--cases still,one,all]\n");
        return 2;
    }
    if (!qEnvironmentVariableIsSet("DISPLAY"))
        return fail(QStringLiteral("needs the display of scripts/with-test-services"));
    return runBench(program, checks, cases);
}
