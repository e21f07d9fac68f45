#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <vector>

#include "Tovrick/assistant/RealtimeHost.h"
#include "shared/link/Packet.h"

// Collects the host's replies, in the order they were sent.
struct ReplySink {
    std::vector<Packet> packets;
    RealtimeHost::Reply reply()
    {
        return [this](const Packet& packet) { packets.push_back(packet); };
    }
};

// A notes store that remembers what it was asked and answers as scripted.
struct FakeNotes : NotesStore {
    std::optional<QString> folder = QStringLiteral("/notes/session");
    int folderCalls = 0;
    int saves = 0;
    std::optional<QString> sessionFolder(const QString&, const QDateTime&) override
    {
        ++folderCalls;
        return folder;
    }
    std::optional<QString> saveSession(const Json&) override
    {
        ++saves;
        return folder;
    }
    QCoro::Task<std::vector<TranscriptSegment>> transcribeDiarized(QByteArray) override { co_return {}; }
    QCoro::Task<std::vector<TranscriptSegment>> transcribePlain(QByteArray) override { co_return {}; }
};

// Tools whose behaviour a test scripts: `run` gets the call's name, arguments and token.
struct ScriptedTools : ToolDispatcher {
    std::function<QCoro::Task<ToolResult>(QString, QString, CancelToken)> run;
    QCoro::Task<ToolResult> handleToolCall(QString name, QString arguments, CancelToken cancel) override
    {
        auto task = run(name, arguments, cancel);
        co_return co_await std::move(task);
    }
};

inline Packet request(const char* command, std::optional<QString> text = std::nullopt,
                      std::optional<QString> callID = QStringLiteral("call"))
{
    Packet packet;
    packet.command = QString::fromLatin1(command);
    packet.text = std::move(text);
    packet.callID = std::move(callID);
    return packet;
}
