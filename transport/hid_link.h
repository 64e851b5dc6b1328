#pragma once
// CTAPHID over a HID handle (USB hidraw, the virtual key, UDP simulators): requests split
// into 65-byte output reports on a channel of our own, replies reassembled from input
// reports, keepalives heard, a waiting key sent CTAPHID_CANCEL.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "transport/ctap_link.h"
#include "transport/ctaphid_protocol.h"
#include "transport/hid_backend.h"

namespace orvanta {

inline constexpr uint32_t REPORT_BUFFER_SIZE = 100;
inline constexpr uint32_t MAX_REQUEST_LENGTH = CTAPHID_MAX_MESSAGE;  // 7609
// How long a reply report may keep us waiting; every keepalive starts the wait again.
inline constexpr uint32_t REPORT_WAIT_MS = 3000;

class HidLink final : public CtapLink {
  public:
    explicit HidLink(std::unique_ptr<HidHandle> handle) : handle_(std::move(handle)) {}

    Result<Bytes> call(uint8_t command, std::span<const uint8_t> payload,
                       const CallOptions& options) override;
    LinkFacts facts() const override { return {initFacts_}; }
    void reset() override { channelPending_ = true; }
    bool withPackets(const std::function<void(PacketPort&)>& work) override;
    bool hold() override;
    void release() override;

    HidHandle& handle() { return *handle_; }
    // The CTAPHID channel; a new one is allocated by the next call while pending.
    const std::array<uint8_t, 4>& channel() const { return channel_; }
    bool channelPending() const { return channelPending_; }

  private:
    Result<Bytes> exchange(uint8_t command, std::span<const uint8_t> request,
                           const CallOptions& options);
    TransportCause allocateChannel(size_t outLength, size_t inLength, const CallOptions& options);

    std::unique_ptr<HidHandle> handle_;
    std::array<uint8_t, 4> channel_ = {0, 0, 0, 0};
    bool channelPending_ = true;
    std::optional<InitFacts> initFacts_;
    uint32_t holds_ = 0;  // while non-zero the handle stays locked between calls
};

}  // namespace orvanta
