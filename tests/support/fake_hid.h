#pragma once
// A scriptable HID backend for transport tests: it records every output report and plays
// back queued input reports. Reads on an empty queue wait out their timeout on the
// backend's clock (a ManualClock in tests), so silence costs no real time.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "transport/clock.h"
#include "transport/hid_backend.h"

namespace orvanta::test {

using Bytes = std::vector<uint8_t>;

struct FakeDevice {
    size_t inputLength = 65;
    size_t outputLength = 65;
    std::vector<Bytes> written;  // every output report, as written
    std::deque<Bytes> input;     // reports the device will deliver, in order
    bool autoInit = true;        // answer CTAPHID_INIT with an echo of its nonce
    uint8_t channel[4] = {0x11, 0x22, 0x33, 0x44};
    int writeResult = -2;  // -2: the report length; otherwise returned as is
    bool readFails = false;
    uint32_t delayPerReport = 0;  // clock time each delivered report takes
    int opens = 0;
    int closes = 0;
    // Called once a whole request message has been written (command, payload).
    std::function<void(FakeDevice&, uint8_t command, const Bytes& payload)> onMessage;

    // Queues a whole reply message on `cid` (the device's channel by default).
    void reply(uint8_t command, const Bytes& payload, const uint8_t* cid = nullptr);
    // Queues one raw 65-byte report: report ID 0, cid, then the given bytes from offset 5.
    void raw(const uint8_t cid[4], const Bytes& fromOffset5);
    void keepalive();
    // Requests reassembled from the written reports (INIT excluded).
    std::vector<std::pair<uint8_t, Bytes>> requests() const;
    int initCount() const;

    // Reassembly state of the request being written.
    Bytes pending;
    uint8_t pendingCommand = 0;
    uint32_t pendingLength = 0;
};

class FakeHidBackend : public HidBackend {
  public:
    // Reads wait out their timeouts on the given clock.
    explicit FakeHidBackend(Clock& clock) : clock_(clock) {}
    struct Entry {
        HidInterfaceInfo info;
        std::shared_ptr<FakeDevice> device;
        std::string openError;  // non-empty: open fails with this reason
    };
    // Adds a collection; returns its device so the test can script it.
    std::shared_ptr<FakeDevice> add(uint16_t vendorId, uint16_t productId, uint16_t usagePage,
                                    const std::string& product = "Fake Key",
                                    uint16_t release = 0x0100);
    std::vector<Entry> entries;

    std::vector<HidInterfaceInfo> enumerate() override;
    std::unique_ptr<HidHandle> open(const std::string& path, std::string* error) override;

  private:
    Clock& clock_;
};

Bytes hex(const std::string& text);

}  // namespace orvanta::test
