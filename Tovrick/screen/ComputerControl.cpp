#include "Tovrick/screen/ComputerControl.h"

#include "Tovrick/screen/AppOpener.h"
#include "Tovrick/screen/KeyCombination.h"
#include "Tovrick/screen/XTestInput.h"
#include "shared/util/CancelToken.h"
#include "shared/util/Text.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDesktopServices>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <cmath>

ComputerControl::ControlError ComputerControl::ControlError::unknownKey(const QString& key)
{
    return ControlError(Kind::unknownKey, QStringLiteral("I don't know the key \"") + key + QStringLiteral("\"."));
}

ComputerControl::ControlError ComputerControl::ControlError::notTrusted()
{
    return ControlError(Kind::notTrusted,
                        QStringLiteral("I need Accessibility permission to click and type. The user has to allow "
                                       "Tovrick in System Settings, Privacy & Security, Accessibility."));
}

ComputerControl::ComputerControl(Ports ports) : m_ports(std::move(ports))
{
    if (!m_ports.input)
        m_ports.input = std::make_shared<XTestInput>();
    if (!m_ports.sleep)
        m_ports.sleep = [](std::chrono::milliseconds duration) -> QCoro::Task<> {
            auto waiting = cancellableSleep(duration, CancelToken());
            co_await std::move(waiting);
        };
    if (!m_ports.accessibilityBus)
        m_ports.accessibilityBus = [] {
            const QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
            return bus && bus->isServiceRegistered(QStringLiteral("org.a11y.Bus")).value();
        };
    if (!m_ports.openApp)
        m_ports.openApp = [](QString name) -> QCoro::Task<QString> { co_return appopener::open(name); };
    if (!m_ports.openUrl)
        m_ports.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

ComputerControl& ComputerControl::shared()
{
    static ComputerControl* control = new ComputerControl;
    return *control;
}

bool ComputerControl::trusted()
{
    return m_ports.input->available() && m_ports.accessibilityBus();
}

int ComputerControl::wheelClicks(int points)
{
    if (points == 0)
        return 0;
    const int clicks = std::max(1, static_cast<int>(std::lround(std::abs(points) / double(kScrollStep))));
    return points < 0 ? -clicks : clicks;
}

std::chrono::milliseconds ComputerControl::typingPace(qsizetype characters)
{
    return std::chrono::milliseconds(characters <= 160 ? 22 : 12);
}

QCoro::Task<> ComputerControl::click(QPointF point, bool right, int count)
{
    std::shared_ptr<SyntheticInput> input = m_ports.input;
    auto sleep = m_ports.sleep;
    input->move(point);
    auto settle = sleep(std::chrono::milliseconds(30));
    co_await std::move(settle);
    const auto button = right ? SyntheticInput::Button::right : SyntheticInput::Button::left;
    // Well inside the desktop's double-click interval.
    const auto gap = std::chrono::milliseconds(std::clamp(input->doubleClickMilliseconds() / 8, 1, 40));
    for (int i = 0; i < std::max(count, 1); ++i) {
        if (i > 0) {
            auto between = sleep(gap);
            co_await std::move(between);
        }
        input->button(button, true);
        input->button(button, false);
    }
}

QCoro::Task<> ComputerControl::scroll(QPointF point, int dx, int dy)
{
    std::shared_ptr<SyntheticInput> input = m_ports.input;
    input->move(point);
    input->wheel(wheelClicks(dx), wheelClicks(dy));
    co_return;
}

QCoro::Task<> ComputerControl::typeText(QString text, std::function<void(const QString&)> pop)
{
    std::shared_ptr<SyntheticInput> input = m_ports.input;
    auto sleep = m_ports.sleep;
    const std::chrono::milliseconds pace = typingPace(text::characterCount(text));
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    bool first = true;
    while (start < text.size()) {
        qsizetype end = characters.toNextBoundary();
        if (end <= start)
            end = text.size();
        const QString character = text.mid(start, end - start);
        start = end;
        if (!first) {
            auto waiting = sleep(pace);
            co_await std::move(waiting);
        }
        first = false;
        // A letter with combining marks is its code points, one key each.
        for (uint point : character.toUcs4())
            input->key(KeyCombination::keysymForCharacter(static_cast<char32_t>(point)), 0);
        if (pop)
            pop(character);
    }
}

QString ComputerControl::pressKeys(const QString& keys)
{
    QString unknown;
    const std::optional<KeyCombination> combination = KeyCombination::parse(keys, &unknown);
    if (!combination)
        throw ControlError::unknownKey(unknown);
    m_ports.input->key(combination->keysym, combination->held());
    return combination->label;
}

QCoro::Task<QString> ComputerControl::openApp(QString name)
{
    auto opening = m_ports.openApp(name);
    QString sentence = co_await std::move(opening);
    co_return sentence;
}

QString ComputerControl::openURL(const QString& text)
{
    QString address = text::trimmedWhitespaceAndNewlines(text);
    if (!address.contains(QLatin1String("://")))
        address = QStringLiteral("https://") + address;
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return QStringLiteral("That doesn't look like a web address.");
    m_ports.openUrl(url);
    return QStringLiteral("Opened ") + url.host() + QLatin1Char('.');
}
