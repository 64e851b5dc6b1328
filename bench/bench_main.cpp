// Runs the benchmarks and ends with a summary in Markdown: the measured times and the two
// ratios the targets are about. Times are the least CPU time per iteration over the
// repetitions (--benchmark_repetitions), which other load on the machine can only raise.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

struct Result {
    double cpuNs = 0;  // least CPU time per iteration
    std::map<std::string, double> counters;
};

// The console output as usual, and every run kept for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.iterations == 0 || run.run_type != Run::RT_Iteration) {
                continue;
            }
            const double cpuNs =
                run.cpu_accumulated_time * 1e9 / static_cast<double>(run.iterations);
            Result& r = results[run.run_name.str()];
            if (r.cpuNs == 0 || cpuNs < r.cpuNs) {
                r.cpuNs = cpuNs;
                r.counters.clear();
                for (const auto& [name, counter] : run.counters) {
                    r.counters[name] = counter.value;
                }
            }
        }
    }
    std::map<std::string, Result> results;
};

double counter(const Result& r, const char* name) {
    auto it = r.counters.find(name);
    return it == r.counters.end() ? 0 : it->second;
}

void getInfoRow(const SummaryReporter& reporter, const char* label, const std::string& arg) {
    auto display = reporter.results.find("GetInfoDisplay/" + arg);
    auto libcbor = reporter.results.find("LibcborFullDecode/" + arg);
    if (display == reporter.results.end() || libcbor == reporter.results.end()) {
        return;
    }
    const double ratio = libcbor->second.cpuNs / display->second.cpuNs;
    std::printf(
        "| getInfo decode and display, %s (%.0f bytes, %.0f rows) | %.2f us | libcbor full "
        "decode of the same bytes: %.2f us | %.1fx faster | at least 2x faster | %s |\n",
        label, counter(display->second, "bytes"), counter(display->second, "rows"),
        display->second.cpuNs / 1000, libcbor->second.cpuNs / 1000, ratio,
        ratio >= 2 ? "met" : "NOT met");
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n| measurement | result | reference | ratio | target | status |\n");
    std::printf("|---|---|---|---|---|---|\n");
    getInfoRow(reporter, "the virtual key's full reply", "0");
    getInfoRow(reporter, "a 4 KB reply", "1");
    auto refresh = reporter.results.find("DeviceRefreshOverLink");
    if (refresh != reporter.results.end()) {
        const Result& r = refresh->second;
        const double ratio = counter(r, "ratio");
        std::printf(
            "| device refresh over the virtual key, 1 ms per report (%.0f reports, %.0f "
            "rows) | %.2f ms (%.0f ms on the link + %.3f ms of work) | link floor: %.0f ms | "
            "%.3fx the floor | within 1.1x the floor | %s |\n",
            counter(r, "reports"), counter(r, "rows"), counter(r, "total_ms"),
            counter(r, "link_ms"), counter(r, "total_ms") - counter(r, "link_ms"),
            counter(r, "floor_ms"), ratio, ratio <= 1.1 ? "met" : "NOT met");
    }
    // All keys at once against one key: the lowest total per run of each count.
    auto fleet = [&](int keys) -> const Result* {
        auto it = reporter.results.find("AllKeysRefreshOverLink/" + std::to_string(keys));
        return it == reporter.results.end() ? nullptr : &it->second;
    };
    if (const Result* one = fleet(1)) {
        const double single = counter(*one, "total_ms");
        for (int keys : {1, 4, 16}) {
            const Result* r = fleet(keys);
            if (r == nullptr || single <= 0) {
                continue;
            }
            const double ratio = counter(*r, "total_ms") / single;
            std::printf(
                "| --all-keys refresh of %d virtual key%s, 1 ms per report, each on its own "
                "thread | %.2f ms (%.0f ms on the longest link + %.3f ms of work) | one key: "
                "%.2f ms | %.3fx one key | %s | %s |\n",
                keys, keys == 1 ? "" : "s", counter(*r, "total_ms"), counter(*r, "link_ms"),
                counter(*r, "total_ms") - counter(*r, "link_ms"), single, ratio,
                keys == 16 ? "at most 1.2x one key" : "-",
                keys == 16 ? (ratio <= 1.2 ? "met" : "NOT met") : "measured");
        }
    }
    return 0;
}
