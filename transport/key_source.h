#pragma once
// Where keys come from: a source lists its keys and opens a link to one. A HID backend's
// keys are reached by CTAPHID over their handles; cards in PC/SC readers by ISO 7816 APDUs.
// A new transport is one link class and one source.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "transport/ctap_link.h"
#include "transport/hid_backend.h"

namespace orvanta {

// Why a source listed no key it could open, as far as the source can tell.
enum class NoKeysCause {
    ServiceUnreachable,  // the service that lists the keys did not answer
    NoReader,            // no reader at all, or none of the name asked for
    NoCard,              // readers, but none holds a card
};

struct NoKeysReason {
    NoKeysCause cause = NoKeysCause::ServiceUnreachable;
    // The service's own words for ServiceUnreachable; otherwise the reader asked for
    // (empty when any reader would do).
    std::string detail;
};

class KeySource {
  public:
    virtual ~KeySource() = default;
    // Every key (and, for HID, every other collection) the source sees, in its order.
    virtual std::vector<HidInterfaceInfo> enumerate() = 0;
    // A link to the listed key at path; null, with the reason in *error when given, when
    // it cannot be opened (for instance "permission denied").
    virtual std::unique_ptr<CtapLink> open(const std::string& path, std::string* error) = 0;
    // Why no key is there to open, when the source can name a cause (asked anew); nothing
    // when it cannot, or when the keys' absence is all there is to say.
    virtual std::optional<NoKeysReason> whyNoKeys() { return std::nullopt; }
};

// The collections of a HID backend, each reached by CTAPHID over its handle.
class HidKeySource final : public KeySource {
  public:
    explicit HidKeySource(std::shared_ptr<HidBackend> backend) : backend_(std::move(backend)) {}
    std::vector<HidInterfaceInfo> enumerate() override { return backend_->enumerate(); }
    std::unique_ptr<CtapLink> open(const std::string& path, std::string* error) override;
    HidBackend& backend() { return *backend_; }

  private:
    std::shared_ptr<HidBackend> backend_;
};

inline std::shared_ptr<KeySource> hidKeys(std::shared_ptr<HidBackend> backend) {
    return std::make_shared<HidKeySource>(std::move(backend));
}

// The keys of several sources in one list, in the sources' order; each key opens through
// the source that listed it.
class CombinedKeySource final : public KeySource {
  public:
    explicit CombinedKeySource(std::vector<std::shared_ptr<KeySource>> sources)
        : sources_(std::move(sources)) {}
    std::vector<HidInterfaceInfo> enumerate() override;
    std::unique_ptr<CtapLink> open(const std::string& path, std::string* error) override;
    const std::vector<std::shared_ptr<KeySource>>& sources() const { return sources_; }

  private:
    std::vector<std::shared_ptr<KeySource>> sources_;
    // Which source listed each path in the last enumeration.
    std::vector<std::pair<std::string, KeySource*>> listedBy_;
};

}  // namespace orvanta
