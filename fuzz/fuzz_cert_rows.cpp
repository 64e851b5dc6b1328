// Certificate rows from arbitrary DER, as a certificate file or a key's reply delivers it.

#include <vector>

#include "cert/certificate_details.h"

using namespace orvanta;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 8192) {
        return 0;
    }
    std::vector<uint8_t> der(data, data + size);
    std::vector<Row> rows;
    certificateRows(der.data(), der.size(), rows);
    if (size >= 2) {
        // The transports extension text on its own.
        transportsText(der.data(), der.size());
    }
    return 0;
}
