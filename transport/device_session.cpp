#include "transport/device_session.h"

namespace orvanta {

DeviceSession::DeviceSession(const DeviceRecord& device, std::unique_ptr<HidHandle> handle,
                             Clock& clock)
    : device_(device), handle_(std::move(handle)), clock_(clock) {
    device_.readHandle = handle_.get();
    device_.writeHandle = handle_.get();
}

DeviceSession::DeviceSession(Clock& clock) : clock_(clock) {}

std::unique_ptr<DeviceSession> openSession(DeviceList& list, size_t index, Clock& clock) {
    if (index >= list.records.size()) {
        return nullptr;
    }
    std::unique_ptr<HidHandle> handle = list.takeHandle(index);
    if (!handle) {
        return nullptr;
    }
    return std::make_unique<DeviceSession>(list.records[index], std::move(handle), clock);
}

}  // namespace orvanta
