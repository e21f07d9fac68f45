#pragma once

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QList>
#include <QPainter>
#include <QRandomGenerator>
#include <QRect>
#include <QStringList>

// A busy 1920 x 1080 desktop for the benchmarks: six windows of words, light and dark, in three
// typefaces; each window's words come from its own seed, so a new seed is another moment of it.
namespace denseDesktop {

inline const QStringList& vocabulary()
{
    static const QStringList words = QStringLiteral(
        "the report for Friday meeting notes project budget review design build test release update "
        "customer invoice payment schedule calendar message inbox draft reply forward archive search "
        "settings account profile security network server client request response error warning "
        "function return value string number window screen focus session timer minutes hours today "
        "tomorrow yesterday morning evening summary details history export import folder document "
        "spreadsheet chart table column filter sort total average revenue quarter annual planning team "
        "people manager engineer designer writer research question answer idea issue commit branch merge")
                                         .split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return words;
}

struct Window {
    QRect frame;
    bool dark;
    QString family;
    int pixelSize;
};

inline const QList<Window>& windows()
{
    static const QList<Window> list {
        {{20, 40, 900, 500}, false, QStringLiteral("DejaVu Sans"), 15},
        {{940, 40, 960, 330}, true, QStringLiteral("DejaVu Sans Mono"), 13},
        {{940, 390, 470, 660}, false, QStringLiteral("DejaVu Serif"), 14},
        {{1430, 390, 470, 660}, true, QStringLiteral("DejaVu Sans"), 13},
        {{20, 560, 440, 490}, true, QStringLiteral("DejaVu Sans"), 14},
        {{480, 560, 440, 490}, false, QStringLiteral("DejaVu Sans Mono"), 12},
    };
    return list;
}

// Paints the desktop with one seed a window and returns the words drawn, titles included.
inline QStringList paint(QPainter& painter, const QList<quint32>& seeds)
{
    const QStringList& words = vocabulary();
    QStringList drawn;
    painter.fillRect(QRect(0, 0, 1920, 1080), QColor(58, 82, 120));
    for (qsizetype index = 0; index < windows().size() && index < seeds.size(); ++index) {
        const Window& window = windows()[index];
        QRandomGenerator random(seeds[index]);
        painter.fillRect(window.frame, window.dark ? QColor(30, 31, 36) : QColor(250, 250, 248));
        painter.setPen(QColor(120, 120, 120));
        painter.drawRect(window.frame.adjusted(0, 0, -1, -1));
        // A title bar of the other shade.
        const QRect title(window.frame.left(), window.frame.top(), window.frame.width(), 28);
        painter.fillRect(title, window.dark ? QColor(60, 62, 70) : QColor(225, 226, 230));
        QFont titleFont(QStringLiteral("DejaVu Sans"));
        titleFont.setPixelSize(13);
        titleFont.setBold(true);
        painter.setFont(titleFont);
        painter.setPen(window.dark ? QColor(235, 235, 235) : QColor(40, 40, 40));
        const QString caption
            = words[random.bounded(words.size())] + QLatin1Char(' ') + words[random.bounded(words.size())];
        painter.drawText(title.adjusted(12, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, caption);
        drawn += caption.split(QLatin1Char(' '));

        QFont font(window.family);
        font.setPixelSize(window.pixelSize);
        font.setHintingPreference(QFont::PreferFullHinting);
        painter.setFont(font);
        painter.setPen(window.dark ? QColor(220, 222, 228) : QColor(30, 30, 30));
        const QFontMetrics metrics(font);
        for (int y = title.bottom() + 12 + metrics.ascent(); y + metrics.descent() < window.frame.bottom() - 8;
             y += metrics.height() + 4) {
            for (int x = window.frame.left() + 14;;) {
                const QString word = words[random.bounded(words.size())];
                const int advance = metrics.horizontalAdvance(word);
                if (x + advance > window.frame.right() - 14)
                    break;
                painter.drawText(x, y, word);
                drawn << word;
                x += advance + metrics.horizontalAdvance(QLatin1Char(' '));
            }
        }
    }
    return drawn;
}

} // namespace denseDesktop
