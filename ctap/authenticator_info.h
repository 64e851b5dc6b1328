#pragma once
// authenticatorGetInfo as a typed value, declared as one table: every member the inspector
// knows is one entry (its CTAP key, its JSON name, its field), and the field's type says
// how the member's CBOR value is read and written. Any other member is kept as its raw
// CBOR item. Presentation (rows, JSON) is built from the value and the table elsewhere.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "ctap/cbor.h"

namespace orvanta {

// A list of texts: an element that is no text string (or is missing) reads as empty, so a
// list keeps its length as the key announced it.
using InfoTexts = std::vector<std::string>;
using InfoBytes = std::optional<std::vector<uint8_t>>;
using InfoUnsigned = std::optional<uint64_t>;
using InfoBoolean = std::optional<bool>;
using InfoUnsignedList = std::vector<uint64_t>;  // the unsigned elements only

// A text-keyed entry of a map member (options, certifications), in reply order. value is
// empty when the entry's value is not of the member's kind.
template <typename T>
struct NamedValue {
    std::string name;
    std::optional<T> value;
};
using InfoOptions = std::vector<NamedValue<bool>>;
using InfoCertifications = std::vector<NamedValue<uint64_t>>;

// One entry of member 10 (algorithms).
struct AuthenticatorAlgorithm {
    std::optional<int64_t> alg;  // "alg" when it is an integer
    std::string type;            // "type"; empty when it is no text string
};
using InfoAlgorithms = std::vector<AuthenticatorAlgorithm>;

struct AuthenticatorInfo {
    InfoTexts versions;
    InfoTexts extensions;
    InfoBytes aaguid;
    InfoOptions options;
    InfoUnsigned maxMsgSize;
    InfoUnsignedList pinUvAuthProtocols;
    InfoUnsigned maxCredentialCountInList;
    InfoUnsigned maxCredentialIdLength;
    InfoTexts transports;
    InfoAlgorithms algorithms;
    InfoUnsigned maxSerializedLargeBlobArray;
    InfoBoolean forcePinChange;
    InfoUnsigned minPINLength;
    InfoUnsigned firmwareVersion;
    InfoUnsigned maxCredBlobLength;
    InfoUnsigned maxRPIDsForSetMinPINLength;
    InfoUnsigned preferredPlatformUvAttempts;
    InfoUnsigned uvModality;
    InfoCertifications certifications;
    InfoUnsigned remainingDiscoverableCredentials;
    InfoUnsigned vendorPrototypeConfigCommands;
    InfoTexts attestationFormats;
    InfoUnsigned uvCountSinceLastPinEntry;
    InfoBoolean longTouchForReset;
    InfoBytes encIdentifier;
    InfoTexts transportsForReset;
    InfoBoolean pinComplexityPolicy;
    InfoBytes pinComplexityPolicyURL;
    InfoUnsigned maxPINLength;
    InfoBytes encCredStoreState;
    InfoUnsignedList authenticatorConfigCommands;
    // Members under any other key: the unsigned key and the member's CBOR item as received.
    std::vector<std::pair<uint64_t, std::vector<uint8_t>>> otherMembers;

