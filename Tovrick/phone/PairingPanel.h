#pragma once

#include <QObject>

#include <functional>
#include <memory>

#include "shared/link/PairingRecord.h"

class PairingView;
class QQuickView;
class TovrickAccount;

// The add-this-computer window: made on the first show and kept for the whole run. Closing it only
// hides it, which stops asking the service and hides the phone-link code.
class PairingPanel : public QObject {
    Q_OBJECT

public:
    // The shared account and this computer's phone-link record unless given.
    explicit PairingPanel(TovrickAccount* account = nullptr, std::function<PairingRecord()> record = {},
                          QObject* parent = nullptr);
    ~PairingPanel() override;

    // Raises the window; signed out, it starts a new code each time.
    void show();

    QQuickView* window() const { return m_window.get(); }
    // Made with the panel, so that timing and clock can be set before the first show.
    PairingView& view() const { return *m_view; }

    static const char* rootSource();

private:
    std::unique_ptr<PairingView> m_view;
    std::unique_ptr<QQuickView> m_window;
};
