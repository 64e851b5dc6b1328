#include "transport/key_source.h"

#include <algorithm>

#include "transport/hid_link.h"

namespace orvanta {

std::unique_ptr<CtapLink> HidKeySource::open(const std::string& path, std::string* error) {
    std::unique_ptr<HidHandle> handle = backend_->open(path, error);
    if (!handle) {
        return nullptr;
    }
    return std::make_unique<HidLink>(std::move(handle));
}

std::vector<HidInterfaceInfo> CombinedKeySource::enumerate() {
    std::vector<HidInterfaceInfo> all;
    listedBy_.clear();
    for (const std::shared_ptr<KeySource>& source : sources_) {
        for (HidInterfaceInfo& info : source->enumerate()) {
            listedBy_.emplace_back(info.path, source.get());
            all.push_back(std::move(info));
        }
    }
    return all;
}

std::unique_ptr<CtapLink> CombinedKeySource::open(const std::string& path, std::string* error) {
    auto listed = std::find_if(listedBy_.begin(), listedBy_.end(),
                               [&path](const auto& entry) { return entry.first == path; });
    if (listed == listedBy_.end()) {
        if (error != nullptr) {
            *error = "no such device";  // keys open once an enumeration has listed them
        }
        return nullptr;
    }
    return listed->second->open(path, error);
}

}  // namespace orvanta
