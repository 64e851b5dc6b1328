#pragma once
// authenticatorGetInfo as a typed value: every member the inspector knows by name, and any
// other member kept as its raw CBOR item. Decoding reads a reply as keys send it in one pass
// and never past the received bytes; presentation (rows, JSON) is built from this value
// elsewhere.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iosfwd>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ctap/cbor.h"

namespace orvanta {

// The options the inspector knows by name, in the order the hardware page shows them.
inline constexpr std::array<std::string_view, 19> GETINFO_OPTION_NAMES = {
    "ep",
    "rk",
    "up",
    "uv",
    "plat",
    "uvAcfg",
    "alwaysUv",
    "credMgmt",
    "authnrCfg",
    "bioEnroll",
    "clientPin",
    "largeBlobs",
    "uvBioEnroll",
    "pinUvAuthToken",
    "setMinPINLength",
    "makeCredUvNotRqd",
    "credentialMgmtPreview",
    "userVerificationMgmtPreview",
    "noMcGaPermissionsWithClientPin",
};

// The name of an option: its index in GETINFO_OPTION_NAMES when the inspector knows it, so
// that known names cost neither an allocation nor a comparison of text; any other name is
// kept as its text.
class OptionName {
  public:
    static constexpr uint8_t UNKNOWN = 0xFF;

    OptionName() = default;
    // Implicit, so that a name can be written as its text.
    OptionName(std::string_view name) : OptionName(name, 0) {}
    OptionName(const char* name) : OptionName(std::string_view(name), 0) {}
    // The search among the known names starts at index `from` and wraps around: replies
    // list their options in the table's order, so the index after the previous option's
    // finds the next name at once.
    OptionName(std::string_view name, size_t from);

    // The index in GETINFO_OPTION_NAMES, or UNKNOWN.
    uint8_t known() const { return known_; }
    std::string_view text() const {
        if (known_ != UNKNOWN) {
            return GETINFO_OPTION_NAMES[known_];
        }
        return other_ ? std::string_view(*other_) : std::string_view();
    }

    friend bool operator==(const OptionName& a, std::string_view b) { return a.text() == b; }
    friend std::ostream& operator<<(std::ostream& out, const OptionName& name);

  private:
    uint8_t known_ = UNKNOWN;
    // Only for a name that is not known; never changed once made, so copies share it.
    std::shared_ptr<const std::string> other_;
};

// A list of texts kept in one block, each text as its length (4 bytes) and its characters:
// a list costs one allocation however many texts it holds, and none when the block fits in
// the string's own room.
class TextList {
  public:
    // Reads the texts in order, each as a view into the list.
    class const_iterator {
      public:
        using iterator_concept = std::forward_iterator_tag;
        using iterator_category = std::input_iterator_tag;
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = std::string_view;

        const_iterator() = default;
        std::string_view operator*() const {
            return std::string_view(at_ + LENGTH_BYTES, lengthAt(at_));
        }
        const_iterator& operator++() {
            at_ += LENGTH_BYTES + lengthAt(at_);
            return *this;
        }
        const_iterator operator++(int) {
            const_iterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const const_iterator&) const = default;

      private:
        friend class TextList;
        explicit const_iterator(const char* at) : at_(at) {}
        const char* at_ = nullptr;
    };
    using iterator = const_iterator;
    using value_type = std::string_view;
    using size_type = size_t;

    TextList() = default;
    TextList(std::initializer_list<std::string_view> texts);
    // The texts that write(put) hands to put(text), in order, when they are `texts` texts of
    // `characters` characters in all: the block is made once, at its size. Texts beyond
    // that room are left out.
    template <class Write>
    TextList(size_t texts, size_t characters, Write&& write);

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const_iterator begin() const { return const_iterator(block_.data()); }
    const_iterator end() const { return const_iterator(block_.data() + block_.size()); }
    // The characters of all texts together.
    size_t characters() const { return block_.size() - size_ * LENGTH_BYTES; }

    friend bool operator==(const TextList& a, const TextList& b) {
        return a.size_ == b.size_ && a.block_ == b.block_;
    }
    // The same texts in the same order as a list of strings.
    friend bool operator==(const TextList& list, const std::vector<std::string>& texts) {
        return list.size_ == texts.size() &&
               std::equal(list.begin(), list.end(), texts.begin(),
                          [](std::string_view a, const std::string& b) { return a == b; });
    }

  private:
    static constexpr size_t LENGTH_BYTES = sizeof(uint32_t);

