#pragma once
// The one small interface through which every device I/O goes. Backends: hidapi (real
// keys through hidraw), virtual (the built-in virtual key of sim/), udp (firmware
// simulators), pcsc (keys as smart cards in PC/SC readers), and the scriptable fakes of the
// tests.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvanta {

// One HID top-level collection as the system lists it.
struct HidInterfaceInfo {
    std::string path;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t releaseNumber = 0;
    std::string productString;  // UTF-8
    uint16_t usagePage = 0;
    uint16_t usage = 0;
    // A firmware simulator: it has no USB release number; its device version is the one
    // its CTAPHID_INIT reply states.
    bool simulated = false;
    // A card in a PC/SC reader (the pcsc backend): reached through a reader, it has no USB
    // identity; its IDs and release number are 0 and productString names the reader.
    bool pcsc = false;
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
