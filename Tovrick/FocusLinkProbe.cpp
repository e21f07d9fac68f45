#include "Tovrick/FocusLinkProbe.h"

#include <QAbstractSocket>
#include <QCoro/QCoroSignal>
#include <QTcpSocket>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cmath>

#include "Tovrick/phone/PhoneServer.h"
#include "Tovrick/phone/ServiceBrowser.h"
#include "shared/focus/FocusSync.h"
#include "shared/link/FennowService.h"
#include "shared/util/Json.h"

namespace {

bool isVerdict(FocusActivity activity)
{
    return activity == FocusActivity::onTask || activity == FocusActivity::offTask
        || activity == FocusActivity::uncertain;
}

// Keep-alive probes after 2 s of silence, so an app that vanished is noticed within a few seconds.
void shortenKeepAlive(const QTcpSocket& socket)
{
    const int descriptor = static_cast<int>(socket.socketDescriptor());
    if (descriptor < 0)
        return;
    const int on = 1, idle = 2, interval = 1, count = 3;
    ::setsockopt(descriptor, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(descriptor, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(descriptor, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(descriptor, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

} // namespace

QCoro::Task<int> FocusLinkProbe::run(bool developerMode, bool nudge)
{
    const Options defaults;
    auto running = run(developerMode, nudge, defaults);
    co_return co_await running;
}

QCoro::Task<int> FocusLinkProbe::run(bool developerMode, bool nudge, Options options)
{
    FocusLinkProbe probe(developerMode, nudge, options);
    probe.complete = [&probe](int status) { emit probe.finished(status); };
    probe.start();
    auto finishing = qCoro(&probe, &FocusLinkProbe::finished);
    co_return co_await finishing;
}

FocusLinkProbe::FocusLinkProbe(bool developerTest, bool nudgeTest, Options options)
    : m_options(options), m_developerTest(developerTest), m_nudgeTest(nudgeTest)
{
    m_began.start();
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &FocusLinkProbe::tick);
}

FocusLinkProbe::~FocusLinkProbe()
{
    complete = nullptr;
    if (m_link)
        m_link->close();
}

void FocusLinkProbe::start()
{
    m_timer.start();
    if (m_options.address) {
        const auto key = PhoneServer::pairingRecord().key();
        if (key)
            connectTo(*m_options.address, m_options.port, *key);
        return;
    }
    m_browser = std::make_unique<ServiceBrowser>();
    m_browser->onChange = [this] { browsed(); };
    // Reported from the event loop: whoever started the probe is listening by then.
    if (!m_browser->browse(FennowService::serviceType)) {
        const QString line = QStringLiteral("LIVE app discovery: ") + m_browser->error();
        QTimer::singleShot(0, this, [this, line] { end(1, line); });
    }
}

void FocusLinkProbe::browsed()
{
    if (m_link || !m_browser)
        return;
    const PairingRecord record = PhoneServer::pairingRecord();
    const auto key = record.key();
    const auto identifier = record.identifier();
    if (!key || !identifier)
        return;
    for (const auto& service : m_browser->services()) {
        if (service.txt.value(FennowService::identifierKey) == identifier->toUtf8()) {
            connectTo(service.address, service.port, *key);
            return;
        }
    }
}

void FocusLinkProbe::connectTo(const QHostAddress& address, quint16 port, const QByteArray& key)
{
    auto* socket = new QTcpSocket();
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    connect(socket, &QTcpSocket::connected, socket, [socket] { shortenKeepAlive(*socket); });
    socket->connectToHost(address, port);
    auto* link = new LineConnection(socket, key, false, this);
    link->onPacket = [this](const Packet& packet) { handle(packet); };
    link->onAuthenticated = [this] { onAuthenticated(); };
    m_link = link;
    link->start();
}

void FocusLinkProbe::onAuthenticated()
{
    print(QStringLiteral("LIVE app transport: authenticated"));
    m_phase = QStringLiteral("initial");
    if (m_link) {
        Packet hello;
        hello.hello = QStringLiteral("Tovrick integration probe");
        m_link->send(hello);
    }
    send(QStringLiteral("focusSync"));
}

void FocusLinkProbe::send(const QString& command)
{
    if (!m_link)
        return;
    Packet packet;
    packet.command = command;
    try {
        if (command == QLatin1String("focusStart")) {
            Json arguments = Json::object();
            arguments["task"] = json::fromQString(kTask);
            arguments["minutes"] = m_developerTest ? 2 : 1;
            packet.text = json::toQString(json::dump(arguments));
        } else if (command == QLatin1String("focusDeveloperMode")) {
            const bool value = m_phase == QLatin1String("restoring") ? m_previousDeveloperMode : true;
            packet.text = json::toQString(json::dump(Json { { "developerMode", value } }));
        }
    } catch (const JsonEncodeError&) {
        packet.text.reset();
    }
    m_link->send(packet);
}

void FocusLinkProbe::tick()
{
    send(QStringLiteral("focusPing"));
    if (m_phase == QLatin1String("paused") && m_pausedAt.isValid()
        && secondsSince(m_pausedAt) >= m_options.pauseHold) {
        print(QStringLiteral("LIVE app clock: paused without advancing"));
        m_phase = QStringLiteral("resuming");
        send(QStringLiteral("focusResume"));
    }
    if (secondsSince(m_began) > m_options.timeLimit)
        finish(1, QStringLiteral("timed out in ") + m_phase);
}

void FocusLinkProbe::handle(const Packet& packet)
{
    if (!complete)
        return;
    if (m_nudgeTest && m_phase == QLatin1String("testNudge") && packet.command == QStringLiteral("focusChirp")) {
        finish(0, QStringLiteral("test nudge dispatched through the real Mac bubble and phone chirp path"));
        return;
    }
    if (packet.command != QStringLiteral("focusState") || !packet.text)
        return;
    FocusSync sync;
    try {
        sync = FocusSync::decode(packet.text->toUtf8());
    } catch (const std::exception&) {
        return; // a state that cannot be read is skipped
    }
    handleState(sync);
}

void FocusLinkProbe::handleState(const FocusSync& sync)
{
    const bool developerMode = sync.developerMode.value_or(false);
    if (m_phase == QLatin1String("initial")) {
        if (m_nudgeTest) {
            if (developerMode) {
                m_phase = QStringLiteral("testNudge");
                send(QStringLiteral("focusTestNudge"));
            } else {
                finish(1, QStringLiteral("enable Developer Mode first"));
            }
            return;
        }
        if (sync.current && sync.current->status != FocusSession::Status::ended) {
            finish(1, QStringLiteral("active user session; skipped"));
            return;
        }
        m_previousDeveloperMode = developerMode;
        m_phase = m_developerTest ? QStringLiteral("configuring") : QStringLiteral("starting");
        send(m_developerTest ? QStringLiteral("focusDeveloperMode") : QStringLiteral("focusStart"));
        return;
    }
    if (m_phase == QLatin1String("configuring")) {
        if (developerMode) {
            print(QStringLiteral("LIVE Developer Mode: enabled and synchronized"));
            m_phase = QStringLiteral("starting");
            send(QStringLiteral("focusStart"));
        }
        return;
    }
    if (m_phase == QLatin1String("restoring")) {
        if (sync.developerMode && *sync.developerMode == m_previousDeveloperMode)
            finish(0, QStringLiteral("4x clock and ten-second checks verified; original setting restored"));
        return;
    }
    if (!sync.current || sync.current->task != kTask)
        return;
    const FocusSession& session = *sync.current;

    if (m_phase == QLatin1String("starting")) {
        if (session.status == FocusSession::Status::running) {
            print(QStringLiteral("LIVE app focus: started"));
            m_phase = QStringLiteral("running");
        }
    } else if (m_phase == QLatin1String("running")) {
        if (session.checks.empty())
            return;
        const FocusCheck& check = session.checks.back();
        m_checked = isVerdict(check.activity);
        print(QStringLiteral("LIVE scheduled check at %1s: %2")
                  .arg(QString::number(static_cast<long long>(std::isfinite(check.elapsed) ? std::trunc(check.elapsed) : 0)),
                       focusActivityText(check.activity)));
        if (m_developerTest) {
            const bool timed = session.isDeveloperMode() && check.elapsed >= 39 && check.elapsed < 60
                && check.sampleDuration && *check.sampleDuration == 40
                && std::fabs(session.elapsed - 4 * session.realActiveElapsed()) < 0.1;
            if (!timed) {
                finish(1, QStringLiteral("unexpected Developer Mode timing"));
                return;
            }
            print(QStringLiteral("LIVE 4x clock: observation at ") + QString::asprintf("%.1f", check.elapsed / 4)
                  + QStringLiteral(" real seconds"));
        }
        m_phase = QStringLiteral("pausing");
        send(QStringLiteral("focusPause"));
    } else if (m_phase == QLatin1String("pausing")) {
        if (session.status == FocusSession::Status::paused) {
            m_pausedAt.start();
            m_pausedElapsed = session.elapsed;
            m_phase = QStringLiteral("paused");
        }
    } else if (m_phase == QLatin1String("paused")) {
        if (std::fabs(session.elapsed - m_pausedElapsed) > 0.05)
            finish(1, QStringLiteral("pause advanced the clock"));
    } else if (m_phase == QLatin1String("resuming")) {
        if (session.status == FocusSession::Status::running) {
            print(QStringLiteral("LIVE app focus: resumed"));
            m_resumedElapsed = session.elapsed;
            m_phase = QStringLiteral("resumed");
        }
    } else if (m_phase == QLatin1String("resumed")) {
        if (session.elapsed - m_resumedElapsed >= 2.0) {
            m_phase = QStringLiteral("ending");
            send(QStringLiteral("focusEnd"));
        }
    } else if (m_phase == QLatin1String("ending")) {
        if (session.status != FocusSession::Status::ended)
            return;
        bool archived = false;
        for (const auto& stored : sync.history)
            archived = archived || stored.id == session.id;
        if (!archived || !m_checked) {
            finish(1, QStringLiteral("ended, but no valid live check/history"));
        } else if (m_developerTest) {
            m_phase = QStringLiteral("restoring");
            send(QStringLiteral("focusDeveloperMode"));
        } else {
            finish(0, QStringLiteral("pause/resume/end synchronized; history contains the live check"));
        }
    }
}

void FocusLinkProbe::finish(int status, const QString& message)
{
    end(status, QStringLiteral("LIVE app integration: ") + message);
}

void FocusLinkProbe::end(int status, const QString& line)
{
    if (!complete)
        return;
    auto done = std::move(complete);
    complete = nullptr;
    print(line);
    m_timer.stop();
    if (m_link)
        m_link->close();
    m_browser.reset();
    done(status);
}

void FocusLinkProbe::print(const QString& line)
{
    std::fputs(line.toUtf8().append('\n').constData(), m_options.out);
    std::fflush(m_options.out);
}

double FocusLinkProbe::secondsSince(const QElapsedTimer& timer) const
{
    return static_cast<double>(timer.elapsed()) / 1000.0;
}
