#pragma once
// Distinguished names as the certificate rows show them: the subject as its attribute
// values in encoded order, the issuer as its display name (the common name). The values
// are read from the Name as encoded, whatever their string type.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace orvanta {

// One AttributeTypeAndValue of a Name.
struct NameAttribute {
    std::span<const uint8_t> type;   // content of the OBJECT IDENTIFIER
    uint8_t tag = 0;                 // of the value
    std::span<const uint8_t> value;  // content of the value
    bool sameRdnAsNext = false;      // the next attribute belongs to the same RDN
};

// The attributes of a DER Name, SEQUENCE OF SET OF SEQUENCE { OID, value }, in encoded
// order; they point into `name`. Nothing when the bytes are no such Name.
std::optional<std::vector<NameAttribute>> nameAttributes(std::span<const uint8_t> name);

// One attribute value as UTF-8: UTF8String (invalid sequences become U+FFFD), BMPString,
// UniversalString, TeletexString (read as Latin-1) and the ASCII string types; control
// characters become '?'. A value of any other type is shown as "#" and its hex octets.
std::string attributeValueText(int tag, const uint8_t* value, size_t length);

// The attribute values joined with ", " (values of one multi-valued RDN with " + "), of any
// length, e.g. "US, Orvanta Virtual, Authenticator Attestation, Orvanta Virtual Key
// Attestation". An empty name gives an empty text.
std::string nameValuesText(std::span<const NameAttribute> name);

// The first common name; without one, the last attribute value; empty for an empty name.
std::string nameDisplayText(std::span<const NameAttribute> name);

}  // namespace orvanta
