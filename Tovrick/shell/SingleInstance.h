#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QLocalServer;
class QLockFile;

// One running program per user session. The first start takes a lock file and listens on a private
// local socket beside it; a later start (from the application list, with "--pair", or the browser's
// "tovrick:" sign-in answer through the link handler) hands its arguments over that socket and
// exits, and the running one acts on them.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    // XDG_RUNTIME_DIR when there is one (per session, private), else the app folder.
    static QString defaultFolder();

    explicit SingleInstance(QString folder = defaultFolder(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock and listens; `onArguments` gets each handed-over argument list (without the
    // program's name). False when another live process holds the lock.
    bool claim(std::function<void(const QStringList&)> onArguments);
    bool isClaimed() const { return m_server != nullptr; }

    // Sends `arguments` to the process holding the lock, waiting up to `timeoutMs` for it to listen
    // and confirm (it may be starting at the same moment). False when nobody confirmed.
    bool handOver(const QStringList& arguments, int timeoutMs = 8000) const;

    QString socketPath() const;
    QString lockPath() const;

private:
    void accept();

    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
    std::function<void(const QStringList&)> m_onArguments;
};
