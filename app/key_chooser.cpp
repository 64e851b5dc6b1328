#include "app/key_chooser.h"

#include "common/hex_text.h"

namespace orvanta {

std::vector<KeyEntry> acceptedKeys(const DeviceList& devices) {
    std::vector<KeyEntry> keys;
    for (const DeviceRecord& record : devices.records) {
        if (record.usagePage == FIDO_USAGE_PAGE) {
            keys.push_back({record.path, record.productName, record.placeLabel, record.vendorId,
                            record.productId, record.hasUsbIdentity()});
        }
    }
    return keys;
}

std::string keyChoiceText(const KeyEntry& key) {
    if (!key.usbIdentity) {
        return "Security key (card in " + key.productName + ")";
    }
    const std::string& where = key.placeLabel.empty() ? key.path : key.placeLabel;
    const std::string name = key.productName.empty() ? "Security key" : key.productName;
    return name + " (" + hex4(key.vendorId) + ":" + hex4(key.productId) + "), " + where;
}

}  // namespace orvanta
