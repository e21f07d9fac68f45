#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QCoro/QCoroTask>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

#include "Tovrick/assistant/HostPointing.h"
#include "Tovrick/assistant/MeetingNotes.h"
#include "Tovrick/assistant/NotesStore.h"
#include "Tovrick/assistant/ReportPanel.h"
#include "Tovrick/assistant/ToolDispatcher.h"
#include "shared/link/Packet.h"
#include "shared/util/CancelToken.h"
#include "shared/util/Json.h"
#include "shared/util/UserFacingError.h"

class CodexController;
class FocusCompanion;

// The assistant host: the desktop side of the conversation the phone runs. Every phone request that is
// not a focus command comes here and is answered through the reply function that came with it: model
// turns, meeting-note chunks and records, captions, the awake state and the model's tool calls.
// Lives on the main thread; one instance for the whole run.
class RealtimeHost final : public QObject {
    Q_OBJECT

public:
    using Reply = std::function<void(const Packet&)>;

    // A voice-session failure; the transcription also throws it for an answer that is not an object.
    class TokenError : public UserFacingError {
    public:
        explicit TokenError(const QString& text);
    };

    // What the host asks of the on-screen character. Unset hooks do nothing.
    struct Character {
        // "caption": the live text, trimmed; empty clears the bubble.
        std::function<void(const QString& text)> liveCaption;
        // "captionDone": the final text of what the phone said (empty when it sent none).
        std::function<void(const QString& text)> finalCaption;
        // After the awake state changed (and, going to sleep, after the tool chain was cancelled).
        std::function<void(bool awake)> awakeChanged;
    };

    // The host's reach into the world; what is left empty gets the real one.
    struct Ports {
        std::shared_ptr<ToolDispatcher> tools;
        std::shared_ptr<NotesStore> notes;
        // The on-screen character's captions, pointing and nudges; none leaves only the hooks below.
        std::shared_ptr<HostPointing> pointing;
        // Stops a motivation clip that plays.
        std::function<void()> stopMotivation;
        double turnTimeoutSeconds = 65;
        // Ends the process with a status once the report card's pictures are written.
        std::function<void(int status)> terminate;
    };

    // What one model turn is told about: both read once per turn, so the instructions and the tool
    // list always agree.
    struct TurnOptions {
        bool codingAgent = false;
        bool computerControl = false;
        static TurnOptions current();
    };

    static constexpr int maximumInputItems = 32;

    explicit RealtimeHost(CodexController& codex, QObject* parent = nullptr);
    RealtimeHost(CodexController& codex, Ports ports, QObject* parent = nullptr);
    ~RealtimeHost() override;

    // The character's persona: the user's "personality" setting when it holds more than white space,
    // otherwise the built-in one.
    static QString persona();
    // The system instructions of one model turn.
    static QString instructions(TurnOptions options);
    // The tools one model turn offers: 11, 16, 18 or 23 of them.
    static Json tools(TurnOptions options);
    static Json codexTools();
    // The answer of a tool call that going to sleep called off before it started.
    static QString signInSentence();

    // Answers one phone request; returns at once, work that waits answers later. At most one reply.
    void handlePhoneRequest(const Packet& packet, const Reply& reply);
    // Follows the phone's awake state; going to sleep calls off the tool calls still to come.
    void setAwake(bool awake);
    // Cuts the running tool call short (an action stops between two of its events) and calls off
    // the ones still to come: going to sleep, and quitting.
    void endToolCalls();
    bool awake() const { return m_awake; }
    // A live caption arrived and its speech has not been reported over.
    bool speaking() const { return m_ports.pointing ? m_ports.pointing->speaking() : m_speaking; }
    // A focus nudge: the sentence in the bubble, pointing at the target, the plan's extras.
    void say(const QString& text, const std::optional<Target>& target, const MotivationNudgePlan& plan);
    // The final text of what the phone (or the coding agent's news) says, for its reading time.
    void showCaption(const QString& text);
    // The user's stop: the running action ends, and the tool calls waiting behind the running one are
    // answered without being run.
    void stop();
    HostPointing* pointing() const { return m_ports.pointing.get(); }
    CodexController& codex() { return m_codex; }

    // One model turn: posts the phone's input with fresh instructions and tools, and relays the answer.
    QCoro::Task<> requestResponse(Json input, std::optional<QString> callID, Reply reply);
    // Stores one meeting-note chunk in its session's folder and answers with its transcript.
    QCoro::Task<> saveNotesChunk(QByteArray audio, QString session, std::int64_t index, double sessionStarted,
                                 std::optional<QString> callID, Reply reply);

    // The research report card, one for the whole run; the tools drive it.
    ReportPanel& reports() { return m_reports; }
    // Pictures of the report card for one research run ("-loading", "-preview" and "-open" PNGs
    // after `prefix`), one line with the report on standard output, then the end of the process.
    QCoro::Task<> writeReportSnapshots(QString question, QString prefix);
    // The "web_research" tool's run: the card loads, then shows the report or the failure; the
    // answer is the model's sentence for either ending.
    QCoro::Task<QString> research(QString question, std::optional<QString> screenContext);

    // The focus engine the focus tools use; the shell sets it.
    FocusCompanion* focus = nullptr;
    // Called after the awake state changed.
    std::function<void()> onChange;
    Character character;

private:
    struct ToolCall {
        QString name;
        QString arguments;
        std::optional<QString> callID;
        Reply reply;
        // Waiting when the user pressed stop.
        bool stopped = false;
    };
    // The tool calls of one awake stretch, answered in arrival order by one runner.
    struct ToolChain {
        CancelToken token;
        std::deque<ToolCall> pending;
        bool running = false;
    };

    void voiceResponse(const Packet& packet, const Reply& reply);
    void transcribe(const Packet& packet, const Reply& reply);
    void notes(const Packet& packet, const Reply& reply);
    void caption(const Packet& packet);
    void queueTool(const Packet& packet, const Reply& reply);
    QCoro::Task<> runToolChain(std::shared_ptr<ToolChain> chain);

    CodexController& m_codex;
    Ports m_ports;
    std::shared_ptr<ToolChain> m_toolChain;
    ReportPanel m_reports;
    bool m_awake = false;
    bool m_speaking = false;
};
