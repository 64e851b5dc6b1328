#pragma once
// The small interface of HID report I/O, under the CTAPHID link. Backends: hidapi (real keys
// through hidraw), virtual (the built-in virtual key of sim/), udp (firmware simulators), and
// the scriptable fakes of the tests. Keys of other transports (cards in PC/SC readers) are
// listed in the same form but reached through their own link (see key_source.h).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvanta {

// How a key is reached. What that means for the pages is asked through the queries of the
// listing, so that nothing above transport/ needs to know the kinds.
enum class TransportKind : uint8_t {
    Usb,        // a HID collection of the system (hidraw)
    Virtual,    // the built-in virtual key
    Simulator,  // a firmware simulator over UDP
    Card,       // a card in a PC/SC reader (NFC, or a CCID interface)
};

// A key reached through a card reader has no USB vendor ID, product ID or release number.
constexpr bool hasUsbIdentity(TransportKind kind) {
    return kind != TransportKind::Card;
}
// A firmware simulator has no USB release number: its CTAPHID device version stands in. It
// is also reached over a datagram socket, which opens whether or not anything listens, so
// it counts as attached only once it answers.
constexpr bool isSimulator(TransportKind kind) {
    return kind == TransportKind::Simulator;
}

// One HID top-level collection (or a card) as the system lists it.
struct HidInterfaceInfo {
    std::string path;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t releaseNumber = 0;
    std::string productString;  // UTF-8
    uint16_t usagePage = 0;
    uint16_t usage = 0;
    // A card's IDs and release number are 0 and its productString names the reader.
    TransportKind transport = TransportKind::Usb;
    // Where the key is, in a few words for a chooser ("virtual 2 (pin)", "UDP"); else empty.
    std::string placeLabel;

    bool hasUsbIdentity() const { return orvanta::hasUsbIdentity(transport); }
    bool simulator() const { return isSimulator(transport); }
};

// An open collection. Reports always carry the report ID byte at offset 0, in both
// directions; the lengths below include it (65 for a FIDO key).
class HidHandle {
  public:
    virtual ~HidHandle() = default;
    // Writes one output report; returns the number of bytes the system took, or -1.
    virtual int write(const uint8_t* report, size_t length) = 0;
    // Waits at most timeoutMs for one input report; returns its length (report ID byte
    // included), 0 when none came in time, or -1 on failure.
    virtual int read(uint8_t* report, size_t capacity, uint32_t timeoutMs) = 0;
    // Drops every input report already queued.
    virtual void flush() = 0;
    virtual size_t inputReportLength() const = 0;
    virtual size_t outputReportLength() const = 0;
    // Advisory exclusive lock for the length of one exchange, so other programs using the
    // same key never interleave their messages with ours. Default: nothing to lock.
    virtual bool lockExclusive() { return true; }
    virtual void unlock() {}
};

class HidBackend {
  public:
    virtual ~HidBackend() = default;
    // Every present HID collection, in the system's order.
    virtual std::vector<HidInterfaceInfo> enumerate() = 0;
    // Opens one collection for reading and writing; on failure returns null and, when
    // error is given, says why (for instance "permission denied").
    virtual std::unique_ptr<HidHandle> open(const std::string& path, std::string* error) = 0;
};

}  // namespace orvanta
