#include "Tovrick/focus/FocusCountdown.h"

#include "Tovrick/screen/OverlayShape.h"
#include "Tovrick/screen/StackingWatch.h"
#include "shared/ui/LocalOnlyNetwork.h"
#include "shared/util/Log.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QQmlContext>
#include <QQmlError>
#include <QQuickView>
#include <QScreen>
#include <QtMath>

#include <algorithm>

// The resource lives in a static library: nothing references its initialiser, so the linker would
// drop it unless it is called by name.
static void initCountdownResources()
{
    Q_INIT_RESOURCE(focuscountdown);
}

namespace {

constexpr int kEdgePixels = 2;

QFont systemFont(int pixelSize, QFont::Weight weight)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

} // namespace

FocusCountdown::FocusCountdown(bool createsWindow, QObject* parent)
    : QObject(parent),
      m_createsWindow(createsWindow),
      m_digitsFont(evenDigitsFont(systemFont(76, QFont::DemiBold))),
      m_modeFont(systemFont(12, QFont::Medium))
{
}

FocusCountdown::~FocusCountdown() = default;

QString FocusCountdown::labelText(const FocusSession& session)
{
    const QString prefix = session.status == FocusSession::Status::paused ? QStringLiteral("\u2161 ") : QString();
    return prefix + FocusSession::clock(std::max(session.duration - session.elapsed, 0.0));
}

QString FocusCountdown::modeText(const FocusSession& session)
{
    return session.isDeveloperMode() ? QStringLiteral("DEVELOPER MODE \u00b7 4\u00d7") : QString();
}

QFont FocusCountdown::evenDigitsFont(const QFont& font)
{
    const QFontMetricsF metrics(font);
    const qreal zero = metrics.horizontalAdvance(u'0');
    bool even = true;
    for (char16_t digit = u'1'; digit <= u'9'; ++digit)
        even = even && qFuzzyCompare(metrics.horizontalAdvance(QChar(digit)), zero);
    if (even)
        return font;
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPixelSize(font.pixelSize());
    fixed.setWeight(font.weight());
    return fixed;
}

QRect FocusCountdown::panelGeometry(const QRect& usableArea)
{
    const int left = usableArea.x() + usableArea.width() - kRightInset;
    const int top = usableArea.y() + usableArea.height() - kBottomInset - kHeight;
    return QRect(left, top, kWidth, kHeight);
}

QRegion FocusCountdown::shape()
{
    if (m_modeShape.isEmpty() || m_shapedMode != m_modeLabel) {
        m_modeShape = drawnShape(m_modeLabel, m_modeFont, kModeRect, Qt::AlignRight);
        m_shapedMode = m_modeLabel;
    }
    QRegion shape = m_modeShape;
    // Right-aligned as the window draws it; the even digits make each advance the string's own.
    const QFontMetricsF metrics(m_digitsFont);
    qreal left = kDigitsRect.left() + kDigitsRect.width();
    for (qsizetype i = m_label.size(); i-- > 0;) {
        const QChar character = m_label.at(i);
        left -= metrics.horizontalAdvance(character);
        auto known = m_characterShapes.constFind(character);
        if (known == m_characterShapes.constEnd()) {
            // Drawn with room on both sides for overhanging strokes and the grown edge.
            const int room = m_digitsFont.pixelSize();
            const QRect cell(room, kDigitsRect.top(), qCeil(metrics.horizontalAdvance(character)), kDigitsRect.height());
            known = m_characterShapes.insert(
                character, drawnShape(QString(character), m_digitsFont, cell, Qt::AlignLeft).translated(-room, 0));
        }
        shape += known->translated(qRound(left), 0);
    }
    return shape & QRect(0, 0, kWidth, kHeight);
}

QRegion FocusCountdown::drawnShape(const QString& text, const QFont& font, const QRect& rect, Qt::Alignment horizontal)
{
    if (text.isEmpty())
        return {};
    QImage image(std::max(kWidth, rect.right() + 1 + font.pixelSize()), kHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setPen(Qt::white);
        painter.setFont(font);
        painter.drawText(rect, horizontal | Qt::AlignVCenter, text);
    }
    return overlayShape::fromAlpha(image, kEdgePixels);
}

bool FocusCountdown::isShown() const
{
    return m_window && m_window->isVisible();
}

void FocusCountdown::update(const std::optional<FocusSession>& session)
{
    if (!session || session->status == FocusSession::Status::ended) {
        if (m_window)
            m_window->hide();
        m_stacking.reset();
        return;
    }
    if (!m_window && m_createsWindow && QGuiApplication::primaryScreen())
        createWindow();

    const QString label = labelText(*session);
    const QString mode = modeText(*session);
    const bool changed = label != m_label || mode != m_modeLabel;
    m_label = label;
    m_modeLabel = mode;
    if (changed)
        emit textsChanged();

    if (!m_window)
        return;
    // With a compositor the window is really transparent and takes no shape.
    if (changed || !m_window->isVisible())
        overlayShape::apply(*m_window, overlayShape::compositorRunning() ? QRegion() : shape());
    // Raised when shown and when another window comes over it, not with every new text: a raise is a
    // reconfiguration of the window, each second of a session, that nothing needs.
    if (!m_window->isVisible()) {
        m_window->show();
        m_window->raise();
    }
    if (!m_stacking) {
        // Our own windows put themselves on top too: answering them would raise back and forth.
        m_stacking = std::make_unique<StackingWatch>([](quint64 id) {
            const QWindowList windows = QGuiApplication::allWindows();
            return std::any_of(windows.begin(), windows.end(),
                               [id](const QWindow* window) { return window->handle() && window->winId() == id; });
        });
        m_stacking->onRestacked = [this] {
            if (isShown())
                overlayShape::raise(*m_window);
        };
    }
}

void FocusCountdown::createWindow()
{
    initCountdownResources();
    QScreen* screen = QGuiApplication::primaryScreen();
    QQuickWindow::setDefaultAlphaBuffer(true);
    m_window = std::make_unique<QQuickView>();
    localOnlyNetwork::install(*m_window->engine());
    m_window->setObjectName(QStringLiteral("focusCountdown"));
    // What a screen reader calls it.
    m_window->setTitle(QStringLiteral("Focus countdown"));
    m_window->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus
                       | Qt::WindowTransparentForInput | Qt::X11BypassWindowManagerHint);
    m_window->setColor(Qt::transparent);
    m_window->setResizeMode(QQuickView::SizeRootObjectToView);
    m_window->rootContext()->setContextProperty(QStringLiteral("countdown"), this);
    m_window->setSource(QUrl(QStringLiteral("qrc:/tovrick/focus/FocusCountdown.qml")));
    for (const QQmlError& error : m_window->errors())
        logline::warning(QStringLiteral("countdown: %1").arg(error.toString()));
    m_window->setScreen(screen);
    // Placed once, as it was made; later screen changes do not move it.
    m_window->setGeometry(panelGeometry(screen->availableGeometry()));
}
