#pragma once
// The `virtual` HID backend: one or more virtual security keys in the process, each listed
// with its FIDO collection (usage page 0xF1D0, usage 1) and any extra collections of its
// profile. Paths read "virtual:<serial>:<collection>". Listing and opening may run on
// several threads at once; each key's handle is used by one thread at a time (the keys are
// independent, so threads on different keys never meet). Time passes only through the
// backend's clock.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/profile.h"
#include "sim/virtual_key.h"
#include "transport/clock.h"
#include "transport/device_list.h"
#include "transport/hid_backend.h"

namespace orvanta {

inline constexpr uint16_t FIDO_USAGE = 0x01;
inline constexpr const char* VIRTUAL_PATH_PREFIX = "virtual:";

class VirtualBackend : public HidBackend {
  public:
    // Every wait of the backend and its keys runs on the given clock.
    explicit VirtualBackend(Clock& clock) : clock_(clock) {}
    ~VirtualBackend() override;

    // Plugs in a key; the reference stays valid while the backend lives, also after removal.
    VirtualKey& addDevice(Profile profile);
    VirtualKey& addDevice(const std::string& profileName) {
        return addDevice(profileByName(profileName));
    }
    // Unplugs the key at this position of the list: it is no longer listed and its open
    // handles fail. False when there is no such key.
    bool removeDevice(size_t index);
    size_t deviceCount() const {
        std::lock_guard lock(mutex_);
        return devices_.size();
    }
    VirtualKey& device(size_t index) {
        std::lock_guard lock(mutex_);
        return *devices_.at(index);
    }

    std::vector<HidInterfaceInfo> enumerate() override;
    std::unique_ptr<HidHandle> open(const std::string& path, std::string* error) override;

    // "virtual:3:0" -> serial 3, collection 0. False for any other form.
    static bool parsePath(const std::string& path, uint32_t& serial, size_t& collection);

  private:
    std::shared_ptr<VirtualKey> find(uint32_t serial) const;

    Clock& clock_;
    mutable std::mutex mutex_;  // the lists below, plugged into while others list and open
    std::vector<std::shared_ptr<VirtualKey>> devices_;
    std::vector<std::shared_ptr<VirtualKey>> removed_;  // keeps references given out valid
    uint32_t nextSerial_ = 0;
};

// "full,pin" -> {"full", "pin"}; an empty text or an empty item names the default profile.
std::vector<std::string> splitProfileList(const std::string& list);

// A backend with one key per profile of the comma-separated list, plugged in in that order;
// null, with the unknown name in *error, when a name is no profile.
std::shared_ptr<VirtualBackend> makeVirtualBackend(const std::string& profileList, Clock& clock,
                                                   std::string* error = nullptr);

}  // namespace orvanta
