#include <QQuickItem>
#include <QQuickView>
#include <QTest>
#include <gtest/gtest.h>

#include "shared/onboarding/OnboardingView.h"
#include "shared/util/Settings.h"

namespace {

class OnboardingPages : public ::testing::Test {
protected:
    void SetUp() override
    {
        Settings::shared().remove(OnboardingModel::kPageKey);
        Settings::shared().remove(OnboardingModel::kAnswersKey);
        Settings::shared().setBool(OnboardingModel::kReduceMotionKey, true);
    }
    void TearDown() override { Settings::shared().remove(OnboardingModel::kReduceMotionKey); }

    // Along the visual tree: items made by a Repeater are not the QObject children of anything.
    static QQuickItem* search(QQuickItem* item, const QString& name)
    {
        if (item->objectName() == name)
            return item;
        for (QQuickItem* child : item->childItems())
            if (QQuickItem* found = search(child, name))
                return found;
        return nullptr;
    }
    static QQuickItem* find(OnboardingView& view, const QString& name)
    {
        QQuickItem* root = view.window()->rootObject();
        EXPECT_TRUE(root) << "the flow did not load";
        return root ? search(root, name) : nullptr;
    }
    static QString text(QQuickItem* item) { return item ? item->property("text").toString() : QString(); }
};

} // namespace

TEST_F(OnboardingPages, EveryPageLoadsAndCanBeWalkedThrough)
{
    OnboardingView view(true);
    ASSERT_TRUE(view.window()->errors().isEmpty()) << view.window()->errors().first().toString().toStdString();
    OnboardingModel& model = view.model();
    QQuickItem* next = find(view, QStringLiteral("onboardingContinue"));
    ASSERT_TRUE(next);
    for (int page = 0; page < OnboardingModel::kTotal; ++page) {
        SCOPED_TRACE(page);
        ASSERT_EQ(model.page(), page);
        QQuickItem* shown = find(view, QStringLiteral("onboardingPage%1").arg(page));
        ASSERT_TRUE(shown);
        EXPECT_TRUE(shown->isVisible());
        EXPECT_GT(shown->height(), 100);
        if (const std::optional<QString> key = OnboardingModel::questionKeyOf(page)) {
            EXPECT_FALSE(next->isEnabled());
            const QString label = OnboardingModel::labelOf(OnboardingModel::options(*key).first());
            QQuickItem* option = find(view, QStringLiteral("option ") + label);
            ASSERT_TRUE(option);
            QMetaObject::invokeMethod(option, "clicked");
            EXPECT_EQ(model.answers().value(*key), QStringList { label });
            EXPECT_TRUE(option->property("selected").toBool());
        }
        if (page == OnboardingModel::kHoldPage) {
            EXPECT_FALSE(find(view, QStringLiteral("onboardingBar"))->isVisible());
            QQuickItem* hint = find(view, QStringLiteral("holdHint"));
            EXPECT_EQ(text(hint), QStringLiteral("Hold for a moment"));
            model.commitNow();
            EXPECT_EQ(text(hint), QStringLiteral("You\u2019re ready."));
            QTRY_COMPARE_WITH_TIMEOUT(model.page(), 20, 2000);
            continue;
        }
        EXPECT_TRUE(next->isVisible());
        EXPECT_TRUE(next->isEnabled());
        EXPECT_EQ(find(view, QStringLiteral("onboardingLogin"))->isVisible(), page == 0);
        EXPECT_EQ(find(view, QStringLiteral("onboardingPaywallCaption"))->isVisible(), page == 20);
        EXPECT_EQ(find(view, QStringLiteral("onboardingBack"))->isEnabled(), page != 0);
        if (page < 20)
            QMetaObject::invokeMethod(next, "clicked");
    }
    int finished = 0;
    QObject::connect(&model, &OnboardingModel::finished, [&] { ++finished; });
    EXPECT_EQ(text(next), QStringLiteral("Meet Tovrick"));
    QMetaObject::invokeMethod(next, "clicked");
    EXPECT_EQ(finished, 1);
}

TEST_F(OnboardingPages, FiguresFollowTheModel)
{
    Settings::shared().setNumber(OnboardingModel::kPageKey, 12);
    OnboardingView view(false);
    QQuickItem* figure = find(view, QStringLiteral("hoursFigure"));
    ASSERT_TRUE(figure);
    EXPECT_EQ(text(figure), QStringLiteral("4 hours"));
    view.model().setHours(1);
    EXPECT_EQ(text(figure), QStringLiteral("1 hour"));
    view.model().setHours(0);
    EXPECT_EQ(text(figure), QStringLiteral("0 hours"));
    view.model().go(-12);
    EXPECT_FALSE(find(view, QStringLiteral("onboardingLogin"))->isVisible()) << "no login without a host for it";
    EXPECT_EQ(text(find(view, QStringLiteral("onboardingContinue"))), QStringLiteral("Let\u2019s go!"));
}

TEST_F(OnboardingPages, QuestionHeaderKeepsItsHeight)
{
    Settings::shared().setNumber(OnboardingModel::kPageKey, 5);
    OnboardingView view(true);
    double firstOptionY = -1;
    for (const int page : { 5, 6, 7, 8, 9, 11 }) {
        SCOPED_TRACE(page);
        view.model().go(page - view.model().page());
        QQuickItem* option = find(view, QStringLiteral("option ") +
            OnboardingModel::labelOf(OnboardingModel::options(*OnboardingModel::questionKeyOf(page)).first()));
        ASSERT_TRUE(option);
        const double y = option->mapToScene(QPointF()).y();
        if (firstOptionY < 0)
            firstOptionY = y;
        EXPECT_EQ(y, firstOptionY);
        EXPECT_EQ(text(find(view, QStringLiteral("pageSubtitle"))),
                  page <= 6 ? QStringLiteral("Choose all that feel right.") : QStringLiteral("Choose the one that fits best."));
    }
}
