#include "transport/clock.h"

#include <chrono>
#include <thread>

namespace orvanta {

uint32_t SystemClock::tickCount() {
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void SystemClock::sleep(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace orvanta
