// --all-keys as a benchmark: the hardware page of 1, 4 and 16 virtual keys refreshed at
// once, each key on its own thread and session, on a link that spends 1 ms per report. Each
// key's link time runs on a timeline of its own (a manual clock per key, with a backend
// that waits on it), as real keys' links do side by side; the run costs its longest timeline plus
// the real time of all the inspector's work (threads included).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "cli/fleet.h"
#include "info/device_refresh.h"
#include "sim/virtual_backend.h"
#include "transport/clock.h"
#include "transport/key_source.h"

namespace orvanta::bench {
namespace {

constexpr uint32_t LINK_MS_PER_REPORT = 1;

void AllKeysRefreshOverLink(benchmark::State& state) {
    const size_t count = static_cast<size_t>(state.range(0));
    // One clock and backend per key, as --all-keys makes them.
    std::vector<std::unique_ptr<ManualClock>> clocks;
    std::vector<std::shared_ptr<KeySource>> sources;
    for (size_t i = 0; i < count; ++i) {
        clocks.push_back(std::make_unique<ManualClock>(1000));
        auto backend = std::make_shared<VirtualBackend>(*clocks.back());
        backend->addDevice("full").setLinkDelay(LINK_MS_PER_REPORT);
        sources.push_back(hidKeys(std::move(backend)));
    }

    uint64_t clockMs = 0;
    double wallMs = 0;
    size_t rows = 0;
    for (auto _ : state) {
        const auto wallStart = std::chrono::steady_clock::now();
        std::vector<size_t> keyRows(count, 0);
        std::vector<uint32_t> keyMs(count, 0);
        std::vector<std::thread> threads;
        for (size_t i = 0; i < count; ++i) {
            threads.emplace_back([&, i] {
                ManualClock& clock = *clocks[i];
                const uint32_t start = clock.tickCount();
                const HidInterfaceInfo key = sources[i]->enumerate().at(0);
                DeviceContext device(std::make_shared<cli::OneKeyBackend>(sources[i], key), clock);
                device.setPreferredPath(key.path);
                HardInfoPage hardware;
                Fido2CertPage fido2;
                U2fCertPage u2f;
                Pages pages{hardware, fido2, u2f};
                ShowDeviceInfo(device, pages, "", "");
                keyRows[i] = hardware.rowCount();
                keyMs[i] = clock.tickCount() - start;
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        wallMs +=
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart)
                .count();
        // Side by side, the run lasts as long as its longest key.
        clockMs += *std::max_element(keyMs.begin(), keyMs.end());
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
