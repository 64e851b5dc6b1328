#pragma once
// One fuzzing run: a FuzzHidBackend built from the input on a ManualClock, a session on the
// fuzz key, and on destruction the check that the run ended within the clock time the
// caller allows.

#include <cstdio>
#include <cstdlib>

#include "fuzz_hid.h"
#include "info/device_context.h"
#include "transport/clock.h"
#include "transport/exchange.h"
#include "transport/hid_link.h"

namespace orvanta::fuzz {

class FuzzSession {
  public:
    FuzzSession(Playback playback, const uint8_t* data, size_t size, uint32_t clockLimitMs,
                bool autoInit = true)
        : backend_(std::make_shared<FuzzHidBackend>(playback, data, size, clock_, autoInit)),
          devices_(backend_, clock_),
          limit_(clockLimitMs) {
        devices_.enumerate();
        devices_.select(0, 0);
        start_ = clock_.tickCount();
    }
    ~FuzzSession() {
        const uint32_t spent = clock_.tickCount() - start_;
        devices_.close();
        // A run that outlasts its bound is a hang on a real device: report it as a crash.
        if (spent > limit_) {
            std::fprintf(stderr, "exchange took %u ms of clock time (limit %u)\n", spent, limit_);
            std::abort();
        }
    }
    FuzzSession(const FuzzSession&) = delete;
    FuzzSession& operator=(const FuzzSession&) = delete;

    FuzzDevice& device() { return backend_->device(); }
    ManualClock& clock() { return clock_; }
    DeviceContext& devices() { return devices_; }
    DeviceSession& session() { return devices_.session(); }

  private:
    ManualClock clock_{5000};
    std::shared_ptr<FuzzHidBackend> backend_;
    DeviceContext devices_;
    uint32_t limit_;
    uint32_t start_ = 0;
};

}  // namespace orvanta::fuzz
