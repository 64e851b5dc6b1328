#pragma once
// A FIDO key reached as a smart card, presented as one FIDO HID collection: the bridge
// reassembles the CTAPHID messages the inspector writes, speaks ISO 7816 APDUs to the card
// and answers with CTAPHID packets. INIT, PING and the channel are answered here; a
// CTAPHID_MSG payload is an APDU sent as it is; a CTAPHID_CBOR payload goes in the NFC
// framing (NFCCTAP_MSG), and while the card waits for the user the bridge polls it and
// sends keepalives. The card is reached through a CardChannel, so all of this runs without
// a reader in the tests and under the fuzzer.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "transport/clock.h"
#include "transport/ctaphid_protocol.h"
#include "transport/hid_backend.h"

namespace orvanta {

// How one APDU exchange with the card went.
enum class CardFailure : uint8_t {
    None,
    Removed,  // the card (or its reader) is gone: nothing more will come from it
    Failed,   // this exchange failed; the card may answer the next one
};

struct CardReply {
    CardFailure failure = CardFailure::None;
    std::vector<uint8_t> bytes;  // the response data followed by the status word
};

// The link to one card: a command APDU in, its response out.
class CardChannel {
  public:
    virtual ~CardChannel() = default;
    virtual CardReply transmit(std::span<const uint8_t> apdu) = 0;
};

// Polls of a card that answered NFC_SW_KEEPALIVE: paced, and given up after the longest wait
// for a touch the inspector allows.
inline constexpr uint32_t NFC_POLL_INTERVAL_MS = 100;
inline constexpr uint32_t NFC_POLL_LIMIT_MS = 120000;
// An answer in 61xx pieces: at most this many GET RESPONSEs and CTAPHID_MAX_MESSAGE bytes.
inline constexpr uint32_t NFC_MAX_GET_RESPONSES = 64;

// The whole answer to one command APDU.
struct CardAnswer {
    enum class Outcome : uint8_t {
        Answered,
        Removed,
        Failed,     // the link failed
        Malformed,  // no status word, endless 61xx pieces, or more than a message can carry
    };
    Outcome outcome = Outcome::Failed;
    uint16_t status = 0;
    std::vector<uint8_t> data;
    bool answered() const { return outcome == Outcome::Answered; }
};

// Sends one APDU and collects its answer: 61xx pieces through GET RESPONSE, and a 6Cxx
// (wrong Le) once more with the length the card named.
CardAnswer transceiveApdu(CardChannel& card, std::span<const uint8_t> apdu);

// The APDUs that carry one CTAP2 message (command byte and CBOR): one short APDU up to 255
// bytes, else one extended APDU, or (shortOnly) a chain of short ones with CLA 0x90 but the
// last.
std::vector<std::vector<uint8_t>> nfcCtapApdus(std::span<const uint8_t> message, bool shortOnly);

class NfcBridge final : public HidHandle {
  public:
    NfcBridge(std::unique_ptr<CardChannel> card, Clock& clock);

    // Selects the FIDO application; false, with the reason, when the card has none, does
    // not answer or is gone. A card that names only U2F_V2 is asked for its
    // authenticatorGetInfo, so that the INIT reply can say whether it speaks CTAP2.
    bool open(std::string* error);
    // What the card answered to the SELECT (e.g. "U2F_V2" or "FIDO_2_0").
    const std::string& versionText() const { return version_; }
    bool ctap2() const { return ctap2_; }
    // The card went away: every read and write fails from now on.
    bool removed() const { return removed_; }

    int write(const uint8_t* report, size_t length) override;
    int read(uint8_t* report, size_t capacity, uint32_t timeoutMs) override;
    void flush() override { queue_.clear(); }
    size_t inputReportLength() const override { return REPORT_LENGTH; }
    size_t outputReportLength() const override { return REPORT_LENGTH; }

  private:
    static constexpr size_t REPORT_LENGTH = 1 + CTAPHID_PACKET_SIZE;
    using Report = std::vector<uint8_t>;

    struct Message {
        uint32_t cid = 0;
        uint8_t command = 0;
        std::vector<uint8_t> payload;
    };
    struct Assembly {
        Message message;
        uint16_t length = 0;
        uint8_t nextSequence = 0;
    };
    struct Poll {
        uint32_t cid = 0;
        uint32_t started = 0;
        uint32_t last = 0;
    };

    void initPacket(uint32_t cid, std::span<const uint8_t, CTAPHID_PACKET_SIZE> packet);
    void continuationPacket(uint32_t cid, std::span<const uint8_t, CTAPHID_PACKET_SIZE> packet);
    void accept(Message message);
    bool knownChannel(uint32_t cid) const;

    // Card work; false when the read that asked for it must fail.
    bool process(Message message);
    bool processApdu(const Message& message);
    bool processCbor(const Message& message);
    bool pollStep(uint32_t timeoutMs);
    bool finishCtap(uint32_t cid, const CardAnswer& answer);
    CardAnswer sendCtap(std::span<const uint8_t> message);
    CardAnswer selectFido();
    CardAnswer transceive(std::span<const uint8_t> apdu);
    void cancelPoll();

    void queueMessage(uint32_t cid, uint8_t command, std::span<const uint8_t> payload);
    void queueError(uint32_t cid, uint8_t code);
    void queueKeepalive(uint32_t cid, uint8_t status);

    std::unique_ptr<CardChannel> card_;
    Clock& clock_;
    std::string version_;
    bool ctap2_ = false;
    bool removed_ = false;
    // Whether the FIDO application is the card's selected one; other applets' SELECTs and
    // failed exchanges leave it unknown, and the next CTAP command selects it again.
    bool fidoSelected_ = false;
    // The card refused an extended APDU: CTAP messages go as chains of short ones.
    bool shortOnly_ = false;
    uint32_t nextChannel_;
    std::optional<Assembly> assembly_;
    std::optional<Message> pending_;  // a complete request that needs the card
    std::optional<Poll> poll_;        // a CTAP command the card is still working on
    std::deque<Report> queue_;        // input reports for the inspector
};

}  // namespace orvanta
