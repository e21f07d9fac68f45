#pragma once

#include "Tovrick/screen/DisplayGeometry.h"
#include "Tovrick/screen/ScreenSnapshot.h"

#include <QCoro/QCoroTask>
#include <QImage>
#include <QList>
#include <QRect>
#include <QSizeF>

#include <functional>

// Where screen readings come from. The focus engine and the assistant hold one of these, so their
// tests can hand out prepared snapshots or errors.
class SnapshotSource {
public:
    virtual ~SnapshotSource() = default;
    // One reading of the main display. Throws ScreenReaderError (noDisplay, declined, …).
    virtual QCoro::Task<ScreenSnapshot> snapshot() = 0;
};

// The real reader over X11: capture, text recognition, the frontmost app and its controls, JPEG.
class ScreenReader : public SnapshotSource {
public:
    // Where the main display lies on the root window and its scale; by default the X display named
    // by $DISPLAY and Qt's primary screen. Called on the main thread for every reading.
    using GeometryProvider = std::function<std::optional<DisplayGeometry>()>;

    ScreenReader();
    explicit ScreenReader(GeometryProvider geometry);

    // Runs capture, recognition and the JPEG off the main thread and the controls on the
    // accessibility thread; resumes on the calling (main) thread.
    QCoro::Task<ScreenSnapshot> snapshot() override;

    // Blocking; call off the main thread. Recognises `image` (any format, pixels) that shows an area
    // of `size` points: lines with their words in reading order, ids "L1…" and "W1…", rectangles in
    // points with a top-left origin. Throws ScreenReaderError (recognitionFailed) when the engine
    // cannot start.
    static QList<TextLine> recognizeText(const QImage& image, QSizeF size);

    // Rectangles in root-window pixels that show this program's own windows (its countdown, its
    // character). They are painted over before anything is read, so what the model is shown is the
    // user's screen alone. By default: every visible top-level window of this process.
    using OwnWindows = std::function<QList<QRect>()>;
    static void setOwnWindows(OwnWindows provider);
    static QList<QRect> visibleTopLevelWindows();
    // Paints each rectangle (root pixels; `origin` is the image's top-left on the root) with the
    // colour just beside it.
    static void coverOwnWindows(QImage& image, const QList<QRect>& windows, QPoint origin);

    // JPEG quality of the snapshot's image.
    static constexpr int kJpegQuality = 70;

private:
    GeometryProvider m_geometry;
};
