#include "app/device_event.h"

#include <cctype>
#include <cstdio>

namespace orvanta {

namespace {
// The message number every trace line names: a change of the devices.
constexpr uint32_t DEVICE_CHANGE_MESSAGE = 0x0219;
}  // namespace

std::string deviceTraceLine(const DeviceEvent& event) {
    char line[1200];
    std::snprintf(line, sizeof line, "message: %08x, wparam: %08x, lparam: %08x\r\n",
                  DEVICE_CHANGE_MESSAGE, static_cast<unsigned>(event.code),
                  static_cast<unsigned>(event.data));
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

bool refreshesPages(const DeviceEvent& event) {
    return event.code == DeviceChange::Arrival || event.code == DeviceChange::RemoveComplete;
}

}  // namespace orvanta
