#include "Tovrick/CursorOverlay/CursorView.h"

#include "Tovrick/CursorOverlay/CursorChoices.h"
#include "Tovrick/CursorOverlay/OverlaySprite.h"
#include "Tovrick/screen/OverlayShape.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

using namespace cursorChoices;
using cursorPictures::Tail;

// The resource lives in a static library: nothing references its initialiser, so the linker would
// drop it unless it is called by name.
static void initCursorResources()
{
    Q_INIT_RESOURCE(cursoroverlay);
}

void GoalPhotoLayer::fadeTo(double opacity, double now, double duration)
{
    m_fade = Fade { m_opacity, opacity, now, duration };
}

void GoalPhotoLayer::advance(double now)
{
    if (!m_fade)
        return;
    const double t = m_fade->duration > 0 ? std::clamp((now - m_fade->start) / m_fade->duration, 0.0, 1.0) : 1.0;
    m_opacity = m_fade->from + (m_fade->to - m_fade->from) * t;
    if (t >= 1)
        m_fade.reset();
}

CursorView::CursorView(CursorEngine::Environment environment, QObject* parent)
    : QObject(parent), m_engine(std::move(environment)), m_shippedGoalImage(QStringLiteral(":/tovrick/goal.png"))
{
    initCursorResources();
    m_engine.onChanged = [this] { changed(); };
}

CursorView::~CursorView() = default;

void CursorView::changed()
{
    if (onChanged)
        onChanged();
}

void CursorView::setSpeechTarget(const std::optional<QRectF>& target)
{
    if (target == m_speechTarget)
        return;
    m_speechTarget = target;
    changed();
}

void CursorView::setCaption(const std::optional<QString>& text)
{
    if (text == m_caption)
        return;
    m_caption = text;
    const bool shown = bubbleShown();
    m_engine.setSpeaking(shown);
    if (shown) {
        m_bubbleDirty = true;
    } else {
        m_showsGoalImage = false;
        m_goalPhoto.fadeTo(0, m_engine.clock(), photoFade);
    }
    changed();
}

bool CursorView::bubbleShown() const
{
    return m_caption && !m_caption->isEmpty();
}

void CursorView::loadFallbackGoalImage(const std::optional<QImage>& image)
{
    QImage chosen;
    if (image && !image->isNull()) {
        chosen = *image;
        m_fallbackImage = chosen;
    } else {
        if (reminderImage)
            chosen = reminderImage();
        if (chosen.isNull())
            chosen = m_fallbackImage;
        if (chosen.isNull()) {
            const QImage shipped(m_shippedGoalImage);
            if (!shipped.isNull())
                m_fallbackImage = chosen = shipped;
        }
    }
    if (!chosen.isNull())
        showGoalImage(chosen);
}

void CursorView::showGoalImage(const QImage& image)
{
    m_goalImage = image;
    m_showsGoalImage = true;
    m_photoDirty = true;
    m_goalPhoto.fadeTo(1, m_engine.clock(), photoFade);
    changed();
}

void CursorView::hideGoalPhotoNow()
{
    m_showsGoalImage = false;
    m_goalPhoto.removeAllAnimations();
    m_goalPhoto.setOpacity(0);
    if (m_photo)
        m_photo->dismiss();
    changed();
}

void CursorView::showLabel(const QString& text, double seconds)
{
    m_labelText = text;
    m_labelUntil = m_engine.clock() + std::max(seconds, 0.0);
    m_labelDirty = true;
    changed();
}

bool CursorView::labelShown() const
{
    return !m_labelText.isEmpty() && m_engine.now() < m_labelUntil;
}

void CursorView::ringBurst(QPointF point, bool right)
{
    m_rings.push_back(Ring { point, right, m_engine.clock(), nullptr });
    m_engine.press();
}

void CursorView::setDisplay(QPoint origin, QSizeF size)
{
    m_origin = origin;
    m_displaySize = size;
    changed();
}

void CursorView::setHidden(bool hidden)
{
    m_hidden = hidden;
    if (!hidden) {
        changed();
        return;
    }
    for (OverlaySprite* window : { m_character.get(), m_bubble.get(), m_label.get(), m_photo.get() })
        if (window)
            window->dismiss();
    m_rings.clear();
}

