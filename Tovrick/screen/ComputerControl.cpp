#include "Tovrick/screen/ComputerControl.h"

#include "Tovrick/screen/AppOpener.h"
#include "Tovrick/screen/KeyCombination.h"
#include "Tovrick/screen/XTestInput.h"
#include "shared/util/CancelToken.h"
#include "shared/util/Text.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDesktopServices>
#include <QStringList>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <cmath>
#include <vector>

ComputerControl::ControlError ComputerControl::ControlError::unknownKey(const QString& key)
{
    return ControlError(Kind::unknownKey, QStringLiteral("I don't know the key \"") + key + QStringLiteral("\"."));
}

ComputerControl::ControlError ComputerControl::ControlError::notTrusted(bool xtest, bool accessibilityBus)
{
    QStringList missing;
    QStringList remedies;
    if (!xtest) {
        missing << QStringLiteral("the X server's XTest extension");
        remedies << QStringLiteral("start Tovrick in an X11 session whose X server has XTest turned on");
    }
    if (!accessibilityBus || missing.isEmpty()) {
        missing << QStringLiteral("the accessibility bus");
        remedies << QStringLiteral("install at-spi2-core and start its at-spi-bus-launcher");
    }
    return ControlError(Kind::notTrusted, QStringLiteral("I need ") + missing.join(QStringLiteral(" and "))
                                              + QStringLiteral(" to click and type. The user has to ")
                                              + remedies.join(QStringLiteral(", and ")) + QLatin1Char('.'));
}

ComputerControl::ControlError ComputerControl::ControlError::notPosted(const QString& keys)
{
    return ControlError(Kind::notPosted, QStringLiteral("I couldn't press \"") + keys
                                             + QStringLiteral("\": the key could not be sent to this desktop."));
}

