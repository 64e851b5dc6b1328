#pragma once
// A session on one key: it owns the key's handle, its CTAPHID channel, the clock every
// wait runs on and the lock that lets one exchange at a time through. Every operation on
// a key takes the session it works on, so several keys can be inspected side by side.

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

#include "transport/clock.h"
#include "transport/device_list.h"
#include "transport/hid_backend.h"

namespace orvanta {

class DeviceSession {
  public:
    // A session on an opened collection; the session owns the handle from now on.
    DeviceSession(const DeviceRecord& device, std::unique_ptr<HidHandle> handle, Clock& clock);
    // A session without a key: every exchange fails with TransportCause::NoDevice.
    explicit DeviceSession(Clock& clock);
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // The key as the enumeration described it; its handles point at the session's handle.
    const DeviceRecord& device() const { return device_; }
    bool present() const { return device_.present(); }
    Clock& clock() const { return clock_; }
    HidHandle* handle() const { return handle_.get(); }

    // The CTAPHID channel; a new one is allocated by the next exchange while pending.
    const std::array<uint8_t, 4>& channel() const { return channel_; }
    bool channelPending() const { return channelPending_; }
    void setChannel(const std::array<uint8_t, 4>& channel) {
        channel_ = channel;
        channelPending_ = false;
    }
    // The next exchange starts with CTAPHID_INIT.
    void resetChannel() { channelPending_ = true; }

    // Held for the length of one exchange.
    std::mutex& exchangeMutex() { return exchangeMutex_; }

  private:
    DeviceRecord device_;
    std::unique_ptr<HidHandle> handle_;
    Clock& clock_;
    std::array<uint8_t, 4> channel_ = {0, 0, 0, 0};
    bool channelPending_ = true;
    std::mutex exchangeMutex_;
};

// Opens a session on records[index] of an enumeration (the session takes the handle);
// null when there is no such record.
std::unique_ptr<DeviceSession> openSession(DeviceList& list, size_t index, Clock& clock);

}  // namespace orvanta
