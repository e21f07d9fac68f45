#include "assistant/browser/BrowserPage.h"

#include "Tovrick/screen/ControlsReader.h"
#include "Tovrick/screen/DisplayGeometry.h"
#include "Tovrick/screen/X11Display.h"
#include "assistant/display/DesktopParts.h"
#include "support/RunTask.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace {

// A first start shows no welcome page, tour, update, sign-in offer or password prompt: each would
// take the focus or cover the page at a moment no test chose.
constexpr const char* kFirefoxPrefs = R"(user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("browser.startup.page", 0);
user_pref("startup.homepage_welcome_url", "");
user_pref("startup.homepage_welcome_url.additional", "");
user_pref("browser.aboutwelcome.enabled", false);
user_pref("browser.newtabpage.enabled", false);
user_pref("browser.uitour.enabled", false);
user_pref("browser.sessionstore.resume_from_crash", false);
user_pref("browser.tabs.warnOnClose", false);
user_pref("browser.translations.automaticallyPopup", false);
user_pref("browser.discovery.enabled", false);
user_pref("browser.formfill.enable", false);
user_pref("browser.safebrowsing.malware.enabled", false);
user_pref("browser.safebrowsing.phishing.enabled", false);
user_pref("browser.safebrowsing.downloads.enabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("datareporting.policy.firstRunURL", "");
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("app.update.auto", false);
user_pref("app.normandy.enabled", false);
user_pref("extensions.update.enabled", false);
user_pref("network.captive-portal-service.enabled", false);
user_pref("network.connectivity-service.enabled", false);
user_pref("signon.rememberSignons", false);
user_pref("signon.autofillForms", false);
user_pref("signon.generation.enabled", false);
user_pref("signon.firefoxRelay.feature", "disabled");
user_pref("sidebar.revamp", false);
user_pref("sidebar.verticalTabs", false);
user_pref("widget.gtk.overlay-scrollbars.enabled", false);
)";

} // namespace

BrowserPage::BrowserPage(Browser browser, QString page) : m_browser(browser), m_page(std::move(page))
{
    QObject::connect(&m_server, &QProcess::readyReadStandardOutput, [this] {
        while (m_server.canReadLine())
            read();
    });
}

BrowserPage::~BrowserPage()
{
    for (QProcess* process : {&m_process, &m_server}) {
        if (process->state() == QProcess::NotRunning)
            continue;
        process->kill();
        process->waitForFinished(5000);
    }
    // Firefox and Chromium leave helper processes of their own behind a killed parent for a moment;
    // they end once their parent's connection goes.
}

const char* BrowserPage::name(Browser browser)
{
    return browser == Browser::firefox ? "Firefox" : "Chromium";
}

QString BrowserPage::url() const
{
    return QStringLiteral("http://127.0.0.1:%1/%2").arg(m_port).arg(m_page);
}

void BrowserPage::read()
{
    m_seen << QString::fromUtf8(m_server.readLine()).chopped(1);
}

const QStringList& BrowserPage::seen()
{
    while (m_server.canReadLine())
        read();
    return m_seen;
}

bool BrowserPage::until(const QString& prefix, std::chrono::milliseconds timeout)
{
    // waitUntil asks once more after the line came: the answer must not depend on being asked.
    bool found = false;
    waitUntil(
        [&] {
            seen();
            for (; !found && m_consumed < m_seen.size(); ++m_consumed)
                found = m_seen[m_consumed].startsWith(prefix);
            return found;
        },
        timeout);
    return found;
}

QString BrowserPage::value(const QString& field)
{
    const QString prefix = QStringLiteral("VALUE ") + field + QLatin1Char(' ');
    const QStringList& lines = seen();
    for (auto line = lines.rbegin(); line != lines.rend(); ++line)
        if (line->startsWith(prefix))
            return line->mid(prefix.size());
    return {};
}

bool BrowserPage::valueBecomes(const QString& field, const QString& text, std::chrono::milliseconds timeout)
{
    return waitUntil([&] { return value(field) == text; }, timeout);
}

