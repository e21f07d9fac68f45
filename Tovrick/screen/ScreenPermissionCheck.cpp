#include "Tovrick/screen/ScreenPermissionCheck.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QTimer>

#include <cstdio>

#include "Tovrick/screen/ScreenCaptureAccess.h"
#include "shared/util/AppPaths.h"
#include "shared/util/Files.h"
#include "shared/util/Json.h"

namespace ScreenPermissionCheck {

namespace {

QCoro::Task<> runToExit(int* status)
{
    const QString folder = AppPaths::appFolder();
    const std::function<void(const QString&)> print = [](const QString& line) {
        const QByteArray bytes = line.toUtf8() + '\n';
        std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
        std::fflush(stdout);
    };
    auto checking = run(ScreenCaptureAccess::shared(), folder, print);
    *status = co_await checking;
    QCoreApplication::exit(*status);
}

} // namespace

QCoro::Task<int> run(ScreenCaptureAccess& access, QString folder, std::function<void(const QString&)> print)
{
    const bool preflight = access.preflight();
    auto checking = access.check();
    const bool granted = co_await checking;
    const QString message = access.message();

    Json record = Json::object();
    record["granted"] = granted;
    record["preflight"] = preflight;
    record["message"] = json::fromQString(message);
    record["checkedAt"] = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    const QString path = QDir(folder).filePath(kFileName);
    const std::optional<QString> unwritten
        = folder.isEmpty() ? std::optional<QString>(QStringLiteral("no app folder"))
                           : files::writeAtomically(path, json::dumpBytes(record), true);

    if (granted)
        print(QStringLiteral("Screen access: granted"));
    else
        print(QStringLiteral("Screen access: not granted. ") + message);
    if (unwritten) {
        print(QStringLiteral("Screen access: couldn't save ") + path + QStringLiteral(": ") + *unwritten);
        co_return 1;
    }
    co_return granted ? 0 : 1;
}

} // namespace ScreenPermissionCheck

int runScreenPermissionCheck()
{
    int status = 1;
    QTimer::singleShot(0, [&status] { ScreenPermissionCheck::runToExit(&status); });
    QCoreApplication::exec();
    return status;
}
