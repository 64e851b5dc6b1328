#include "app/device_event.h"

#include <cctype>
#include <cstdio>

#include "transport/clock.h"

namespace orvanta {

std::string deviceTraceLine(const DeviceEvent& event) {
    char line[1200];
    std::snprintf(line, sizeof line, "message: %08x, wparam: %08x, lparam: %08x\r\n",
                  DEVICE_CHANGE_MESSAGE, event.code, static_cast<unsigned>(event.data));
    return line;
}

std::string normaliseUsbId(const std::string& text) {
    if (text.empty() || text.size() > 4) {
        return {};
    }
    std::string id(4 - text.size(), '0');
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return {};
        }
        id += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return id;
}

int onDeviceChange(const DeviceEvent& event, Clock& clock, const RefreshFunction& refresh) {
    if (event.code != DEVICE_ARRIVAL && event.code != DEVICE_REMOVE_COMPLETE) {
        return 0;
    }
    // Give the system time to set up (or tear down) the new device's HID nodes.
    clock.sleep(DEVICE_SETTLE_MS);
    refresh(event.vendorId, event.productId);
    return 1;
}

}  // namespace orvanta
