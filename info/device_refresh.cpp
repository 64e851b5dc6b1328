#include "info/device_refresh.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "info/getinfo_rows.h"
#include "info/vendor_queries.h"
#include "transport/ctaphid.h"
#include "transport/device_manager.h"

namespace orvanta {

namespace {

// Parses like wcstol with base 16: stops at the first character that is not a hex digit.
uint32_t parseHexId(const std::string& text) {
    return static_cast<uint32_t>(std::strtol(text.c_str(), nullptr, 16));
}

std::string hex4(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%04X", value);
    return text;
}

// One vendor row: appended when the query succeeded and (unless allowEmpty) gave a text.
template <typename Query>
void vendorRow(HardInfoPage& page, const char* label, Query query, bool allowEmpty = false) {
    char text[QUERY_TEXT_SIZE];
    std::memset(text, 0, sizeof text);
    if (query(text) == 0 && (allowEmpty || text[0] != 0)) {
        page.AppendRow(label, std::string(text));
    }
}

}  // namespace

void ShowDeviceInfo(Pages& pages, const std::string& vidText, const std::string& pidText) {
    pages.hardware.deleteAllRows();
    pages.fido2.clearCertificatePage();
    pages.u2f.clearCertificatePage();
    clientPinSet = false;

    DeviceManager& manager = deviceManager();
    transportReady = 1;
    enumerateDevices(manager);

    uint32_t vendorId = 0;
    uint32_t productId = 0;
    if (!vidText.empty() && !pidText.empty()) {
        vendorId = parseHexId(vidText);
        productId = parseHexId(pidText);
    }
    if (selectDevice(manager, vendorId, productId) == 0 && (vendorId != 0 || productId != 0)) {
        // The event was about another USB device, or the shown key went away while
        // another stays: show the first attached key, as at start.
        selectDevice(manager, 0, 0);
    }

    const DeviceRecord device = manager.selected;
    if (!device.present()) {
        return;
    }
    pages.fido2.showFido2Tips();
    pages.u2f.showU2fTips();

    HardInfoPage& page = pages.hardware;
    page.AppendRow("Device name", device.productName);
    page.AppendRow("VID", hex4(device.vendorId));
    page.AppendRow("PID", hex4(device.productId));
    page.AppendRow("Firmware Version", device.versionText);
    vendorRow(page, "IDentify", queryIdentify);
    vendorRow(page, "Fingerprint Module Version", queryFingerprintVersion);
    page.AppendRow("    ");
    vendorRow(page, "Win Hello Version", queryWinHelloVersion);
    vendorRow(page, "OTP Version", queryOtpVersion);
    vendorRow(page, "PIV Version", queryPivVersion);
    vendorRow(page, "GIDS", queryGidsVersion, true);
    if (queryNdefPresent() == 0) {
        page.AppendRow("NDEF", std::string("yes"));
    }
    vendorRow(page, "U2F Version", queryU2fVersion);
    appendGetInfoRows([&page](const std::string& label, std::string value) {
        page.AppendRow(label, std::move(value));
    });
}

}  // namespace orvanta
