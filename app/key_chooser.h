#pragma once
// The keys the window can show when several are attached, as its key chooser lists them.

#include <cstdint>
#include <string>
#include <vector>

#include "transport/device_list.h"

namespace orvanta {

struct KeyEntry {
    std::string path;
    std::string productName;
    std::string placeLabel;  // where the key is reached ("virtual 2 (pin)", "UDP"); empty: the path
    uint32_t vendorId = 0;
    uint32_t productId = 0;
    // False for a card in a reader: productName then names the reader.
    bool usbIdentity = true;
};

// The accepted FIDO collections of an enumeration, in its order.
std::vector<KeyEntry> acceptedKeys(const DeviceList& devices);

// "Orvanta Virtual Key (1209:0001), virtual 2 (pin)": the product, VID:PID and where the key
// is reached: its hidraw path, "virtual N (PROFILE)" for the N-th virtual key plugged in, or
// "UDP". A card has no IDs to show: "Security key (card in READER)".
std::string keyChoiceText(const KeyEntry& key);

}  // namespace orvanta
