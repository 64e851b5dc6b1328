#pragma once
// A HID backend for the harnesses: one FIDO key that plays the fuzzer's input back as its
// replies. Reads on an empty queue wait out their timeout on the backend's clock (the
// harness gives a ManualClock), so silence costs no real time and a harness can check
// that every exchange ends within a bounded clock time.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "transport/clock.h"
#include "transport/hid_backend.h"

namespace orvanta::fuzz {

using Bytes = std::vector<uint8_t>;

// The channel that the automatic INIT reply hands out.
inline constexpr uint8_t FUZZ_CID[4] = {0xC1, 0xD0, 0x00, 0x01};
inline constexpr size_t PACKET = 64;

// How the input becomes input reports.
enum class Playback {
    // Consecutive 64-byte packets, each one whole report (report ID 0 added).
    RawPackets,
    // Consecutive 60-byte packets, each sent on our channel (cid added).
    ChannelPackets,
    // Reply messages: a 2-byte big-endian length, then that many bytes (cut at the end of
    // the input). Each complete request is answered by the next message, framed as CTAPHID
    // packets on our channel with the request's command.
    Messages,
};

struct FuzzDevice {
    Playback playback = Playback::Messages;
    bool autoInit = true;        // answer CTAPHID_INIT with an echo of its nonce
    uint32_t msPerReport = 1;    // clock time each delivered report takes
    std::deque<Bytes> input;     // queued 65-byte input reports
    std::deque<Bytes> messages;  // Messages playback: replies not yet sent
    std::vector<Bytes> written;  // every output report
    // Reassembly of the request being written (Messages playback).
    uint8_t pendingCommand = 0;
    uint32_t pendingLength = 0;
    uint32_t pendingHave = 0;

    void load(const uint8_t* data, size_t size);
    void onWrite(const uint8_t* report, size_t length);
    void queueMessage(const uint8_t cid[4], uint8_t command, const Bytes& payload);
};

class FuzzHidBackend final : public HidBackend {
  public:
    FuzzHidBackend(Playback playback, const uint8_t* data, size_t size, Clock& clock,
                   bool autoInit = true);
    std::vector<HidInterfaceInfo> enumerate() override;
    std::unique_ptr<HidHandle> open(const std::string& path, std::string* error) override;
    FuzzDevice& device() { return *device_; }

  private:
    std::shared_ptr<FuzzDevice> device_;
    Clock& clock_;
};

// Splits an input into the part before the first occurrence of the 4-byte separator
// "FUZZ" and the rest (all of it when absent), for harnesses that take two inputs.
std::pair<Bytes, Bytes> splitInput(const uint8_t* data, size_t size);

}  // namespace orvanta::fuzz
