#include "shared/onboarding/OnboardingModel.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "shared/util/Settings.h"

namespace {

const QMap<QString, QStringList>& optionTable()
{
    static const QMap<QString, QStringList> table {
        { QStringLiteral("goals"),
          { QStringLiteral("🎯|Better focus"), QStringLiteral("📵|Less mindless scrolling"),
            QStringLiteral("🌙|Calmer evenings"), QStringLiteral("💙|Being present"),
            QStringLiteral("⚡️|Getting things done"), QStringLiteral("🔎|Just exploring") } },
        { QStringLiteral("challenges"),
          { QStringLiteral("🌀|Procrastination"), QStringLiteral("🔔|Constant distractions"),
            QStringLiteral("🌙|Late-night scrolling"), QStringLiteral("📋|Unfinished tasks"),
            QStringLiteral("🫠|Feeling overwhelmed"), QStringLiteral("🫶|Less time for people") } },
        { QStringLiteral("role"),
          { QStringLiteral("🛠️|Builder / creator"), QStringLiteral("💻|Knowledge worker"),
            QStringLiteral("🚀|Founder"), QStringLiteral("🏃|Athlete"), QStringLiteral("✏️|Student"),
            QStringLiteral("💙|Making more time for myself") } },
        { QStringLiteral("time"),
          { QStringLiteral("🌅|Mornings"), QStringLiteral("☀️|During the day"), QStringLiteral("🌙|Evenings"),
            QStringLiteral("🗓️|Throughout the day"), QStringLiteral("🤷|It varies") } },
        { QStringLiteral("history"),
          { QStringLiteral("🔁|Yes, but it didn’t stick"), QStringLiteral("👍|Yes, for a little while"),
            QStringLiteral("🌱|This is my first step") } },
        { QStringLiteral("age"),
          { QStringLiteral("🌱|Under 18"), QStringLiteral("✨|18–24"), QStringLiteral("🌿|25–34"),
            QStringLiteral("🌳|35–44"), QStringLiteral("🍃|45–54"), QStringLiteral("☀️|55+"),
            QStringLiteral("🙌|Prefer not to say") } },
    };
    return table;
}

bool waitsForAnimation(int page)
{
    return page == 10 || page == 13 || page == 15 || page == 18;
}

constexpr int kDotDelay = 250;
constexpr int kDotInterval = 130;
constexpr int kRevealInterval = 400;
constexpr int kSettle = 300;
constexpr int kHoldTick = 40;
constexpr int kHoldLinger = 450;

} // namespace

OnboardingModel::OnboardingModel(bool loginAvailable, QObject* parent)
    : QObject(parent)
    , m_loginAvailable(loginAvailable)
    , m_reduceMotion(Settings::shared().boolValue(kReduceMotionKey).value_or(false))
{
    m_scheduler = [this](int milliseconds, std::function<void()> callback) {
        QTimer::singleShot(milliseconds, Qt::PreciseTimer, this, std::move(callback));
    };
}

OnboardingModel::~OnboardingModel() = default;

void OnboardingModel::setScheduler(Scheduler scheduler)
{
    m_scheduler = std::move(scheduler);
}

void OnboardingModel::setReduceMotion(bool on)
{
    m_reduceMotion = on;
    emit changed();
}

QStringList OnboardingModel::options(const QString& key)
{
    return optionTable().value(key);
}

QString OnboardingModel::emojiOf(const QString& item)
{
    return item.section(QLatin1Char('|'), 0, 0);
}

QString OnboardingModel::labelOf(const QString& item)
{
    return item.section(QLatin1Char('|'), 1, 1);
}

std::optional<QString> OnboardingModel::questionKeyOf(int page)
{
    switch (page) {
    case 5: return QStringLiteral("goals");
    case 6: return QStringLiteral("challenges");
    case 7: return QStringLiteral("role");
    case 8: return QStringLiteral("time");
    case 9: return QStringLiteral("history");
    case 11: return QStringLiteral("age");
    default: return std::nullopt;
    }
}

int OnboardingModel::page() const
{
    // Whatever is stored (hand-edited, from a longer flow), the page shown is one of ours.
    const double stored = Settings::shared().numberValue(kPageKey).value_or(0);
    return static_cast<int>(std::clamp(stored, 0.0, double(kTotal - 1)));
}

void OnboardingModel::setHours(double hours)
{
    if (!std::isfinite(hours))
        return;
    hours = std::clamp(hours, 0.0, 12.0);
    if (hours == m_hours)
        return;
    m_hours = hours;
    setHoursAnswer(hours);
    emit changed();
}

void OnboardingModel::setProgress(double progress)
{
    if (!std::isfinite(progress))
        return;
    progress = std::clamp(progress, 0.0, 1.0);
    if (progress == m_progress)
        return;
    m_progress = progress;
    emit changed();
}

