#pragma once
// A test fixture that plugs a virtual key in on a manual clock and opens a session on it
// as the refresh would.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "info/device_context.h"
#include "support/fake_hid.h"
#include "support/virtual_key_setup.h"
#include "transport/clock.h"
#include "transport/exchange.h"

namespace orvanta::test {

class VirtualKeyFixture : public ::testing::Test {
  protected:
    // Plugs in a key of the profile and opens a session on it; the key stays valid for the
    // test.
    VirtualKey& plug(const Profile& profile) {
        const VirtualKeySetup setup = makeVirtualKey(profile, clock);
        backend = setup.backend;
        devices = std::make_unique<DeviceContext>(backend, clock);
        devices->enumerate();
        EXPECT_EQ(devices->select(0, 0), 1);
        return *setup.key;
    }
    VirtualKey& plug(const std::string& profileName) { return plug(profileByName(profileName)); }
    DeviceSession& session() { return devices->session(); }

    ManualClock clock{1000};
    std::shared_ptr<HidBackend> backend;
    std::unique_ptr<DeviceContext> devices;
};

}  // namespace orvanta::test
