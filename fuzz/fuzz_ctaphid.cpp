// CTAPHID reassembly: the fuzzer's input is played back as the key's input reports, after
// an automatic (or, by the first byte, fuzzed) INIT reply. Each exchange must end with a
// result within the bounded waits of the transport, and never outgrow the reply buffer.

#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_session.h"
#include "transport/exchange.h"

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

    // A CBOR request: a reply is never longer than the reply buffer.
    const uint8_t getInfo[1] = {0x04};
    Result<CborReply> reply = sendCbor(session.session(), getInfo);
    if (reply && reply->data.size() + 1 > REPLY_BUFFER_SIZE) {
        std::abort();
    }

    // An APDU exchange of several request packets.
    std::vector<uint8_t> apdu(200, 0xA5);
    Result<ApduReply> answer = sendApdu(session.session(), apdu);
    if (answer && answer->data.size() + 2 > REPLY_BUFFER_SIZE) {
        std::abort();
    }
    return 0;
}
