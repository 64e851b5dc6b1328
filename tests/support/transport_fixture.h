#pragma once
// A test fixture that puts a scriptable fake backend and a manual clock under the
// program's device manager, and restores both afterwards.

#include <gtest/gtest.h>

#include "support/fake_hid.h"
#include "transport/clock.h"
#include "transport/ctaphid.h"
#include "transport/device_manager.h"

namespace orvanta::test {

class TransportFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        setClock(&clock);
        backend = std::make_shared<FakeHidBackend>();
        deviceManager().setBackend(backend);
        transportReady = 1;
    }
    void TearDown() override {
        deviceManager().setBackend(std::make_shared<FakeHidBackend>());
        deviceManager().initPending = true;
        setClock(nullptr);
        transportReady = 0;
    }
    // Adds one FIDO key and selects it.
    std::shared_ptr<FakeDevice> connectKey(uint16_t vid = 0x1209, uint16_t pid = 0x0001) {
        auto device = backend->add(vid, pid, 0xF1D0);
        enumerateDevices(deviceManager());
        selectDevice(deviceManager(), 0, 0);
        return device;
    }

    ManualClock clock{1000};
    std::shared_ptr<FakeHidBackend> backend;
};

}  // namespace orvanta::test
