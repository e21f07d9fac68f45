#include <gtest/gtest.h>

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>

#include "Tovrick/shell/StatusFile.h"
#include "shared/util/Files.h"
#include "support/RunTask.h"

using namespace std::chrono_literals;

namespace {

QStringList& warnings()
{
    static QStringList lines;
    return lines;
}

void keepWarnings(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtWarningMsg)
        warnings().append(message);
}

// A display of the test's own in front of the run's: an abstract socket, which Xlib tries first for
// ":N", whose connections are counted and relayed to the real server.
class DisplayRelay : public QThread {
public:
    explicit DisplayRelay(QString upstream) : m_upstream(std::move(upstream)) {}
    ~DisplayRelay() override
    {
        quit();
        wait();
    }

    // The display name to use, or empty when no free number was found.
    QByteArray start()
    {
        QThread::start();
        m_listening.acquire();
        return m_name;
    }

    std::atomic<int> connections {0};

protected:
    void run() override
    {
        QLocalServer server;
        server.setSocketOptions(QLocalServer::AbstractNamespaceOption);
        for (int number = 700; number < 800 && m_name.isEmpty(); ++number)
            if (server.listen(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
                m_name = ":" + QByteArray::number(number);
        QObject::connect(&server, &QLocalServer::newConnection, &server, [this, &server] {
            while (QLocalSocket* client = server.nextPendingConnection()) {
                ++connections;
                auto* upstream = new QLocalSocket(client);
                upstream->connectToServer(m_upstream);
                upstream->waitForConnected(2000);
                QObject::connect(client, &QLocalSocket::readyRead, upstream, [=] { upstream->write(client->readAll()); });
                QObject::connect(upstream, &QLocalSocket::readyRead, client, [=] { client->write(upstream->readAll()); });
                QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
                QObject::connect(upstream, &QLocalSocket::disconnected, client, &QLocalSocket::disconnectFromServer);
            }
        });
        m_listening.release();
        exec();
    }

private:
    QString m_upstream;
    QByteArray m_name;
    QSemaphore m_listening;
};

} // namespace

// The file is replaced whole on every write and the screen's access is told from the one display
// connection the program holds: a new client every 3 s would keep the server busy all day.
TEST(StatusFile, EveryWriteUsesTheDisplayConnectionAlreadyHeld)
{
    const QByteArray display = qgetenv("DISPLAY");
    ASSERT_TRUE(display.startsWith(':')) << "a local display is needed";
    DisplayRelay relay(QStringLiteral("/tmp/.X11-unix/X") + QString::fromLatin1(display.mid(1).split('.').first()));
    const QByteArray relayed = relay.start();
    ASSERT_FALSE(relayed.isEmpty());
    qputenv("DISPLAY", relayed);

    QTemporaryDir root;
    const QString path = root.filePath(QStringLiteral("Fennow/status.txt"));
    ScreenCaptureAccess access;
    StatusFile file(path);
    std::vector<QByteArray> texts;
    file.probe = [&] {
        if (const auto text = files::read(path))
            texts.push_back(*text);
        return StatusFile::probeDesktop(access);
    };
    file.start(40);
    waitUntil([&] { return texts.size() >= 6; }, 5s);
    file.stop();
    qputenv("DISPLAY", display);

    ASSERT_GE(texts.size(), 6u);
    for (const QByteArray& text : texts)
        EXPECT_TRUE(text.startsWith("screen=granted\naccessibility=")) << text.toStdString();
    const QDateTime updated = QDateTime::fromString(
        QString::fromLatin1(texts.back().mid(texts.back().indexOf("updated=") + 8).trimmed()), Qt::ISODate);
    EXPECT_LT(std::abs(updated.secsTo(QDateTime::currentDateTimeUtc())), 5) << texts.back().toStdString();
    EXPECT_EQ(relay.connections, 1) << "one display connection for " << texts.size() + 1 << " writes";
    EXPECT_EQ(QDir(root.filePath(QStringLiteral("Fennow"))).entryList(QDir::Files | QDir::Hidden),
              QStringList {QStringLiteral("status.txt")})
        << "a temporary file was left behind";
}

// Something in the file's way (a folder where it should be) is one warning, not one every 3 s and
// never a crash; the next write after it is gone works again.
TEST(StatusFile, AFileThatCannotBeWrittenIsOneWarningAndTheNextWriteRecovers)
{
    QTemporaryDir root;
    const QString path = root.filePath(QStringLiteral("Fennow/status.txt"));
    ASSERT_TRUE(QDir().mkpath(path + QStringLiteral("/in-the-way")));
    StatusFile file(path);
    int probes = 0;
    file.probe = [&probes] {
        ++probes;
        return StatusFile::Permissions {true, probes % 2 == 0};
    };

    warnings().clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepWarnings);
    file.start(20);
    waitUntil([&] { return probes >= 4; }, 5s);
    qInstallMessageHandler(previous);
    EXPECT_GE(probes, 4);
    EXPECT_EQ(warnings().size(), 1) << warnings().join(QLatin1Char('\n')).toStdString();

    ASSERT_TRUE(QDir(path).removeRecursively());
    ASSERT_TRUE(waitUntil([&] { return files::read(path).has_value(); }, 5s));
    const QByteArray text = *files::read(path);
    EXPECT_TRUE(text.startsWith("screen=granted\naccessibility=")) << text.toStdString();
    EXPECT_TRUE(text.contains("\nupdated=20")) << text.toStdString();
    EXPECT_TRUE(text.endsWith("Z\n")) << text.toStdString();
    file.stop();
}
