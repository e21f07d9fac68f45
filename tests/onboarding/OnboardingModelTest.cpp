#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <map>

#include "shared/onboarding/OnboardingModel.h"
#include "shared/util/Settings.h"

namespace {

// A hand-turned clock for the page task's waits.
class ManualClock {
public:
    OnboardingModel::Scheduler scheduler()
    {
        return [this](int milliseconds, std::function<void()> callback) {
            m_waiting.emplace(std::make_pair(m_now + milliseconds, m_serial++), std::move(callback));
        };
    }
    void advance(int milliseconds)
    {
        const qint64 end = m_now + milliseconds;
        while (!m_waiting.empty() && m_waiting.begin()->first.first <= end) {
            auto next = m_waiting.begin();
            m_now = next->first.first;
            std::function<void()> callback = std::move(next->second);
            m_waiting.erase(next);
            callback();
        }
        m_now = end;
    }
    qint64 now() const { return m_now; }

private:
    qint64 m_now = 0;
    quint64 m_serial = 0;
    std::map<std::pair<qint64, quint64>, std::function<void()>> m_waiting;
};

class Onboarding : public ::testing::Test {
protected:
    void SetUp() override
    {
        Settings::shared().remove(OnboardingModel::kPageKey);
        Settings::shared().remove(OnboardingModel::kAnswersKey);
        Settings::shared().remove(OnboardingModel::kReduceMotionKey);
    }

    std::unique_ptr<OnboardingModel> open(int page, bool reduceMotion = false)
    {
        Settings::shared().setNumber(OnboardingModel::kPageKey, page);
        auto model = std::make_unique<OnboardingModel>();
        model->setScheduler(clock.scheduler());
        model->setReduceMotion(reduceMotion);
        model->appear();
        return model;
    }

    static void storeAnswers(const QByteArray& json)
    {
        Settings::shared().setBytes(OnboardingModel::kAnswersKey, json);
    }

    static QJsonObject storedAnswers()
    {
        return QJsonDocument::fromJson(*Settings::shared().bytesValue(OnboardingModel::kAnswersKey)).object();
    }

    ManualClock clock;
};

} // namespace

TEST_F(Onboarding, StoredPageIsClampedOnEveryRead)
{
    struct Case {
        QVariant stored;
        int page;
    };
    const Case cases[] = { { 25, 20 }, { -3, 0 }, { 7, 7 }, { QStringLiteral("1e300"), 20 },
                           { QStringLiteral("nan"), 0 }, { QStringLiteral("abc"), 0 } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored.toString().toStdString());
        OnboardingModel model;
        model.setScheduler(clock.scheduler());
        if (c.stored.typeId() == QMetaType::QString)
            Settings::shared().setString(OnboardingModel::kPageKey, c.stored.toString());
        else
            Settings::shared().setNumber(OnboardingModel::kPageKey, c.stored.toInt());
        EXPECT_EQ(model.page(), c.page);
    }
    auto model = open(25);
    model->go(-1);
    EXPECT_EQ(model->page(), 19);
    EXPECT_EQ(Settings::shared().numberValue(OnboardingModel::kPageKey), 19);
    model = open(0);
    model->go(-1);
    EXPECT_EQ(model->page(), 0);
}

TEST_F(Onboarding, FirstLaunch)
{
    auto model = open(0);
    EXPECT_EQ(model->hours(), 4.0);
    EXPECT_TRUE(model->answers().isEmpty());
    EXPECT_TRUE(model->canContinue());
    EXPECT_EQ(model->continueTitle(), QStringLiteral("Let\u2019s go!"));
}

