#pragma once
// The `pcsc` backend: keys on NFC readers and CCID interfaces, reached through the PC/SC
// service (pcsc-lite's pcscd). Each reader with a card is listed as one FIDO collection
// (usage page 0xF1D0, usage 1) whose path reads "pcsc:<reader>" and whose product string
// is the reader's name; it has no USB identity, so its IDs and release number are 0.
// Opening it connects to the card and selects the FIDO application; the handle is an
// NfcBridge, so the inspector speaks CTAPHID to it as to any key.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "transport/clock.h"
#include "transport/hid_backend.h"

namespace orvanta {

inline constexpr const char* PCSC_PATH_PREFIX = "pcsc:";

// One reader as the service lists it.
struct PcscReader {
    std::string name;
    bool cardPresent = false;
    std::vector<uint8_t> atr;  // the card's answer to reset, when one is present
};

// "3B 8A 80 01 ...": an ATR as readers and lists show it.
std::string atrText(const std::vector<uint8_t>& atr);

class PcscBackend final : public HidBackend {
  public:
    // Lists every reader, or (readerName not empty) only the one of that name. Waits of the
    // handles' NFC framing run on the clock.
    explicit PcscBackend(Clock& clock, std::string readerName = {});
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
    std::unique_ptr<HidHandle> open(const std::string& path, std::string* error) override;
    // Why the last enumeration could not ask the service; empty when it could.
    const std::string& serviceError() const { return serviceError_; }

  private:
    struct Context;
    std::shared_ptr<Context> context(std::string* error);

    Clock& clock_;
    std::string readerName_;
    std::shared_ptr<Context> context_;
    std::string serviceError_;
};

// The keys of another backend (USB or virtual) followed by the cards of the PC/SC service:
// what the window lists by default. Paths with the "pcsc:" prefix open as cards, the rest
// through the other backend. Where no service runs the list is the other backend's alone;
// asking costs no wait (the client library finds no socket and says so at once).
class WithCardsBackend final : public HidBackend {
  public:
    WithCardsBackend(std::shared_ptr<HidBackend> keys, std::shared_ptr<PcscBackend> cards);

    std::vector<HidInterfaceInfo> enumerate() override;
    std::unique_ptr<HidHandle> open(const std::string& path, std::string* error) override;

    HidBackend& keys() { return *keys_; }
    PcscBackend& cards() { return *cards_; }

  private:
    std::shared_ptr<HidBackend> keys_;
    std::shared_ptr<PcscBackend> cards_;
};

}  // namespace orvanta
