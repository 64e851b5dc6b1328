// The command line's reading of files for the offline decoders: the text forms (PEM, hex,
// Base64 and Base64url) and the well-formedness check of CBOR read from a file.

#include <cstdlib>
#include <string>
#include <vector>

#include "cli/cbor_check.h"
#include "cli/input_file.h"

using namespace orvanta::cli;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) {
        return 0;
    }
    const Bytes raw(data, data + size);
    const Bytes decoded = decodeInput(raw);
    // No text form makes more bytes than it has characters.
    if (decoded.size() > raw.size()) {
        std::abort();
    }
    const std::string text(raw.begin(), raw.end());
    parseHex(text);
    parseBase64(text);
    for (const Bytes* bytes : {&raw, &decoded}) {
        const CborCheck check =
            checkCborItem(bytes->empty() ? nullptr : bytes->data(), bytes->size());
        if (check.ok && (check.itemLength == 0 || check.itemLength > bytes->size())) {
            std::abort();
        }
    }
    return 0;
}
