// getInfo decode and display (the rows of the hardware page) against a full decode of the
// same bytes with libcbor, in the same run.

#include <benchmark/benchmark.h>
#include <cbor.h>

#include "getinfo_replies.h"
#include "info/getinfo_rows.h"
#include "info/page_model.h"

namespace orvanta::bench {
namespace {

const std::vector<uint8_t>& reply(int which) {
    static const std::vector<uint8_t> full = fullGetInfo();
    static const std::vector<uint8_t> large = largeGetInfo();
    return which == 0 ? full : large;
}

void GetInfoDisplay(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = reply(static_cast<int>(state.range(0)));
    HardInfoPage page;
    for (auto _ : state) {
        page.deleteAllRows();
        appendGetInfoRowsFromReply(CborSpan{bytes.data(), static_cast<uint32_t>(bytes.size())},
                                   [&page](const std::string& label, std::string value) {
                                       page.AppendRow(label, std::move(value));
                                   });
        benchmark::DoNotOptimize(page.rows().data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
    state.counters["rows"] = static_cast<double>(page.rowCount());
    state.counters["bytes"] = static_cast<double>(bytes.size());
}

// The same decode and row texts, handed to a sink that keeps nothing: how much of the
// display is decoding and formatting, and how much is storing rows in the page.
void GetInfoRowsOnly(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = reply(static_cast<int>(state.range(0)));
    size_t characters = 0;
    for (auto _ : state) {
        appendGetInfoRowsFromReply(
            CborSpan{bytes.data(), static_cast<uint32_t>(bytes.size())},
            [&characters](const std::string& label, const std::string& value) {
                characters += label.size() + value.size();
            });
        benchmark::DoNotOptimize(characters);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void LibcborFullDecode(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = reply(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        cbor_load_result result;
        cbor_item_t* item = cbor_load(bytes.data(), bytes.size(), &result);
        if (item == nullptr || result.error.code != CBOR_ERR_NONE) {
            state.SkipWithError("libcbor could not decode the reply");
            break;
        }
        benchmark::DoNotOptimize(item);
        cbor_decref(&item);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
    state.counters["bytes"] = static_cast<double>(bytes.size());
}

// Argument 0: the virtual key's full reply; 1: the 4 KB reply.
BENCHMARK(GetInfoDisplay)->Arg(0)->Arg(1);
BENCHMARK(GetInfoRowsOnly)->Arg(0)->Arg(1);
BENCHMARK(LibcborFullDecode)->Arg(0)->Arg(1);

}  // namespace
}  // namespace orvanta::bench
