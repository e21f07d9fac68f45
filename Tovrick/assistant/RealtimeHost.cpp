#include "Tovrick/assistant/RealtimeHost.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTimer>

#include <cmath>
#include <cstdio>

#include "Tovrick/assistant/ComputerActions.h"
#include "Tovrick/codex/CodexController.h"
#include "Tovrick/motivation/MotivationAudioStore.h"
#include "shared/account/TovrickAccount.h"
#include "shared/util/Log.h"
#include "shared/util/Settings.h"
#include "shared/util/Text.h"

namespace {

Packet replyTo(const QString& command, const std::optional<QString>& callID)
{
    Packet packet;
    packet.command = command;
    packet.callID = callID;
    return packet;
}

// The arguments a command carries in its text, when they are one JSON object.
std::optional<Json> objectArguments(const std::optional<QString>& text)
{
    if (!text)
        return std::nullopt;
    try {
        Json parsed = json::parse(text->toUtf8());
        if (parsed.is_object())
            return parsed;
    } catch (const JsonDecodeError&) {
    }
    return std::nullopt;
}

// A whole number that fits 64 bits: an integer, or a number with nothing after the point. Never a
// boolean.
std::optional<std::int64_t> wholeNumber(const Json& value)
{
    if (value.is_number_unsigned()) {
        const auto wide = value.get<std::uint64_t>();
        if (wide > static_cast<std::uint64_t>(INT64_MAX))
            return std::nullopt;
        return static_cast<std::int64_t>(wide);
    }
    if (value.is_number_integer())
        return value.get<std::int64_t>();
    if (value.is_number_float()) {
        const double number = value.get<double>();
        // 2^63 itself is out of range; every double below it converts exactly.
        if (std::isfinite(number) && std::trunc(number) == number && number >= -9223372036854775808.0
            && number < 9223372036854775808.0)
            return static_cast<std::int64_t>(number);
    }
    return std::nullopt;
}

// Standard base64 only: the 64 letters, a length that is a multiple of four and at most two "=" at
// the very end.
std::optional<QByteArray> strictBase64(const QString& text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    int padding = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'=') {
            if (i < text.size() - 2)
                return std::nullopt;
            ++padding;
            continue;
        }
        const bool letter = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9')
            || c == u'+' || c == u'/';
        if (!letter || padding > 0)
            return std::nullopt;
    }
    auto decoded = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::Base64Encoding
                                                                        | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return std::move(decoded.decoded);
}

QString chunkName(std::int64_t index)
{
    return QString::asprintf("chunk-%03lld.m4a", static_cast<long long>(index));
}

// The error as the log shows it: what it says of itself.
QString loggedError(const std::exception_ptr& error)
{
    return describeError(error, QStringLiteral("unknown error"));
}

} // namespace

RealtimeHost::TokenError::TokenError(const QString& text)
    : UserFacingError(QStringLiteral("OpenAI wouldn't start a voice session: ") + text::prefixCharacters(text, 160))
{
}

RealtimeHost::TurnOptions RealtimeHost::TurnOptions::current()
{
    return TurnOptions {CodexController::isInstalled(), Settings::shared().computerControl()};
}

RealtimeHost::RealtimeHost(CodexController& codex, QObject* parent) : RealtimeHost(codex, Ports {}, parent) {}

RealtimeHost::RealtimeHost(CodexController& codex, Ports ports, QObject* parent)
    : QObject(parent), m_codex(codex), m_ports(std::move(ports))
{
    if (!m_ports.tools)
        m_ports.tools = std::make_shared<UnavailableTools>();
    if (!m_ports.notes)
        m_ports.notes = std::make_shared<MeetingNotes>();
    if (!m_ports.stopMotivation)
        m_ports.stopMotivation = [] { MotivationAudioStore::shared().stop(); };
    if (!m_ports.terminate)
        m_ports.terminate = [](int status) { QCoreApplication::exit(status); };
}

RealtimeHost::~RealtimeHost()
{
    // Calls still waiting get their answer from the runner, which outlives the host.
    if (m_toolChain)
        m_toolChain->token.cancel();
}

