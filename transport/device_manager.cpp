#include "transport/device_manager.h"

#include <cstdio>

#include "transport/hidapi_backend.h"

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

DeviceManager::DeviceManager() = default;

DeviceManager::~DeviceManager() {
    closeAll();
}

void DeviceManager::setBackend(std::shared_ptr<HidBackend> backend) {
    closeAll();
    backend_ = std::move(backend);
}

HidBackend& DeviceManager::backend() {
    if (!backend_) {
        backend_ = std::make_shared<HidapiBackend>();
    }
    return *backend_;
}

void DeviceManager::closeAll() {
    selected = DeviceRecord();
    records.clear();
    owned_.clear();  // each handle closes exactly once, here
    interfaceCount = 0;
    openFailures.clear();
    listed.clear();
}

DeviceManager& deviceManager() {
    static DeviceManager manager;
    return manager;
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

int32_t enumerateDevices(DeviceManager& manager) {
    manager.closeAll();
    HidBackend& backend = manager.backend();
    manager.listed = backend.enumerate();

    for (const HidInterfaceInfo& info : manager.listed) {
        bool accepted = isAcceptedDevice(info.vendorId, info.productId) ||
                        (manager.acceptAnyFido() && info.usagePage == FIDO_USAGE_PAGE);
        std::string error;
        std::unique_ptr<HidHandle> handle = backend.open(info.path, &error);
        if (!handle) {
            // Interfaces the system will not open are neither counted nor listed; an
            // accepted FIDO collection among them is remembered so the user learns why.
            if (accepted && info.usagePage == FIDO_USAGE_PAGE) {
                manager.openFailures.push_back(OpenFailure{info, error});
            }
            continue;
        }
        ++manager.interfaceCount;
        if (!accepted) {
            continue;  // the handle closes here
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
        record.readHandle = handle.get();
        record.writeHandle = handle.get();
        record.path = info.path;
        manager.owned_.push_back(std::move(handle));
        manager.records.push_back(record);
    }
    return manager.interfaceCount;
}

int selectDevice(DeviceManager& manager, uint32_t vendorId, uint32_t productId) {
    if (manager.records.empty()) {
        return 0;
    }
    int matches = 0;
    for (const DeviceRecord& record : manager.records) {
        if (record.productId == productId && record.vendorId == vendorId) {
            if (record.usagePage == FIDO_USAGE_PAGE) {
                manager.selected = record;
                ++matches;
            }
        } else if (vendorId == 0 || productId == 0) {
            if (record.usagePage == FIDO_USAGE_PAGE) {
                manager.selected = record;
                manager.initPending = true;
                return 1;
            }
        }
    }
    if (matches == 0) {
        return 0;
    }
    // Every enumeration opens fresh handles, and with several matches the chosen key may
    // not be the one whose channel we hold: allocate a new channel in every case.
    manager.initPending = true;
    return matches > 1 ? 2 : 1;
}

}  // namespace orvanta
