#pragma once
// The `pcsc` backend: keys on NFC readers and CCID interfaces, reached through the PC/SC
// service (pcsc-lite's pcscd). Each reader with a card is listed as one FIDO collection
// (usage page 0xF1D0, usage 1) whose path reads "pcsc:<reader>" and whose product string
// is the reader's name; it has no USB identity, so its IDs and release number are 0.
// Opening it connects to the card and selects the FIDO application; the link speaks ISO 7816
// APDUs to it (see pcsc_link.h).

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "transport/key_source.h"
#include "transport/pcsc_link.h"

namespace orvanta {

inline constexpr const char* PCSC_PATH_PREFIX = "pcsc:";
// How long a card may take to answer one command. A card that waits for a touch answers at
// once that it waits (and is polled), so no answer needs longer; one that does not answer
// within it is given up, and nothing more is sent to it.
inline constexpr uint32_t PCSC_REPLY_LIMIT_MS = 5000;

// One reader as the service lists it.
struct PcscReader {
    std::string name;
    bool cardPresent = false;
    std::vector<uint8_t> atr;  // the card's answer to reset, when one is present
};

// "3B 8A 80 01 ...": an ATR as readers and lists show it.
std::string atrText(const std::vector<uint8_t>& atr);

class PcscBackend final : public KeySource {
  public:
    // Lists every reader, or (readerName not empty) only the one of that name. Each exchange
    // with a card it opens waits at most replyLimitMs, and no longer than until stop (when
    // given) is set.
    explicit PcscBackend(std::string readerName = {}, uint32_t replyLimitMs = PCSC_REPLY_LIMIT_MS,
                         const std::atomic<bool>* stop = nullptr);
    ~PcscBackend() override;
    PcscBackend(const PcscBackend&) = delete;
    PcscBackend& operator=(const PcscBackend&) = delete;

    const std::string& readerName() const { return readerName_; }
    // Every reader of the service (or the one asked for), with its card. Empty, with the
    // reason in *error, when the service cannot be reached.
    std::vector<PcscReader> readers(std::string* error);

    std::vector<HidInterfaceInfo> enumerate() override;
    // Connects to the card of the reader the path names and selects its FIDO application;
    // null, with the reason, when there is no card, no FIDO application or no service.
    std::unique_ptr<CtapLink> open(const std::string& path, std::string* error) override;
    // The same, as the card's own link: what its SELECT answer said is asked of it.
    std::unique_ptr<PcscLink> openCard(const std::string& path, std::string* error);
    // The service unreachable, no reader (of the name asked for), or no card in any.
    std::optional<NoKeysReason> whyNoKeys() override;
    // Why the last enumeration could not ask the service; empty when it could.
    const std::string& serviceError() const { return serviceError_; }

  private:
    struct Context;
    std::shared_ptr<Context> context(std::string* error);

    std::string readerName_;
    uint32_t replyLimitMs_;
    const std::atomic<bool>* stop_;
    std::shared_ptr<Context> context_;  // for the listing; each card has its own
    std::string serviceError_;
};

}  // namespace orvanta