QString RealtimeHost::signInSentence()
{
    return QStringLiteral("Sign in to Tovrick to use local tools.");
}

void RealtimeHost::handlePhoneRequest(const Packet& packet, const Reply& reply)
{
    if (!packet.command)
        return;
    const QString& command = *packet.command;
    if (command == QLatin1String("voiceResponse"))
        voiceResponse(packet, reply);
    else if (command == QLatin1String("transcribe"))
        transcribe(packet, reply);
    else if (command == QLatin1String("notes"))
        notes(packet, reply);
    else if (command == QLatin1String("awake"))
        setAwake(true);
    else if (command == QLatin1String("asleep"))
        setAwake(false);
    else if (command == QLatin1String("caption"))
        caption(packet);
    else if (command == QLatin1String("captionDone"))
        showCaption(packet.text.value_or(QString()));
    else if (command == QLatin1String("tool"))
        queueTool(packet, reply);
}

void RealtimeHost::voiceResponse(const Packet& packet, const Reply& reply)
{
    // A nudge's clip still to come would start over the phone's answer.
    if (m_ports.pointing)
        m_ports.pointing->cancelMotivation();
    m_ports.stopMotivation();
    std::optional<Json> arguments = objectArguments(packet.text);
    Json* input = nullptr;
    if (arguments) {
        const auto found = arguments->find("input");
        if (found != arguments->end() && found->is_array() && found->size() <= maximumInputItems
            && std::all_of(found->begin(), found->end(), [](const Json& item) { return item.is_object(); }))
            input = &*found;
    }
    if (!input) {
        Packet answer = replyTo(QStringLiteral("voiceResponse"), packet.callID);
        answer.text = QStringLiteral("{}");
        reply(answer);
        return;
    }
    Json turnInput = std::move(*input);
    std::optional<QString> callID = packet.callID;
    Reply replyToPhone = reply;
    requestResponse(std::move(turnInput), std::move(callID), std::move(replyToPhone));
}

QCoro::Task<> RealtimeHost::requestResponse(Json input, std::optional<QString> callID, Reply reply)
{
    const TurnOptions options = TurnOptions::current();
    Json body = Json::object();
    body["model"] = "gpt-6-luna";
    body["instructions"] = json::fromQString(instructions(options));
    body["tools"] = tools(options);
    body["input"] = std::move(input);
    const QString path = QStringLiteral("responses");
    const double timeout = m_ports.turnTimeoutSeconds;

    Packet answer = replyTo(QStringLiteral("voiceResponse"), callID);
    std::exception_ptr failure;
    try {
        TovrickAccount& account = TovrickAccount::shared();
        auto request = account.aiRequest(path, body, timeout);
        const QByteArray response = co_await std::move(request);
        answer.text = text::decodeUtf8Strict(response);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        const Json error = {{"error", json::fromQString(describeError(failure, QStringLiteral("The request failed.")))}};
        try {
            answer.text = QString::fromStdString(json::dump(error));
        } catch (const std::exception&) {
            answer.text.reset();
        }
    }
    reply(answer);
}

void RealtimeHost::transcribe(const Packet& packet, const Reply& reply)
{
    const std::optional<Json> arguments = objectArguments(packet.text);
    std::optional<QString> session;
    std::optional<std::int64_t> index;
    std::optional<double> started;
    if (arguments) {
        if (const auto it = arguments->find("session"); it != arguments->end() && it->is_string())
            session = json::toQString(it->get<std::string>());
        if (const auto it = arguments->find("index"); it != arguments->end())
            index = wholeNumber(*it);
        if (const auto it = arguments->find("sessionStarted"); it != arguments->end() && it->is_number()
            && std::isfinite(it->get<double>()))
            started = it->get<double>();
    }
    std::optional<QByteArray> audio = packet.audio ? strictBase64(*packet.audio) : std::nullopt;
    if (!session || !index || !started || !audio) {
        reply(replyTo(QStringLiteral("transcribed"), packet.callID));
        return;
    }
    QByteArray bytes = std::move(*audio);
    QString sessionId = *session;
    const std::int64_t chunk = *index;
    const double start = *started;
    std::optional<QString> callID = packet.callID;
    Reply replyToPhone = reply;
    saveNotesChunk(std::move(bytes), std::move(sessionId), chunk, start, std::move(callID), std::move(replyToPhone));
}

