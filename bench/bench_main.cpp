// Runs the benchmarks and ends with a summary in Markdown: the measured times and the two
// ratios the targets are about.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

struct Result {
    double ns = 0;  // real time per iteration
    std::map<std::string, double> counters;
};

// The console output as usual, and every run kept for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.iterations == 0) {
                continue;
            }
            Result r;
            r.ns = run.real_accumulated_time * 1e9 / static_cast<double>(run.iterations);
            for (const auto& [name, counter] : run.counters) {
                r.counters[name] = counter.value;
            }
            results[run.benchmark_name()] = r;
        }
    }
    std::map<std::string, Result> results;
};

void getInfoRow(const SummaryReporter& reporter, const char* label, const std::string& arg) {
    auto display = reporter.results.find("GetInfoDisplay/" + arg);
    auto libcbor = reporter.results.find("LibcborFullDecode/" + arg);
    if (display == reporter.results.end() || libcbor == reporter.results.end()) {
        return;
    }
    std::printf(
        "| getInfo display, %s (%.0f bytes, %.0f rows) | %.2f us | libcbor full decode "
        "%.2f us | %.1fx faster | >= 3x |\n",
        label, display->second.counters.at("bytes"), display->second.counters.at("rows"),
        display->second.ns / 1000, libcbor->second.ns / 1000,
        libcbor->second.ns / display->second.ns);
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

    std::printf("\n| measurement | result | reference | ratio | target |\n");
    std::printf("|---|---|---|---|---|\n");
    getInfoRow(reporter, "virtual key's full reply", "0");
    getInfoRow(reporter, "4 KB reply", "1");
    auto refresh = reporter.results.find("DeviceRefreshOverLink");
    if (refresh != reporter.results.end()) {
        const auto& c = refresh->second.counters;
        std::printf(
            "| device refresh over the virtual key, 1 ms per report (%.0f reports, %.0f "
            "rows) | %.2f ms (%.0f ms link + %.2f ms work) | link floor %.0f ms | %.3fx "
            "the floor | <= 1.1x |\n",
            c.at("reports"), c.at("rows"), c.at("total_ms"), c.at("link_ms"),
            c.at("total_ms") - c.at("link_ms"), c.at("floor_ms"), c.at("ratio"));
    }
    return 0;
}