void CursorView::raiseWindows()
{
    for (OverlaySprite* window : { m_photo.get(), m_character.get(), m_label.get(), m_bubble.get() })
        if (window && window->isVisible())
            overlayShape::raise(*window);
}

std::vector<OverlaySprite*> CursorView::ringWindows() const
{
    std::vector<OverlaySprite*> windows;
    for (const Ring& ring : m_rings)
        if (ring.window)
            windows.push_back(ring.window.get());
    return windows;
}

QPoint CursorView::global(QPointF point) const
{
    return m_origin + point.toPoint();
}

double CursorView::ratio() const
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->devicePixelRatio() : 1.0;
}

OverlaySprite& CursorView::sprite(std::unique_ptr<OverlaySprite>& slot, const char* name)
{
    if (!slot)
        slot = std::make_unique<OverlaySprite>(QString::fromLatin1(name));
    return *slot;
}

QRectF CursorView::characterBox() const
{
    const QPointF tip = m_engine.tip();
    const bool mirrorX = tip.x() + boxSize.width() - cursorChoices::tipInBox.x() > m_displaySize.width();
    const bool mirrorY = tip.y() + boxSize.height() - cursorChoices::tipInBox.y() > m_displaySize.height();
    return QRectF(tip - cursorPictures::tipInBox(mirrorX, mirrorY), boxSize);
}

namespace {

// The figure's square inside the character's box.
QRectF figureIn(const QRectF& box, QPointF tipInBox)
{
    const bool mirrorX = tipInBox.x() > box.width() / 2;
    const bool mirrorY = tipInBox.y() > box.height() / 2;
    return QRectF(mirrorX ? box.left() : box.right() - figureSide, mirrorY ? box.top() : box.bottom() - figureSide,
                  figureSide, figureSide);
}

double clampInto(double value, double size, double limit)
{
    return std::clamp(value, 0.0, std::max(0.0, limit - size));
}

} // namespace

void CursorView::update()
{
    m_goalPhoto.advance(m_engine.now());
    if (m_hidden)
        return;
    updateCharacter();
    updateBubble();
    updateLabel();
    updateRings();
    updatePhoto();
}

bool CursorView::atRest() const
{
    return m_engine.atRest() && m_rings.empty() && !m_goalPhoto.isAnimating();
}

double CursorView::nextChange() const
{
    const double blink = m_engine.nextChange();
    return labelShown() ? std::min(blink, m_labelUntil) : blink;
}

void CursorView::updateCharacter()
{
    const QRectF box = characterBox();
    const QPointF tipInBox = m_engine.tip() - box.topLeft();
    const bool mirrorX = tipInBox.x() > box.width() / 2;
    const bool mirrorY = tipInBox.y() > box.height() / 2;
    const ButlerPose pose = m_engine.pose();
    OverlaySprite& window = sprite(m_character, "cursorCharacter");
    if (!m_drawnPose || *m_drawnPose != pose || mirrorX != m_drawnMirrorX || mirrorY != m_drawnMirrorY
        || !window.isVisible()) {
        window.present(cursorPictures::character(pose, mirrorX, mirrorY, ratio()), global(box.topLeft()));
        m_drawnPose = pose;
        m_drawnMirrorX = mirrorX;
        m_drawnMirrorY = mirrorY;
    } else {
        window.moveTo(global(box.topLeft()));
    }
}