    // The first option of that name, when its value is a boolean.
    std::optional<bool> option(std::string_view name) const;
    std::optional<bool> clientPin() const { return option("clientPin"); }
    // The first certification of that name, when its value is unsigned.
    std::optional<uint64_t> certification(std::string_view name) const;
};

// Where a member lives in AuthenticatorInfo; the alternative is the member's kind.
using InfoField =
    std::variant<InfoTexts AuthenticatorInfo::*, InfoBytes AuthenticatorInfo::*,
                 InfoUnsigned AuthenticatorInfo::*, InfoBoolean AuthenticatorInfo::*,
                 InfoUnsignedList AuthenticatorInfo::*, InfoOptions AuthenticatorInfo::*,
                 InfoAlgorithms AuthenticatorInfo::*, InfoCertifications AuthenticatorInfo::*>;

struct InfoMember {
    uint8_t key;
    std::string_view name;  // in the JSON data, as CTAP 2.2 names it
    InfoField field;
    bool required = false;  // shown, and written, even when the key left it out
};

// Every member the inspector knows, in key order.
inline constexpr std::array<InfoMember, 31> INFO_MEMBERS = {{
    {1, "versions", &AuthenticatorInfo::versions, true},
    {2, "extensions", &AuthenticatorInfo::extensions},
    {3, "aaguid", &AuthenticatorInfo::aaguid},
    {4, "options", &AuthenticatorInfo::options},
    {5, "maxMsgSize", &AuthenticatorInfo::maxMsgSize},
    {6, "pinUvAuthProtocols", &AuthenticatorInfo::pinUvAuthProtocols},
    {7, "maxCredentialCountInList", &AuthenticatorInfo::maxCredentialCountInList},
    {8, "maxCredentialIdLength", &AuthenticatorInfo::maxCredentialIdLength},
    {9, "transports", &AuthenticatorInfo::transports},
    {10, "algorithms", &AuthenticatorInfo::algorithms},
    {11, "maxSerializedLargeBlobArray", &AuthenticatorInfo::maxSerializedLargeBlobArray},
    {12, "forcePINChange", &AuthenticatorInfo::forcePinChange},
    {13, "minPINLength", &AuthenticatorInfo::minPINLength},
    {14, "firmwareVersion", &AuthenticatorInfo::firmwareVersion},
    {15, "maxCredBlobLength", &AuthenticatorInfo::maxCredBlobLength},
    {16, "maxRPIDsForSetMinPINLength", &AuthenticatorInfo::maxRPIDsForSetMinPINLength},
    {17, "preferredPlatformUvAttempts", &AuthenticatorInfo::preferredPlatformUvAttempts},
    {18, "uvModality", &AuthenticatorInfo::uvModality},
    {19, "certifications", &AuthenticatorInfo::certifications},
    {20, "remainingDiscoverableCredentials", &AuthenticatorInfo::remainingDiscoverableCredentials},
    {21, "vendorPrototypeConfigCommands", &AuthenticatorInfo::vendorPrototypeConfigCommands},
    {22, "attestationFormats", &AuthenticatorInfo::attestationFormats},
    {23, "uvCountSinceLastPinEntry", &AuthenticatorInfo::uvCountSinceLastPinEntry},
    {24, "longTouchForReset", &AuthenticatorInfo::longTouchForReset},
    {25, "encIdentifier", &AuthenticatorInfo::encIdentifier},
    {26, "transportsForReset", &AuthenticatorInfo::transportsForReset},
    {27, "pinComplexityPolicy", &AuthenticatorInfo::pinComplexityPolicy},
    {28, "pinComplexityPolicyURL", &AuthenticatorInfo::pinComplexityPolicyURL},
    {29, "maxPINLength", &AuthenticatorInfo::maxPINLength},
    {30, "encCredStoreState", &AuthenticatorInfo::encCredStoreState},
    {31, "authenticatorConfigCommands", &AuthenticatorInfo::authenticatorConfigCommands},
}};

// The member of that key, or null.
constexpr const InfoMember* infoMember(uint64_t key) {
    return key >= 1 && key <= INFO_MEMBERS.size() ? &INFO_MEMBERS[key - 1] : nullptr;
}

// Calls visit(value) with the member's typed value in info (const or not).
template <class Info, class Visit>
decltype(auto) visitMember(const InfoMember& member, Info& info, Visit&& visit) {
    return std::visit([&](auto field) -> decltype(auto) { return visit(info.*field); },
                      member.field);
}

// Whether the key sent the member: a value, or a list with elements.
template <typename T>
bool hasValue(const std::optional<T>& value) {
    return value.has_value();
}
template <typename T>
bool hasValue(const std::vector<T>& list) {
    return !list.empty();
}

// The JSON name of a member by key (empty for a key without one).
std::string_view authenticatorInfoMemberName(uint64_t key);

// Decodes the CBOR map after the status byte; never reads past the span. A reply that is no
// map gives an empty value. The first of a repeated key counts.
AuthenticatorInfo decodeAuthenticatorInfo(CborSpan reply);

// The CBOR map of the members info has, in key order; other members are written as they
// are, in key order with the rest. Text-keyed maps are written in CTAP2 canonical order.
// Numbers above 32 bits, or a full writer, set writer.failed.
void encodeAuthenticatorInfo(const AuthenticatorInfo& info, CborWriter& writer);

}  // namespace orvanta
