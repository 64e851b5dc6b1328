#include "transport/device_list.h"

#include <cstdio>

namespace orvanta {

bool isAcceptedDevice(uint32_t vendorId, uint32_t productId) {
    switch (vendorId) {
        case 0x1050:
        case 0x1209:
            return true;
        case 0x0483:
            return productId == 0xA2CA;
        default:
            return false;
    }
}

std::unique_ptr<CtapLink> DeviceList::takeLink(size_t index) {
    if (index >= owned_.size()) {
        return nullptr;
    }
    return std::move(owned_[index]);
}

namespace {

// Product strings keep at most 63 characters (code points), as the record's fixed field does.
std::string limitProductName(const std::string& text) {
    size_t characters = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (characters == 63) {
                return text.substr(0, i);
            }
            ++characters;
        }
    }
    return text;
}

}  // namespace

DeviceList enumerateDevices(HidBackend& backend, bool acceptAnyFido) {
    // A view: the caller keeps the backend alive for the length of the call.
    HidKeySource source(std::shared_ptr<HidBackend>(std::shared_ptr<HidBackend>(), &backend));
    return enumerateDevices(source, acceptAnyFido);
}

DeviceList enumerateDevices(KeySource& source, bool acceptAnyFido) {
    DeviceList list;
    list.listed = source.enumerate();

    for (const HidInterfaceInfo& info : list.listed) {
        // A key without USB identity has no IDs to accept it by; opening it finds out
        // whether it speaks FIDO (a card's FIDO application is selected).
        bool accepted =
            isAcceptedDevice(info.vendorId, info.productId) ||
            ((acceptAnyFido || !info.hasUsbIdentity()) && info.usagePage == FIDO_USAGE_PAGE);
        std::string error;
        std::unique_ptr<CtapLink> link = source.open(info.path, &error);
        if (!link) {
            // Interfaces the system will not open are neither counted nor listed; an
            // accepted FIDO collection among them is remembered so the user learns why.
            if (accepted && info.usagePage == FIDO_USAGE_PAGE) {
                list.openFailures.push_back(OpenFailure{info, error});
            }
            continue;
        }
        ++list.interfaceCount;
        if (!accepted) {
            continue;  // the link closes here
        }
        DeviceRecord record;
        record.vendorId = info.vendorId;
        record.productId = info.productId;
        record.productName = limitProductName(info.productString);
        char version[8];
        std::snprintf(version, sizeof version, "%04X", info.releaseNumber);
        record.versionText = version;
        record.usagePage = info.usagePage;
        record.usage = info.usage;
        record.transport = info.transport;
        record.placeLabel = info.placeLabel;
        record.link = link.get();
        record.path = info.path;
        list.owned_.push_back(std::move(link));
        list.records.push_back(record);
    }
    return list;
}

Selection selectDevice(const DeviceList& list, uint32_t vendorId, uint32_t productId) {
    Selection selection;
    int matches = 0;
    for (size_t i = 0; i < list.records.size(); ++i) {
        const DeviceRecord& record = list.records[i];
        if (record.productId == productId && record.vendorId == vendorId) {
            if (record.usagePage == FIDO_USAGE_PAGE) {
                selection.index = i;
                ++matches;
            }
        } else if (vendorId == 0 || productId == 0) {
            if (record.usagePage == FIDO_USAGE_PAGE) {
                selection.index = i;
                selection.result = 1;
                return selection;
            }
        }
    }
    selection.result = matches == 0 ? 0 : (matches > 1 ? 2 : 1);
    return selection;
}

}  // namespace orvanta
