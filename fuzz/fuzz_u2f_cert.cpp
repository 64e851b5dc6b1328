// The U2F certificate fetch against a key whose replies are the fuzzer's (the register
// APDU's answers, repeated while the key says it waits for a touch, and GET RESPONSE
// chaining), and the split and rows of a registration response with its certificate. The
// input holds the reply messages (2-byte length, then the reply).

#include <cstdlib>
#include <vector>

#include "cert/u2f_fetch.h"
#include "fuzz_session.h"
#include "support/scripted_prompts.h"

using namespace orvanta;
using namespace orvanta::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16384) {
        return 0;
    }
    test::ScriptedPrompts prompts;
    prompts.okCancelDefault = true;  // every fetch confirmed at once
    {
        // The input as a saved registration response.
        std::vector<uint8_t> saved(data, data + size);
        auto parts = parseU2fRegistration(saved);
        const uint8_t* end = saved.data() + saved.size();
        if (parts && (parts->certificate.data() + parts->certificate.size() > end ||
                      parts->signature.data() + parts->signature.size() > end)) {
            std::abort();  // a part that runs past the response
        }
        U2fCertPage page;
        showU2fRegistration(page, saved, U2F_CHALLENGE_PARAMETER, U2F_APPLICATION_PARAMETER,
                            prompts);
        page.clearCertificatePage();
    }
    {
        // The retry loop ends 10 s after the start; its last exchange may still take the
        // full exchange limit.
        FuzzSession session(Playback::Messages, data, size,
                            U2F_FETCH_TIMEOUT_MS + U2F_RETRY_PAUSE_MS + 2 * EXCHANGE_LIMIT_MS);
        U2fCertPage page;
        fetchU2fCertificate(session.session(), page, prompts);
        page.clearCertificatePage();
    }
    return 0;
}
