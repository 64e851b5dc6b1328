#include "app/key_chooser.h"

#include "common/hex_text.h"
#include "sim/virtual_backend.h"

namespace orvanta {

std::vector<KeyEntry> acceptedKeys(const DeviceList& devices) {
    std::vector<KeyEntry> keys;
    for (const DeviceRecord& record : devices.records) {
        if (record.usagePage == FIDO_USAGE_PAGE) {
            keys.push_back(
                {record.path, record.productName, record.vendorId, record.productId, record.pcsc});
        }
    }
    return keys;
}

std::string keyChoiceText(const KeyEntry& key) {
    if (key.pcsc) {
        return "Security key (card in " + key.productName + ")";
    }
    std::string where = key.path;
    uint32_t serial = 0;
    size_t collection = 0;
    if (VirtualBackend::parsePath(key.path, serial, collection)) {
        // Virtual keys share name and IDs; their plug-in order tells them apart.
        where = "virtual " + std::to_string(serial + 1);
    } else if (key.path.rfind("udp:", 0) == 0) {
        where = "UDP";
    }
    const std::string name = key.productName.empty() ? "Security key" : key.productName;
    return name + " (" + hex4(key.vendorId) + ":" + hex4(key.productId) + ", " + where + ")";
}

}  // namespace orvanta
