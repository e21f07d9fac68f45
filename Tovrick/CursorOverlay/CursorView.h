#pragma once

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QRectF>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "Tovrick/CursorOverlay/CursorEngine.h"
#include "Tovrick/CursorOverlay/CursorPictures.h"

class OverlaySprite;

// The goal photo's visibility: an opacity and at most one fade under way.
class GoalPhotoLayer {
public:
    double opacity() const { return m_opacity; }
    // Sets the opacity now; a fade under way goes on from here.
    void setOpacity(double opacity) { m_opacity = opacity; }
    void removeAllAnimations() { m_fade.reset(); }
    bool isAnimating() const { return m_fade.has_value(); }
    void fadeTo(double opacity, double now, double duration);
    // Moves a fade on to `now`.
    void advance(double now);

private:
    struct Fade {
        double from;
        double to;
        double start;
        double duration;
    };
    double m_opacity = 0;
    std::optional<Fade> m_fade;
};

// Draws the character, its one-line speech bubble, its labels, ring bursts and the goal photo, each
// in a small window of its own over the desktop. Points are main-display points (top-left origin).
class CursorView : public QObject {
    Q_OBJECT

public:
    explicit CursorView(CursorEngine::Environment environment, QObject* parent = nullptr);
    ~CursorView() override;

    CursorEngine& engine() { return m_engine; }
    const CursorEngine& engine() const { return m_engine; }

    const std::optional<QString>& caption() const { return m_caption; }
    // An unchanged text is ignored; none or empty hides the bubble and the goal photo; any other
    // text rebuilds the bubble.
    void setCaption(const std::optional<QString>& text);

    const std::optional<QRectF>& speechTarget() const { return m_speechTarget; }
    // Set: the bubble is placed by that rectangle (below it, or above when there is no room).
    void setSpeechTarget(const std::optional<QRectF>& target);

    bool showsGoalImage() const { return m_showsGoalImage; }
    GoalPhotoLayer& goalPhoto() { return m_goalPhoto; }
    // Shows a goal photo next to the character: the given image (which becomes the fallback), else a
    // random reminder image, else the fallback, else the goal image that ships with the program
    // (which then becomes the fallback). Does nothing when none of them can be had.
    void loadFallbackGoalImage(const std::optional<QImage>& image = std::nullopt);
    // Hides the goal photo at once: its fade dropped, opacity 0.
    void hideGoalPhotoNow();
    // The image the goal photo shows (null before the first).
    const QImage& goalImage() const { return m_goalImage; }

    // A random stored reminder image of the current account; null when there is none.
    std::function<QImage()> reminderImage;
    // Where the shipped goal image is read from.
    void setShippedGoalImage(const QString& path) { m_shippedGoalImage = path; }

    // Pops `text` up next to the character for `seconds`.
    void showLabel(const QString& text, double seconds);
    // An expanding ring at `point` (another colour for a right click), and the press animation.
    void ringBurst(QPointF point, bool right);

    // Where the main display's top-left lies in the window system's coordinates, and its size.
    void setDisplay(QPoint origin, QSizeF size);
    // Hides every window (the character is switched off) or lets them show again.
    void setHidden(bool hidden);

    // Brings the windows up to date with the engine after its step: draws only what changed.
    void update();
    // After an update: nothing on screen changes until an input does or the clock reaches
    // `nextChange`.
    bool atRest() const;
    // The next media-clock time at which something shown changes with time alone; infinity when
    // nothing does.
    double nextChange() const;

    // Called when the engine or a setter here changed what the next update will show.
    std::function<void()> onChanged;
    // Puts the shown windows back on top (where no window manager keeps them above others).
    void raiseWindows();

    // For tests and pictures.
    OverlaySprite* characterWindow() const { return m_character.get(); }
    OverlaySprite* bubbleWindow() const { return m_bubble.get(); }
    OverlaySprite* labelWindow() const { return m_label.get(); }
    OverlaySprite* photoWindow() const { return m_photo.get(); }
    std::vector<OverlaySprite*> ringWindows() const;
    bool bubbleShown() const;
    bool labelShown() const;
    // The character's box on the main display.
    QRectF characterBox() const;

private:
    struct Ring {
        QPointF at;
        bool right;
        double start;
        std::unique_ptr<OverlaySprite> window;
    };

    void showGoalImage(const QImage& image);
    void changed();
    void updateCharacter();
    void updateBubble();
    void updateLabel();
    void updateRings();
    void updatePhoto();
    QPoint global(QPointF point) const;
    double ratio() const;
    OverlaySprite& sprite(std::unique_ptr<OverlaySprite>& slot, const char* name);

    CursorEngine m_engine;
    std::optional<QString> m_caption;
    std::optional<QRectF> m_speechTarget;
    bool m_showsGoalImage = false;
    GoalPhotoLayer m_goalPhoto;
    QImage m_goalImage;
    QImage m_fallbackImage;
    QString m_shippedGoalImage;
    bool m_hidden = false;
    QPoint m_origin;
    QSizeF m_displaySize { 1920, 1080 };

    std::unique_ptr<OverlaySprite> m_character;
    std::optional<ButlerPose> m_drawnPose;
    bool m_drawnMirrorX = false;
    bool m_drawnMirrorY = false;

    std::unique_ptr<OverlaySprite> m_bubble;
    bool m_bubbleDirty = false;
    std::optional<cursorPictures::Tail> m_drawnTail;
    QSizeF m_bubbleSideways;
    QSizeF m_bubbleUpright;

    std::unique_ptr<OverlaySprite> m_label;
    QString m_labelText;
    double m_labelUntil = -1;
    bool m_labelDirty = false;

    std::vector<Ring> m_rings;

    std::unique_ptr<OverlaySprite> m_photo;
    bool m_photoDirty = false;
};
