#include "Tovrick/screen/ScreenReader.h"
#include "Tovrick/screen/TextRecognizer.h"

#include <QFontMetrics>
#include <QPainter>
#include <gtest/gtest.h>

namespace {

struct Drawn {
    QString text;
    QRectF ink; // pixels
};

// Light and dark panels, each with words at known places, and frame lines around them.
QImage panels(QList<Drawn>* drawn)
{
    QImage image(1200, 400, QImage::Format_RGB32);
    image.fill(QColor(70, 90, 130));
    QPainter painter(&image);
    painter.fillRect(QRect(20, 20, 560, 360), QColor(248, 248, 246));
    painter.fillRect(QRect(620, 20, 560, 360), QColor(26, 28, 34));
    painter.setPen(QColor(140, 140, 140));
    painter.drawRect(QRect(20, 20, 560, 360));
    painter.drawLine(20, 60, 580, 60);
    auto write = [&](const QString& text, QPoint baseline, int size, QColor colour) {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(size);
        painter.setFont(font);
        painter.setPen(colour);
        painter.drawText(baseline, text);
        const QFontMetrics metrics(font);
        int x = baseline.x();
        for (const QString& word : text.split(QLatin1Char(' '))) {
            drawn->append({word, QRectF(metrics.tightBoundingRect(word).translated(x, baseline.y()))});
            x += metrics.horizontalAdvance(word + QLatin1Char(' '));
        }
    };
    write(QStringLiteral("Weekly planning notes"), QPoint(50, 120), 28, QColor(20, 20, 20));
    write(QStringLiteral("Budget approved today"), QPoint(50, 200), 22, QColor(40, 40, 40));
    write(QStringLiteral("Server logs streaming"), QPoint(650, 120), 28, QColor(230, 230, 235));
    write(QStringLiteral("Build finished successfully"), QPoint(650, 200), 22, QColor(200, 205, 215));
    return image;
}

const Target* findWord(const QList<TextLine>& lines, const QString& text)
{
    for (const auto& line : lines)
        for (const auto& word : line.words)
            if (word.text == text)
                return &word;
    return nullptr;
}

double offBy(const QRectF& a, const QRectF& b)
{
    return std::max({std::abs(a.left() - b.left()), std::abs(a.top() - b.top()), std::abs(a.right() - b.right()),
                     std::abs(a.bottom() - b.bottom())});
}

TEST(TextRecognition, ReadsDarkOnLightAndLightOnDarkWithRectanglesInPoints)
{
    QList<Drawn> drawn;
    const QImage image = panels(&drawn);
    for (const double scale : {1.0, 2.0}) {
        const auto lines = ScreenReader::recognizeText(image, QSizeF(image.size()) / scale);
        for (const auto& word : drawn) {
            const Target* found = findWord(lines, word.text);
            ASSERT_TRUE(found) << "scale " << scale << ": missing " << word.text.toStdString();
            const QRectF expected(word.ink.topLeft() / scale, word.ink.size() / scale);
            EXPECT_LE(offBy(found->rect, expected), 3.0 / scale + 1.0)
                << word.text.toStdString() << " at scale " << scale;
        }
    }
}

TEST(TextRecognition, NumbersLinesAndWordsFromOneInReadingOrder)
{
    QList<Drawn> drawn;
    const auto lines = ScreenReader::recognizeText(panels(&drawn), QSizeF(1200, 400));
    ASSERT_EQ(lines.size(), 4);
    QStringList texts;
    int word = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].id, QStringLiteral("L%1").arg(i + 1));
        texts << lines[i].text;
        QStringList joined;
        for (const auto& w : lines[i].words) {
            EXPECT_EQ(w.id, QStringLiteral("W%1").arg(++word));
            EXPECT_TRUE(lines[i].rect.contains(w.rect)) << w.text.toStdString();
            joined << w.text;
        }
        EXPECT_EQ(lines[i].text, joined.join(QLatin1Char(' ')));
    }
    // Top row first, left before right within it.
    EXPECT_EQ(texts, (QStringList {QStringLiteral("Weekly planning notes"), QStringLiteral("Server logs streaming"),
                                   QStringLiteral("Budget approved today"),
                                   QStringLiteral("Build finished successfully")}));
}

TEST(TextRecognition, FramesAndPanelsAloneHoldNoText)
{
    QImage image(800, 600, QImage::Format_RGB32);
    image.fill(QColor(240, 240, 240));
    QPainter painter(&image);
    painter.fillRect(QRect(400, 0, 400, 600), QColor(30, 30, 30));
    painter.setPen(QColor(90, 90, 90));
    for (int i = 0; i < 10; ++i)
        painter.drawRect(QRect(20 + i * 30, 20 + i * 25, 300, 200));
    painter.drawLine(0, 300, 800, 300);
    painter.end();
    EXPECT_TRUE(TextRecognizer::findTextRegions(TextRecognizer::grayscale(image)).isEmpty());
    EXPECT_TRUE(ScreenReader::recognizeText(image, QSizeF(800, 600)).isEmpty());
}

TEST(TextRecognition, MarksBlocksOnDarkBackgroundsForInversion)
{
    QList<Drawn> drawn;
    const auto regions = TextRecognizer::findTextRegions(TextRecognizer::grayscale(panels(&drawn)));
    ASSERT_FALSE(regions.isEmpty());
    for (const auto& region : regions)
        EXPECT_EQ(region.inverted, region.box.left() >= 600) << region.box.left();
}

TEST(TextRecognition, EmptyInputGivesNoLines)
{
    EXPECT_TRUE(ScreenReader::recognizeText(QImage(), QSizeF(100, 100)).isEmpty());
    QImage blank(300, 200, QImage::Format_RGB32);
    blank.fill(Qt::white);
    EXPECT_TRUE(ScreenReader::recognizeText(blank, QSizeF(300, 200)).isEmpty());
    EXPECT_TRUE(ScreenReader::recognizeText(blank, QSizeF(0, 0)).isEmpty());
}

} // namespace
