#include "Tovrick/phone/PairingPanel.h"

#include <QGuiApplication>
#include <QQmlContext>
#include <QQmlError>
#include <QQuickView>
#include <QScreen>

#include "Tovrick/focus/MacFocusPanel.h"
#include "Tovrick/focus/MacFocusView.h"
#include "Tovrick/phone/PairingView.h"
#include "Tovrick/phone/PhoneServer.h"
#include "Tovrick/phone/QrCode.h"
#include "shared/account/TovrickAccount.h"
#include "shared/ui/FocusKeeper.h"
#include "shared/ui/LocalOnlyNetwork.h"
#include "shared/util/Log.h"

// The resource lives in a static library: nothing references its initialiser by itself.
static void initPairingResources()
{
    Q_INIT_RESOURCE(pairing);
}

PairingPanel::PairingPanel(TovrickAccount* account, std::function<PairingRecord()> record, QObject* parent)
    : QObject(parent)
{
    if (!record)
        record = [] { return PhoneServer::pairingRecord(); };
    m_view = std::make_unique<PairingView>(account ? *account : TovrickAccount::shared(), std::move(record));
}

PairingPanel::~PairingPanel()
{
    // The window goes first: its bindings read the view.
    m_window.reset();
}

const char* PairingPanel::rootSource()
{
    return "qrc:/tovrick/phone/PairingWindow.qml";
}

void PairingPanel::show()
{
    if (!m_window) {
        initPairingResources();
        MacFocusPanel::registerQmlTypes();
        QrCodeItem::registerQmlType();
        QGuiApplication::setQuitOnLastWindowClosed(false);

        m_window = std::make_unique<QQuickView>();
        localOnlyNetwork::install(*m_window->engine());
        m_window->setObjectName(QStringLiteral("pairingPanel"));
        m_window->setTitle(QStringLiteral("Add This Computer"));
        m_window->setColor(FocusColor::background);
        m_window->setResizeMode(QQuickView::SizeRootObjectToView);
        m_window->rootContext()->setContextProperty(QStringLiteral("pairing"), m_view.get());
        m_window->setSource(QUrl(QString::fromLatin1(rootSource())));
        for (const QQmlError& error : m_window->errors())
            logline::warning(QStringLiteral("pairing window: %1").arg(error.toString()));
        m_window->setMinimumSize(QSize(420, 560));
        QRect frame(QPoint(), QSize(440, 640));
        if (QScreen* screen = QGuiApplication::primaryScreen())
            frame.moveCenter(screen->availableGeometry().center());
        m_window->setGeometry(frame);
        connect(m_window.get(), &QWindow::visibleChanged, this, [this](bool visible) {
            if (!visible)
                m_view->closed();
        });
    }
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
    m_view->opened();
    FocusKeeper::of(*m_window).focusFirstOnOpen();
}