QCoro::Task<> RealtimeHost::saveNotesChunk(QByteArray audio, QString session, std::int64_t index,
                                           double sessionStarted, std::optional<QString> callID, Reply reply)
{
    std::shared_ptr<NotesStore> notes = m_ports.notes;
    const Packet failed = replyTo(QStringLiteral("transcribed"), callID);
    // Beyond the calendar's range a date is unusable; keep the instant within it.
    const double seconds = std::clamp(sessionStarted, -1.0e11, 1.0e11);
    const QDateTime startedAt = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(seconds * 1000.0));
    const std::optional<QString> folder = notes->sessionFolder(session, startedAt);
    if (!folder) {
        logline::info(QStringLiteral("transcription failed: no notes folder for this session"));
        reply(failed);
        co_return;
    }
    const QString audioFolder = *folder + QStringLiteral("/audio");
    QDir().mkpath(audioFolder);
    QFile file(audioFolder + QLatin1Char('/') + chunkName(index));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(audio) != audio.size()) {
        logline::info(QStringLiteral("transcription failed: ") + file.errorString());
        reply(failed);
        co_return;
    }
    file.close();

    std::vector<TranscriptSegment> segments;
    std::exception_ptr failure;
    try {
        auto diarized = notes->transcribeDiarized(audio);
        segments = co_await std::move(diarized);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        logline::info(QStringLiteral("diarized transcription failed (") + loggedError(failure)
                      + QStringLiteral("), trying gpt-4o-mini-transcribe"));
        failure = nullptr;
        try {
            auto plain = notes->transcribePlain(audio);
            segments = co_await std::move(plain);
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (failure) {
        logline::info(QStringLiteral("transcription failed: ") + loggedError(failure));
        reply(failed);
        co_return;
    }

    Packet answer = failed;
    try {
        Json said = Json::array();
        for (const TranscriptSegment& segment : segments)
            said.push_back({{"speaker", json::fromQString(segment.speaker)},
                            {"start", json::number(segment.start)},
                            {"text", json::fromQString(segment.text)}});
        const Json document = {{"segments", std::move(said)}, {"notesPath", json::fromQString(*folder)}};
        answer.text = QString::fromStdString(json::dump(document));
    } catch (const std::exception&) {
        answer.text.reset();
    }
    reply(answer);
}

void RealtimeHost::notes(const Packet& packet, const Reply& reply)
{
    Packet answer = replyTo(QStringLiteral("notes"), packet.callID);
    if (const std::optional<Json> record = objectArguments(packet.text))
        answer.text = m_ports.notes->saveSession(*record);
    reply(answer);
}

void RealtimeHost::caption(const Packet& packet)
{
    const QString trimmed = text::trimmedWhitespaceAndNewlines(packet.text.value_or(QString()));
    if (!trimmed.isEmpty())
        m_speaking = true;
    if (m_ports.pointing)
        m_ports.pointing->liveCaption(trimmed);
    if (character.liveCaption)
        character.liveCaption(trimmed);
}

void RealtimeHost::setAwake(bool awake)
{
    m_awake = awake;
    if (!awake)
        endToolCalls();
    if (m_ports.pointing)
        m_ports.pointing->setAwake(awake);
    if (character.awakeChanged)
        character.awakeChanged(awake);
    if (onChange)
        onChange();
}

void RealtimeHost::endToolCalls()
{
    if (!m_toolChain)
        return;
    m_toolChain->token.cancel();
    m_toolChain.reset();
}

void RealtimeHost::showCaption(const QString& text)
{
    if (m_ports.pointing)
        m_ports.pointing->showCaption(text);
    if (character.finalCaption)
        character.finalCaption(text);
}

void RealtimeHost::say(const QString& text, const std::optional<Target>& target, const MotivationNudgePlan& plan)
{
    if (m_ports.pointing)
        m_ports.pointing->say(text, target, plan);
}

void RealtimeHost::stop()
{
    if (m_ports.pointing)
        m_ports.pointing->stop();
    // Calls the model queued before the stop would act after it; the ones sent later are the user's
    // next request.
    if (m_toolChain)
        for (ToolCall& call : m_toolChain->pending)
            call.stopped = true;
}

void RealtimeHost::queueTool(const Packet& packet, const Reply& reply)
{
    if (!m_toolChain)
        m_toolChain = std::make_shared<ToolChain>();
    const std::shared_ptr<ToolChain> chain = m_toolChain;
    chain->pending.push_back(ToolCall {packet.tool.value_or(QString()), packet.text.value_or(QStringLiteral("{}")),
                                       packet.callID, reply});
    if (chain->running)
        return;
    chain->running = true;
    // The runner starts from the event loop, so the request returns at once.
    QTimer::singleShot(0, this, [this, chain] { runToolChain(chain); });
}

QCoro::Task<> RealtimeHost::runToolChain(std::shared_ptr<ToolChain> chain)
{
    // The dispatcher is shared so that a call under way survives the host.
    std::shared_ptr<ToolDispatcher> tools = m_ports.tools;
    while (!chain->pending.empty()) {
        ToolCall call = std::move(chain->pending.front());
        chain->pending.pop_front();
        ToolResult result {signInSentence(), std::nullopt};
        if (call.stopped && !chain->token.isCancelled()) {
            result.text = ComputerActions::stoppedSentence();
        } else if (!chain->token.isCancelled()) {
            const CancelToken token = chain->token;
            try {
                auto running = tools->handleToolCall(call.name, call.arguments, token);
                result = co_await std::move(running);
            } catch (...) {
                result = ToolResult {describeError(std::current_exception(), QStringLiteral("That tool failed.")),
                                     std::nullopt};
            }
        }
        Packet answer = replyTo(QStringLiteral("toolResult"), call.callID);
        answer.text = std::move(result.text);
        answer.image = std::move(result.image);
        call.reply(answer);
    }
    chain->running = false;
}

QCoro::Task<> RealtimeHost::writeReportSnapshots(QString question, QString prefix)
{
    const CancelToken never;
    QPointer<RealtimeHost> self(this);
    m_reports.showLoading(question);
    auto loadingPause = cancellableSleep(std::chrono::milliseconds(400), never);
    co_await std::move(loadingPause);
    if (!self)
        co_return;
    m_reports.snapshotPNG(false, prefix + QStringLiteral("-loading.png"));

    const std::optional<QString> noContext;
    QString line;
    try {
        auto research = WebResearch::research(question, noContext);
        const ResearchReport report = co_await std::move(research);
        if (!self)
            co_return;
        m_reports.show(report);
        QStringList addresses;
        for (const ResearchReport::Source& source : report.sources)
            addresses << source.url.toString(QUrl::FullyEncoded);
        line = report.text() + QStringLiteral(" [") + addresses.join(QStringLiteral(", ")) + QLatin1Char(']');
    } catch (...) {
        const QString description = describeError(std::current_exception(), QStringLiteral("The research failed."));
        if (!self)
            co_return;
        m_reports.showError(description);
        line = description;
    }
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);

    auto previewPause = cancellableSleep(std::chrono::milliseconds(500), never);
    co_await std::move(previewPause);
    if (!self)
        co_return;
    m_reports.snapshotPNG(false, prefix + QStringLiteral("-preview.png"));
    m_reports.snapshotPNG(true, prefix + QStringLiteral("-open.png"));
    // Again once the card has finished opening.
    auto openingPause = cancellableSleep(std::chrono::milliseconds(800), never);
    co_await std::move(openingPause);
    if (!self)
        co_return;
    m_reports.snapshotPNG(true, prefix + QStringLiteral("-open.png"));
    m_ports.terminate(0);
}
