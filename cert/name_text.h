#pragma once
// Distinguished names as the certificate rows show them: the subject as its attribute
// values in encoded order, the issuer as its display name (the common name).

#include <mbedtls/x509.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvanta {

// One attribute value as UTF-8: UTF8String (invalid sequences become U+FFFD), BMPString,
// UniversalString, TeletexString (read as Latin-1) and the ASCII string types; control
// characters become '?'. A value of any other type is shown as "#" and its hex octets.
std::string attributeValueText(int tag, const uint8_t* value, size_t length);

// The attribute values joined with ", " (values of one multi-valued RDN with " + "), of any
// length, e.g. "US, Orvanta Virtual, Authenticator Attestation, Orvanta Virtual Key
// Attestation". An empty name gives an empty text.
std::string nameValuesText(const mbedtls_x509_name* name);

// The first common name; without one, the last attribute value; empty for an empty name.
std::string nameDisplayText(const mbedtls_x509_name* name);

}  // namespace orvanta
