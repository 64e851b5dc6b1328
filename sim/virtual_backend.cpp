#include "sim/virtual_backend.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace orvanta {

namespace {

// The FIDO collection of a virtual key.
class FidoHandle final : public HidHandle {
  public:
    explicit FidoHandle(std::shared_ptr<VirtualKey> key) : key_(std::move(key)) {}

    int write(const uint8_t* report, size_t length) override {
        if (!key_->attached() || report == nullptr) {
            return -1;
        }
        key_->writeReport(report, length);
        return static_cast<int>(length);
    }
    int read(uint8_t* report, size_t capacity, uint32_t timeoutMs) override {
        if (report == nullptr) {
            return -1;
        }
        return key_->readReport(report, capacity, timeoutMs);
    }
    void flush() override { key_->flushReports(); }
    size_t inputReportLength() const override { return VIRTUAL_REPORT_LENGTH; }
    size_t outputReportLength() const override { return VIRTUAL_REPORT_LENGTH; }

  private:
    std::shared_ptr<VirtualKey> key_;
};

// Any other collection (a keyboard, say): takes reports, never sends any.
class QuietHandle final : public HidHandle {
  public:
    QuietHandle(std::shared_ptr<VirtualKey> key, CollectionShape shape, Clock& clock)
        : key_(std::move(key)), shape_(shape), clock_(clock) {}

    int write(const uint8_t* report, size_t length) override {
        if (!key_->attached() || report == nullptr) {
            return -1;
        }
        return static_cast<int>(length);
    }
    int read(uint8_t*, size_t, uint32_t timeoutMs) override {
        if (!key_->attached()) {
            return -1;
        }
        clock_.sleep(timeoutMs);
        return 0;
    }
    void flush() override {}
    size_t inputReportLength() const override { return shape_.inputReportLength; }
    size_t outputReportLength() const override { return shape_.outputReportLength; }

  private:
    std::shared_ptr<VirtualKey> key_;
    CollectionShape shape_;
    Clock& clock_;
};

std::string pathOf(uint32_t serial, size_t collection) {
    return std::string(VIRTUAL_PATH_PREFIX) + std::to_string(serial) + ":" +
           std::to_string(collection);
}

}  // namespace

VirtualBackend::~VirtualBackend() {
    // Handles still open keep their key object alive but see it unplugged.
    for (auto& d : devices_) {
        d->detach();
    }
}

VirtualKey& VirtualBackend::addDevice(Profile profile) {
    std::lock_guard lock(mutex_);
    devices_.push_back(std::make_shared<VirtualKey>(std::move(profile), nextSerial_++, clock_));
    return *devices_.back();
}

bool VirtualBackend::removeDevice(size_t index) {
    std::lock_guard lock(mutex_);
    if (index >= devices_.size()) {
        return false;
    }
    devices_[index]->detach();
    removed_.push_back(devices_[index]);
    devices_.erase(devices_.begin() + static_cast<ptrdiff_t>(index));
    return true;
}

std::vector<HidInterfaceInfo> VirtualBackend::enumerate() {
    std::lock_guard lock(mutex_);
    std::vector<HidInterfaceInfo> list;
    for (const auto& d : devices_) {
        const Profile& p = d->profile();
        const size_t total = p.extraCollections.size() + 1;
        const size_t fido = std::min(p.fidoPosition, total - 1);
        size_t extra = 0;
        for (size_t c = 0; c < total; ++c) {
            HidInterfaceInfo info;
            info.path = pathOf(d->serial(), c);
            info.vendorId = p.vendorId;
            info.productId = p.productId;
            info.releaseNumber = p.releaseNumber;
            info.productString = p.productString;
            info.transport = TransportKind::Virtual;
            // Virtual keys share name and IDs; their plug-in order and profile tell them
            // apart ("virtual 2 (pin)").
            info.placeLabel = "virtual " + std::to_string(d->serial() + 1) + " (" + p.name + ")";
            if (c == fido) {
                info.usagePage = FIDO_USAGE_PAGE;
                info.usage = FIDO_USAGE;
            } else {
                info.usagePage = p.extraCollections[extra].usagePage;
                info.usage = p.extraCollections[extra].usage;
                ++extra;
            }
            list.push_back(std::move(info));
        }
    }
    return list;
}

std::unique_ptr<HidHandle> VirtualBackend::open(const std::string& path, std::string* error) {
    uint32_t serial = 0;
    size_t collection = 0;
    const std::shared_ptr<VirtualKey> key =
        parsePath(path, serial, collection) ? find(serial) : nullptr;
    const size_t total = key ? key->profile().extraCollections.size() + 1 : 0;
    if (!key || collection >= total) {
        if (error != nullptr) {
            *error = "no such device";
        }
        return nullptr;
    }
    const Profile& p = key->profile();
    if (!p.openError.empty()) {
        if (error != nullptr) {
            *error = p.openError;
        }
        return nullptr;
    }
    const size_t fido = std::min(p.fidoPosition, total - 1);
    if (collection == fido) {
        return std::make_unique<FidoHandle>(key);
    }
    const size_t extra = collection < fido ? collection : collection - 1;
    return std::make_unique<QuietHandle>(key, p.extraCollections[extra], clock_);
}

bool VirtualBackend::parsePath(const std::string& path, uint32_t& serial, size_t& collection) {
    const std::string prefix = VIRTUAL_PATH_PREFIX;
    if (path.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    const char* p = path.data() + prefix.size();
    const char* end = path.data() + path.size();
    auto [afterSerial, e1] = std::from_chars(p, end, serial);
    if (e1 != std::errc() || afterSerial == p || afterSerial == end || *afterSerial != ':') {
        return false;
    }
    const char* c = afterSerial + 1;
    auto [afterCollection, e2] = std::from_chars(c, end, collection);
    return e2 == std::errc() && afterCollection != c && afterCollection == end;
}

std::shared_ptr<VirtualKey> VirtualBackend::find(uint32_t serial) const {
    std::lock_guard lock(mutex_);
    for (const auto& d : devices_) {
        if (d->serial() == serial) {
            return d;
        }
    }
    return nullptr;
}

std::vector<std::string> splitProfileList(const std::string& list) {
    std::vector<std::string> names;
    size_t start = 0;
    for (;;) {
        const size_t comma = list.find(',', start);
        std::string name = list.substr(start, comma == std::string::npos ? comma : comma - start);
        names.push_back(name.empty() ? std::string("default") : std::move(name));
        if (comma == std::string::npos) {
            return names;
        }
        start = comma + 1;
    }
}

std::shared_ptr<VirtualBackend> makeVirtualBackend(const std::string& profileList, Clock& clock,
                                                   std::string* error) {
    const std::vector<std::string> names = splitProfileList(profileList);
    for (const std::string& name : names) {
        if (!isProfileName(name)) {
            if (error != nullptr) {
                *error = name;
            }
            return nullptr;
        }
    }
    auto backend = std::make_shared<VirtualBackend>(clock);
    for (const std::string& name : names) {
        backend->addDevice(name);
    }
    return backend;
}

}  // namespace orvanta
