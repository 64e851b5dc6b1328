#include "app/probe.h"

#include <cstdio>

#include "app/permission_hint.h"
#include "transport/device_list.h"
#include "transport/hidapi_backend.h"

namespace orvanta {

namespace {
std::string ids(uint32_t vendorId, uint32_t productId) {
    char text[16];
    std::snprintf(text, sizeof text, "%04X:%04X", vendorId & 0xFFFF, productId & 0xFFFF);
    return text;
}
}  // namespace

int runProbe(std::ostream& out) {
    SystemClock clock;
    HidapiBackend backend(clock);
    const DeviceList manager = enumerateDevices(backend);
    int found = 0;
    for (const DeviceRecord& record : manager.records) {
        if (record.usagePage == FIDO_USAGE_PAGE) {
            out << "Security key attached: " << record.productName << " ("
                << ids(record.vendorId, record.productId) << ")\n";
            ++found;
        }
    }
    for (const OpenFailure& failure : manager.openFailures) {
        out << "Security key attached but not accessible: " << failure.info.productString << " ("
            << ids(failure.info.vendorId, failure.info.productId) << ", " << failure.info.path
            << ": " << failure.reason << ")\n";
        ++found;
    }
    if (found == 0) {
        out << "No security key attached\n";
        return PROBE_NO_KEY;
    }
    return PROBE_KEY_PRESENT;
}

}  // namespace orvanta
