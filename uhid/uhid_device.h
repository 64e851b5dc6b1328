#pragma once
// One device of the kernel's HID stack made from user space through /dev/uhid: the kernel
// gives it a hidraw node and udev sees it arrive and leave like a plugged-in key. Output
// reports written to the node go to a HID handle (a virtual key, or a UDP simulator), and
// that handle's input reports come back to the node; a device without a handle (the
// keyboard) takes its output and sends nothing.

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "transport/hid_backend.h"
#include "transport/unique_fd.h"

namespace orvanta::uhid {

// The FIDO collection: usage page 0xF1D0, usage 1, one 64-byte input and one 64-byte output
// report without report IDs.
std::vector<uint8_t> fidoReportDescriptor();
// A boot keyboard: the collection that is listed but never accepted.
std::vector<uint8_t> keyboardReportDescriptor();

// The bus the kernel is told the device sits on (BUS_USB, BUS_BLUETOOTH, BUS_VIRTUAL).
enum class Bus : uint16_t { Usb = 0x03, Bluetooth = 0x05, Virtual = 0x06 };

struct DeviceIdentity {
    std::string name;  // the product string hidraw users read (HID_NAME)
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t version = 0;
    Bus bus = Bus::Usb;
    std::string uniq;  // the serial number udev and hidapi see
};

class UhidDevice {
  public:
    // Opens /dev/uhid and creates the device; valid() tells whether it worked (error() why).
    UhidDevice(const DeviceIdentity& identity, std::span<const uint8_t> descriptor,
               std::unique_ptr<HidHandle> handle);
    // Destroys the device: udev sees it removed.
    ~UhidDevice();
    UhidDevice(const UhidDevice&) = delete;
    UhidDevice& operator=(const UhidDevice&) = delete;

    bool valid() const { return fd_.valid(); }
    const std::string& error() const { return error_; }

    // Serves the device until stop is set: output reports to the handle, the handle's input
    // reports (replies, keepalives) to the kernel. False when /dev/uhid failed.
    bool serve(const std::atomic<bool>& stop);

  private:
    bool handleEvent();
    bool forwardInput();
    bool sendInput(std::span<const uint8_t> report);

    UniqueFd fd_;
    std::unique_ptr<HidHandle> handle_;
    std::string error_;
};

}  // namespace orvanta::uhid
