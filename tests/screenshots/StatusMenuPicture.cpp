// The status menu as a desktop panel would lay it out: items, check marks, the hot keys beside
// their items, and the coding agent's submenu opened beside it. The panel draws the real one in its
// own style; this shows what it is given.

#include <QDir>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "Tovrick/shell/StatusMenu.h"

namespace {

constexpr int kRow = 26;
constexpr int kSeparator = 9;
constexpr int kPad = 8;

int heightOf(const QList<StatusMenuItem>& items)
{
    int height = 2 * kPad;
    for (const StatusMenuItem& item : items)
        height += item.kind == StatusMenuItem::Kind::separator ? kSeparator : kRow;
    return height;
}

// Draws one menu at `origin`; answers where its submenu row sits (y), if it has one.
std::optional<int> drawMenu(QPainter& painter, QPoint origin, int width, const QList<StatusMenuItem>& items,
                            std::optional<int> openRow)
{
    const QRect frame(origin, QSize(width, heightOf(items)));
    painter.setPen(QColor(0, 0, 0, 60));
    painter.setBrush(QColor(250, 250, 250));
    painter.drawRoundedRect(frame.adjusted(0, 0, -1, -1), 6, 6);
    std::optional<int> submenuRow;
    int y = origin.y() + kPad;
    for (const StatusMenuItem& item : items) {
        if (item.kind == StatusMenuItem::Kind::separator) {
            painter.setPen(QColor(0, 0, 0, 40));
            painter.drawLine(origin.x() + kPad, y + kSeparator / 2, frame.right() - kPad, y + kSeparator / 2);
            y += kSeparator;
            continue;
        }
        const QRect row(origin.x() + 4, y, width - 8, kRow);
        if (item.kind == StatusMenuItem::Kind::submenu && openRow) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(53, 132, 228));
            painter.drawRoundedRect(row, 4, 4);
            submenuRow = y;
        }
        const bool highlighted = item.kind == StatusMenuItem::Kind::submenu && openRow;
        const QColor text = highlighted ? Qt::white
            : item.kind == StatusMenuItem::Kind::note ? QColor(120, 120, 120)
                                                      : QColor(30, 30, 30);
        painter.setPen(text);
        if (item.kind == StatusMenuItem::Kind::toggle && item.checked)
            painter.drawText(QRect(row.left() + 6, y, 20, kRow), Qt::AlignVCenter, QStringLiteral("✓"));
        painter.drawText(QRect(row.left() + 28, y, width - (item.shortcut ? 150 : 44), kRow), Qt::AlignVCenter,
                         item.label);
        if (item.shortcut) {
            painter.setPen(highlighted ? Qt::white : QColor(130, 130, 130));
            painter.drawText(QRect(row.right() - 110, y, 102, kRow), Qt::AlignVCenter | Qt::AlignRight,
                             item.shortcut->label());
        }
        if (item.kind == StatusMenuItem::Kind::submenu)
            painter.drawText(QRect(row.right() - 24, y, 16, kRow), Qt::AlignVCenter | Qt::AlignRight, QStringLiteral("›"));
        y += kRow;
    }
    return submenuRow;
}

QImage picture(const StatusMenuState& state, bool openSubmenu)
{
    const QList<StatusMenuItem> items = statusMenu::items(state);
    const auto submenu = std::find_if(items.begin(), items.end(),
                                      [](const StatusMenuItem& item) { return item.kind == StatusMenuItem::Kind::submenu; });
    const bool opened = openSubmenu && submenu != items.end();
    const int width = 400;
    const int subWidth = 360;
    // The submenu opens level with its row.
    const int submenuTop = opened ? heightOf(items.mid(0, submenu - items.begin())) - kPad : 0;
    const int height = std::max(heightOf(items), opened ? submenuTop + heightOf(submenu->children) : 0) + 40;
    QImage image(width + (opened ? subWidth : 0) + 40, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(60, 63, 70));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QFont font = QGuiApplication::font();
    font.setPixelSize(13);
    painter.setFont(font);
    const std::optional<int> row = drawMenu(painter, QPoint(20, 20), width, items, opened ? std::optional(0) : std::nullopt);
    if (opened && row)
        drawMenu(painter, QPoint(20 + width - 6, *row - kPad), subWidth, submenu->children, std::nullopt);
    return image;
}

} // namespace

bool statusMenuPictures(const QString& folder)
{
    StatusMenuState idle;
    idle.folders = {};

    StatusMenuState busy;
    busy.session = StatusMenuState::Session {true, QStringLiteral("Write the quarterly report"), 17 * 60 + 20};
    busy.computerControl = false;
    busy.codingAgentInstalled = true;
    busy.jobs = {{QStringLiteral("website"), QStringLiteral("done"), QStringLiteral("t1")},
                 {QStringLiteral("engine"), QStringLiteral("working"), QStringLiteral("t2")}};
    busy.folders = {QDir::homePath() + QStringLiteral("/src/engine")};

    StatusMenuState paused = busy;
    paused.session->running = false;
    paused.characterAwake = false;

    bool ok = picture(idle, false).save(QDir(folder).filePath(QStringLiteral("status-menu-idle.png")));
    ok = picture(busy, true).save(QDir(folder).filePath(QStringLiteral("status-menu-focusing.png"))) && ok;
    ok = picture(paused, false).save(QDir(folder).filePath(QStringLiteral("status-menu-paused.png"))) && ok;
    return ok;
}