void OnboardingModel::appear()
{
    restoreAnswers();
    runPageAnimation();
}

void OnboardingModel::go(int step)
{
    m_holding = false;
    m_progress = 0.0;
    m_revealed = 0;
    m_blueDots = 0;
    m_animationCompletedPage.reset();
    m_answeredPage.reset();
    const int next = std::clamp(page() + step, 0, kTotal - 1);
    const bool moved = next != page();
    Settings::shared().setNumber(kPageKey, next);
    emit changed();
    if (moved)
        runPageAnimation();
}

void OnboardingModel::continueAction()
{
    if (page() >= kTotal - 1)
        emit finished();
    else
        go(1);
}

void OnboardingModel::requestLogin()
{
    if (m_loginAvailable)
        emit loginRequested();
}

void OnboardingModel::holdChanged()
{
    m_holding = true;
    emit changed();
}

void OnboardingModel::holdEnded()
{
    m_holding = false;
    if (!m_committed)
        m_progress = 0.0;
    emit changed();
}

void OnboardingModel::commitNow()
{
    m_holding = false;
    m_committed = true;
    m_progress = 1.0;
    emit changed();
}

void OnboardingModel::selectOption(bool multiple, const QString& key, bool selected, const QString& label)
{
    m_answeredPage = page();
    if (!multiple) {
        m_answers[key] = QStringList { label };
    } else {
        QStringList list = m_answers.value(key);
        if (selected)
            list.removeAll(label);
        else
            list.append(label);
        m_answers[key] = list;
    }
    saveAnswers();
    emit changed();
}

bool OnboardingModel::isSelected(const QString& key, const QString& label) const
{
    return m_answeredPage == page() && m_answers.value(key).contains(label);
}

bool OnboardingModel::canContinue() const
{
    const int current = page();
    if (waitsForAnimation(current) && !m_reduceMotion && m_animationCompletedPage != current)
        return false;
    if (const std::optional<QString> key = questionKeyOf(current))
        return m_answeredPage == current && !m_answers.value(*key).isEmpty();
    if (current == kHoldPage)
        return m_committed;
    return true;
}

QString OnboardingModel::continueTitle() const
{
    const int current = page();
    if (current == kTotal - 1)
        return QStringLiteral("Meet Tovrick");
    if (current == 0)
        return QStringLiteral("Let’s go!");
    return QStringLiteral("Continue");
}

int OnboardingModel::blueDotCount() const
{
    // `hours` is kept finite and within 0…12, so the conversion is exact; the clamp keeps the grid
    // whole should that ever change.
    const double dots = std::isfinite(m_hours) ? std::clamp(m_hours / 24 * 80, 0.0, 80.0) : 0.0;
    return static_cast<int>(dots);
}

int OnboardingModel::wholeHours() const
{
    return static_cast<int>(std::clamp(m_hours, 0.0, 12.0));
}

int OnboardingModel::yearDays() const
{
    return static_cast<int>(std::clamp(m_hours, 0.0, 12.0) * 365 / 24);
}

QString OnboardingModel::focusTimeHeadline() const
{
    const QStringList time = m_answers.value(QStringLiteral("time"));
    if (!time.isEmpty() && time.first() == QLatin1String("Evenings"))
        return QStringLiteral("Your evening reset.");
    return QStringLiteral("Your focus, your rhythm.");
}

QString OnboardingModel::focusTimePhrase() const
{
    const QStringList time = m_answers.value(QStringLiteral("time"));
    const QString t = time.isEmpty() ? QString() : time.first();
    if (t == QLatin1String("Evenings"))
        return QStringLiteral("protecting a little time in the evening");
    if (t == QLatin1String("Mornings"))
        return QStringLiteral("making space for a calmer morning");
    return QStringLiteral("making space for focus during your day");
}

QString OnboardingModel::priority() const
{
    const QStringList goals = m_answers.value(QStringLiteral("goals"));
    return goals.isEmpty() ? QStringLiteral("Better focus") : goals.first();
}

double OnboardingModel::parseHours(const QString& text)
{
    constexpr double fallback = 4.0;
    const QByteArray bytes = text.toUtf8();
    const char* begin = bytes.constData();
    const char* end = begin + bytes.size();
    // A leading "+" is a number to a person; from_chars refuses it.
    if (begin != end && *begin == '+')
        ++begin;
    if (begin == end || *begin == '+')
        return fallback;
    double value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value);
    // Well-formed but beyond a double ("1e400", "1e-400"): the C library rounds it to infinity or
    // zero, which the slider's range then holds.
    if (error == std::errc::result_out_of_range && stop == end)
        return std::clamp(std::strtod(bytes.constData(), nullptr), 0.0, 12.0);
    if (error != std::errc() || stop != end || !std::isfinite(value))
        return fallback;
    return std::clamp(value, 0.0, 12.0);
}

