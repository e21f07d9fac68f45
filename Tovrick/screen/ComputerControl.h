#pragma once

#include "Tovrick/screen/SyntheticInput.h"
#include "shared/util/UserFacingError.h"

#include <QCoro/QCoroTask>
#include <QPointF>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>

// The assistant's hands: clicks, scrolls, typing and key presses posted as the user's own input,
// and opening apps and web addresses. Points are main-display points. Main thread.
class ComputerControl {
public:
    // Why a control request could not be carried out; its description is said to the model.
    class ControlError : public UserFacingError {
    public:
        enum class Kind { unknownKey, notTrusted };
        static ControlError unknownKey(const QString& key);
        static ControlError notTrusted();
        Kind kind() const { return m_kind; }

    private:
        ControlError(Kind kind, QString description) : UserFacingError(std::move(description)), m_kind(kind) {}
        Kind m_kind;
    };

    struct Ports {
        std::shared_ptr<SyntheticInput> input;
        std::function<QCoro::Task<>(std::chrono::milliseconds)> sleep;
        // Whether the accessibility bus answers (the password-field check depends on it).
        std::function<bool()> accessibilityBus;
        // One sentence for an app name (appopener::open by default).
        std::function<QCoro::Task<QString>(QString name)> openApp;
        // Hands an address to the desktop's URL handler.
        std::function<bool(const QUrl&)> openUrl;
    };

    // What is left empty gets the real one: XTest on $DISPLAY, timers, the session bus.
    explicit ComputerControl(Ports ports = {});

    // The one instance that the program's actions share, made on first use.
    static ComputerControl& shared();

    SyntheticInput& input() { return *m_ports.input; }
    // Input can be posted and the focused field can be checked.
    bool trusted();

    QCoro::Task<> click(QPointF point, bool right, int count);
    // Offsets in points, positive to the right and downwards; one wheel click per kScrollStep.
    QCoro::Task<> scroll(QPointF point, int dx, int dy);
    // Types each character in turn, `pop` showing it beside the character.
    QCoro::Task<> typeText(QString text, std::function<void(const QString&)> pop);
    // Presses one combination; returns its glyph label. Throws ControlError (unknownKey).
    QString pressKeys(const QString& keys);
    QCoro::Task<QString> openApp(QString name);
    QString openURL(const QString& text);

    // Wheel clicks are whole steps of what the model asks for in scroll amounts.
    static constexpr int kScrollStep = 120;
    static int wheelClicks(int points);
    // The pause between typed characters.
    static std::chrono::milliseconds typingPace(qsizetype characters);

private:
    Ports m_ports;
};
