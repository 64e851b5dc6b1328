#pragma once
// USB arrival and removal as the window handles them: one trace line per event, a pause
// for the new device to settle, then a refresh asking for the device's vendor and product.

#include <cstdint>
#include <string>

namespace orvanta {

// What happened to a device, with the numbers the trace shows; any other value is ignored.
enum class DeviceChange : uint32_t {
    Arrival = 0x8000,
    RemoveComplete = 0x8004,
};

inline constexpr uint32_t DEVICE_SETTLE_MS = 1000;

struct DeviceEvent {
    DeviceChange code{};
    std::string vendorId;   // four hexadecimal digits, or empty when unknown
    std::string productId;  // four hexadecimal digits, or empty when unknown
    uintptr_t data = 0;     // the value the trace shows as lparam (the event's number)
};

// "message: 00000219, wparam: 00008000, lparam: 00000001\r\n"
std::string deviceTraceLine(const DeviceEvent& event);

// A USB ID as udev gives it ("1209", or "1" inside the PRODUCT value "1209/1/100") as four
// upper-case hexadecimal digits; empty for a text that is not 1 to 4 hexadecimal digits.
std::string normaliseUsbId(const std::string& text);

// Arrival and removal refresh the pages, DEVICE_SETTLE_MS after the event, with its IDs;
// any other event code does nothing.
bool refreshesPages(const DeviceEvent& event);

}  // namespace orvanta
