#pragma once
// Time as an interface, so every wait of the inspector (reply waits, the U2F retry loop,
// the pause after a device event) runs instantly in tests.

#include <cstdint>

namespace orvanta {

class Clock {
  public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary origin; wraps like a 32-bit tick counter.
    virtual uint32_t tickCount() = 0;
    virtual void sleep(uint32_t ms) = 0;
};

// The monotonic clock of the machine.
class SystemClock final : public Clock {
  public:
    uint32_t tickCount() override;
    void sleep(uint32_t ms) override;
};

// A clock that moves only when slept on or advanced by hand.
class ManualClock final : public Clock {
  public:
    explicit ManualClock(uint32_t start = 0) : now_(start) {}
    uint32_t tickCount() override { return now_; }
    void sleep(uint32_t ms) override { now_ += ms; }
    void advance(uint32_t ms) { now_ += ms; }

  private:
    uint32_t now_;
};

}  // namespace orvanta
