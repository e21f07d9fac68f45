#include "Tovrick/codex/CodexController.h"

#include "Tovrick/codex/CodexJson.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QTimer>

#include <limits>

#include <csignal>
#include <unistd.h>

#include "shared/util/AppPaths.h"
#include "shared/util/Log.h"
#include "shared/util/ProcessTree.h"
#include "shared/util/Text.h"

namespace {

const QString stoppedUnexpectedly = QStringLiteral("Codex stopped unexpectedly.");
const QString pathPrefix = QStringLiteral("/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin:");

std::optional<QStringList>& injectedPaths()
{
    static std::optional<QStringList> paths;
    return paths;
}

// Built outside the coroutines: g++ 12 miscompiles braced JSON literals inside a coroutine body.
Json initializeParams()
{
    return Json {{"clientInfo", {{"name", "tovrick"}, {"title", "Tovrick"}, {"version", "1.0"}}}};
}

Json initializedNotification()
{
    return Json {{"jsonrpc", "2.0"}, {"method", "initialized"}};
}

Json requestMessage(qint64 id, const QString& method, Json params)
{
    return Json {{"jsonrpc", "2.0"}, {"id", id}, {"method", json::fromQString(method)}, {"params", std::move(params)}};
}

} // namespace

const QStringList CodexController::liveStatuses {QStringLiteral("starting"), QStringLiteral("working"),
                                                 QStringLiteral("waiting for approval")};

CodexController::CodexError::CodexError(Kind kind, QString message, QString description)
    : UserFacingError(std::move(description)), m_kind(kind), m_message(std::move(message))
{
}

CodexController::CodexError CodexController::CodexError::failed(const QString& message)
{
    return CodexError(Kind::failed, message, QStringLiteral("Codex said: ") + text::prefixCharacters(message, 200));
}

CodexController::CodexError CodexController::CodexError::notInstalled()
{
    return CodexError(Kind::notInstalled, QString(), QStringLiteral("Codex isn't installed on this computer."));
}

