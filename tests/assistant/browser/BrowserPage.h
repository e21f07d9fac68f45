#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <memory>

// The distribution's Firefox ESR or Chromium showing a page of page/ served on loopback, with its
// accessibility on and a profile of its own, as a user's browser would show a site. The page tells
// what happens to it through the server, one line each: "READY", "FOCUS <id>", "VALUE <id> <text>"
// (newlines as \n), "TYPE password <password|text>", "CONTEXTMENU <id>", "DROP <id>",
// "CLICKED <id> from <id of the element that had the focus when the pointer went down>". The login
// page asked for with "?focus=<id>" puts the focus there by script as it loads, with
// "?autofocus=<id>" by the attribute.
class BrowserPage {
public:
    enum class Browser { firefox, chromium };

    explicit BrowserPage(Browser browser, QString page = QStringLiteral("login.html"));
    ~BrowserPage();
    BrowserPage(const BrowserPage&) = delete;
    BrowserPage& operator=(const BrowserPage&) = delete;

    // Serves the page, starts the browser on it and waits until the page has loaded and the
    // browser's window shows and is the active one. On false, failure() says what went wrong.
    [[nodiscard]] bool open(std::chrono::milliseconds timeout = std::chrono::seconds(60));
    // Waits until a reading of the browser's tree lists the login page's fields.
    [[nodiscard]] bool fieldsOnBus(std::chrono::milliseconds timeout = std::chrono::seconds(40));
    // The same for another page: until a reading lists controls by each of `labels`.
    [[nodiscard]] bool labelsOnBus(const QStringList& labels, std::chrono::milliseconds timeout = std::chrono::seconds(40));
    QString failure() const { return m_failure; }

    Browser browser() const { return m_browser; }
    static const char* name(Browser browser);
    // The process whose tree is on the accessibility bus, and its window.
    qint64 pid() const { return m_pid; }
    quint64 window() const { return m_window; }
    QString url() const;
    void activate();

    // Reads the page's lines until one starting with `prefix` comes after those already consumed
    // by an earlier until().
    bool until(const QString& prefix, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    const QStringList& seen();
    // The field's last text ("user", "password", "note" or "area"), as the page last reported it.
    QString value(const QString& field);
    // Waits until the field's last reported text is `text`.
    bool valueBecomes(const QString& field, const QString& text,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    void read();

    Browser m_browser;
    QString m_page;
    QTemporaryDir m_profile;
    QProcess m_server;
    QProcess m_process;
    QStringList m_seen;
    qsizetype m_consumed = 0;
    int m_port = 0;
    qint64 m_pid = 0;
    quint64 m_window = 0;
    QString m_failure;
};
