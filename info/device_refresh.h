#pragma once
// The one refresh of the whole window: picks the key to inspect, reads what every page is
// built from and rebuilds the hardware page. It needs nothing of the window but the pages,
// so the command line and the tests run it too.

#include <string>

#include "info/device_context.h"
#include "info/page_model.h"
#include "info/vendor_queries.h"
#include "mds/metadata_blob.h"

namespace orvanta {

// The models of the pages of report/pages.h, as the refresh, the fetches and the views
// reach them.
struct Pages {
    HardInfoPage& hardware;
    Fido2CertPage& fido2;
    U2fCertPage& u2f;
};

// The models themselves, kept together by whoever shows the pages (the window, a command).
struct PageModels {
    HardInfoPage hardware;
    Fido2CertPage fido2;
    U2fCertPage u2f;
    Pages pages() { return Pages{hardware, fido2, u2f}; }
};

// vidText, pidText: vendor and product ID as hexadecimal text (four digits as in a device
// path), or empty for the first attached FIDO key.
// What it read is kept in context.facts().
void ShowDeviceInfo(DeviceContext& context, Pages& pages, const std::string& vidText,
                    const std::string& pidText);

// The hardware page of a key from what was read of it; with a metadata BLOB, the rows of
// the entry for the key's AAGUID at the end.
void buildHardwarePage(const DeviceRecord& device, const DeviceContext::Facts& facts,
                       HardInfoPage& page, const MetadataBlob* metadata = nullptr);

// "WINK  CBOR  NMSG": the capability flags of a CTAPHID_INIT reply by name, each followed by
// two spaces; unnamed flags as "0xNN".
std::string capabilityNames(uint8_t capabilities);

}  // namespace orvanta
