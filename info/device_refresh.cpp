#include "info/device_refresh.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "common/hex_text.h"
#include "info/getinfo_rows.h"
#include "info/key_health.h"
#include "info/metadata_rows.h"
#include "info/vendor_queries.h"
#include "transport/exchange.h"

namespace orvanta {

namespace {

// Parses like wcstol with base 16: stops at the first character that is not a hex digit.
uint32_t parseHexId(const std::string& text) {
    return static_cast<uint32_t>(std::strtol(text.c_str(), nullptr, 16));
}

// The USB release number; a simulator has none, so its CTAPHID device version (major and
// minor as four hex digits, as a release number reads) stands in.
std::string firmwareText(const DeviceRecord& device, const std::optional<InitFacts>& initFacts) {
    if (device.simulator() && initFacts) {
        return hex4((uint32_t{initFacts->major} << 8) | initFacts->minor);
    }
    return device.versionText;
}

const char* const PCSC_NO_USB_IDENTITY =
    "The key is reached through a card reader (PC/SC, e.g. over NFC): it has no USB vendor "
    "ID, product ID or release number to show.";

void optionalRow(HardInfoPage& page, const char* label, const std::optional<std::string>& text) {
    if (text) {
        page.AppendRow(label, *text);
    }
}

}  // namespace

void ShowDeviceInfo(DeviceContext& context, Pages& pages, const std::string& vidText,
                    const std::string& pidText) {
    pages.hardware.deleteAllRows();
    pages.fido2.clearCertificatePage();
    pages.u2f.clearCertificatePage();
    context.enumerate();

    uint32_t vendorId = 0;
    uint32_t productId = 0;
    if (!vidText.empty() && !pidText.empty()) {
        vendorId = parseHexId(vidText);
        productId = parseHexId(pidText);
    }
    if (context.select(vendorId, productId) == 0 && (vendorId != 0 || productId != 0)) {
        // The event was about another USB device, or the shown key went away while
        // another stays: show the first attached key, as at start.
        context.select(0, 0);
    }

    DeviceSession& session = context.session();
    const DeviceRecord device = session.device();
    if (!device.present()) {
        return;
    }
    pages.fido2.showFido2Tips();
    pages.u2f.showU2fTips();

    {
        // None of these queries waits for a touch; a key that does not answer the first
        // costs one wait, not one per query.
        QuickExchanges quick(session, true);
        const DeviceSession::ExchangeTally before = session.tally();
        context.setVendorVersions(queryVendorVersions(session));
        context.setAuthenticatorInfo(readAuthenticatorInfo(session));
        if (context.facts().info) {
            context.setKeyHealth(readKeyHealth(session, *context.facts().info));
        }
        context.setTransportFailed(session.gaveUp());
        const uint32_t sent = session.tally().sent - before.sent;
        context.setEveryRequestRefused(sent > 0 &&
                                       session.tally().refused - before.refused == sent);
    }
    context.setInitFacts(session.initFacts());
    buildHardwarePage(device, context.facts(), pages.hardware, context.metadata());
}

std::string capabilityNames(uint8_t capabilities) {
    std::string text;
    const std::pair<uint8_t, const char*> names[] = {{CTAPHID_CAPABILITY_WINK, "WINK"},
                                                     {CTAPHID_CAPABILITY_CBOR, "CBOR"},
                                                     {CTAPHID_CAPABILITY_NMSG, "NMSG"}};
    uint8_t named = 0;
    for (const auto& [flag, name] : names) {
        if (capabilities & flag) {
            text += name;
            text += "  ";
            named |= flag;
        }
    }
    for (unsigned bit = 0; bit < 8; ++bit) {
        const auto flag = static_cast<uint8_t>(1u << bit);
        if ((capabilities & flag) && !(named & flag)) {
            char other[8];
            std::snprintf(other, sizeof other, "0x%02X  ", flag);
            text += other;
        }
    }
    return text;
}

void buildHardwarePage(const DeviceRecord& device, const DeviceContext::Facts& facts,
                       HardInfoPage& page, const MetadataBlob* metadata) {
    const std::optional<InitFacts>& initFacts = facts.init;
    const VendorVersions& versions = facts.versions;
    const std::optional<AuthenticatorInfo>& info = facts.info;
    page.AppendRow("Device name", device.productName);
    if (!device.hasUsbIdentity()) {
        // The product name is the reader's; the key itself shows no USB identity.
        for (const char* label : {"VID", "PID", "Firmware Version"}) {
            Row row{label, std::nullopt};
            row.tip = PCSC_NO_USB_IDENTITY;
            page.AppendRow(std::move(row));
        }
    } else {
        page.AppendRow("VID", hex4(device.vendorId));
        page.AppendRow("PID", hex4(device.productId));
        page.AppendRow("Firmware Version", firmwareText(device, initFacts));
    }
    optionalRow(page, "IDentify", versions.identify);
    optionalRow(page, "Fingerprint Module Version", versions.fingerprintModule);
    page.AppendRow("    ");
    optionalRow(page, "Win Hello Version", versions.winHello);
    optionalRow(page, "OTP Version", versions.otp);
    optionalRow(page, "PIV Version", versions.piv);
    optionalRow(page, "GIDS", versions.gids);
    if (versions.ndef) {
        page.AppendRow("NDEF", std::string("yes"));
    }
    optionalRow(page, "U2F Version", versions.u2f);
    if (info) {
        appendGetInfoRows(*info, [&page](const std::string& label, std::string value) {
            page.AppendRow(label, std::move(value));
        });
        appendHealthRows(*info, facts.health, page);
    }
    if (initFacts) {
        page.AppendRow("CTAPHID protocol", std::to_string(initFacts->protocolVersion));
        page.AppendRow("Device version", std::to_string(initFacts->major) + "." +
                                             std::to_string(initFacts->minor) + "." +
                                             std::to_string(initFacts->build));
        page.AppendRow("Capabilities", capabilityNames(initFacts->capabilities));
    }
    if (metadata != nullptr && info && info->aaguid) {
        appendMetadataRows(page, metadata->findByAaguid(*info->aaguid));
    }
}

}  // namespace orvanta
