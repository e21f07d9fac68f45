#pragma once

#include <QString>
#include <QCoro/QCoroTask>

#include <optional>

#include "shared/util/CancelToken.h"

// What one tool call answers: a sentence for the model and, after a look at the screen, a standard
// base64 JPEG.
struct ToolResult {
    QString text;
    std::optional<QString> image;
};

// Carries out the model's tool calls. The host runs them one at a time, in arrival order; `cancel`
// fires when the phone puts the assistant to sleep, and the call then wraps up quickly (its waits end
// early) but still answers. Never throws: every problem is a sentence.
class ToolDispatcher {
public:
    virtual ~ToolDispatcher() = default;
    virtual QCoro::Task<ToolResult> handleToolCall(QString name, QString arguments, CancelToken cancel) = 0;
};

// Answers every call with one sentence saying that the tool cannot be used here.
class UnavailableTools : public ToolDispatcher {
public:
    static QString sentence();
    QCoro::Task<ToolResult> handleToolCall(QString name, QString arguments, CancelToken cancel) override;
};
