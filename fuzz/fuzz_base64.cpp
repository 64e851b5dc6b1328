// The lenient Base64 decoder on arbitrary text, the strict one beside it, and the round trip
// of the encoders.

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/base64.h"

using namespace orvanta;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16384) {
        return 0;
    }
    // Exactly the input's characters, no terminating zero: the decoder must honour the
    // character limit.
    std::vector<char> text(data, data + size);
    const size_t limit = size == 0 ? 0 : data[0] % (size + 1);
    std::vector<uint8_t> decoded = base64Decode(text.data(), limit);
    if (decoded.size() > limit) {
        std::abort();
    }
    decoded = base64Decode(text.data(), size);
    // A text the strict decoder takes in the standard alphabet reads the same leniently.
    const std::string_view whole(text.data(), size);
    if (std::optional<std::vector<uint8_t>> strict = base64DecodeStrict(whole)) {
        if (whole.find_first_of("-_") == std::string_view::npos && *strict != decoded) {
            std::abort();
        }
    }

    // Whatever came out encodes and decodes back to itself.
    const std::string encoded = base64Encode(decoded);
    if (encoded.size() != base64EncodedLength(decoded.size())) {
        std::abort();
    }
    if (base64Decode(encoded) != decoded || base64DecodeStrict(encoded) != decoded) {
        std::abort();
    }
    // The bounded encoder: fits exactly, or writes an empty text.
    std::vector<char> out(encoded.size() + 1, 'x');
    if (base64Encode(decoded.data(), decoded.size(), out.data(), out.size()) != encoded.size() ||
        std::memcmp(out.data(), encoded.c_str(), encoded.size() + 1) != 0) {
        std::abort();
    }
    if (!encoded.empty() &&
        base64Encode(decoded.data(), decoded.size(), out.data(), encoded.size()) != 0) {
        std::abort();
    }
    return 0;
}
