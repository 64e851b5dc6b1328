#pragma once
// Finding the attached keys: an enumeration is a value that owns the links it opened until
// a session takes one of them.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "transport/ctap_link.h"
#include "transport/key_source.h"

namespace orvanta {

inline constexpr uint16_t FIDO_USAGE_PAGE = 0xF1D0;

// One key. The link is a view: the owning link lives in the DeviceList (or in the session
// that took it), so a copy never closes it.
struct DeviceRecord {
    uint32_t vendorId = 0;
    uint32_t productId = 0;
    std::string productName;  // UTF-8, at most 63 characters
    std::string versionText;  // release number as "%04X"
    uint16_t usagePage = 0;
    uint16_t usage = 0;
    TransportKind transport = TransportKind::Usb;
    std::string placeLabel;  // see HidInterfaceInfo::placeLabel
    CtapLink* link = nullptr;
    std::string path;

    bool hasUsbIdentity() const { return orvanta::hasUsbIdentity(transport); }
    bool simulator() const { return isSimulator(transport); }
    // Present: both IDs non-zero (a key without USB identity has none) and the link open.
    bool present() const {
        return (!hasUsbIdentity() || (vendorId != 0 && productId != 0)) && link != nullptr;
    }
};

// A collection the system lists but that could not be opened (usually missing udev
// permissions on /dev/hidraw*), kept so the front ends can say so.
struct OpenFailure {
    HidInterfaceInfo info;
    std::string reason;
};

// Accepted-device table: vendor 0x1050 and 0x1209 with any product, 0x0483 only with 0xA2CA.
bool isAcceptedDevice(uint32_t vendorId, uint32_t productId);

// What one enumeration found. Movable, not copyable: it owns the open links of the accepted
// keys, and each closes exactly once (here, or in the session that took it).
class DeviceList {
  public:
    DeviceList() = default;
    DeviceList(DeviceList&&) = default;
    DeviceList& operator=(DeviceList&&) = default;
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;

    // Accepted collections that could be opened, in the system's order.
    std::vector<DeviceRecord> records;
    // Collections of any kind that could be opened.
    int32_t interfaceCount = 0;
    // Accepted FIDO collections that could not be opened.
    std::vector<OpenFailure> openFailures;
    // Every collection listed (accepted or not), for listings.
    std::vector<HidInterfaceInfo> listed;

    // Hands the link of records[index] over to the caller; the record keeps its view.
    std::unique_ptr<CtapLink> takeLink(size_t index);

  private:
    friend DeviceList enumerateDevices(KeySource& source, bool acceptAnyFido);
    std::vector<std::unique_ptr<CtapLink>> owned_;  // parallel to records
};

// Lists the source's keys and collections and opens each. acceptAnyFido: any collection with
// the FIDO usage page counts, beyond the accepted-device table.
DeviceList enumerateDevices(KeySource& source, bool acceptAnyFido = false);
// The same for the collections of a HID backend.
DeviceList enumerateDevices(HidBackend& backend, bool acceptAnyFido = false);

// The outcome of choosing a FIDO collection: 0 nothing, 1 one chosen, 2 several matched
// (the last is chosen). A vendor or product ID of 0 stands for any device.
struct Selection {
    int result = 0;
    std::optional<size_t> index;
};
Selection selectDevice(const DeviceList& list, uint32_t vendorId, uint32_t productId);

}  // namespace orvanta
