#include "Tovrick/assistant/ReportPanel.h"

#include <QDesktopServices>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QQmlContext>
#include <QQmlError>
#include <QQuickView>
#include <QRegion>
#include <QScreen>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

#include "shared/ui/LocalOnlyNetwork.h"
#include "shared/util/Log.h"
#include "shared/util/Text.h"

// The resource lives in a static library: nothing references its initialiser, so the linker would
// drop it unless it is called by name.
static void initReportCardResources()
{
    Q_INIT_RESOURCE(reportcard);
}

namespace {

constexpr int kAnimationMs = 220;
constexpr int kCardMargin = 4;
constexpr qreal kCornerRadius = 22;

// The card's own faces are rarely installed; the nearest installed family stands in, chosen once.
struct CardFonts {
    QString heading;
    QString body;
    QString mono;
};

QString firstInstalled(const QStringList& wanted, QFontDatabase::SystemFont fallback)
{
    const QStringList installed = QFontDatabase::families();
    for (const QString& family : wanted) {
        if (installed.contains(family, Qt::CaseInsensitive))
            return family;
    }
    return QFontDatabase::systemFont(fallback).family();
}

const CardFonts& cardFonts()
{
    static const CardFonts fonts {
        // The fetched copy's files call their family "Fredoka Light", whatever their weight.
        firstInstalled({QStringLiteral("Fredoka"), QStringLiteral("Fredoka Light"), QStringLiteral("Fredoka One"),
                        QStringLiteral("Nunito"), QStringLiteral("Quicksand"), QStringLiteral("URW Gothic"),
                        QStringLiteral("DejaVu Sans")},
                       QFontDatabase::GeneralFont),
        firstInstalled({QStringLiteral("IBM Plex Sans"), QStringLiteral("Noto Sans"), QStringLiteral("Nimbus Sans"),
                        QStringLiteral("DejaVu Sans")},
                       QFontDatabase::GeneralFont),
        firstInstalled({QStringLiteral("IBM Plex Mono"), QStringLiteral("Noto Sans Mono"),
                        QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Noto Mono")},
                       QFontDatabase::FixedFont),
    };
    return fonts;
}

QPainterPath cardOutline(const QSize& size)
{
    QPainterPath path;
    path.addRoundedRect(QRectF(kCardMargin, kCardMargin, size.width() - 2 * kCardMargin,
                               size.height() - 2 * kCardMargin),
                        kCornerRadius, kCornerRadius);
    return path;
}

// Without a compositor transparent pixels show black: the window keeps only the card's shape.
QRegion cardShape(const QSize& size)
{
    return QRegion(cardOutline(size).toFillPolygon().toPolygon());
}

// Shapes and stacking mean something only to a real display server.
bool onX11()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

} // namespace

ReportPanel::ReportPanel(QObject* parent) : QObject(parent) {}

ReportPanel::~ReportPanel() = default;

QString ReportPanel::headingFamily() const { return cardFonts().heading; }
QString ReportPanel::bodyFamily() const { return cardFonts().body; }
QString ReportPanel::monoFamily() const { return cardFonts().mono; }

bool ReportPanel::isShown() const
{
    return m_window && m_window->isVisible();
}

QSize ReportPanel::panelSize(bool expanded, const std::optional<ResearchReport>& report, int usableHeight)
{
    const int width = expanded ? kExpandedWidth : kCollapsedWidth;
    if (!report)
        return QSize(width, kShortHeight);
    if (!expanded)
        return QSize(width, kCollapsedHeight);
    qint64 lines = 0;
    for (const QString& paragraph : report->paragraphs)
        lines += (text::characterCount(paragraph) + kCharactersPerLine - 1) / kCharactersPerLine;
    const qint64 sources = report->sources.empty() ? 0 : qint64(report->sources.size()) * 22 + 30;
    const qint64 estimate = lines * 21 + qint64(report->paragraphs.size()) * 12 + sources + 110;
    const qint64 cap = static_cast<qint64>(std::floor(0.75 * usableHeight));
    return QSize(width, static_cast<int>(std::min(estimate, cap)));
}

QRect ReportPanel::panelFrame(const QSize& size, const QRect& area)
{
    const int right = area.x() + area.width();
    return QRect(QPoint(right - size.width() - kInset, area.y() + kInset), size);
}

std::optional<QRect> ReportPanel::mainUsableArea()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return std::nullopt;
    return screen->availableGeometry();
}

