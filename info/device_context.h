#pragma once
// What a front end inspects keys through: the source of keys, the clock every wait runs on,
// the last enumeration and the session on the chosen key, and what the last refresh
// learned from the key that the fetches need.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "ctap/authenticator_info.h"
#include "ctap/pin_protocol.h"
#include "info/key_health.h"
#include "info/vendor_queries.h"
#include "mds/metadata_blob.h"
#include "transport/clock.h"
#include "transport/device_list.h"
#include "transport/device_session.h"
#include "transport/key_source.h"

namespace orvanta {

class DeviceContext {
  public:
    DeviceContext(std::shared_ptr<KeySource> source, Clock& clock, bool acceptAnyFido = false);
    // The keys of a HID backend.
    DeviceContext(std::shared_ptr<HidBackend> backend, Clock& clock, bool acceptAnyFido = false);
    ~DeviceContext();
    DeviceContext(const DeviceContext&) = delete;
    DeviceContext& operator=(const DeviceContext&) = delete;

    KeySource& source() { return *source_; }
    Clock& clock() { return clock_; }
    bool acceptAnyFido() const { return acceptAnyFido_; }

    // Closes the session and every link, then lists and opens the keys afresh.
    const DeviceList& enumerate();
    // Chooses a FIDO collection of the last enumeration (selectDevice's rules and result)
    // and opens a session on it; without a choice the session has no key.
    int select(uint32_t vendorId, uint32_t productId);
    // The key a user chose among several (its path): while the enumeration lists it, every
    // select takes it whatever IDs it is given. Empty: selectDevice's rules alone.
    void setPreferredPath(std::string path) { preferredPath_ = std::move(path); }
    const std::string& preferredPath() const { return preferredPath_; }
    // The metadata BLOB the pages consult (none: no metadata rows).
    void setMetadata(std::shared_ptr<const MetadataBlob> blob) { metadata_ = std::move(blob); }
    const MetadataBlob* metadata() const { return metadata_.get(); }
    // Ends the session and closes every link.
    void close();

    // Every session opened from now on also ends its exchanges when this flag is set (the
    // command line sets it from its signal handler).
    void setCancelFlag(const std::atomic<bool>* flag) {
        cancelFlag_ = flag;
        session_->setCancelFlag(flag);
    }

    const DeviceList& devices() const { return devices_; }
    DeviceSession& session() { return *session_; }

    // What the last refresh read from the chosen key (cleared by every enumeration).
    struct Facts {
        VendorVersions versions;
        std::optional<AuthenticatorInfo> info;  // authenticatorGetInfo, when the key answered
        KeyHealth health;                       // asked only when getInfo tells what to ask
        // The key stopped answering (no channel, no reply, broken framing): what the page
        // lacks is not the key's answer.
        bool transportFailed = false;
        // The key answered every request of the refresh with CTAPHID_ERROR (another program
        // holds it, say): the page is empty, though the key is there and talking.
        bool everyRequestRefused = false;
        // What the key's CTAPHID_INIT reply said (none for a transport without CTAPHID).
        std::optional<InitFacts> init;
    };
    void setInitFacts(std::optional<InitFacts> init) { facts_.init = init; }
    void setTransportFailed(bool failed) { facts_.transportFailed = failed; }
    void setEveryRequestRefused(bool refused) { facts_.everyRequestRefused = refused; }
    void setVendorVersions(VendorVersions versions) { facts_.versions = std::move(versions); }
    const Facts& facts() const { return facts_; }
    void setAuthenticatorInfo(std::optional<AuthenticatorInfo> info) {
        facts_.info = std::move(info);
    }
    void setKeyHealth(KeyHealth health) { facts_.health = health; }
    // Whether the last refresh's authenticatorGetInfo reported a client PIN.
    bool clientPinSet() const { return facts_.info && facts_.info->clientPin().value_or(false); }
    // The PIN/UV auth protocol the last getInfo asks for (protocol 1 when it said nothing).
    PinProtocol pinProtocol() const {
        return facts_.info ? choosePinProtocol(facts_.info->pinUvAuthProtocols) : PinProtocol::One;
    }

  private:
    std::shared_ptr<KeySource> source_;
    Clock& clock_;
    bool acceptAnyFido_;
    DeviceList devices_;
    std::unique_ptr<DeviceSession> session_;
    const std::atomic<bool>* cancelFlag_ = nullptr;
    std::string preferredPath_;
    std::shared_ptr<const MetadataBlob> metadata_;
    Facts facts_;
};

}  // namespace orvanta
