#pragma once

#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <stdexcept>

#include "Tovrick/focus/MacVisionLibrary.h"
#include "Tovrick/screen/ScreenCaptureAccess.h"
#include "focus/FocusFakes.h"
#include "shared/account/DeviceVaults.h"
#include "shared/account/TovrickAccount.h"

// An image chooser the test answers: it records each opening and keeps the answer until told.
struct ScriptedChooser : ImageChooser {
    int opens = 0;
    int raises = 0;
    std::function<void(std::optional<QStringList>)> pending;

    void open(std::function<void(std::optional<QStringList>)> done) override
    {
        ++opens;
        pending = std::move(done);
    }
    void raise() override { ++raises; }
    void answer(const std::optional<QStringList>& files)
    {
        auto done = std::move(pending);
        pending = nullptr;
        if (done)
            done(files);
    }
};

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
    // The reminder images of `account`, under a folder of their own.
    QTemporaryDir imagesRoot;
    ScriptedChooser* chooser = new ScriptedChooser;
    MacVisionLibrary vision { account, [this] { return imagesRoot.path(); }, std::unique_ptr<ImageChooser>(chooser) };

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
