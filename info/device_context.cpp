#include "info/device_context.h"

namespace orvanta {

DeviceContext::DeviceContext(std::shared_ptr<KeySource> source, Clock& clock, bool acceptAnyFido)
    : source_(std::move(source)),
      clock_(clock),
      acceptAnyFido_(acceptAnyFido),
      session_(std::make_unique<DeviceSession>(clock)) {}

DeviceContext::DeviceContext(std::shared_ptr<HidBackend> backend, Clock& clock, bool acceptAnyFido)
    : DeviceContext(hidKeys(std::move(backend)), clock, acceptAnyFido) {}

DeviceContext::~DeviceContext() = default;

const DeviceList& DeviceContext::enumerate() {
    close();
    devices_ = enumerateDevices(*source_, acceptAnyFido_);
    return devices_;
}

int DeviceContext::select(uint32_t vendorId, uint32_t productId) {
    Selection selection = selectDevice(devices_, vendorId, productId);
    if (!preferredPath_.empty()) {
        for (size_t i = 0; i < devices_.records.size(); ++i) {
            const DeviceRecord& record = devices_.records[i];
            if (record.path == preferredPath_ && record.usagePage == FIDO_USAGE_PAGE) {
                selection = Selection{1, i};
                break;
            }
        }
    }
    std::unique_ptr<DeviceSession> chosen;
    if (selection.index) {
        chosen = openSession(devices_, *selection.index, clock_);
    }
    if (chosen) {
        session_ = std::move(chosen);
        session_->setCancelFlag(cancelFlag_);
    } else if (selection.result != 0) {
        // The link went to an earlier session: a fresh enumeration is the way back.
        session_ = std::make_unique<DeviceSession>(clock_);
        session_->setCancelFlag(cancelFlag_);
    }
    return selection.result;
}

void DeviceContext::close() {
    session_ = std::make_unique<DeviceSession>(clock_);
    session_->setCancelFlag(cancelFlag_);
    devices_ = DeviceList();
    facts_ = Facts{};
}

}  // namespace orvanta
