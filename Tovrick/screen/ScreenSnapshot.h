#pragma once

#include "Tovrick/screen/ControlsReader.h"

#include <QByteArray>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <optional>

// One addressable thing on the screen: "L3" a recognised line, "W12" a word, "C4" a control.
// `rect` is in main-display points with the origin at the top-left corner.
struct Target {
    QString id;
    QString text;
    QRectF rect;

    friend bool operator==(const Target&, const Target&) = default;
};

// A recognised line with its words, in reading order. A `TextLine` is a `Target` (its id, text and
// rectangle); copying it into a `Target` keeps just those.
struct TextLine : Target {
    QList<Target> words;

    friend bool operator==(const TextLine&, const TextLine&) = default;
};

// The 0-1000 grid over the main display that positions are given on for the model.
namespace screengrid {
// A coordinate on the grid: the nearest grid step to `value / extent`, clamped to 0…1000; 0 for a
// zero or negative extent.
int fromPoints(double value, double extent);
}

// One reading of the main display.
struct ScreenSnapshot {
    QByteArray jpeg;
    QList<TextLine> lines;
    QSizeF size;                // the main display in points
    std::optional<QString> app; // the frontmost application's name
    QList<ControlsReader::Control> controls;
    // The walk for the controls was cut short: more may exist than are listed.
    bool controlsCutShort = false;

    // The reading described for the model: app, controls, then lines each followed by its words,
    // every item with its id and the grid position of its centre.
    QString promptText() const;

    // The target with this id (trimmed, upper-cased): controls first, then lines and their words.
    std::optional<Target> target(const QString& id) const;

    // The smallest control whose rectangle grown by 6 points holds the point; otherwise the target
    // (control, line or word) whose rectangle is nearest, if within 60 points.
    std::optional<Target> targetNear(QPointF point) const;
};
