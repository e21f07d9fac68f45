#include <benchmark/benchmark.h>

#include <random>

#include "shared/focus/FocusSync.h"

namespace {

// A session of the longest plan with a judged check every 30 focus seconds, probabilities as the
// model service gives them (full precision, not round numbers).
FocusSession longSession(std::mt19937_64& random)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    FocusSession session(QStringLiteral("Finish the quarterly report and send it to the team"), 14400, false);
    for (int i = 1; i <= 480; ++i) {
        const double offTask = unit(random);
        const double onTask = (1 - offTask) * unit(random);
        const double uncertain = 1 - offTask - onTask;
        const FocusActivity activity = offTask > 0.5 ? FocusActivity::offTask : FocusActivity::onTask;
        FocusCheck check(30.0 * i, activity, offTask, unit(random),
                         FocusCheck::Probabilities { { QStringLiteral("on_task"), onTask },
                                                     { QStringLiteral("off_task"), offTask },
                                                     { QStringLiteral("uncertain"), uncertain } },
                         30.0);
        check.nudged = i % 40 == 0;
        session.checks.push_back(std::move(check));
        session.advance(30);
    }
    return session;
}

FocusSync largestSync()
{
    std::mt19937_64 random(7);
    std::vector<FocusSession> history;
    for (int i = 0; i < 30; ++i) {
        history.push_back(longSession(random));
        history.back().end();
    }
    return FocusSync(longSession(random), std::move(history), 123456, false);
}

void encodeLargestSync(benchmark::State& state)
{
    const FocusSync sync = largestSync();
    std::size_t bytes = 0;
    for (auto _ : state) {
        const QByteArray text = sync.encode();
        bytes = static_cast<std::size_t>(text.size());
        benchmark::DoNotOptimize(text.constData());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(encodeLargestSync)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void decodeLargestSync(benchmark::State& state)
{
    const QByteArray text = largestSync().encode();
    for (auto _ : state) {
        const FocusSync sync = FocusSync::decode(text);
        benchmark::DoNotOptimize(sync.history.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(decodeLargestSync)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