CodexController::CodexController(QObject* parent) : QObject(parent)
{
    openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

CodexController::~CodexController()
{
    // No exit or output notice may reach a controller that is gone, from this child or an older one.
    for (QProcess* process : findChildren<QProcess*>(Qt::FindDirectChildrenOnly))
        process->disconnect(this);
    if (m_process) {
        endTree(*m_process);
        m_process->waitForFinished(2000);
        delete m_process;
    }
}

QStringList CodexController::executablePaths()
{
    if (injectedPaths())
        return *injectedPaths();
    const QDir home(AppPaths::home());
    return {QStringLiteral("/usr/local/bin/codex"), QStringLiteral("/usr/bin/codex"),
            home.filePath(QStringLiteral(".local/bin/codex")), home.filePath(QStringLiteral(".npm-global/bin/codex"))};
}

void CodexController::setExecutablePaths(std::optional<QStringList> paths)
{
    injectedPaths() = std::move(paths);
}

namespace {

std::optional<QString> firstExecutable()
{
    for (const QString& path : CodexController::executablePaths()) {
        const QFileInfo info(path);
        if (info.isFile() && info.isExecutable())
            return path;
    }
    return std::nullopt;
}

} // namespace

bool CodexController::isInstalled()
{
    return firstExecutable().has_value();
}

bool CodexController::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

void CodexController::terminate()
{
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return;
    // Gathered while the agent still holds them: once it is gone, what it started belongs to init.
    // Each is asked to end and given a moment to save its work; whatever is left then is ended.
    const pid_t leader = m_pid;
    const std::vector<processtree::Member> tree = processtree::freeze(leader);
    processtree::signal(leader, tree, SIGTERM);
    processtree::signal(leader, tree, SIGCONT);
    if (m_process->state() != QProcess::NotRunning)
        m_process->waitForFinished(1000);
    processtree::signal(leader, tree, SIGKILL);
}

QCoro::Task<> CodexController::ensureRunning()
{
    if (!(m_ready && isRunning()))
        launch();
    const Completion<bool> ready = *m_ready;
    co_await ready;
}

QCoro::Task<> CodexController::warmUp()
{
    try {
        co_await ensureRunning();
    } catch (...) {
        // The next use of the agent tries again.
    }
}

void CodexController::launch()
{
    const auto executable = firstExecutable();
    if (!executable)
        throw CodexError::notInstalled();
    // A child that died before its exit notice was handled is settled now: what was sent to it fails
    // here instead of waiting on a child that never saw it.
    if (m_process)
        processExited(m_launch);

    QProcessEnvironment environment = baseEnvironment.value_or(QProcessEnvironment::systemEnvironment());
    environment.insert(QStringLiteral("PATH"), pathPrefix + environment.value(QStringLiteral("PATH")));

    auto* process = new QProcess(this);
    process->setProgram(*executable);
    process->setArguments({QStringLiteral("app-server")});
    process->setWorkingDirectory(AppPaths::home());
    process->setProcessEnvironment(environment);
    process->setStandardErrorFile(QProcess::nullDevice());
    // A session of its own: the agent may be a launcher whose child does the work and starts builds
    // of its own, and ending the agent has to end all of them.
    process->setChildProcessModifier([] { ::setsid(); });
    const quint64 launch = m_launch + 1;
    connect(process, &QProcess::readyReadStandardOutput, this, [this, process, launch] { readOutput(process, launch); });
    connect(process, &QProcess::finished, this, [this, process, launch] {
        processExited(launch);
        process->deleteLater();
    });
    process->start(QIODevice::ReadWrite);
    if (!process->waitForStarted(10000)) {
        const QString error = process->errorString();
        process->disconnect(this);
        endTree(*process);
        process->kill();
        process->waitForFinished(1000);
        delete process;
        throw UserFacingError(error);
    }

    m_launch = launch;
    m_process = process;
    m_pid = static_cast<pid_t>(process->processId());
    m_buffer.clear();
    m_loaded.clear();
    Completion<bool> ready;
    m_ready = ready;
    runHandshake(launch, ready);
}

QCoro::Task<> CodexController::runHandshake(quint64 launch, Completion<bool> ready)
{
    try {
        const QString method = QStringLiteral("initialize");
        const Json params = initializeParams();
        auto initializing = request(method, params);
        co_await initializing;
        // An answer that arrived just before its child died must not open the way to a newer child
        // that has not been through its own handshake.
        if (launch != m_launch || !m_process)
            throw CodexError::failed(stoppedUnexpectedly);
        send(initializedNotification());
        ready.resolve(true);
    } catch (...) {
        ready.fail(std::current_exception());
    }
}

QCoro::Task<Json> CodexController::request(QString method, Json params)
{
    // With no child attached the line would go nowhere and its answer would never come.
    if (!m_process && !m_writeLine)
        throw CodexError::failed(stoppedUnexpectedly);
    const qint64 id = m_nextID++;
    Completion<Json> answer;
    m_waiting.emplace(id, answer);
    send(requestMessage(id, method, std::move(params)));
    const quint64 launch = m_launch;
    const quint64 reads = m_reads;
    QTimer::singleShot(requestTimeout, this, [this, id, launch, reads] {
        const auto waiting = m_waiting.find(id);
        if (waiting == m_waiting.end())
            return;
        Completion<Json> late = waiting->second;
        m_waiting.erase(waiting);
        late.fail(CodexError::failed(QStringLiteral("Codex didn't answer in time.")));
        // Silent the whole time: it would hold every later request (or a failed handshake) for ever.
        // Ended after the waiter has handled its failure, so a job it started is "failed", not "quit".
        if (reads == m_reads)
            QTimer::singleShot(0, this, [this, launch] { endHungChild(launch); });
    });
    co_return co_await answer;
}

void CodexController::send(const Json& message)
{
    if (!m_process && !m_writeLine)
        return;
    QByteArray line;
    try {
        line = json::dumpBytes(message);
    } catch (const std::exception&) {
        return;
    }
    line.append('\n');
    if (m_writeLine)
        m_writeLine(line);
    else
        m_process->write(line);
}

void CodexController::respond(const Json& id, const Json& result)
{
    send(Json {{"jsonrpc", "2.0"}, {"id", id}, {"result", result}});
}

void CodexController::respondError(const Json& id, const QString& message)
{
    send(Json {{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", -32601}, {"message", json::fromQString(message)}}}});
}

Json CodexController::textInput(const QString& text)
{
    return Json {{"type", "text"}, {"text", json::fromQString(text)}, {"text_elements", Json::array()}};
}

QString CodexController::oneLineClip(const QString& text, qsizetype limit)
{
    QString line = text;
    line = text::trimmedSpacesAndTabs(line.replace(u'\n', u' '));
    if (text::characterCount(line) <= limit)
        return line;
    return text::prefixCharacters(line, limit) + QChar(0x2026);
}

void CodexController::readOutput(QProcess* process, quint64 launch)
{
    const QByteArray bytes = process->readAllStandardOutput();
    if (launch != m_launch || process != m_process)
        return;
    drainLines(bytes);
}

void CodexController::processExited(quint64 launch)
{
    if (launch != m_launch || !m_process)
        return;
    // Lines written just before the exit still count.
    drainLines(m_process->readAllStandardOutput());
    // What the agent started and left behind (its worker, a build) would hold the agent's locks.
    if (m_pid > 0)
        ::kill(-m_pid, SIGKILL);

    m_process = nullptr;
    m_pid = 0;
    m_ready.reset();
    m_loaded.clear();
    auto waiting = std::exchange(m_waiting, {});
    for (auto& [id, answer] : waiting)
        answer.fail(CodexError::failed(stoppedUnexpectedly));
    approvals.clear();
    for (Job& job : jobs)
        if (liveStatuses.contains(job.status))
            job.status = QStringLiteral("stopped (Codex quit)");
    logline::info(QStringLiteral("Codex exited"));
    changed();
}

void CodexController::endHungChild(quint64 launch)
{
    if (launch != m_launch || !m_process)
        return;
    logline::warning(QStringLiteral("Codex stopped answering; ending it"));
    endTree(*m_process);
    processExited(launch);
}

void CodexController::endTree(const QProcess& process)
{
    // Only while the child has not been reaped: until then its id cannot name another process.
    if (process.state() != QProcess::NotRunning)
        processtree::kill(static_cast<pid_t>(process.processId()));
}

void CodexController::drainLines(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    ++m_reads;
    m_buffer.append(bytes);
    while (auto line = m_buffer.next())
        handleLine(*line);
}

void CodexController::handleLine(const QByteArray& line)
{
    if (line.isEmpty())
        return;
    Json message;
    try {
        message = json::parse(line);
    } catch (const JsonDecodeError&) {
        return;
    }
    if (message.is_object())
        handleMessage(message);
}

void CodexController::handleMessage(const Json& message)
{
    const auto method = message.find("method");
    if (method != message.end() && method->is_string()) {
        const auto params = message.find("params");
        const Json& parameters = params != message.end() && params->is_object() ? *params : Json::object();
        const QString name = json::toQString(method->get<std::string>());
        const auto id = message.find("id");
        if (id != message.end())
            handleServerRequest(*id, name, parameters);
        else
            handleNotification(name, parameters);
        return;
    }

    const auto id = message.find("id");
    if (id == message.end())
        return;
    qint64 number = 0;
    if (id->is_number_unsigned()) {
        if (id->get<quint64>() > quint64(std::numeric_limits<qint64>::max()))
            return;
        number = qint64(id->get<quint64>());
    } else if (id->is_number_integer()) {
        number = id->get<qint64>();
    } else {
        return;
    }
    const auto waiting = m_waiting.find(number);
    if (waiting == m_waiting.end())
        return;
    Completion<Json> answer = waiting->second;
    m_waiting.erase(waiting);

    const auto error = message.find("error");
    if (error != message.end() && error->is_object()) {
        const auto text = error->find("message");
        answer.fail(CodexError::failed(text != error->end() && text->is_string()
                                           ? json::toQString(text->get<std::string>())
                                           : QStringLiteral("error")));
        return;
    }
    const auto result = message.find("result");
    answer.resolve(result != message.end() && result->is_object() ? *result : Json::object());
}

void CodexController::changed()
{
    if (onChange)
        onChange();
}
