// --all-keys as a benchmark: the hardware page of 1, 4 and 16 virtual keys refreshed at
// once, each key on its own thread and session, on a link that spends 1 ms per report. Each
// key's link time runs on a timeline of its own (KeyClocks), as real keys' links do side by
// side; the run costs its longest timeline plus the real time of all the inspector's work
// (threads included).

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "cli/fleet.h"
#include "info/device_refresh.h"
#include "sim/virtual_backend.h"
#include "transport/clock.h"

namespace orvanta::bench {
namespace {

constexpr uint32_t LINK_MS_PER_REPORT = 1;

void AllKeysRefreshOverLink(benchmark::State& state) {
    const size_t count = static_cast<size_t>(state.range(0));
    ManualClock manual(1000);
    cli::KeyClocks clocks(manual);
    auto backend = std::make_shared<VirtualBackend>(clocks);
    for (size_t i = 0; i < count; ++i) {
        backend->addDevice("full").setLinkDelay(LINK_MS_PER_REPORT);
    }
    DeviceChoice choice;
    choice.kind = DeviceChoice::Kind::Virtual;

    uint64_t clockMs = 0;
    double wallMs = 0;
    size_t rows = 0;
    for (auto _ : state) {
        const uint32_t start = manual.tickCount();
        const auto wallStart = std::chrono::steady_clock::now();
        const std::vector<HidInterfaceInfo> keys = cli::fleetKeys(*backend, choice);
        clocks.start(keys.size());
        std::vector<size_t> keyRows(keys.size(), 0);
        std::vector<std::thread> threads;
        for (size_t i = 0; i < keys.size(); ++i) {
            threads.emplace_back([&, i] {
                clocks.enter(i);
                DeviceContext device(std::make_shared<cli::OneKeyBackend>(backend, keys[i]),
                                     clocks.forKey(i));
                device.setPreferredPath(keys[i].path);
                HardInfoPage hardware;
                Fido2CertPage fido2;
                U2fCertPage u2f;
                Pages pages{hardware, fido2, u2f};
                ShowDeviceInfo(device, pages, "", "");
                keyRows[i] = hardware.rowCount();
                clocks.leave();
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        clocks.finish();
        wallMs +=
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart)
                .count();
        clockMs += manual.tickCount() - start;
        rows = 0;
        for (size_t r : keyRows) {
            rows += r;
        }
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["keys"] = static_cast<double>(count);
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["link_ms"] = static_cast<double>(clockMs) / n;
    state.counters["total_ms"] = (static_cast<double>(clockMs) + wallMs) / n;
}

BENCHMARK(AllKeysRefreshOverLink)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orvanta::bench
