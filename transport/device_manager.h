#pragma once
// Finding the FIDO collections of the attached keys and choosing the one that every
// CTAPHID exchange talks to.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "transport/hid_backend.h"

namespace orvanta {

inline constexpr uint16_t FIDO_USAGE_PAGE = 0xF1D0;

// One HID top-level collection. The handles are views: the owning handle lives in the
// DeviceManager, so a copy (such as `selected`) never closes it. One handle serves as both
// the read and the write handle.
struct DeviceRecord {
    uint32_t vendorId = 0;
    uint32_t productId = 0;
    std::string productName;  // UTF-8, at most 63 characters
    std::string versionText;  // release number as "%04X"
    uint16_t usagePage = 0;
    uint16_t usage = 0;
    HidHandle* readHandle = nullptr;
    HidHandle* writeHandle = nullptr;
    std::string path;

    // Present: both IDs non-zero and both handles open.
    bool present() const {
        return vendorId != 0 && productId != 0 && readHandle != nullptr && writeHandle != nullptr;
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

class DeviceManager {
  public:
    DeviceManager();
    ~DeviceManager();
    DeviceManager(const DeviceManager&) = delete;
    DeviceManager& operator=(const DeviceManager&) = delete;

    // The backend that enumerations use (hidapi unless replaced).
    void setBackend(std::shared_ptr<HidBackend> backend);
    HidBackend& backend();
    // Accept any collection with the FIDO usage page, beyond the accepted-device table.
    void setAcceptAnyFido(bool any) { acceptAnyFido_ = any; }
    bool acceptAnyFido() const { return acceptAnyFido_; }
    // Closes every handle and empties the lists (as at the start of an enumeration).
    void closeAll();

    std::vector<DeviceRecord> records;
    int32_t interfaceCount = 0;
    DeviceRecord selected;
    uint8_t channelId[4] = {0, 0, 0, 0};
    bool initPending = true;
    // Accepted FIDO collections of the last enumeration that could not be opened.
    std::vector<OpenFailure> openFailures;
    // Every collection of the last enumeration (accepted or not), for listings.
    std::vector<HidInterfaceInfo> listed;

  private:
    friend int32_t enumerateDevices(DeviceManager& manager);
    std::shared_ptr<HidBackend> backend_;
    std::vector<std::unique_ptr<HidHandle>> owned_;
    bool acceptAnyFido_ = false;
};

// The single program-wide device object.
DeviceManager& deviceManager();

// Rebuilds `records` (accepted devices only), resets `selected`; returns interfaceCount.
int32_t enumerateDevices(DeviceManager& manager);
// Chooses the FIDO collection: 0 nothing, 1 one chosen, 2 several matched (last chosen).
// A vendor or product ID of 0 stands for any device.
int selectDevice(DeviceManager& manager, uint32_t vendorId, uint32_t productId);

}  // namespace orvanta
