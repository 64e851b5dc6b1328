#pragma once
// Finding the FIDO collections of the attached keys: an enumeration is a value that owns
// the handles it opened until a session takes one of them.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "transport/hid_backend.h"

namespace orvanta {

inline constexpr uint16_t FIDO_USAGE_PAGE = 0xF1D0;

// One HID top-level collection. The handles are views: the owning handle lives in the
// DeviceList (or in the session that took it), so a copy never closes it. One handle
// serves as both the read and the write handle.
struct DeviceRecord {
    uint32_t vendorId = 0;
    uint32_t productId = 0;
    std::string productName;  // UTF-8, at most 63 characters
    std::string versionText;  // release number as "%04X"
    uint16_t usagePage = 0;
    uint16_t usage = 0;
    bool simulated = false;  // see HidInterfaceInfo::simulated
    bool pcsc = false;       // see HidInterfaceInfo::pcsc
    HidHandle* readHandle = nullptr;
    HidHandle* writeHandle = nullptr;
    std::string path;

    // Present: both IDs non-zero (a card in a reader has none) and both handles open.
    bool present() const {
        return (pcsc || (vendorId != 0 && productId != 0)) && readHandle != nullptr &&
               writeHandle != nullptr;
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

// What one enumeration found. Movable, not copyable: it owns the open handles of the
// accepted collections, and each closes exactly once (here, or in the session that took it).
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

    // Hands the handle of records[index] over to the caller; the record keeps its views.
    std::unique_ptr<HidHandle> takeHandle(size_t index);

  private:
    friend DeviceList enumerateDevices(HidBackend& backend, bool acceptAnyFido);
    std::vector<std::unique_ptr<HidHandle>> owned_;  // parallel to records
};

// Lists the backend's collections and opens each. acceptAnyFido: any collection with the
// FIDO usage page counts, beyond the accepted-device table.
DeviceList enumerateDevices(HidBackend& backend, bool acceptAnyFido = false);

// The outcome of choosing a FIDO collection: 0 nothing, 1 one chosen, 2 several matched
// (the last is chosen). A vendor or product ID of 0 stands for any device.
struct Selection {
    int result = 0;
    std::optional<size_t> index;
};
Selection selectDevice(const DeviceList& list, uint32_t vendorId, uint32_t productId);

}  // namespace orvanta
