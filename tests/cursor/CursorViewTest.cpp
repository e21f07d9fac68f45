#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include "Tovrick/CursorOverlay/CursorView.h"
#include "Tovrick/CursorOverlay/OverlaySprite.h"

namespace {

struct ViewRig {
    double now = 10;
    CursorView view { CursorEngine::Environment { [this] { return now; }, [] { return QPointF(300, 300); } } };

    void frameAt(double time)
    {
        now = time;
        view.engine().step();
        view.update();
    }
};

QImage filled(QColor colour)
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QColor colourOf(const QImage& image)
{
    return image.isNull() ? QColor() : image.pixelColor(0, 0);
}

TEST(CursorViewCaption, TheRulesOfEachAssignment)
{
    const std::optional<QString> none;
    const std::optional<QString> empty = QString();
    const std::optional<QString> hello = QStringLiteral("Hello there");
    const std::optional<QString> other = QStringLiteral("Over here");
    // Each row: the caption before, with or without a goal photo up, the assignment, then whether the
    // bubble is up, whether the photo is still meant to show and whether the bubble was rebuilt.
    const struct {
        const char* name;
        std::optional<QString> before;
        bool photo;
        std::optional<QString> assigned;
        bool bubble;
        bool photoStays;
        bool rebuilt;
    } rows[] = {
        { "text on nothing", none, false, hello, true, false, true },
        { "same text", hello, true, hello, true, true, false },
        { "another text", hello, true, other, true, true, true },
        { "none hides both", hello, true, none, false, false, false },
        { "empty hides both", hello, true, empty, false, false, false },
        { "none again is ignored", none, true, none, false, true, false },
        { "empty after none", none, true, empty, false, false, false },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ViewRig rig;
        rig.view.setCaption(row.before);
        rig.frameAt(10);
        if (row.photo)
            rig.view.loadFallbackGoalImage(filled(Qt::green));
        rig.frameAt(11);
        const QImage bubbleBefore = rig.view.bubbleWindow() ? rig.view.bubbleWindow()->picture() : QImage();

        rig.view.setCaption(row.assigned);
        EXPECT_EQ(rig.view.caption(), row.assigned);
        rig.frameAt(12);
        EXPECT_EQ(rig.view.bubbleShown(), row.bubble);
        if (rig.view.bubbleWindow()) {
            EXPECT_EQ(rig.view.bubbleWindow()->isVisible(), row.bubble);
        }
        EXPECT_EQ(rig.view.showsGoalImage(), row.photoStays);
        EXPECT_EQ(rig.view.goalPhoto().opacity(), row.photoStays ? 1.0 : 0.0);
        if (row.bubble) {
            EXPECT_EQ(rig.view.bubbleWindow()->picture() != bubbleBefore, row.rebuilt);
        }
    }
}

TEST(CursorViewCaption, OneLineElidedInTheBubble)
{
    EXPECT_EQ(cursorPictures::bubbleLine(QStringLiteral("two\nlines  here")), QStringLiteral("two lines here"));
    const QString longText = QString(QStringLiteral("word ")).repeated(200);
    const QString line = cursorPictures::bubbleLine(longText);
    EXPECT_LT(line.size(), longText.size());
    EXPECT_TRUE(line.endsWith(QChar(0x2026)));
    EXPECT_LE(cursorPictures::bubbleSize(longText, cursorPictures::Tail::left).width(), 460 + 40);
}

TEST(CursorViewGoalPhoto, SourcesInOrder)
{
    ViewRig rig;
    rig.view.setShippedGoalImage(QStringLiteral(":/tovrick/goal.png"));
    const QImage shipped(QStringLiteral(":/tovrick/goal.png"));
    ASSERT_FALSE(shipped.isNull()) << "the program ships a goal image";

    // Nothing stored and no image given: the shipped one, which becomes the fallback.
    rig.view.loadFallbackGoalImage();
    EXPECT_TRUE(rig.view.showsGoalImage());
    EXPECT_EQ(rig.view.goalImage(), shipped);
    rig.view.setShippedGoalImage(QStringLiteral("/nonexistent/goal.png"));
    rig.view.hideGoalPhotoNow();
    rig.view.loadFallbackGoalImage();
    EXPECT_EQ(rig.view.goalImage(), shipped) << "kept as the fallback";

    // A given image is shown and becomes the fallback.
    rig.view.loadFallbackGoalImage(filled(Qt::red));
    EXPECT_EQ(colourOf(rig.view.goalImage()), QColor(Qt::red));
    rig.view.loadFallbackGoalImage();
    EXPECT_EQ(colourOf(rig.view.goalImage()), QColor(Qt::red));

    // A reminder image of the account comes before the fallback; an empty one falls through.
    QImage reminder = filled(Qt::blue);
    rig.view.reminderImage = [&] { return reminder; };
    rig.view.loadFallbackGoalImage();
    EXPECT_EQ(colourOf(rig.view.goalImage()), QColor(Qt::blue));
    reminder = QImage();
    rig.view.loadFallbackGoalImage();
    EXPECT_EQ(colourOf(rig.view.goalImage()), QColor(Qt::red));
    rig.view.loadFallbackGoalImage(filled(Qt::yellow));
    EXPECT_EQ(colourOf(rig.view.goalImage()), QColor(Qt::yellow)) << "a given image outranks the reminders";
}

TEST(CursorViewGoalPhoto, NothingToShowChangesNothing)
{
    ViewRig rig;
    rig.view.setShippedGoalImage(QStringLiteral("/nonexistent/goal.png"));
    rig.view.reminderImage = [] { return QImage(); };
    rig.view.loadFallbackGoalImage();
    rig.view.loadFallbackGoalImage(QImage());
    EXPECT_FALSE(rig.view.showsGoalImage());
    EXPECT_TRUE(rig.view.goalImage().isNull());
    EXPECT_FALSE(rig.view.goalPhoto().isAnimating());
}

TEST(CursorViewGoalPhoto, FadesInAndHidesAtOnce)
{
    ViewRig rig;
    rig.frameAt(10);
    rig.view.loadFallbackGoalImage(filled(Qt::red));
    EXPECT_TRUE(rig.view.goalPhoto().isAnimating());
    rig.frameAt(10.1);
    EXPECT_GT(rig.view.goalPhoto().opacity(), 0);
    EXPECT_LT(rig.view.goalPhoto().opacity(), 1);
    rig.frameAt(11);
    EXPECT_EQ(rig.view.goalPhoto().opacity(), 1);
    ASSERT_NE(rig.view.photoWindow(), nullptr);
    EXPECT_TRUE(rig.view.photoWindow()->isVisible());

    rig.view.setCaption(QStringLiteral("Look"));
    rig.view.setCaption(std::nullopt);
    EXPECT_TRUE(rig.view.goalPhoto().isAnimating()) << "a caption's end fades the photo out";
    rig.view.hideGoalPhotoNow();
    EXPECT_FALSE(rig.view.goalPhoto().isAnimating());
    EXPECT_EQ(rig.view.goalPhoto().opacity(), 0);
    EXPECT_FALSE(rig.view.showsGoalImage());
    EXPECT_FALSE(rig.view.photoWindow()->isVisible());
    rig.frameAt(11.1);
    EXPECT_EQ(rig.view.goalPhoto().opacity(), 0);
}

TEST(CursorViewExtras, LabelsForTheirTimeRingsAndThePress)
{
    ViewRig rig;
    rig.frameAt(10);
    rig.view.showLabel(QStringLiteral("Saved"), 1.5);
    rig.frameAt(11);
    ASSERT_NE(rig.view.labelWindow(), nullptr);
    EXPECT_TRUE(rig.view.labelWindow()->isVisible());
    rig.frameAt(11.6);
    EXPECT_FALSE(rig.view.labelWindow()->isVisible());

    rig.view.ringBurst(QPointF(500, 400), false);
    rig.view.ringBurst(QPointF(520, 400), true);
    EXPECT_DOUBLE_EQ(rig.view.engine().pressStart(), 11.6);
    rig.frameAt(11.7);
    ASSERT_EQ(rig.view.ringWindows().size(), 2u);
    EXPECT_EQ(rig.view.ringWindows()[0]->geometry().topLeft(), QPoint(470, 370)) << "centred on the point";
    EXPECT_GT(rig.view.engine().pressDepth(), 0);

    // Blue for a left click, orange for a right one.
    const auto tint = [](const QImage& image) {
        double red = 0;
        double blue = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor colour = image.pixelColor(x, y);
                if (colour.alpha() > 100) {
                    red += colour.redF();
                    blue += colour.blueF();
                }
            }
        return red - blue;
    };
    EXPECT_LT(tint(rig.view.ringWindows()[0]->picture()), 0);
    EXPECT_GT(tint(rig.view.ringWindows()[1]->picture()), 0);
    rig.frameAt(12.5);
    EXPECT_TRUE(rig.view.ringWindows().empty());
}

} // namespace