void ReportPanel::showLoading(const QString& question)
{
    m_model.setQuestion(question);
    m_model.setReport(std::nullopt);
    m_model.setError(std::nullopt);
    m_model.setExpanded(false);
    present();
}

void ReportPanel::show(const ResearchReport& report)
{
    m_model.setReport(report);
    m_model.setError(std::nullopt);
    present();
}

void ReportPanel::showError(const QString& message)
{
    m_model.setError(message);
    present();
}

void ReportPanel::present()
{
    if (!m_window)
        createWindow();
    layout(false);
    if (!m_window)
        return;
    if (!m_window->isVisible())
        m_window->show();
    if (onX11())
        m_window->raise();
}

void ReportPanel::toggle()
{
    m_model.setExpanded(!m_model.expanded());
    layout(true);
}

void ReportPanel::close()
{
    if (m_window)
        m_window->hide();
}

void ReportPanel::tapped()
{
    if (m_model.hasReport() && !m_model.expanded())
        toggle();
}

void ReportPanel::openSource(int index)
{
    const auto& report = m_model.report();
    if (!report || index < 0 || static_cast<std::size_t>(index) >= report->sources.size())
        return;
    const QUrl url = report->sources[static_cast<std::size_t>(index)].url;
    if (ReportModel::opensOnClick(url))
        QDesktopServices::openUrl(url);
}

void ReportPanel::snapshotPNG(bool expanded, const QString& path)
{
    if (expanded != m_model.expanded())
        toggle();
    if (!m_window)
        return;
    const QImage grabbed = m_window->grabWindow();
    // The grab is opaque where the window is clear; the card's own outline gives the picture its
    // transparent corners.
    QImage image(grabbed.size(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(grabbed.devicePixelRatio());
    image.fill(Qt::transparent);
    if (!grabbed.isNull()) {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setClipPath(cardOutline(m_window->size()));
        painter.drawImage(QPoint(0, 0), grabbed);
    }
    if (grabbed.isNull() || !image.save(path, "PNG"))
        logline::info(QStringLiteral("report card picture not written: ") + path);
}

void ReportPanel::createWindow()
{
    initReportCardResources();
    QQuickWindow::setDefaultAlphaBuffer(true);
    m_window = std::make_unique<QQuickView>();
    localOnlyNetwork::install(*m_window->engine());
    m_window->setObjectName(QStringLiteral("reportPanel"));
    // Bypassing the window manager keeps the card on every workspace, above the rest and never
    // focused; the card moves itself when dragged.
    m_window->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus
                       | Qt::X11BypassWindowManagerHint);
    m_window->setColor(Qt::transparent);
    m_window->setResizeMode(QQuickView::SizeRootObjectToView);
    m_window->resize(kCollapsedWidth, 200);
    m_window->rootContext()->setContextProperty(QStringLiteral("card"), &m_model);
    m_window->rootContext()->setContextProperty(QStringLiteral("panel"), this);
    m_window->setSource(QUrl(QStringLiteral("qrc:/tovrick/assistant/ReportCard.qml")));
    for (const QQmlError& error : m_window->errors())
        logline::warning(QStringLiteral("report card: %1").arg(error.toString()));
    m_animation = new QVariantAnimation(this);
    m_animation->setDuration(kAnimationMs);
    m_animation->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_animation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { place(value.toRect()); });
}

void ReportPanel::layout(bool animated)
{
    const std::optional<QRect> usable = usableArea ? usableArea() : std::nullopt;
    if (!m_window || !usable)
        return;
    const QSize size = panelSize(m_model.expanded(), m_model.report(), usable->height());
    const QRect frame = panelFrame(size, *usable);
    m_animation->stop();
    if (!animated || !m_window->isVisible()) {
        place(frame);
        return;
    }
    // From where the card is now: the user may have dragged it away from the corner.
    m_animation->setStartValue(m_window->geometry());
    m_animation->setEndValue(frame);
    m_animation->start();
}

void ReportPanel::place(const QRect& frame)
{
    m_window->setGeometry(frame);
    if (onX11())
        m_window->setMask(cardShape(frame.size()));
}
