#pragma once

#include <QCoro/QCoroTask>
#include <QColor>
#include <QFont>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QVariantList>

#include <functional>
#include <optional>
#include <vector>

#include "Tovrick/focus/AccountPageView.h"
#include "shared/account/TovrickSignInView.h"
#include "shared/focus/FocusSession.h"

class FocusCompanion;
class ScreenCaptureAccess;
class TovrickAccount;

// The pages of the focus and account window, in tab order. The title doubles as the tab label.
enum class FocusPage { focus, history, vision, sounds, account };

namespace focusPage {
inline constexpr int count = 5;
QString title(FocusPage page);
// The icon's file name (without ".svg") among the window's icons.
QString icon(FocusPage page);
// "macFocus" followed by the title, the space of "Vision Images" included.
QString identifier(FocusPage page);
} // namespace focusPage

// The window's named colours; every page and style draws with these.
class FocusColor : public QObject {
    Q_OBJECT
    Q_PROPERTY(QColor background MEMBER background CONSTANT)
    Q_PROPERTY(QColor tabBar MEMBER tabBar CONSTANT)
    Q_PROPERTY(QColor text MEMBER text CONSTANT)
    Q_PROPERTY(QColor secondaryText MEMBER secondaryText CONSTANT)
    Q_PROPERTY(QColor accent MEMBER accent CONSTANT)
    Q_PROPERTY(QColor card MEMBER card CONSTANT)
    Q_PROPERTY(QColor divider MEMBER divider CONSTANT)

public:
    using QObject::QObject;
    static inline const QColor background { 28, 28, 30 };
    static inline const QColor tabBar { 28, 28, 30 };
    static inline const QColor text { 245, 245, 247 };
    static inline const QColor secondaryText { 169, 169, 176 };
    static inline const QColor accent { 66, 133, 255 };
    static inline const QColor card { 53, 53, 55 };
    static inline const QColor divider { 65, 65, 68 };
};

// The state and rules of the focus and account window; the QML views only lay it out. Reads the
// focus engine, the account and screen access, and acts only through them.
class MacFocusView : public QObject {
    Q_OBJECT
    Q_PROPERTY(int page READ pageIndex NOTIFY pageChanged)
    Q_PROPERTY(QString pageTitle READ pageTitle NOTIFY pageChanged)
    Q_PROPERTY(QVariantList pages READ pages CONSTANT)
    Q_PROPERTY(bool signedIn READ signedIn NOTIFY accountChanged)
    Q_PROPERTY(QString task READ task WRITE setTask NOTIFY taskChanged)
    Q_PROPERTY(int minutes READ minutes WRITE setMinutes NOTIFY minutesChanged)
    Q_PROPERTY(QVariantList durationChoices READ durationChoices CONSTANT)
    Q_PROPERTY(QString message READ message WRITE setMessage NOTIFY messageChanged)
    Q_PROPERTY(bool editingTask READ editingTask WRITE setEditingTask NOTIFY editingTaskChanged)
    Q_PROPERTY(bool confirmDelete READ confirmDelete WRITE setConfirmDelete NOTIFY confirmDeleteChanged)
    Q_PROPERTY(int focusedMinutes READ focusedMinutes NOTIFY historyChanged)
    Q_PROPERTY(TovrickSignInView* signInView READ signInView CONSTANT)
    Q_PROPERTY(AccountPageView* accountPage READ accountPage CONSTANT)

    Q_PROPERTY(bool hasActiveSession READ hasActiveSession NOTIFY sessionChanged)
    Q_PROPERTY(bool sessionRunning READ sessionRunning NOTIFY sessionChanged)
    Q_PROPERTY(QString title READ title NOTIFY sessionChanged)
    Q_PROPERTY(QString sessionTask READ sessionTask NOTIFY sessionChanged)
    Q_PROPERTY(QString clockText READ clockText NOTIFY sessionChanged)
    Q_PROPERTY(QString clockLabel READ clockLabel NOTIFY sessionChanged)
    Q_PROPERTY(double progress READ progress NOTIFY sessionChanged)
    Q_PROPERTY(QString progressText READ progressText NOTIFY sessionChanged)
    Q_PROPERTY(QString detail READ detail NOTIFY sessionChanged)
    Q_PROPERTY(bool developerBadge READ developerBadge NOTIFY sessionChanged)
    Q_PROPERTY(QFont clockFont READ clockFont CONSTANT)

