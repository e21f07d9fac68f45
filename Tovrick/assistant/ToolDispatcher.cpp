#include "Tovrick/assistant/ToolDispatcher.h"

QString UnavailableTools::sentence()
{
    return QStringLiteral("That tool isn't available on this computer.");
}

QCoro::Task<ToolResult> UnavailableTools::handleToolCall(QString, QString, CancelToken)
{
    co_return ToolResult {sentence(), std::nullopt};
}
