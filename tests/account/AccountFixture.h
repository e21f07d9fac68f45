#pragma once

#include <gtest/gtest.h>

#include "shared/account/DeviceVaults.h"
#include "shared/account/TovrickAccount.h"
#include "support/LoopbackApi.h"
#include "support/RunTask.h"

using namespace std::chrono_literals;

// An account object of its own, signed in against a fresh loopback API, with short time-outs.
class AccountFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        account->setTimingForTests(fastTiming());
        signInForTests(*account, api);
    }

    static TovrickAccount::Timing fastTiming()
    {
        TovrickAccount::Timing timing;
        timing.request = timing.transcription = timing.signInWait = 3s;
        return timing;
    }

    LoopbackApi api;
    MemoryDeviceVault vault;
    std::unique_ptr<TovrickAccount> account = std::make_unique<TovrickAccount>(vault);
};
