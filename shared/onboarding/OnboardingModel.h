#pragma once

#include <QMap>
#include <QObject>
#include <QStringList>

#include <functional>
#include <optional>

// The rules of the first-run flow: 21 pages, the stored page and answers, each page's opening
// animation, the hold on page 19 and what the continue bar allows. The pages in QML only lay out what
// this model holds. The stored page and answers live in the shared `Settings` store.
class OnboardingModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(int page READ page NOTIFY changed)
    Q_PROPERTY(int total READ total CONSTANT)
    Q_PROPERTY(bool reduceMotion READ reduceMotion NOTIFY changed)
    Q_PROPERTY(bool loginAvailable READ loginAvailable CONSTANT)
    Q_PROPERTY(double hours READ hours WRITE setHours NOTIFY changed)
    Q_PROPERTY(int revealed READ revealed NOTIFY changed)
    Q_PROPERTY(int blueDots READ blueDots NOTIFY changed)
    Q_PROPERTY(double progress READ progress WRITE setProgress NOTIFY changed)
    Q_PROPERTY(bool holding READ holding NOTIFY changed)
    Q_PROPERTY(bool committed READ committed NOTIFY changed)
    Q_PROPERTY(bool canContinue READ canContinue NOTIFY changed)
    Q_PROPERTY(QString continueTitle READ continueTitle NOTIFY changed)
    Q_PROPERTY(QString questionKey READ questionKey NOTIFY changed)
    Q_PROPERTY(int blueDotCount READ blueDotCount NOTIFY changed)
    Q_PROPERTY(int wholeHours READ wholeHours NOTIFY changed)
    Q_PROPERTY(int yearDays READ yearDays NOTIFY changed)
    Q_PROPERTY(QString focusTimeHeadline READ focusTimeHeadline NOTIFY changed)
    Q_PROPERTY(QString focusTimePhrase READ focusTimePhrase NOTIFY changed)
    Q_PROPERTY(QString priority READ priority NOTIFY changed)

public:
    static constexpr int kTotal = 21;
    static constexpr int kHoldPage = 19;
    static inline const QString kPageKey = QStringLiteral("onboarding.page.v1");
    static inline const QString kAnswersKey = QStringLiteral("onboarding.answers.v1");
    // Linux has no system-wide wish for less motion that Qt reports: the flow keeps its own, off
    // unless set.
    static inline const QString kReduceMotionKey = QStringLiteral("onboarding.reduceMotion");

    // Runs `callback` after `milliseconds`; tests replace it with a hand-turned clock.
    using Scheduler = std::function<void(int milliseconds, std::function<void()> callback)>;

    explicit OnboardingModel(bool loginAvailable = true, QObject* parent = nullptr);
    ~OnboardingModel() override;

    void setScheduler(Scheduler scheduler);
    void setReduceMotion(bool on);

    // Restores the answers and starts the current page's task: the view calls it when it appears.
    Q_INVOKABLE void appear();
    Q_INVOKABLE void go(int step);
    Q_INVOKABLE void continueAction();
    Q_INVOKABLE void requestLogin();
    Q_INVOKABLE void holdChanged();
    Q_INVOKABLE void holdEnded();
    Q_INVOKABLE void commitNow();
    Q_INVOKABLE void selectOption(bool multiple, const QString& key, bool selected, const QString& label);
    Q_INVOKABLE bool isSelected(const QString& key, const QString& label) const;
    Q_INVOKABLE static QStringList options(const QString& key);
    Q_INVOKABLE static QString emojiOf(const QString& item);
    Q_INVOKABLE static QString labelOf(const QString& item);
    static std::optional<QString> questionKeyOf(int page);

    int page() const;
    int total() const { return kTotal; }
    bool reduceMotion() const { return m_reduceMotion; }
    bool loginAvailable() const { return m_loginAvailable; }
    double hours() const { return m_hours; }
    void setHours(double hours);
    int revealed() const { return m_revealed; }
    int blueDots() const { return m_blueDots; }
    double progress() const { return m_progress; }
    void setProgress(double progress);
    bool holding() const { return m_holding; }
    bool committed() const { return m_committed; }
    std::optional<int> animationCompletedPage() const { return m_animationCompletedPage; }
    std::optional<int> answeredPage() const { return m_answeredPage; }
    const QMap<QString, QStringList>& answers() const { return m_answers; }

    bool canContinue() const;
    QString continueTitle() const;
    QString questionKey() const { return questionKeyOf(page()).value_or(QString()); }
    int blueDotCount() const;
    int wholeHours() const;
    int yearDays() const;
    QString focusTimeHeadline() const;
    QString focusTimePhrase() const;
    QString priority() const;

    // A stored "hours" answer as a number of hours: strict decimal text only, anything else (blank
    // padding, non-finite values) reads as 4, and the result is kept within the slider's 0…12.
    static double parseHours(const QString& text);

signals:
    void changed();
    void finished();
    void loginRequested();

private:
    void restoreAnswers();
    void saveAnswers();
    void setHoursAnswer(double newHours);
    void runPageAnimation();
    void dotStep(quint64 task, int page, int index, int count);
    void revealStep(quint64 task, int page, int index, int last);
    void holdStep(quint64 task);
    void complete(quint64 task, int page);
    void after(quint64 task, int milliseconds, std::function<void()> then);
    bool current(quint64 task) const { return task == m_task; }

    bool m_loginAvailable;
    bool m_reduceMotion = false;
    QMap<QString, QStringList> m_answers;
    double m_hours = 4.0;
    int m_revealed = 0;
    int m_blueDots = 0;
    std::optional<int> m_animationCompletedPage;
    std::optional<int> m_answeredPage;
    double m_progress = 0.0;
    bool m_holding = false;
    bool m_committed = false;
    // The page task: a new one for every page shown; waits of older ones end without effect.
    quint64 m_task = 0;
    Scheduler m_scheduler;
};
