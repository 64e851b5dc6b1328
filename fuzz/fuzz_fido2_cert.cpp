// The FIDO2 certificate fetch against a key whose replies are the fuzzer's: the SELECT
// reply, the PIN steps when the first byte says the key has a PIN, and the
// authenticatorMakeCredential reply with its attestation statement and certificates. The
// input after the first byte holds the reply messages (2-byte length, then the reply).
// The decoding of a saved reply (the command line's offline path) runs on the same bytes.

#include <cstdlib>
#include <vector>

#include "cert/fido2_fetch.h"
#include "fuzz_session.h"
#include "info/getinfo_rows.h"
#include "support/scripted_prompts.h"

using namespace orvanta;
using namespace orvanta::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 16384) {
        return 0;
    }
    // A user who answers at once: OK to every question, the same PIN to every request.
    test::ScriptedPrompts prompts;
    prompts.okCancelDefault = true;
    prompts.pinDefault = "123456";
    {
        // The last message's CBOR (after its status byte) as a saved reply.
        std::vector<uint8_t> saved(data + 1, data + size);
        Fido2CertPage page;
        showMakeCredentialResult(
            page,
            CborSpan{saved.empty() ? nullptr : saved.data(), static_cast<uint32_t>(saved.size())},
            FIDO2_CLIENT_DATA_HASH, prompts);
        page.clearCertificatePage();
    }

    const bool clientPinSet = (data[0] & 1) != 0;
    {
        // SELECT, two PIN exchanges and the registration: each bounded.
        FuzzSession session(Playback::Messages, data + 1, size - 1, 4 * EXCHANGE_LIMIT_MS);
        Fido2CertPage page;
        fetchFido2Certificates(session.session(), clientPinSet, page, prompts);
        page.clearCertificatePage();
    }
    return 0;
}