    static uint32_t lengthAt(const char* at) {
        uint32_t length = 0;
        std::memcpy(&length, at, sizeof length);
        return length;
    }

    std::string block_;
    size_t size_ = 0;
};

template <class Write>
TextList::TextList(size_t texts, size_t characters, Write&& write) {
    block_.resize(texts * LENGTH_BYTES + characters);
    size_t used = 0;
    write([&](std::string_view text) {
        const auto length = static_cast<uint32_t>(text.size());
        if (block_.size() - used < LENGTH_BYTES + length) {
            return;
        }
        std::memcpy(block_.data() + used, &length, LENGTH_BYTES);
        if (length != 0) {  // an empty text may have no characters at all
            std::memcpy(block_.data() + used + LENGTH_BYTES, text.data(), length);
        }
        used += LENGTH_BYTES + length;
        ++size_;
    });
    block_.resize(used);
}

// One entry of member 10 (algorithms).
struct AuthenticatorAlgorithm {
    std::optional<int64_t> alg;  // "alg" when it is an integer
    std::string type;            // "type"; empty when it is no text string
};

// A text-keyed entry of a map member (options, certifications), in reply order. value is
// empty when the entry's value is not of the member's kind.
template <typename T, typename Name = std::string>
struct NamedValue {
    NamedValue() = default;
    NamedValue(Name entryName, std::optional<T> entryValue)
        : name(std::move(entryName)), value(entryValue) {}

    Name name;
    std::optional<T> value;
};

struct AuthenticatorInfo {
    // Lists of text: an element that is no text string (or is missing) reads as empty, so
    // a list keeps its length as the key announced it.
    TextList versions;                                           // 1
    TextList extensions;                                         // 2
    std::optional<std::vector<uint8_t>> aaguid;                  // 3
    std::vector<NamedValue<bool, OptionName>> options;           // 4, in reply order
    std::optional<uint64_t> maxMsgSize;                          // 5
    std::vector<uint64_t> pinUvAuthProtocols;                    // 6 (unsigned elements)
    std::optional<uint64_t> maxCredentialCountInList;            // 7
    std::optional<uint64_t> maxCredentialIdLength;               // 8
    TextList transports;                                         // 9
    std::vector<AuthenticatorAlgorithm> algorithms;              // 10
    std::optional<uint64_t> maxSerializedLargeBlobArray;         // 11
    std::optional<bool> forcePinChange;                          // 12
    std::optional<uint64_t> minPINLength;                        // 13
    std::optional<uint64_t> firmwareVersion;                     // 14
    std::optional<uint64_t> maxCredBlobLength;                   // 15
    std::optional<uint64_t> maxRPIDsForSetMinPINLength;          // 16
    std::optional<uint64_t> preferredPlatformUvAttempts;         // 17
    std::optional<uint64_t> uvModality;                          // 18
    std::vector<NamedValue<uint64_t>> certifications;            // 19, in reply order
    std::optional<uint64_t> remainingDiscoverableCredentials;    // 20
    std::optional<uint64_t> vendorPrototypeConfigCommands;       // 21
    TextList attestationFormats;                                 // 22
    std::optional<uint64_t> uvCountSinceLastPinEntry;            // 23
    std::optional<bool> longTouchForReset;                       // 24
    std::optional<std::vector<uint8_t>> encIdentifier;           // 25
    TextList transportsForReset;                                 // 26
    std::optional<bool> pinComplexityPolicy;                     // 27
    std::optional<std::vector<uint8_t>> pinComplexityPolicyURL;  // 28
    std::optional<uint64_t> maxPINLength;                        // 29
    std::optional<std::vector<uint8_t>> encCredStoreState;       // 30
    std::vector<uint64_t> authenticatorConfigCommands;           // 31 (unsigned elements)
    // Members under any other key (0, or 32 and above, or a later duplicate is not kept):
    // the unsigned key and the member's CBOR item as received.
    std::vector<std::pair<uint64_t, std::vector<uint8_t>>> otherMembers;

    // The first option of that name, when its value is a boolean.
    std::optional<bool> option(std::string_view name) const;
    std::optional<bool> clientPin() const { return option("clientPin"); }
    // The first certification of that name, when its value is unsigned.
    std::optional<uint64_t> certification(std::string_view name) const;
};

// The member names of keys 1 to 31, by key (index 0 is empty).
std::string_view authenticatorInfoMemberName(uint64_t key);

// Decodes the CBOR map after the status byte. A reply that is no map gives an empty value.
AuthenticatorInfo decodeAuthenticatorInfo(CborSpan reply);

}  // namespace orvanta