TEST_F(Onboarding, HoursRestoreStrictlyAndWithinTheSlider)
{
    struct Case {
        const char* stored;
        double hours;
        int dots;
    };
    const Case cases[] = {
        { R"({"hours":["7"]})", 7, 23 },       { R"({"hours":["abc"]})", 4, 13 },
        { R"({"hours":["nan"]})", 4, 13 },     { R"({"hours":["inf"]})", 4, 13 },
        { R"({"hours":["-inf"]})", 4, 13 },    { R"({"hours":["1e300"]})", 12, 40 },
        { R"({"hours":["1e400"]})", 12, 40 },  { R"({"hours":["-2"]})", 0, 0 },
        { R"({"hours":[" 7"]})", 4, 13 },      { R"({"hours":["7 "]})", 4, 13 },
        { R"({"hours":[""]})", 4, 13 },        { R"({"hours":[]})", 4, 13 },
        { R"({"goals":["Founder"]})", 4, 13 }, { R"({"hours":"7"})", 4, 13 },
        { R"({"hours":[7]})", 4, 13 },         { "not json", 4, 13 },
        { R"({"hours":["0.5"]})", 0.5, 1 },    { R"({"hours":["+3"]})", 3, 10 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        storeAnswers(c.stored);
        auto model = open(15, true);
        EXPECT_EQ(model->hours(), c.hours);
        EXPECT_EQ(model->blueDotCount(), c.dots);
        EXPECT_EQ(model->blueDots(), c.dots);
    }
}

TEST_F(Onboarding, AnswersThatAreNotAMapOfListsReadAsNone)
{
    storeAnswers(R"({"goals":["Founder"],"age":[1]})");
    auto model = open(14);
    EXPECT_TRUE(model->answers().isEmpty());
    EXPECT_EQ(model->priority(), QStringLiteral("Better focus"));
}

TEST_F(Onboarding, DotFigures)
{
    struct Case {
        double hours;
        int dots, wholeHours, days;
    };
    for (const Case c : { Case { 4, 13, 4, 60 }, Case { 12, 40, 12, 182 }, Case { 1, 3, 1, 15 }, Case { 0, 0, 0, 0 } }) {
        SCOPED_TRACE(c.hours);
        auto model = open(12);
        model->setHours(c.hours);
        EXPECT_EQ(model->blueDotCount(), c.dots);
        EXPECT_EQ(model->wholeHours(), c.wholeHours);
        EXPECT_EQ(model->yearDays(), c.days);
    }
}

TEST_F(Onboarding, SliderWritesTheHoursAnswerOnlyWhenMoved)
{
    auto model = open(12);
    EXPECT_FALSE(model->answers().contains(QStringLiteral("hours")));
    model->setHours(5);
    EXPECT_EQ(model->answers().value(QStringLiteral("hours")), QStringList { QStringLiteral("5") });
    EXPECT_EQ(storedAnswers().value(QStringLiteral("hours")).toArray().first().toString(), QStringLiteral("5"));
    auto again = open(15, true);
    EXPECT_EQ(again->hours(), 5.0);
}

TEST_F(Onboarding, DotsCountUpThenComplete)
{
    auto model = open(15);
    EXPECT_FALSE(model->canContinue());
    clock.advance(249);
    EXPECT_EQ(model->blueDots(), 0);
    clock.advance(1);
    EXPECT_EQ(model->blueDots(), 1);
    clock.advance(12 * 130);
    EXPECT_EQ(model->blueDots(), 13);
    EXPECT_FALSE(model->canContinue());
    EXPECT_EQ(clock.now(), 1810);
    clock.advance(2240 - 1810 - 1);
    EXPECT_FALSE(model->canContinue());
    clock.advance(1);
    EXPECT_TRUE(model->canContinue());
    EXPECT_EQ(model->blueDots(), 13);
}

TEST_F(Onboarding, NoHoursNoDotsCompletesAfterTheFirstWait)
{
    storeAnswers(R"({"hours":["0"]})");
    auto model = open(15);
    clock.advance(250);
    EXPECT_EQ(model->blueDots(), 0);
    EXPECT_TRUE(model->canContinue());
}

TEST_F(Onboarding, RevealsStepAndComplete)
{
    struct Case {
        int page, steps, completesAt;
    };
    for (const Case c : { Case { 10, 4, 1900 }, Case { 13, 3, 1500 }, Case { 18, 4, 1900 } }) {
        SCOPED_TRACE(c.page);
        auto model = open(c.page);
        EXPECT_EQ(model->revealed(), 0);
        for (int i = 1; i <= c.steps; ++i) {
            clock.advance(400);
            EXPECT_EQ(model->revealed(), i);
        }
        clock.advance(299);
        EXPECT_FALSE(model->canContinue());
        clock.advance(1);
        EXPECT_TRUE(model->canContinue());
        clock.advance(10000);
        EXPECT_EQ(model->revealed(), c.steps);
    }
}

TEST_F(Onboarding, ReduceMotionOpensEverythingAtOnce)
{
    for (const int page : { 10, 13, 18 }) {
        auto model = open(page, true);
        EXPECT_EQ(model->revealed(), 4);
        EXPECT_TRUE(model->canContinue()) << page;
    }
    auto dots = open(15, true);
    EXPECT_EQ(dots->blueDots(), 13);
    EXPECT_TRUE(dots->canContinue());
}

TEST_F(Onboarding, LeavingAPageCancelsItsTask)
{
    auto model = open(10);
    clock.advance(800);
    model->go(1);
    model->go(-1);
    EXPECT_EQ(model->revealed(), 0);
    clock.advance(400);
    // The first task's next step would have made it 3.
    EXPECT_EQ(model->revealed(), 1);
}

TEST_F(Onboarding, CanContinuePerPage)
{
    for (int page = 0; page < OnboardingModel::kTotal; ++page) {
        SCOPED_TRACE(page);
        auto model = open(page);
        const bool waits = page == 10 || page == 13 || page == 15 || page == 18;
        const bool question = OnboardingModel::questionKeyOf(page).has_value();
        EXPECT_EQ(model->canContinue(), !waits && !question && page != 19);
        clock.advance(5000);
        EXPECT_EQ(model->canContinue(), !question && page != 19);
        EXPECT_EQ(model->continueTitle(), page == 0 ? QStringLiteral("Let\u2019s go!")
                                          : page == 20 ? QStringLiteral("Meet Tovrick")
                                                       : QStringLiteral("Continue"));
    }
}

TEST_F(Onboarding, MultipleChoiceKeepsTapOrderAndCanEmpty)
{
    auto model = open(5);
    const QString goals = QStringLiteral("goals");
    model->selectOption(true, goals, model->isSelected(goals, QStringLiteral("Better focus")), QStringLiteral("Better focus"));
    EXPECT_EQ(model->answers().value(goals), QStringList { QStringLiteral("Better focus") });
    EXPECT_TRUE(model->canContinue());
    model->selectOption(true, goals, model->isSelected(goals, QStringLiteral("Better focus")), QStringLiteral("Better focus"));
    EXPECT_TRUE(model->answers().contains(goals));
    EXPECT_TRUE(model->answers().value(goals).isEmpty());
    EXPECT_FALSE(model->canContinue());
    model->selectOption(true, goals, false, QStringLiteral("Being present"));
    model->selectOption(true, goals, false, QStringLiteral("Calmer evenings"));
    EXPECT_EQ(model->answers().value(goals), (QStringList { QStringLiteral("Being present"), QStringLiteral("Calmer evenings") }));
    model->go(9);
    EXPECT_EQ(model->priority(), QStringLiteral("Being present"));
}

TEST_F(Onboarding, SingleChoiceReplaces)
{
    auto model = open(7);
    model->selectOption(false, QStringLiteral("role"), false, QStringLiteral("Founder"));
    model->selectOption(false, QStringLiteral("role"), false, QStringLiteral("Athlete"));
    EXPECT_EQ(model->answers().value(QStringLiteral("role")), QStringList { QStringLiteral("Athlete") });
    EXPECT_TRUE(model->isSelected(QStringLiteral("role"), QStringLiteral("Athlete")));
    EXPECT_FALSE(model->isSelected(QStringLiteral("role"), QStringLiteral("Founder")));
}

TEST_F(Onboarding, ReenteringAQuestionClearsItsAnswer)
{
    auto model = open(8);
    model->selectOption(false, QStringLiteral("time"), false, QStringLiteral("Evenings"));
    model->go(1);
    EXPECT_EQ(model->answers().value(QStringLiteral("time")), QStringList { QStringLiteral("Evenings") });
    model->go(-1);
    EXPECT_EQ(model->page(), 8);
    EXPECT_TRUE(model->answers().value(QStringLiteral("time")).isEmpty());
    EXPECT_FALSE(model->isSelected(QStringLiteral("time"), QStringLiteral("Evenings")));
    EXPECT_FALSE(model->canContinue());
    EXPECT_TRUE(storedAnswers().value(QStringLiteral("time")).toArray().isEmpty());
}

TEST_F(Onboarding, AnswersSurviveARelaunch)
{
    auto model = open(11);
    model->selectOption(false, QStringLiteral("age"), false, OnboardingModel::labelOf(QStringLiteral("🌱|Under 18")));
    model->go(1);
    model.reset();
    auto relaunched = open(12);
    EXPECT_EQ(relaunched->answers().value(QStringLiteral("age")), QStringList { QStringLiteral("Under 18") });
}

TEST_F(Onboarding, FocusTimeTexts)
{
    struct Case {
        const char* time;
        const char* headline;
        const char* phrase;
    };
    const Case cases[] = {
        { "Evenings", "Your evening reset.", "protecting a little time in the evening" },
        { "Mornings", "Your focus, your rhythm.", "making space for a calmer morning" },
        { "It varies", "Your focus, your rhythm.", "making space for focus during your day" },
        { nullptr, "Your focus, your rhythm.", "making space for focus during your day" },
    };
    for (const Case& c : cases) {
        auto model = open(8);
        if (c.time)
            model->selectOption(false, QStringLiteral("time"), false, QString::fromUtf8(c.time));
        EXPECT_EQ(model->focusTimeHeadline(), QString::fromUtf8(c.headline));
        EXPECT_EQ(model->focusTimePhrase(), QString::fromUtf8(c.phrase));
    }
}

TEST_F(Onboarding, HoldFillsInFortyTicksThenMovesOn)
{
    auto model = open(19);
    EXPECT_FALSE(model->canContinue());
    model->holdChanged();
    clock.advance(39 * 40);
    EXPECT_FALSE(model->committed());
    clock.advance(40);
    EXPECT_TRUE(model->committed());
    EXPECT_FALSE(model->holding());
    EXPECT_EQ(model->progress(), 1.0);
    model->holdChanged();
    model->holdEnded();
    EXPECT_EQ(model->progress(), 1.0) << "a release after the commit keeps the meter full";
    clock.advance(449);
    EXPECT_EQ(model->page(), 19);
    clock.advance(1);
    EXPECT_EQ(model->page(), 20);
}

TEST_F(Onboarding, EarlyReleaseEmptiesTheMeter)
{
    auto model = open(19);
    model->holdChanged();
    clock.advance(20 * 40);
    EXPECT_DOUBLE_EQ(model->progress(), 0.5);
    model->holdEnded();
    EXPECT_EQ(model->progress(), 0.0);
    clock.advance(400);
    EXPECT_EQ(model->progress(), 0.0);
    model->holdChanged();
    clock.advance(40);
    EXPECT_DOUBLE_EQ(model->progress(), 0.025);
}

TEST_F(Onboarding, BackDuringTheLastMomentCancelsTheStep)
{
    auto model = open(19);
    model->commitNow();
    clock.advance(40 + 300);
    model->go(-1);
    EXPECT_EQ(model->page(), 18);
    clock.advance(5000);
    EXPECT_EQ(model->page(), 18);
    model->go(1);
    EXPECT_FALSE(model->committed()) << "coming back starts the hold again";
    EXPECT_EQ(model->progress(), 0.0);
}

TEST_F(Onboarding, ContinueOnTheLastPageFinishes)
{
    auto model = open(20);
    int finished = 0;
    QObject::connect(model.get(), &OnboardingModel::finished, [&] { ++finished; });
    model->continueAction();
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(model->page(), 20);
}

TEST_F(Onboarding, OptionTexts)
{
    EXPECT_EQ(OnboardingModel::options(QStringLiteral("age")).at(1), QStringLiteral("✨|18\u201324"));
    EXPECT_EQ(OnboardingModel::labelOf(OnboardingModel::options(QStringLiteral("history")).first()),
              QStringLiteral("Yes, but it didn\u2019t stick"));
    EXPECT_EQ(OnboardingModel::emojiOf(OnboardingModel::options(QStringLiteral("goals")).at(4)), QStringLiteral("\u26A1\uFE0F"));
    for (const char* key : { "goals", "challenges", "role", "time", "history", "age" })
        for (const QString& option : OnboardingModel::options(QString::fromLatin1(key)))
            EXPECT_EQ(option.count(QLatin1Char('|')), 1) << option.toStdString();
}
