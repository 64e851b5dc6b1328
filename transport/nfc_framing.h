#pragma once
// The card side of a FIDO key reached as a smart card: one APDU and its whole answer (61xx
// pieces and a wrong Le mended), and the APDUs that carry a CTAP2 message in the NFC framing.
// The card is reached through a CardChannel, so all of this runs without a reader in the
// tests and under the fuzzer.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace orvanta {

// How one APDU exchange with the card went.
enum class CardFailure : uint8_t {
    None,
    Removed,    // the card (or its reader) is gone: nothing more will come from it
    Failed,     // this exchange failed; the card may answer the next one
    Silent,     // the card did not answer within its time: nothing more is sent to it
    Cancelled,  // the caller stopped waiting for the answer
};

struct CardReply {
    CardFailure failure = CardFailure::None;
    std::vector<uint8_t> bytes;  // the response data followed by the status word
};

// Asked while an exchange waits for the card: true ends the wait (CardFailure::Cancelled).
using CardCancel = std::function<bool()>;

// The link to one card: a command APDU in, its response out. A channel whose exchanges can
// wait (a card in a reader) ends the wait once cancelled says so; none waits without limit.
class CardChannel {
  public:
    virtual ~CardChannel() = default;
    virtual CardReply transmit(std::span<const uint8_t> apdu, const CardCancel& cancelled) = 0;
};

// Polls of a card that answered NFC_SW_KEEPALIVE are paced.
inline constexpr uint32_t NFC_POLL_INTERVAL_MS = 100;
// An answer in 61xx pieces: at most this many GET RESPONSEs and CTAPHID_MAX_MESSAGE bytes.
inline constexpr uint32_t NFC_MAX_GET_RESPONSES = 64;

// The whole answer to one command APDU.
struct CardAnswer {
    enum class Outcome : uint8_t {
        Answered,
        Removed,
        Failed,     // the link failed
        Malformed,  // no status word, endless 61xx pieces, or more than a message can carry
        Silent,     // the card stopped answering
        Cancelled,
    };
    Outcome outcome = Outcome::Failed;
    uint16_t status = 0;
    std::vector<uint8_t> data;
    bool answered() const { return outcome == Outcome::Answered; }
};

// Sends one APDU and collects its answer: 61xx pieces through GET RESPONSE, and a 6Cxx
// (wrong Le) once more with the length the card named.
CardAnswer transceiveApdu(CardChannel& card, std::span<const uint8_t> apdu,
                          const CardCancel& cancelled = {});

// The APDUs that carry one CTAP2 message (command byte and CBOR): one short APDU up to 255
// bytes, else one extended APDU, or (shortOnly) a chain of short ones with CLA 0x90 but the
// last.
std::vector<std::vector<uint8_t>> nfcCtapApdus(std::span<const uint8_t> message, bool shortOnly);

}  // namespace orvanta
