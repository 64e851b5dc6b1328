// CTAPHID reassembly: the fuzzer's input is played back as the key's input reports, after
// an automatic (or, by the first byte, fuzzed) INIT reply. Each exchange must end with a
// result within the bounded waits of the transport, and never write past the reply buffer.

#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_session.h"
#include "transport/ctaphid.h"

using namespace orvanta;
using namespace orvanta::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 16384) {
        return 0;
    }
    const uint8_t mode = data[0];
    const Playback playback = (mode & 1) ? Playback::RawPackets : Playback::ChannelPackets;
    const bool autoInit = (mode & 2) == 0;
    // Two exchanges; each may wait REPORT_WAIT_MS per report and EXCHANGE_LIMIT_MS in all.
    FuzzSession session(playback, data + 1, size - 1, 2 * EXCHANGE_LIMIT_MS + 2000, autoInit);

    // A CBOR request whose reply goes into a buffer of exactly the advertised capacity.
    const uint8_t getInfo = 0x04;
    std::vector<uint8_t> reply(1200);
    uint32_t replyLength = static_cast<uint32_t>(reply.size());
    const uint16_t status = sendCbor(&getInfo, 1, reply.data(), &replyLength);
    if (status <= 0xFF && replyLength > reply.size()) {
        std::abort();
    }

    // An APDU exchange of several request packets, with a small reply buffer.
    std::vector<uint8_t> apdu(200, 0xA5);
    std::vector<uint8_t> small(64);
    uint32_t smallLength = static_cast<uint32_t>(small.size());
    const uint16_t sw =
        sendApdu(apdu.data(), static_cast<int32_t>(apdu.size()), small.data(), &smallLength);
    if (sw != TRANSPORT_FAILED && smallLength > small.size()) {
        std::abort();
    }
    return 0;
}
