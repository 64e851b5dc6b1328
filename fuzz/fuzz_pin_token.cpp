// The PIN steps against a key whose replies are the fuzzer's: the getKeyAgreement reply
// (its COSE key) and the getPINToken reply (its encrypted token). The input holds the
// reply messages in order (2-byte length, then status byte and CBOR).

#include <cstdlib>
#include <cstring>

#include "ctap/pin_token.h"
#include "fuzz_session.h"
#include "support/scripted_prompts.h"

using namespace orvanta;
using namespace orvanta::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 8192) {
        return 0;
    }
    // The key agreement on its own, straight from the bytes after the first message's
    // length and status byte.
    if (size > 3) {
        std::vector<uint8_t> reply(data + 3, data + size);
        uint8_t secret[32];
        uint8_t x[32];
        uint8_t y[32];
        deriveSharedSecret(CborSpan{reply.data(), static_cast<uint32_t>(reply.size())}, secret, x,
                           y);
    }

    // Both exchanges: two bounded exchanges of clock time at most.
    FuzzSession session(Playback::Messages, data, size, 2 * EXCHANGE_LIMIT_MS + 2000);
    test::ScriptedPrompts prompts;
    prompts.pinDefault = "123456";  // typed at once, as often as asked
    PinToken token;
    const int result = obtainPinToken(session.session(), prompts, token);
    // A token comes only with success, and only at a length a key may choose.
    if (result == 0 ? token.size() < PIN_TOKEN_MIN_SIZE || token.size() > PIN_TOKEN_MAX_SIZE ||
                          token.size() % 16 != 0
                    : token.size() != 0) {
        std::abort();
    }
    return 0;
}
