#include "Tovrick/screen/ScreenSnapshot.h"

#include "shared/util/Text.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kControlSlop = 6.0;
constexpr double kNearLimit = 60.0;

// Labels and recognised text are untrusted: a line break inside one must not start what reads as a
// new item of the description, and a quote must not end the text early.
QString quoted(const QString& text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\')) {
            out += QLatin1Char('\\');
            out += c;
        } else if (c.category() == QChar::Other_Control || c.category() == QChar::Separator_Line
                   || c.category() == QChar::Separator_Paragraph) {
            out += QLatin1Char(' ');
        } else {
            out += c;
        }
    }
    out += QLatin1Char('"');
    return out;
}

QString at(const QRectF& rect, QSizeF size)
{
    const QPointF centre = rect.center();
    return QStringLiteral("@%1,%2")
        .arg(screengrid::fromPoints(centre.x(), size.width()))
        .arg(screengrid::fromPoints(centre.y(), size.height()));
}

bool holds(const QRectF& rect, QPointF point)
{
    return point.x() >= rect.left() && point.x() <= rect.right() && point.y() >= rect.top()
        && point.y() <= rect.bottom();
}

double distance(const QRectF& rect, QPointF point)
{
    const double dx = std::max({rect.left() - point.x(), 0.0, point.x() - rect.right()});
    const double dy = std::max({rect.top() - point.y(), 0.0, point.y() - rect.bottom()});
    return std::hypot(dx, dy);
}

double area(const QRectF& rect)
{
    return std::max(0.0, rect.width()) * std::max(0.0, rect.height());
}

} // namespace

int screengrid::fromPoints(double value, double extent)
{
    if (!(extent > 0) || !std::isfinite(extent) || std::isnan(value))
        return 0;
    const double fraction = std::clamp(value / extent, 0.0, 1.0);
    return static_cast<int>(std::lround(fraction * 1000.0));
}

Target ControlsReader::Control::target() const
{
    return Target {id, label, rect};
}

// The description, one item per line:
//   Frontmost app: <name, or unknown>
//   Screen: <w>x<h> points; @x,y is an item's centre on a 0-1000 grid (0,0 top-left, 1000,1000 bottom-right).
//   Controls: none | Controls (id kind "label" @x,y):   then one "C1 button "OK" @500,20" per control
//   (a walk cut short says "incomplete" in either form)
//   Text: none     | Text (lines L#, their words W# indented below):
//   L1 "Inbox (3)" @80,40
//     W1 "Inbox" @60,40  W2 "(3)" @95,40
QString ScreenSnapshot::promptText() const
{
    QStringList out;
    out << QStringLiteral("Frontmost app: %1").arg(app && !app->isEmpty() ? quoted(*app) : QStringLiteral("unknown"));
    out << QStringLiteral("Screen: %1x%2 points; @x,y is an item's centre on a 0-1000 grid "
                          "(0,0 top-left, 1000,1000 bottom-right).")
               .arg(std::lround(size.width()))
               .arg(std::lround(size.height()));
    // A partial list must not read as the whole screen's.
    if (controls.isEmpty()) {
        out << (controlsCutShort ? QStringLiteral("Controls: none read (incomplete, some may exist)")
                                 : QStringLiteral("Controls: none"));
    } else {
        out << (controlsCutShort ? QStringLiteral("Controls (id kind \"label\" @x,y; incomplete, more may exist):")
                                 : QStringLiteral("Controls (id kind \"label\" @x,y):"));
        for (const auto& control : controls)
            out << QStringLiteral("%1 %2 %3 %4").arg(control.id, control.kind, quoted(control.label),
                                                     at(control.rect, size));
    }
    if (lines.isEmpty()) {
        out << QStringLiteral("Text: none");
    } else {
        out << QStringLiteral("Text (lines L#, their words W# indented below):");
        for (const auto& line : lines) {
            out << QStringLiteral("%1 %2 %3").arg(line.id, quoted(line.text), at(line.rect, size));
            if (line.words.isEmpty())
                continue;
            QStringList words;
            for (const auto& word : line.words)
                words << QStringLiteral("%1 %2 %3").arg(word.id, quoted(word.text), at(word.rect, size));
            out << QStringLiteral("  ") + words.join(QStringLiteral("  "));
        }
    }
    return out.join(QLatin1Char('\n'));
}

std::optional<Target> ScreenSnapshot::target(const QString& id) const
{
    const QString wanted = text::trimmedWhitespaceAndNewlines(id).toUpper();
    if (wanted.isEmpty())
        return std::nullopt;
    for (const auto& control : controls)
        if (control.id == wanted)
            return control.target();
    for (const auto& line : lines) {
        if (line.id == wanted)
            return static_cast<const Target&>(line);
        for (const auto& word : line.words)
            if (word.id == wanted)
                return word;
    }
    return std::nullopt;
}

std::optional<Target> ScreenSnapshot::targetNear(QPointF point) const
{
    const ControlsReader::Control* smallest = nullptr;
    for (const auto& control : controls) {
        const QRectF grown = control.rect.adjusted(-kControlSlop, -kControlSlop, kControlSlop, kControlSlop);
        if (holds(grown, point) && (!smallest || area(control.rect) < area(smallest->rect)))
            smallest = &control;
    }
    if (smallest)
        return smallest->target();

    // Nearest rectangle; on a tie (a point inside both a line and its word) the smaller one, which
    // is the more specific thing.
    std::optional<Target> best;
    double bestDistance = std::numeric_limits<double>::infinity();
    auto consider = [&](const Target& candidate) {
        const double d = distance(candidate.rect, point);
        if (d > kNearLimit)
            return;
        if (d < bestDistance || (d == bestDistance && best && area(candidate.rect) < area(best->rect))) {
            best = candidate;
            bestDistance = d;
        }
    };
    for (const auto& control : controls)
        consider(control.target());
    for (const auto& line : lines) {
        consider(line);
        for (const auto& word : line.words)
            consider(word);
    }
    return best;
}