void CursorView::updateBubble()
{
    if (!bubbleShown()) {
        if (m_bubble)
            m_bubble->dismiss();
        m_drawnTail.reset();
        return;
    }
    const QRectF box = characterBox();
    const QRectF figure = figureIn(box, m_engine.tip() - box.topLeft());
    if (m_bubbleDirty) {
        m_bubbleSideways = cursorPictures::bubbleSize(*m_caption, Tail::left);
        m_bubbleUpright = cursorPictures::bubbleSize(*m_caption, Tail::up);
    }
    const QSizeF sideways = m_bubbleSideways;
    const QSizeF upright = m_bubbleUpright;

    Tail tail = Tail::left;
    QPointF at;
    if (m_speechTarget) {
        // Above the target, else below it; the side that keeps clear of the figure wins.
        const QRectF target = *m_speechTarget;
        const double x = clampInto(target.center().x() - std::min(26.0, upright.width() / 2), upright.width(),
                                   m_displaySize.width());
        const QPointF above(x, target.top() - bubbleGap - upright.height());
        const QPointF below(x, target.bottom() + bubbleGap);
        const auto fits = [&](QPointF corner) { return corner.y() >= 0 && corner.y() + upright.height() <= m_displaySize.height(); };
        const auto clear = [&](QPointF corner) { return fits(corner) && !QRectF(corner, upright).intersects(figure); };
        const bool useAbove = clear(above) || (!clear(below) && fits(above));
        tail = useAbove ? Tail::down : Tail::up;
        at = useAbove ? above : below;
    } else {
        at = QPointF(figure.right() + bubbleGap, figure.top() + 10);
        if (at.x() + sideways.width() > m_displaySize.width()) {
            tail = Tail::right;
            at.setX(figure.left() - bubbleGap - sideways.width());
        }
        at.setY(clampInto(at.y(), sideways.height(), m_displaySize.height()));
    }

    OverlaySprite& window = sprite(m_bubble, "cursorBubble");
    if (m_bubbleDirty || m_drawnTail != tail || !window.isVisible()) {
        window.present(cursorPictures::bubble(*m_caption, tail, ratio()), global(at));
        m_drawnTail = tail;
        m_bubbleDirty = false;
    } else {
        window.moveTo(global(at));
    }
}

void CursorView::updateLabel()
{
    if (!labelShown()) {
        if (m_label)
            m_label->dismiss();
        return;
    }
    OverlaySprite& window = sprite(m_label, "cursorLabel");
    if (m_labelDirty || !window.isVisible()) {
        window.present(cursorPictures::label(m_labelText, ratio()), window.position());
        m_labelDirty = false;
    }
    const QSizeF size = QSizeF(window.picture().size()) / window.picture().devicePixelRatio();
    const QRectF box = characterBox();
    const QRectF figure = figureIn(box, m_engine.tip() - box.topLeft());
    QPointF at(figure.center().x() - size.width() / 2, figure.top() - 4 - size.height());
    if (at.y() < 0)
        at.setY(box.bottom() + 4);
    at.setX(clampInto(at.x(), size.width(), m_displaySize.width()));
    window.moveTo(global(at));
}

void CursorView::updateRings()
{
    const double now = m_engine.now();
    std::erase_if(m_rings, [now](const Ring& ring) { return now - ring.start >= ringLength; });
    for (Ring& ring : m_rings) {
        const double progress = (now - ring.start) / ringLength;
        const QImage picture = cursorPictures::ring(progress, ring.right, ratio());
        const QSizeF size = QSizeF(picture.size()) / picture.devicePixelRatio();
        if (!ring.window)
            ring.window = std::make_unique<OverlaySprite>(QStringLiteral("cursorRing"));
        ring.window->present(picture, global(ring.at - QPointF(size.width() / 2, size.height() / 2)));
    }
}

void CursorView::updatePhoto()
{
    const double opacity = m_goalPhoto.opacity();
    const bool composited = overlayShape::compositorRunning();
    const bool visible = composited ? opacity > 0.01 : opacity >= 0.5;
    if (!visible || m_goalImage.isNull()) {
        if (m_photo)
            m_photo->dismiss();
        return;
    }
    OverlaySprite& window = sprite(m_photo, "cursorGoalPhoto");
    if (m_photoDirty || !window.isVisible()) {
        window.present(cursorPictures::photo(m_goalImage, ratio()), window.position());
        m_photoDirty = false;
    }
    if (composited)
        window.setOpacity(opacity);
    const QSizeF size = QSizeF(window.picture().size()) / window.picture().devicePixelRatio();
    const QRectF box = characterBox();
    const QRectF figure = figureIn(box, m_engine.tip() - box.topLeft());
    QPointF at(figure.center().x() - size.width() / 2, figure.top() - 30 - size.height());
    if (at.y() < 0)
        at.setY(box.bottom() + 8);
    at.setX(clampInto(at.x(), size.width(), m_displaySize.width()));
    window.moveTo(global(at));
}
