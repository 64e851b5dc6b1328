// The getInfo rows of the hardware page from an arbitrary authenticatorGetInfo reply.

#include <cstdlib>
#include <string>
#include <vector>

#include "ctap/cbor.h"
#include "info/getinfo_rows.h"

using namespace orvanta;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 8192) {
        return 0;
    }
    std::vector<uint8_t> bytes(data, data + size);
    CborSpan span{bytes.empty() ? nullptr : bytes.data(), static_cast<uint32_t>(bytes.size())};
    size_t rows = 0;
    size_t textBytes = 0;
    appendGetInfoRowsFromReply(span, [&](const std::string& label, const std::string& value) {
        ++rows;
        textBytes += label.size() + value.size();
    });
    // The first row always comes; the rest is bounded by what was received (a quadratic
    // blow-up of the text would show here long before it hurt a window).
    if (rows == 0 || textBytes > 64 * (size + 64) + 4096) {
        std::abort();
    }
    return 0;
}
