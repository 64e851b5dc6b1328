// A whole refresh of the hardware page against a key whose replies are the fuzzer's: the
// vendor version queries (APDUs) and authenticatorGetInfo, in the order the refresh asks.
// The input holds the reply messages (2-byte length, then the reply).

#include <cstdlib>

#include "fuzz_session.h"
#include "info/device_refresh.h"

using namespace orvanta;
using namespace orvanta::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16384) {
        return 0;
    }
    // At most a dozen exchanges, each bounded.
    FuzzSession session(Playback::Messages, data, size, 16 * (REPORT_WAIT_MS + 200));
    HardInfoPage hardware;
    Fido2CertPage fido2;
    U2fCertPage u2f;
    Pages pages{hardware, fido2, u2f};
    ShowDeviceInfo(session.devices(), pages, "", "");
    if (hardware.rowCount() < 4) {
        std::abort();  // the key's name, IDs and version always show
    }
    return 0;
}
