#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

class QLocalServer;

// Carries a "tovrick:" sign-in callback from the process the browser started to the running one.
// The desktop entry registered for x-scheme-handler/tovrick starts `tovrick <url>`; that process
// hands the URL over a private local socket and exits, and the running instance finishes the sign-in.
class SignInCallbackRelay : public QObject {
    Q_OBJECT

public:
    // The per-user socket: in XDG_RUNTIME_DIR when there is one, else in the app folder.
    static QString defaultSocketPath();

    // The first "tovrick:" URL among the program's arguments, if any.
    static QUrl callbackArgument(const QStringList& arguments);

    // Sends `url` to the instance listening on `socketPath` and waits (briefly) for its receipt.
    // Returns false when no instance is listening or it did not confirm.
    static bool handOver(const QUrl& url, const QString& socketPath = defaultSocketPath(), int timeoutMs = 3000);

    explicit SignInCallbackRelay(QObject* parent = nullptr);
    ~SignInCallbackRelay() override;

    // Starts listening; `onURL` gets each URL handed over. Refuses (false) while another live
    // instance listens on the same path, so a second copy of the program never takes it over.
    bool listen(std::function<void(const QUrl&)> onURL, const QString& socketPath = defaultSocketPath());

private:
    QLocalServer* m_server = nullptr;
    std::function<void(const QUrl&)> m_onURL;
};
