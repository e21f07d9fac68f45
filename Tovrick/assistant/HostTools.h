#pragma once

#include <QString>
#include <QCoro/QCoroTask>

#include <functional>
#include <memory>
#include <optional>

#include "Tovrick/assistant/ToolDispatcher.h"
#include "shared/util/Json.h"

class CodexController;
class FocusCompanion;
class HostPointing;
class SnapshotSource;

// Readers of one tool call's arguments (a JSON object).
namespace toolargs {
// The value when it is a JSON string.
std::optional<QString> text(const Json& arguments, const char* key);
// A JSON number, or a string that is wholly a decimal number; a value that is not finite is absent.
std::optional<double> number(const Json& arguments, const char* key);
// The call's arguments; anything but a JSON object is an empty one.
Json parse(const QString& arguments);
} // namespace toolargs

// The model's tools, by their exact names: the screen, pointing, the focus engine, the coding agent,
// research and computer control. Every problem is a sentence for the model.
class HostTools : public ToolDispatcher {
public:
    // Answers "web_research" for a question (trimmed, not empty) with the screen's lines as context.
    using Researcher = std::function<QCoro::Task<QString>(QString question, std::optional<QString> context)>;
    // Carries out one computer-control call (its guard included).
    using ComputerControl = std::function<QCoro::Task<ToolResult>(QString name, Json arguments, CancelToken cancel)>;

    struct Ports {
        std::shared_ptr<SnapshotSource> screen;
        std::function<bool()> signedIn;
        std::function<FocusCompanion*()> focus;
        Researcher research;
        ComputerControl computerControl;
    };

    HostTools(std::shared_ptr<HostPointing> pointing, CodexController& codex, Ports ports);

    static bool isComputerControl(const QString& name);
    static QString researchUnavailable();
    static QString computerControlUnavailable();

    QCoro::Task<ToolResult> handleToolCall(QString name, QString arguments, CancelToken cancel) override;
    // Reads the screen and describes it; `sentence` goes first after an action.
    QCoro::Task<ToolResult> lookAtScreen(std::optional<QString> sentence);
    static QCoro::Task<ToolResult> lookAtScreen(std::shared_ptr<SnapshotSource> screen,
                                                std::shared_ptr<HostPointing> pointing, std::optional<QString> sentence);

private:
    QString pointAt(const Json& arguments);
    QString pointAtSpot(const Json& arguments);
    QCoro::Task<QString> webResearch(Json arguments);
    QString focusStart(const Json& arguments);
    QString focusStatus() const;

    std::shared_ptr<HostPointing> m_pointing;
    CodexController& m_codex;
    Ports m_ports;
};
