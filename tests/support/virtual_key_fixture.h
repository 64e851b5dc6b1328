#pragma once
// A test fixture that plugs a virtual key under the program's device manager on a manual
// clock, selects it as the refresh would, and restores an empty backend afterwards.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/fake_hid.h"
#include "support/virtual_key_setup.h"
#include "transport/clock.h"
#include "transport/ctaphid.h"
#include "transport/device_manager.h"

namespace orvanta::test {

class VirtualKeyFixture : public ::testing::Test {
  protected:
    void TearDown() override {
        deviceManager().setBackend(std::make_shared<FakeHidBackend>());
        deviceManager().initPending = true;
        transportReady = 0;
        setClock(nullptr);
    }

    // Plugs in a key of the profile and selects it; the key stays valid for the test.
    VirtualKey& plug(const Profile& profile) {
        setClock(&clock);
        const VirtualKeySetup setup = makeVirtualKey(profile);
        backend = setup.backend;
        deviceManager().setBackend(backend);
        transportReady = 1;
        enumerateDevices(deviceManager());
        EXPECT_EQ(selectDevice(deviceManager(), 0, 0), 1);
        return *setup.key;
    }
    VirtualKey& plug(const std::string& profileName) { return plug(profileByName(profileName)); }

    ManualClock clock{1000};
    std::shared_ptr<HidBackend> backend;
};

}  // namespace orvanta::test