bool BrowserPage::open(std::chrono::milliseconds timeout)
{
    QDeadlineTimer deadline(timeout);
    auto left = [&deadline] { return std::chrono::milliseconds(std::max<qint64>(deadline.remainingTime(), 0)); };

    m_server.setWorkingDirectory(QStringLiteral(BROWSER_PAGES));
    m_server.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(BROWSER_PAGES "/serve.py")});
    if (!until(QStringLiteral("PORT "), left())) {
        m_failure = QStringLiteral("the page server did not start: ") + QString::fromUtf8(m_server.readAllStandardError());
        return false;
    }
    m_port = m_seen.back().mid(5).toInt();

    if (!m_profile.isValid()) {
        m_failure = QStringLiteral("no folder for the browser's profile");
        return false;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("NO_AT_BRIDGE"));
    env.insert(QStringLiteral("GDK_BACKEND"), QStringLiteral("x11"));
    env.insert(QStringLiteral("HOME"), m_profile.path());
    QString program;
    QStringList arguments;
    if (m_browser == Browser::firefox) {
        env.insert(QStringLiteral("GNOME_ACCESSIBILITY"), QStringLiteral("1"));
        env.insert(QStringLiteral("MOZ_ENABLE_WAYLAND"), QStringLiteral("0"));
        QFile prefs(m_profile.filePath(QStringLiteral("user.js")));
        if (!prefs.open(QIODevice::WriteOnly) || prefs.write(kFirefoxPrefs) < 0) {
            m_failure = QStringLiteral("could not write the browser's preferences");
            return false;
        }
        prefs.close();
        program = QStringLiteral("/usr/lib/firefox-esr/firefox-esr");
        arguments = {QStringLiteral("--no-remote"), QStringLiteral("--new-instance"), QStringLiteral("--profile"),
                     m_profile.path(), url()};
    } else {
        env.insert(QStringLiteral("ACCESSIBILITY_ENABLED"), QStringLiteral("1"));
        program = QStringLiteral("/usr/lib/chromium/chromium");
        // As root Chromium runs only without its sandbox; the network flags keep it from calling
        // out at every start (this machine has no way out).
        arguments = {QStringLiteral("--no-sandbox"),
                     QStringLiteral("--force-renderer-accessibility"),
                     QStringLiteral("--user-data-dir=") + m_profile.path(),
                     QStringLiteral("--no-first-run"),
                     QStringLiteral("--no-default-browser-check"),
                     QStringLiteral("--disable-background-networking"),
                     QStringLiteral("--disable-component-update"),
                     QStringLiteral("--disable-sync"),
                     QStringLiteral("--disable-quic"),
                     QStringLiteral("--disable-features=Translate,MediaRouter,AutofillServerCommunication"),
                     QStringLiteral("--password-store=basic"),
                     QStringLiteral("--ozone-platform=x11"),
                     QStringLiteral("--window-position=60,60"),
                     QStringLiteral("--window-size=1200,860"),
                     url()};
    }
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.start(program, arguments);
    if (!m_process.waitForStarted(30000)) {
        m_failure = QStringLiteral("%1 did not start: %2").arg(QLatin1String(name(m_browser)), m_process.errorString());
        return false;
    }
    m_pid = m_process.processId();
    if (!until(QStringLiteral("READY"), left())) {
        m_failure = QStringLiteral("the page did not load in %1").arg(QLatin1String(name(m_browser)));
        return false;
    }
    // The window that shows the page (Chromium maps a few helper windows of its own).
    if (!waitUntil(
            [this] {
                for (const auto& placed : X11Display().windowsOf(m_pid))
                    if (placed.client.width() > 400 && placed.client.height() > 300) {
                        m_window = placed.id;
                        return true;
                    }
                return false;
            },
            left())) {
        m_failure = QStringLiteral("%1 showed no window").arg(QLatin1String(name(m_browser)));
        return false;
    }
    activate();
    if (!waitUntil(
            [this] {
                const auto app = X11Display().activeWindowApp();
                return app && app->pid == m_pid;
            },
            left())) {
        m_failure = QStringLiteral("%1 did not become the active window").arg(QLatin1String(name(m_browser)));
        return false;
    }
    return true;
}

void BrowserPage::activate()
{
    ::activate(m_window);
}

bool BrowserPage::fieldsOnBus(std::chrono::milliseconds timeout)
{
    return labelsOnBus({QStringLiteral("User name"), QStringLiteral("Password"), QStringLiteral("Note")}, timeout);
}

bool BrowserPage::labelsOnBus(const QStringList& labels, std::chrono::milliseconds timeout)
{
    // However slowly a loaded browser answers, a walk here gets the time it needs: whether a look
    // within the normal budget is whole is what tests of the look are for.
    ControlsReader::setWalkBudget(std::chrono::seconds(20));
    const qint64 pid = m_pid;
    const bool listed = readControlsUntil(
        pid,
        [&labels](const ControlsReader::Reading& reading) {
            return std::all_of(labels.begin(), labels.end(), [&reading](const QString& label) {
                return std::any_of(reading.controls.begin(), reading.controls.end(),
                                   [&label](const auto& each) { return each.label == label; });
            });
        },
        timeout);
    ControlsReader::setWalkBudget(ControlsReader::kWalkBudget);
    if (!listed)
        m_failure = QStringLiteral("the page's fields never showed on the accessibility bus");
    return listed;
}
