#include "transport/device_session.h"

namespace orvanta {

DeviceSession::DeviceSession(const DeviceRecord& device, std::unique_ptr<CtapLink> link,
                             Clock& clock)
    : device_(device), link_(std::move(link)), clock_(clock) {
    device_.link = link_.get();
}

DeviceSession::DeviceSession(Clock& clock) : clock_(clock) {}

std::unique_ptr<DeviceSession> openSession(DeviceList& list, size_t index, Clock& clock) {
    if (index >= list.records.size()) {
        return nullptr;
    }
    std::unique_ptr<CtapLink> link = list.takeLink(index);
    if (!link) {
        return nullptr;
    }
    return std::make_unique<DeviceSession>(list.records[index], std::move(link), clock);
}

}  // namespace orvanta
