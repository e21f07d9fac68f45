// tovrick-loopback-api: the product's API on 127.0.0.1 over HTTPS, for end-to-end runs of the program.
//
//   tovrick-loopback-api [--answers DIR] [--requests FILE] [--certificate FILE]
//
// Prints "URL <base>" and "CERTIFICATE <pem file>" and serves until it is killed. A request for
// "<path>" is answered with DIR/<path>.json when that file exists (read at each request, so a run can
// change it), with the status in DIR/<path>.status (default 200) and a delay in milliseconds in
// DIR/<path>.delay; otherwise with the built-in answer. With --requests every request is appended
// to FILE as one JSON line {"method", "path", "authorization", "body"}.
// Point the program at it with TOVRICK_API_URL=<base> and TOVRICK_API_CERTIFICATE=<pem file>.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

#include "shared/util/Files.h"
#include "support/LoopbackApi.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString answers;
    QString requestsFile;
    QString certificateFile;
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString next = i + 1 < args.size() ? args[i + 1] : QString();
        if (args[i] == QStringLiteral("--answers") && !next.isEmpty()) {
            answers = next;
            ++i;
        } else if (args[i] == QStringLiteral("--requests") && !next.isEmpty()) {
            requestsFile = next;
            ++i;
        } else if (args[i] == QStringLiteral("--certificate") && !next.isEmpty()) {
            certificateFile = next;
            ++i;
        } else {
            std::fprintf(stderr, "usage: tovrick-loopback-api [--answers DIR] [--requests FILE] [--certificate FILE]\n");
            return 2;
        }
    }

    LoopbackApi api;
    if (!api.isListening()) {
        std::fprintf(stderr, "tovrick-loopback-api: cannot listen on 127.0.0.1\n");
        return 1;
    }
    QTemporaryDir scratch;
    if (certificateFile.isEmpty())
        certificateFile = scratch.filePath(QStringLiteral("loopback-api.pem"));
    if (!api.writeCertificate(certificateFile)) {
        std::fprintf(stderr, "tovrick-loopback-api: cannot write %s\n", qPrintable(certificateFile));
        return 1;
    }

    if (!answers.isEmpty()) {
        api.setFallback([answers](const RecordedRequest& request) -> std::optional<LoopbackAnswer> {
            if (request.path.contains(QStringLiteral("..")))
                return std::nullopt;
            const QString stem = QDir(answers).filePath(request.path);
            const auto body = files::read(stem + QStringLiteral(".json"));
            if (!body)
                return std::nullopt;
            LoopbackAnswer answer = LoopbackAnswer::raw(*body, 200, "application/json");
            if (const auto status = files::read(stem + QStringLiteral(".status")))
                answer.status = status->trimmed().toInt();
            if (const auto delay = files::read(stem + QStringLiteral(".delay")))
                answer.delay = std::chrono::milliseconds(delay->trimmed().toLongLong());
            return answer;
        });
    }
    if (!requestsFile.isEmpty()) {
        QObject::connect(&api, &LoopbackApi::requestReceived, &api, [requestsFile](const RecordedRequest& request) {
            QFile file(requestsFile);
            if (!file.open(QIODevice::Append))
                return;
            const Json line = {{"method", request.method.toStdString()},
                               {"path", json::fromQString(request.path)},
                               {"authorization", request.authorization().toStdString()},
                               {"body", QString::fromUtf8(request.body).toStdString()}};
            file.write(json::dumpBytes(line) + '\n');
        });
    }

    std::printf("URL %s\nCERTIFICATE %s\n", qPrintable(api.url().toString()), qPrintable(certificateFile));
    std::fflush(stdout);
    return QCoreApplication::exec();
}
