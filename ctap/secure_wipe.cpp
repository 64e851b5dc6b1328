#include "ctap/secure_wipe.h"

#include <mbedtls/platform_util.h>

namespace orvanta {

void secureWipe(void* data, size_t length) {
    mbedtls_platform_zeroize(data, length);
}

void secureWipe(std::string& text) {
    if (!text.empty()) {
        mbedtls_platform_zeroize(text.data(), text.size());
    }
    text.clear();
}

}  // namespace orvanta
