#pragma once

#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <stdexcept>

#include "Tovrick/screen/ScreenCaptureAccess.h"
#include "focus/FocusFakes.h"
#include "shared/account/DeviceVaults.h"
#include "shared/account/TovrickAccount.h"

// A signed-in session of `userId` that stays valid until 2100.
inline AccountSession focusWindowSession(const QString& userId)
{
    AccountSession session;
    session.userId = userId;
    session.deviceId = QStringLiteral("device-1");
    session.deviceToken = QStringLiteral("tvk_token");
    session.displayName = QStringLiteral("Robin");
    session.expiresAt = 4102444800000.0;
    session.authMethod = QStringLiteral("apple");
    return session;
}

// The focus window's collaborators: the engine over a scripted world, an account of its own, and
// screen access whose test capture works until told otherwise.
struct FocusWindowWorld {
    FocusWorld world;
    std::unique_ptr<FocusCompanion> engine = world.engine();
    QTemporaryDir vaultFolder;
    FileDeviceVault vault { vaultFolder.filePath(QStringLiteral("vault.json")) };
    TovrickAccount account { vault };
    ScreenCaptureAccess access;
    bool captureWorks = true;
    std::function<void()> duringCapture;

    FocusWindowWorld()
    {
        access.testCapture = [this]() -> QCoro::Task<void> {
            if (duringCapture)
                duringCapture();
            if (!captureWorks)
                throw std::runtime_error("the display refused the capture");
            co_return;
        };
    }
};
