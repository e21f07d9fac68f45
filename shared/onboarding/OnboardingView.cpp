#include "shared/onboarding/OnboardingView.h"

#include <QQmlContext>
#include <QQuickView>

#include "shared/art/BlobPortrait.h"
#include "shared/ui/LocalOnlyNetwork.h"

OnboardingView::OnboardingView(bool loginAvailable, QObject* parent)
    : QObject(parent), m_model(std::make_unique<OnboardingModel>(loginAvailable))
{
    Q_INIT_RESOURCE(onboarding);
    BlobPortrait::registerQmlType();
    m_window = std::make_unique<QQuickView>();
    localOnlyNetwork::install(*m_window->engine());
    m_window->setTitle(QStringLiteral("Tovrick"));
    m_window->setColor(QColor(0x1C, 0x1C, 0x1E));
    m_window->setResizeMode(QQuickView::SizeRootObjectToView);
    m_window->resize(kWidth, kHeight);
    m_window->rootContext()->setContextProperty(QStringLiteral("onboarding"), m_model.get());
    m_window->setSource(source());
    m_model->appear();
}

OnboardingView::~OnboardingView()
{
    // The scene reads the model until it is gone.
    m_window.reset();
}

QUrl OnboardingView::source()
{
    return QUrl(QStringLiteral("qrc:/tovrick/onboarding/OnboardingView.qml"));
}