void OnboardingModel::restoreAnswers()
{
    m_answers.clear();
    const QByteArray stored = Settings::shared().bytesValue(kAnswersKey).value_or(QByteArray());
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(stored, &error);
    if (error.error == QJsonParseError::NoError && document.isObject()) {
        QMap<QString, QStringList> decoded;
        bool valid = true;
        const QJsonObject object = document.object();
        for (auto it = object.begin(); valid && it != object.end(); ++it) {
            if (!it.value().isArray()) {
                valid = false;
                break;
            }
            QStringList list;
            for (const QJsonValue item : it.value().toArray()) {
                if (!item.isString()) {
                    valid = false;
                    break;
                }
                list.append(item.toString());
            }
            decoded.insert(it.key(), list);
        }
        if (valid)
            m_answers = decoded;
    }
    const QStringList hours = m_answers.value(QStringLiteral("hours"));
    m_hours = parseHours(hours.isEmpty() ? QStringLiteral("4") : hours.first());
    emit changed();
}

void OnboardingModel::saveAnswers()
{
    QJsonObject object;
    for (auto it = m_answers.cbegin(); it != m_answers.cend(); ++it)
        object.insert(it.key(), QJsonArray::fromStringList(it.value()));
    Settings::shared().setBytes(kAnswersKey, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

void OnboardingModel::setHoursAnswer(double newHours)
{
    m_answers[QStringLiteral("hours")] = QStringList { QString::number(static_cast<qint64>(newHours)) };
    saveAnswers();
}

void OnboardingModel::after(quint64 task, int milliseconds, std::function<void()> then)
{
    // A scheduler may outlive the model; a wait of a model that is gone ends quietly.
    m_scheduler(milliseconds, [self = QPointer<OnboardingModel>(this), task, then = std::move(then)] {
        if (self && self->current(task))
            then();
    });
}

void OnboardingModel::runPageAnimation()
{
    const quint64 task = ++m_task;
    const int p = page();
    m_animationCompletedPage.reset();
    m_answeredPage.reset();
    if (const std::optional<QString> key = questionKeyOf(p)) {
        m_answers[*key] = QStringList();
        saveAnswers();
    }
    m_revealed = m_reduceMotion ? 4 : 0;
    m_blueDots = 0;
    emit changed();

    if (p == 15) {
        if (m_reduceMotion) {
            m_blueDots = blueDotCount();
            m_animationCompletedPage = 15;
            emit changed();
            return;
        }
        after(task, kDotDelay, [this, task, p] {
            const int count = blueDotCount();
            if (count < 1) {
                m_animationCompletedPage = 15;
                emit changed();
                return;
            }
            dotStep(task, p, 1, count);
        });
        return;
    }
    if (p == kHoldPage) {
        m_committed = false;
        m_holding = false;
        m_progress = 0.0;
        emit changed();
        after(task, kHoldTick, [this, task] { holdStep(task); });
        return;
    }
    if ((p == 10 || p == 13 || p == 18) && !m_reduceMotion) {
        const int last = p == 13 ? 3 : 4;
        after(task, kRevealInterval, [this, task, p, last] { revealStep(task, p, 1, last); });
        return;
    }
    complete(task, p);
}

void OnboardingModel::dotStep(quint64 task, int page, int index, int count)
{
    m_blueDots = index;
    emit changed();
    after(task, kDotInterval, [this, task, page, index, count] {
        if (index < count)
            dotStep(task, page, index + 1, count);
        else
            after(task, kSettle, [this, task, page] { complete(task, page); });
    });
}

void OnboardingModel::revealStep(quint64 task, int page, int index, int last)
{
    m_revealed = index;
    emit changed();
    if (index < last)
        after(task, kRevealInterval, [this, task, page, index, last] { revealStep(task, page, index + 1, last); });
    else
        after(task, kSettle, [this, task, page] { complete(task, page); });
}

void OnboardingModel::holdStep(quint64 task)
{
    if (m_holding) {
        m_progress = std::min(m_progress + 0.025, 1.0);
        if (m_progress >= 1.0) {
            m_holding = false;
            m_committed = true;
            m_progress = 1.0;
        }
        emit changed();
    }
    if (!m_committed) {
        after(task, kHoldTick, [this, task] { holdStep(task); });
        return;
    }
    after(task, kHoldLinger, [this] {
        if (page() == kHoldPage)
            go(1);
    });
}

void OnboardingModel::complete(quint64 task, int page)
{
    if (!current(task) || this->page() != page)
        return;
    m_animationCompletedPage = page;
    emit changed();
}
