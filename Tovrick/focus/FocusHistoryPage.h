#pragma once

#include <QLocale>
#include <QObject>
#include <QString>
#include <QUuid>
#include <QVariantList>

#include <optional>
#include <vector>

#include "shared/focus/FocusSession.h"

class FocusCompanion;

// The History page's state: the engine's finished sessions as cards, newest first, and which one
// card is open. Reads the engine only; the open card outlives page changes and a closed window.
class FocusHistoryPage : public QObject {
    Q_OBJECT
    Q_PROPERTY(QVariantList sessions READ sessions NOTIFY historyChanged)
    Q_PROPERTY(int sessionCount READ sessionCount NOTIFY historyChanged)
    Q_PROPERTY(QString sessionsText READ sessionsText NOTIFY historyChanged)
    Q_PROPERTY(QString focusedText READ focusedText NOTIFY historyChanged)
    Q_PROPERTY(QString expandedSession READ expandedSessionText NOTIFY expandedSessionChanged)

public:
    struct CheckCounts {
        int onTask = 0;
        int offTask = 0;
        // Uncertain and unavailable; pauses count nowhere.
        int unknown = 0;
        bool operator==(const CheckCounts&) const = default;
    };

    explicit FocusHistoryPage(FocusCompanion& focus, QObject* parent = nullptr);

    // Latest start first.
    static std::vector<FocusSession> sorted(std::vector<FocusSession> history);
    // Whole minutes of real time where known, else of focus-clock time.
    static int minutes(const FocusSession& session);
    static CheckCounts counts(const FocusSession& session);
    // What a screen reader says for a card's header.
    static QString accessibilityLabel(const FocusSession& session);
    // The start as the locale writes an abbreviated date and a short time.
    static QString startText(double startedAt, const QLocale& locale = QLocale());
    // "Developer test · MM:SS on the focus clock" for a developer-mode session, else empty.
    static QString developerText(const FocusSession& session);

    QVariantList sessions() const;
    int sessionCount() const;
    QString sessionsText() const;
    QString focusedText() const;
    const std::optional<QUuid>& expandedSession() const { return m_expanded; }
    QString expandedSessionText() const;

    // Opens the session's card, or closes it when it is the open one.
    Q_INVOKABLE void toggleExpandedSession(const QString& id);

signals:
    void historyChanged();
    void expandedSessionChanged();

private:
    FocusCompanion& m_focus;
    std::optional<QUuid> m_expanded;
};
