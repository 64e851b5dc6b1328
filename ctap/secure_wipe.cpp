#include "ctap/secure_wipe.h"

#include <openssl/crypto.h>

namespace orvanta {

void secureWipe(void* data, size_t length) {
    if (data != nullptr && length != 0) {
        OPENSSL_cleanse(data, length);
    }
}

void secureWipe(std::string& text) {
    if (!text.empty()) {
        OPENSSL_cleanse(text.data(), text.size());
    }
    text.clear();
}

}  // namespace orvanta
