// A refresh of the hardware page over the virtual key on a link that spends 1 ms per
// report in either direction. The floor is what the reports alone cost on that link; the
// refresh's clock time beyond it is time the inspector waited for nothing.

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "info/device_refresh.h"
#include "sim/virtual_backend.h"
#include "transport/clock.h"

namespace orvanta::bench {
namespace {

constexpr uint32_t LINK_MS_PER_REPORT = 1;

void DeviceRefreshOverLink(benchmark::State& state) {
    ManualClock manual(1000);
    auto backend = std::make_shared<VirtualBackend>(manual);
    VirtualKey& key = backend->addDevice("full");
    key.setLinkDelay(LINK_MS_PER_REPORT);
    DeviceContext devices(backend, manual);
    HardInfoPage hardware;
    Fido2CertPage fido2;
    U2fCertPage u2f;
    Pages pages{hardware, fido2, u2f};

    uint64_t clockMs = 0;
    uint64_t floorMs = 0;
    double cpuMs = 0;
    for (auto _ : state) {
        const uint32_t reportsBefore = key.counters().reportsRead + key.counters().reportsWritten;
        const uint32_t start = manual.tickCount();
        const auto cpuStart = std::chrono::steady_clock::now();
        ShowDeviceInfo(devices, pages, "", "");
        cpuMs +=
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - cpuStart)
                .count();
        clockMs += manual.tickCount() - start;
        floorMs +=
            uint64_t{key.counters().reportsRead + key.counters().reportsWritten - reportsBefore} *
            LINK_MS_PER_REPORT;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["rows"] = hardware.rowCount();
    state.counters["reports"] = static_cast<double>(floorMs) / LINK_MS_PER_REPORT / n;
    state.counters["floor_ms"] = static_cast<double>(floorMs) / n;
    state.counters["link_ms"] = static_cast<double>(clockMs) / n;
    // The refresh as a user would wait for it: link time plus the inspector's own work.
    state.counters["total_ms"] = (static_cast<double>(clockMs) + cpuMs) / n;
    state.counters["ratio"] = (static_cast<double>(clockMs) + cpuMs) / static_cast<double>(floorMs);
}

BENCHMARK(DeviceRefreshOverLink)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace orvanta::bench
