// Phone link figures: how long the handshake takes over loopback TCP, and how fast 1 MB records (a
// meeting-note chunk's size) go through, sealed and opened alone and end to end over a socket, and how
// long a hostile packet of the largest size the link allows takes to decode, shape by shape.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

#include "shared/link/LineConnection.h"
#include "shared/link/SecureChannel.h"

namespace {

const QByteArray pairingKey(32, '\x33');
constexpr qsizetype recordSize = 1024 * 1024;

// Runs the event loop, asleep between events, until `done` holds; the callbacks that can make it hold
// wake it through `waiting`. Gives up after ten seconds.
template <typename Predicate>
bool waitFor(QEventLoop*& waiting, Predicate&& done)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.start(10000);
    waiting = &loop;
    while (!done() && limit.isActive())
        loop.exec();
    waiting = nullptr;
    return done();
}

// A server and a client LineConnection over loopback.
struct LinkPair {
    QTcpServer listener;
    std::unique_ptr<LineConnection> server;
    std::unique_ptr<LineConnection> client;
    int serverPackets = 0;
    bool clientPaired = false;
    QEventLoop* waiting = nullptr;

    void wake()
    {
        if (waiting)
            waiting->quit();
    }

    LinkPair()
    {
        listener.listen(QHostAddress::LocalHost);
        QObject::connect(&listener, &QTcpServer::newConnection, &listener, [this] {
            server = std::make_unique<LineConnection>(listener.nextPendingConnection(), pairingKey, true);
            server->onPacket = [this](const Packet&) {
                ++serverPackets;
                wake();
            };
            server->start();
        });
    }

    bool connect()
    {
        clientPaired = false;
        auto* socket = new QTcpSocket;
        socket->connectToHost(QHostAddress::LocalHost, listener.serverPort());
        client = std::make_unique<LineConnection>(socket, pairingKey, false);
        client->onPacket = [this](const Packet& packet) {
            clientPaired = clientPaired || packet.hello.has_value();
            wake();
        };
        client->start();
        return waitFor(waiting, [this] { return clientPaired; });
    }
};

void handshake(benchmark::State& state)
{
    LinkPair pair;
    for (auto _ : state) {
        if (!pair.connect()) {
            state.SkipWithError("the handshake did not finish");
            break;
        }
    }
}
BENCHMARK(handshake)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void recordsOverLoopback(benchmark::State& state)
{
    LinkPair pair;
    if (!pair.connect()) {
        state.SkipWithError("the handshake did not finish");
        return;
    }
    Packet chunk;
    chunk.command = QStringLiteral("notes");
    chunk.audio = QString(recordSize, QLatin1Char('A'));
    for (auto _ : state) {
        const int before = pair.serverPackets;
        pair.client->send(chunk);
        if (!waitFor(pair.waiting, [&] { return pair.serverPackets > before; })) {
            state.SkipWithError("the record did not arrive");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * recordSize);
}
BENCHMARK(recordsOverLoopback)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void sealAndOpen(benchmark::State& state)
{
    SecureChannel client(pairingKey, SecureChannel::Role::client);
    SecureChannel server(pairingKey, SecureChannel::Role::server);
    const auto challenge = server.handshake(client.opening());
    server.handshake(client.handshake(challenge.reply).reply);
    const QByteArray message(recordSize, 'A');
    for (auto _ : state) {
        auto opened = server.open(client.seal(message));
        benchmark::DoNotOptimize(opened);
    }
    state.SetBytesProcessed(state.iterations() * recordSize);
}
BENCHMARK(sealAndOpen)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// A packet of about maximumLine bytes, in one of the shapes a hostile phone could choose.
QByteArray hostilePacket(int shape)
{
    const qsizetype target = LineConnection::maximumLine - 64;
    QByteArray text = "{";
    switch (shape) {
    case 0: // as many keys as fit
        for (int i = 0; text.size() < target; ++i)
            text += "\"k" + QByteArray::number(i) + "\":" + QByteArray::number(i % 10) + ",";
        text += "\"hello\":\"wide\"}";
        break;
    case 1: { // nested as deep as allowed, over and over
        const QByteArray deep = QByteArray(json::maximumNesting - 2, '[') + QByteArray(json::maximumNesting - 2, ']');
        text += "\"face\":[";
        while (text.size() < target)
            text += deep + ",";
        text += "0]}";
        break;
    }
    case 2: // one long text
        text += "\"speechText\":\"" + QByteArray(target, 'a') + "\"}";
        break;
    default: // one long array of small numbers
        text += "\"volumes\":[";
        while (text.size() < target)
            text += "1,";
        text += "1]}";
        break;
    }
    return text;
}

void decodeHostilePacket(benchmark::State& state)
{
    const QByteArray bytes = hostilePacket(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        try {
            auto packet = Packet::decode(bytes);
            benchmark::DoNotOptimize(packet);
        } catch (const JsonDecodeError&) {
        }
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(decodeHostilePacket)
    ->ArgName("keys_deep_text_array")
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

// The same shapes through the general reader, which builds every value: what a reader that does not name
// its fields pays.
void parseHostileDocument(benchmark::State& state)
{
    const QByteArray bytes = hostilePacket(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto document = json::parse(bytes);
        benchmark::DoNotOptimize(document);
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(parseHostileDocument)
    ->ArgName("keys_deep_text_array")
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // Every handshake logs a line: tens of thousands of them would bury the figures.
    QLoggingCategory::setFilterRules(QStringLiteral("default.info=false"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
