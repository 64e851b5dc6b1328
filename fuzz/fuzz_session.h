#pragma once
// One fuzzing run against the program's device manager: installs a FuzzHidBackend built
// from the input and a ManualClock, selects the fuzz key, and on destruction checks that
// the run ended within the clock time the caller allows, then restores the program.

#include <cstdio>
#include <cstdlib>

#include "fuzz_hid.h"
#include "transport/clock.h"
#include "transport/ctaphid.h"
#include "transport/device_manager.h"

namespace orvanta::fuzz {

class FuzzSession {
  public:
    FuzzSession(Playback playback, const uint8_t* data, size_t size, uint32_t clockLimitMs,
                bool autoInit = true)
        : backend_(std::make_shared<FuzzHidBackend>(playback, data, size, autoInit)),
          limit_(clockLimitMs) {
        setClock(&clock_);
        deviceManager().setBackend(backend_);
        enumerateDevices(deviceManager());
        selectDevice(deviceManager(), 0, 0);
        transportReady = 1;
        start_ = clock_.tickCount();
    }
    ~FuzzSession() {
        const uint32_t spent = clock_.tickCount() - start_;
        transportReady = 0;
        deviceManager().closeAll();
        setClock(nullptr);
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

  private:
    std::shared_ptr<FuzzHidBackend> backend_;
    ManualClock clock_{5000};
    uint32_t limit_;
    uint32_t start_ = 0;
};

}  // namespace orvanta::fuzz
