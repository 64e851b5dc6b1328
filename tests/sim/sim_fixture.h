#pragma once
// A virtual backend on a manual clock, so waits for touches and timeouts cost no real time.

#include <gtest/gtest.h>

#include "sim/virtual_backend.h"
#include "sim_client.h"
#include "transport/clock.h"

namespace orvanta::test {

class SimTest : public ::testing::Test {
  protected:
    // Plugs in a key of the profile and opens its FIDO collection with a channel.
    SimClient& connect(const Profile& profile) {
        VirtualKey& key = backend.addDevice(profile);
        keys.push_back(&key);
        const size_t fido = std::min(profile.fidoPosition, profile.extraCollections.size());
        clients.push_back(std::make_unique<SimClient>(
            backend, "virtual:" + std::to_string(key.serial()) + ":" + std::to_string(fido)));
        clients.back()->init();
        return *clients.back();
    }
    SimClient& connect(const std::string& name) { return connect(profileByName(name)); }

    ManualClock manual{1000};
    VirtualBackend backend{manual};
    std::vector<VirtualKey*> keys;
    std::vector<std::unique_ptr<SimClient>> clients;
};

}  // namespace orvanta::test
