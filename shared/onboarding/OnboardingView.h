#pragma once

#include <QObject>
#include <QUrl>

#include <memory>

#include "shared/onboarding/OnboardingModel.h"

class QQuickView;

// The first-run flow in a phone-sized window of its own: the model's rules laid out by QML. The host
// decides what `login` and `finish` do (the model's `loginRequested` and `finished`).
class OnboardingView : public QObject {
    Q_OBJECT

public:
    static constexpr int kWidth = 390;
    static constexpr int kHeight = 844;

    explicit OnboardingView(bool loginAvailable, QObject* parent = nullptr);
    ~OnboardingView() override;

    OnboardingModel& model() { return *m_model; }
    // Loaded but not shown.
    QQuickView* window() const { return m_window.get(); }

    static QUrl source();

private:
    std::unique_ptr<OnboardingModel> m_model;
    std::unique_ptr<QQuickView> m_window;
};