ComputerControl::ComputerControl(Ports ports) : m_ports(std::move(ports))
{
    if (!m_ports.input)
        m_ports.input = std::make_shared<XTestInput>();
    if (!m_ports.sleep)
        m_ports.sleep = [](std::chrono::milliseconds duration, CancelToken cancel) -> QCoro::Task<> {
            auto waiting = cancellableSleep(duration, std::move(cancel));
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

ComputerControl::ControlError ComputerControl::untrusted()
{
    return ControlError::notTrusted(m_ports.input->available(), m_ports.accessibilityBus());
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

QCoro::Task<> ComputerControl::click(QPointF point, bool right, int count, CancelToken cancel)
{
    std::shared_ptr<SyntheticInput> input = m_ports.input;
    auto sleep = m_ports.sleep;
    input->move(point);
    auto settle = sleep(std::chrono::milliseconds(30), cancel);
    co_await std::move(settle);
    const auto button = right ? SyntheticInput::Button::right : SyntheticInput::Button::left;
    // Well inside the desktop's double-click interval.
    const auto gap = std::chrono::milliseconds(std::clamp(input->doubleClickMilliseconds() / 8, 1, 40));
    for (int i = 0; i < std::max(count, 1); ++i) {
        if (i > 0) {
            auto between = sleep(gap, cancel);
            co_await std::move(between);
        }
        if (cancel.isCancelled())
            co_return;
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

qsizetype ComputerControl::keyPosts(const QString& text)
{
    qsizetype keys = 0;
    for (qsizetype i = 0; i < text.size() && keys <= kMaxTypedKeys; ++i, ++keys) {
        const QChar unit = text[i];
        const bool pair = (unit.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            || (unit == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'));
        if (pair)
            ++i;
    }
    return keys;
}

namespace {

ComputerControl::Gate gateFor(SyntheticInput::Modifiers state)
{
    switch (state) {
    case SyntheticInput::Modifiers::down:
        return ComputerControl::Gate::down;
    case SyntheticInput::Modifiers::latched:
        return ComputerControl::Gate::latched;
    case SyntheticInput::Modifiers::unreadable:
        return ComputerControl::Gate::unreadable;
    case SyntheticInput::Modifiers::free:
        break;
    }
    return ComputerControl::Gate::posted;
}

} // namespace

QCoro::Task<ComputerControl::Gate> ComputerControl::waitForKey(unsigned long keysym, CancelToken cancel)
{
    std::shared_ptr<SyntheticInput> input = m_ports.input;
    auto sleep = m_ports.sleep;
    // A timer may end a little early: asked again until a spare key is free.
    for (std::chrono::milliseconds spare = input->keyDelay(keysym); spare.count() > 0 && !cancel.isCancelled();
         spare = input->keyDelay(keysym)) {
        auto waiting = sleep(spare, cancel);
        co_await std::move(waiting);
    }
    // Keys posted while the user holds Ctrl or Alt would make combinations of their own.
    SyntheticInput::Modifiers state = input->modifiers();
    for (std::chrono::milliseconds waited {0}; !cancel.isCancelled() && state != SyntheticInput::Modifiers::free;
         waited += kHeldKeyPoll) {
        if (waited >= kHeldKeyWait)
            co_return gateFor(state);
        auto polling = sleep(kHeldKeyPoll, cancel);
        co_await std::move(polling);
        state = input->modifiers();
    }
    co_return cancel.isCancelled() ? Gate::cancelled : Gate::posted;
}

QCoro::Task<ComputerControl::Gate> ComputerControl::postKey(unsigned long keysym, unsigned held, Look look,
                                                            CancelToken cancel)
{
    std::shared_ptr<SyntheticInput> input = m_ports.input;
    for (int round = 1;; ++round) {
        auto waiting = waitForKey(keysym, cancel);
        const Gate waited = co_await std::move(waiting);
        if (waited != Gate::posted)
            co_return waited;
        if (cancel.isCancelled())
            co_return Gate::cancelled;
        if (look) {
            auto looking = look();
            const bool goes = co_await std::move(looking);
            if (cancel.isCancelled())
                co_return Gate::cancelled;
            if (!goes)
                co_return Gate::refused;
        }
        const SyntheticInput::Post post = input->key(keysym, held);
        if (post == SyntheticInput::Post::posted)
            co_return Gate::posted;
        if (post == SyntheticInput::Post::failed)
            co_return Gate::failed;
        if (round >= kGateRounds) {
            const Gate why = gateFor(input->modifiers());
            co_return why == Gate::posted ? Gate::failed : why;
        }
    }
}

QCoro::Task<ComputerControl::Typed> ComputerControl::typeText(QString text, Typing typing, CancelToken cancel)
{
    auto sleep = m_ports.sleep;
    const std::chrono::milliseconds pace = typingPace(text::characterCount(text));
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
    Typed typed;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = characters.toNextBoundary();
        if (end <= start)
            end = text.size();
        const QString character = text.mid(start, end - start);
        start = end;
        if (typed.characters > 0) {
            auto waiting = sleep(pace, cancel);
            co_await std::move(waiting);
        }
        if (cancel.isCancelled()) {
            typed.end = Gate::cancelled;
            co_return typed;
        }
        // A letter with combining marks is its code points, one key each; a CR LF pair is one line
        // break, one Return.
        std::vector<unsigned long> keys;
        if (character == QLatin1String("\r\n"))
            keys.push_back(KeyCombination::keysymForCharacter(U'\n'));
        else
            for (uint point : character.toUcs4())
                keys.push_back(KeyCombination::keysymForCharacter(static_cast<char32_t>(point)));
        bool movesFocus = false;
        for (unsigned long keysym : keys) {
            auto gate = postKey(keysym, 0, typing.look, cancel);
            const Gate passed = co_await std::move(gate);
            if (passed != Gate::posted) {
                // Part of a character is not typed: none of it counts.
                typed.end = passed;
                if (passed == Gate::failed)
                    typed.failed = character;
                co_return typed;
            }
            if (typing.sent)
                typing.sent();
            movesFocus = movesFocus || KeyCombination::movesFocus(keysym);
        }
        ++typed.characters;
        if (typing.pop)
            typing.pop(character);
        if (movesFocus && start < text.size() && typing.focusMoved) {
            auto checking = typing.focusMoved();
            const bool goOn = co_await std::move(checking);
            if (cancel.isCancelled()) {
                typed.end = Gate::cancelled;
                co_return typed;
            }
            if (!goOn) {
                typed.end = Gate::refused;
                co_return typed;
            }
        }
    }
    co_return typed;
}

KeyCombination ComputerControl::combination(const QString& keys)
{
    QString unknown;
    std::optional<KeyCombination> parsed = KeyCombination::parse(keys, &unknown);
    if (!parsed)
        throw ControlError::unknownKey(unknown);
    return *parsed;
}

QCoro::Task<ComputerControl::Gate> ComputerControl::press(KeyCombination combination, Look look, CancelToken cancel)
{
    auto gate = postKey(combination.keysym, combination.held(), std::move(look), std::move(cancel));
    co_return co_await std::move(gate);
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
