#pragma once
// A test fixture with a scriptable fake backend on a manual clock, and the devices of a
// front end over it.

#include <gtest/gtest.h>

#include "info/device_context.h"
#include "support/fake_hid.h"
#include "transport/clock.h"
#include "transport/exchange.h"
#include "transport/hid_link.h"

namespace orvanta::test {

// The CTAPHID link of a session on a HID key.
inline const HidLink& hidLink(const DeviceSession& session) {
    return *static_cast<const HidLink*>(session.link());
}
// Whether it will ask for a new channel first.
inline bool channelPending(const DeviceSession& session) {
    return hidLink(session).channelPending();
}

class TransportFixture : public ::testing::Test {
  protected:
    // Adds one FIDO key and opens a session on it.
    std::shared_ptr<FakeDevice> connectKey(uint16_t vid = 0x1209, uint16_t pid = 0x0001) {
        auto device = backend->add(vid, pid, 0xF1D0);
        devices.enumerate();
        devices.select(0, 0);
        return device;
    }
    DeviceSession& session() { return devices.session(); }

    ManualClock clock{1000};
    std::shared_ptr<FakeHidBackend> backend = std::make_shared<FakeHidBackend>(clock);
    DeviceContext devices{backend, clock};
};

}  // namespace orvanta::test
