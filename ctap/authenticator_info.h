#pragma once
// authenticatorGetInfo as a typed value: every member the inspector knows by name, and any
// other member kept as its raw CBOR item. Decoding reads the reply in one walk and never
// past the received bytes; presentation (rows, JSON) is built from this value elsewhere.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ctap/cbor.h"

namespace orvanta {

// One entry of member 10 (algorithms).
struct AuthenticatorAlgorithm {
    std::optional<int64_t> alg;  // "alg" when it is an integer
    std::string type;            // "type"; empty when it is no text string
};

// A text-keyed entry of a map member (options, certifications), in reply order. value is
// empty when the entry's value is not of the member's kind.
template <typename T>
struct NamedValue {
    std::string name;
    std::optional<T> value;
};

struct AuthenticatorInfo {
    // Lists of text: an element that is no text string (or is missing) reads as empty, so
    // a list keeps its length as the key announced it.
    std::vector<std::string> versions;                         // 1
    std::vector<std::string> extensions;                       // 2
    std::optional<std::vector<uint8_t>> aaguid;                // 3
    std::vector<NamedValue<bool>> options;                     // 4, in reply order
    std::optional<uint64_t> maxMsgSize;                        // 5
    std::vector<uint64_t> pinUvAuthProtocols;                  // 6 (unsigned elements)
    std::optional<uint64_t> maxCredentialCountInList;          // 7
    std::optional<uint64_t> maxCredentialIdLength;             // 8
    std::vector<std::string> transports;                       // 9
    std::vector<AuthenticatorAlgorithm> algorithms;            // 10
    std::optional<uint64_t> maxSerializedLargeBlobArray;       // 11
    std::optional<bool> forcePinChange;                        // 12
    std::optional<uint64_t> minPINLength;                      // 13
    std::optional<uint64_t> firmwareVersion;                   // 14
    std::optional<uint64_t> maxCredBlobLength;                 // 15
    std::optional<uint64_t> maxRPIDsForSetMinPINLength;        // 16
    std::optional<uint64_t> preferredPlatformUvAttempts;       // 17
    std::optional<uint64_t> uvModality;                        // 18
    std::vector<NamedValue<uint64_t>> certifications;          // 19, in reply order
    std::optional<uint64_t> remainingDiscoverableCredentials;  // 20
    std::optional<uint64_t> vendorPrototypeConfigCommands;     // 21
    // Members under any other key (0, or 22 and above, or a later duplicate is not kept):
    // the unsigned key and the member's CBOR item as received.
    std::vector<std::pair<uint64_t, std::vector<uint8_t>>> otherMembers;

    // The first option of that name, when its value is a boolean.
    std::optional<bool> option(std::string_view name) const;
    std::optional<bool> clientPin() const { return option("clientPin"); }
    // The first certification of that name, when its value is unsigned.
    std::optional<uint64_t> certification(std::string_view name) const;
};

// The member names of keys 1 to 21, by key (index 0 is empty).
std::string_view authenticatorInfoMemberName(uint64_t key);

// Decodes the CBOR map after the status byte. A reply that is no map gives an empty value.
AuthenticatorInfo decodeAuthenticatorInfo(CborSpan reply);

}  // namespace orvanta