    Q_PROPERTY(bool checking READ checking NOTIFY screenAccessChanged)
    Q_PROPERTY(bool needsSettings READ needsSettings NOTIFY screenAccessChanged)
    Q_PROPERTY(QString startLabel READ startLabel NOTIFY screenAccessChanged)
    Q_PROPERTY(bool canStart READ canStart NOTIFY canStartChanged)

public:
    static constexpr int kInitialMinutes = 30;
    static constexpr int kMinimumMinutes = 1;
    static constexpr int kMaximumMinutes = 240;
    static constexpr int kLiveHeader = 88;
    static inline const int kDurationChoices[] = { 15, 25, 30, 60 };

    MacFocusView(FocusCompanion& focus, TovrickAccount& account, ScreenCaptureAccess& screenAccess,
                 QObject* parent = nullptr);

    // Opens the add-this-computer window; reloads the reminder images (on a change of user).
    std::function<void()> pair;
    std::function<void()> reloadImages;

    // The logo's edge on the Focus page for a page area of `areaHeight`: 88 with a live session,
    // else the height less 440 kept within 100 to 280.
    static int headerLength(double areaHeight, bool activeSession);
    // Whole minutes over a history: real seconds where known, else focus-clock seconds.
    static int focusedMinutes(const std::vector<FocusSession>& history);
    // The share of the session done, within 0 to 1.
    static double progress(const FocusSession& session);
    // "N percent", N the progress in whole hundredths, truncated.
    static QString progressText(double progress);
    // The remaining time as minutes and seconds.
    static QString clockText(const FocusSession& session);

    // The session shown as live: the current one unless it ended.
    std::optional<FocusSession> activeSession() const;

    FocusPage page() const { return m_page; }
    int pageIndex() const { return static_cast<int>(m_page); }
    QString pageTitle() const { return focusPage::title(m_page); }
    QVariantList pages() const;
    bool signedIn() const;
    QString task() const { return m_task; }
    void setTask(const QString& task);
    int minutes() const { return m_minutes; }
    void setMinutes(int minutes);
    QVariantList durationChoices() const;
    QString message() const { return m_message; }
    void setMessage(const QString& message);
    bool editingTask() const { return m_editingTask; }
    void setEditingTask(bool editing);
    bool confirmDelete() const { return m_confirmDelete; }
    void setConfirmDelete(bool confirm);
    int focusedMinutes() const;

    bool hasActiveSession() const { return activeSession().has_value(); }
    bool sessionRunning() const;
    QString title() const;
    QString sessionTask() const;
    QString clockText() const;
    QString clockLabel() const;
    double progress() const;
    QString progressText() const;
    QString detail() const;
    bool developerBadge() const;
    // Digits of one width, so the clock does not shift as it counts.
    QFont clockFont() const;

    bool checking() const;
    bool needsSettings() const;
    QString startLabel() const;
    bool canStart() const;

    // QML passes the live flag so that its binding follows it.
    Q_INVOKABLE int headerLengthFor(double areaHeight, bool activeSession) const
    {
        return headerLength(areaHeight, activeSession);
    }
    Q_INVOKABLE void selectPage(int page);
    Q_INVOKABLE void chooseMinutes(int minutes) { setMinutes(minutes); }
    Q_INVOKABLE void startFocus();
    Q_INVOKABLE void pauseOrResume();
    Q_INVOKABLE void endSession();
    Q_INVOKABLE void openSettings();
    Q_INVOKABLE void recheck();
    Q_INVOKABLE void reopen();
    Q_INVOKABLE void requestPair();
    // The sign-in page's buttons: the account's web sign-in with Google, and with Apple on the web.
    Q_INVOKABLE void signInWithGoogle();
    Q_INVOKABLE void signInWithApple();
    TovrickSignInView* signInView() const { return m_signIn; }
    AccountPageView* accountPage() const { return m_accountPage; }
    Q_INVOKABLE void deleteAccount();

    // The awaiting actions, for callers that wait for their outcome.
    QCoro::Task<> start();
    QCoro::Task<> resume();
    QCoro::Task<> recheckAccess();

signals:
    void pageChanged();
    void accountChanged();
    void taskChanged();
    void minutesChanged();
    void messageChanged();
    void editingTaskChanged();
    void confirmDeleteChanged();
    void historyChanged();
    void sessionChanged();
    void screenAccessChanged();
    void canStartChanged();

private:
    void userMayHaveChanged();

    FocusCompanion& m_focus;
    TovrickAccount& m_account;
    ScreenCaptureAccess& m_screenAccess;
    FocusPage m_page = FocusPage::focus;
    QString m_task;
    int m_minutes = kInitialMinutes;
    QString m_message;
    bool m_confirmDelete = false;
    bool m_editingTask = false;
    std::optional<QString> m_userId;
    TovrickSignInView* m_signIn = nullptr;
    AccountPageView* m_accountPage = nullptr;
};
