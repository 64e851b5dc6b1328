// The lenient Base64 decoder on arbitrary text, and the round trip of the encoders.

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cert/base64.h"

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

    // Whatever came out encodes and decodes back to itself.
    const std::string encoded = base64Encode(decoded.data(), decoded.size());
    if (encoded.size() != base64EncodedLength(decoded.size())) {
        std::abort();
    }
    if (base64Decode(encoded.c_str(), encoded.size()) != decoded) {
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
