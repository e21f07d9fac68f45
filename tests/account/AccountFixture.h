#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

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
        ASSERT_TRUE(api.isListening());
        account->setTimingForTests(fastTiming());
        signInForTests(*account, api);
    }

    static TovrickAccount::Timing fastTiming()
    {
        TovrickAccount::Timing timing;
        timing.request = 3s;
        timing.transcription = 3s;
        timing.signInWait = 3s;
        timing.loopInterval = 60s;
        return timing;
    }

    // Runs `task`, expecting it to throw E; returns the error.
    template <typename E, typename T>
    E expectThrow(QCoro::Task<T>&& task)
    {
        try {
            runTask(std::move(task));
        } catch (const E& error) {
            return error;
        } catch (const std::exception& other) {
            ADD_FAILURE() << "threw another error: " << other.what();
            throw;
        }
        ADD_FAILURE() << "did not throw";
        throw std::logic_error("no error");
    }

    LoopbackApi api;
    MemoryDeviceVault vault;
    std::unique_ptr<TovrickAccount> account = std::make_unique<TovrickAccount>(vault);
};
