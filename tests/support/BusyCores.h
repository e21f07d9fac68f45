#pragma once

#include <QProcess>
#include <QThread>

#include <memory>
#include <vector>

// Every core busy, as a user's build keeps them: one shell busy loop per core, each ended by its
// process id when this goes.
class BusyCores {
public:
    BusyCores()
    {
        for (int i = 0; i < QThread::idealThreadCount(); ++i) {
            auto& loop = m_loops.emplace_back(std::make_unique<QProcess>());
            loop->start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("while :; do :; done")});
            loop->waitForStarted();
        }
    }
    ~BusyCores()
    {
        for (auto& loop : m_loops) {
            loop->kill();
            loop->waitForFinished(3000);
        }
    }
    BusyCores(const BusyCores&) = delete;
    BusyCores& operator=(const BusyCores&) = delete;

private:
    std::vector<std::unique_ptr<QProcess>> m_loops;
};
