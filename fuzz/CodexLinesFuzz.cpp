// The coding agent's output as the controller reads it: any bytes, cut into reads of any size, must
// neither crash the line reader nor the message dispatcher, and every line written back is JSON.
#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>

#include "Tovrick/codex/CodexController.h"

struct CodexControllerProbe {
    static void feed(CodexController& controller, const QByteArray& bytes) { controller.drainLines(bytes); }
    static void captureLines(CodexController& controller, std::function<void(const QByteArray&)> sink)
    {
        controller.m_writeLine = std::move(sink);
    }
};

namespace {

QCoreApplication& application()
{
    static int argc = 1;
    static char name[] = "fuzz_codex_lines";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

QCoro::Task<> awaitAnswer(CodexController* controller)
{
    try {
        co_await controller->request(QStringLiteral("fuzz/request"), Json::object());
    } catch (...) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    application();
    CodexController controller;
    CodexControllerProbe::captureLines(controller, [](const QByteArray& line) {
        if (!line.endsWith('\n'))
            std::abort();
        try {
            if (!json::parse(line.chopped(1)).is_object())
                std::abort();
        } catch (const JsonDecodeError&) {
            std::abort();
        }
    });
    for (const char* thread : {"t", "u", "t"})
        controller.jobs.append({QString::fromUtf8(thread), QStringLiteral("Project"), QStringLiteral("/w"),
                                QStringLiteral("a task"), QStringLiteral("turn"), QStringLiteral("working"), std::nullopt,
                                QDateTime::currentDateTime()});
    controller.approvals.append({Json(1), QStringLiteral("execCommandApproval"), QStringLiteral("t"),
                                 QStringLiteral("run"), Json::object()});
    controller.onChange = [] {};
    controller.onEvent = [](const CodexController::Event&) {};
    for (int i = 0; i < 3; ++i)
        awaitAnswer(&controller);

    // The first byte sets the size of each read, so lines are cut at every kind of boundary.
    const std::size_t piece = size == 0 ? 1 : std::size_t(data[0] % 64) + 1;
    for (std::size_t at = size == 0 ? 0 : 1; at < size; at += piece) {
        const std::size_t length = std::min(piece, size - at);
        CodexControllerProbe::feed(controller, QByteArray(reinterpret_cast<const char*>(data + at), qsizetype(length)));
    }
    (void)controller.statusText();

    // Settle whatever is still waiting, so no coroutine outlives its controller.
    CodexControllerProbe::feed(controller, "\n{\"id\":1,\"result\":{}}\n{\"id\":2,\"result\":{}}\n{\"id\":3,\"result\":{}}\n");
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    return 0;
}
