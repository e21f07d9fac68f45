#include "Tovrick/focus/MacFocusPanel.h"

#include <QGuiApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlError>
#include <QQuickView>
#include <QScreen>

#include <algorithm>

#include "Tovrick/focus/ControlAccessible.h"
#include "Tovrick/focus/DisclosureHeader.h"
#include "Tovrick/focus/FocusCompanion.h"
#include "Tovrick/focus/FocusHistoryPage.h"
#include "Tovrick/focus/FocusIcon.h"
#include "Tovrick/focus/MacFocusView.h"
#include "Tovrick/motivation/MotivationAudioStore.h"
#include "Tovrick/motivation/MotivationQml.h"
#include "Tovrick/motivation/MotivationSoundsView.h"
#include "Tovrick/focus/MacVisionLibrary.h"
#include "Tovrick/focus/VisionTileImage.h"
#include "Tovrick/screen/ScreenCaptureAccess.h"
#include "shared/account/TovrickAccount.h"
#include "shared/art/BlobPortrait.h"
#include "shared/ui/FocusKeeper.h"
#include "shared/ui/LocalOnlyNetwork.h"
#include "shared/util/Log.h"

// The resource lives in a static library: nothing references its initialiser, so the linker would
// drop it unless it is called by name.
static void initFocusWindowResources()
{
    Q_INIT_RESOURCE(focuswindow);
}

MacFocusPanel::Sizes MacFocusPanel::sizesFor(std::optional<int> visibleHeight)
{
    if (!visibleHeight)
        return { QSize(kWidth, 800), QSize(kMinimumWidth, 760) };
    return { QSize(kWidth, std::min(*visibleHeight - 50, 880)), QSize(kMinimumWidth, std::min(*visibleHeight - 50, 760)) };
}

MacFocusPanel::MacFocusPanel(TovrickAccount* account, ScreenCaptureAccess* screenAccess, QObject* parent)
    : QObject(parent),
      m_account(account ? *account : TovrickAccount::shared()),
      m_screenAccess(screenAccess ? *screenAccess : ScreenCaptureAccess::shared())
{
}

MacFocusPanel::~MacFocusPanel() = default;

MacVisionLibrary& MacFocusPanel::visionLibrary()
{
    if (!m_vision)
        m_vision = &MacVisionLibrary::shared();
    return *m_vision;
}

void MacFocusPanel::registerQmlTypes()
{
    static bool registered = false;
    initFocusWindowResources();
    BlobPortrait::registerQmlType();
    motivationQml::registerTypes();
    if (registered)
        return;
    registered = true;
    qmlRegisterType<FocusIcon>("Tovrick.Focus", 1, 0, "FocusIcon");
    DisclosureHeader::registerQmlType();
    controlAccessible::install();
    qmlRegisterType<VisionTileImage>("Tovrick.Focus", 1, 0, "VisionTileImage");
    qmlRegisterSingletonType<FocusColor>("Tovrick.Focus", 1, 0, "FocusColor",
                                         [](QQmlEngine*, QJSEngine*) -> QObject* { return new FocusColor; });
}

const char* MacFocusPanel::rootSource()
{
    return "qrc:/tovrick/focus/window/MacFocusView.qml";
}

void MacFocusPanel::show(FocusCompanion& focus, std::function<void()> pair)
{
    if (m_window) {
        m_window->show();
        m_window->raise();
        m_window->requestActivate();
        return;
    }
    registerQmlTypes();
    // Closing this window hides it; the run goes on until the user quits.
    QGuiApplication::setQuitOnLastWindowClosed(false);

    QScreen* screen = QGuiApplication::primaryScreen();
    const std::optional<int> visible = screen ? std::optional<int>(screen->availableGeometry().height()) : std::nullopt;
    const Sizes sizes = sizesFor(visible);

    m_view = new MacFocusView(focus, m_account, m_screenAccess, this);
    m_view->pair = std::move(pair);
    MacVisionLibrary& vision = visionLibrary();
    m_view->reloadImages = [&vision] { vision.reload(); };
    m_history = new FocusHistoryPage(focus, this);

    m_window = std::make_unique<QQuickView>();
    localOnlyNetwork::install(*m_window->engine());
    m_window->setObjectName(QStringLiteral("macFocusPanel"));
    m_window->setTitle(QStringLiteral("Tovrick"));
    m_window->setColor(FocusColor::background);
    m_window->setResizeMode(QQuickView::SizeRootObjectToView);
    m_window->rootContext()->setContextProperty(QStringLiteral("focusView"), m_view);
    m_sounds = new MotivationSoundsView(clipStore ? *clipStore : MotivationAudioStore::shared(), m_account, this);
    m_window->rootContext()->setContextProperty(QStringLiteral("soundsView"), m_sounds);
    m_window->rootContext()->setContextProperty(QStringLiteral("focusHistory"), m_history);
    m_window->rootContext()->setContextProperty(QStringLiteral("visionLibrary"), &vision);
    // Decides where the keyboard's focus goes when what has it turns off, hides or goes.
    FocusKeeper::of(*m_window);
    m_window->setSource(QUrl(QString::fromLatin1(rootSource())));
    for (const QQmlError& error : m_window->errors())
        logline::warning(QStringLiteral("focus window: %1").arg(error.toString()));
    m_window->setMinimumSize(sizes.minimum);
    QRect frame(QPoint(), sizes.initial);
    if (screen)
        frame.moveCenter(screen->availableGeometry().center());
    m_window->setGeometry(frame);
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
}
