#pragma once
// X.509 decoding with the mbed TLS parser, lenient about one encoding slip of some early
// U2F attestation certificates: a signature BIT STRING whose unused-bits octet is not zero.
// The library refuses those; other decoders accept them, and so does this one.

#include <mbedtls/x509_crt.h>

#include <cstddef>
#include <cstdint>
#include <optional>

#include "ctap/mbedtls_contexts.h"

namespace orvanta {

using X509Certificate = MbedContext<mbedtls_x509_crt, mbedtls_x509_crt_init, mbedtls_x509_crt_free>;

// Offset of the unused-bits octet of the outer signature BIT STRING when `der` is shaped
// like a certificate, SEQUENCE { SEQUENCE, SEQUENCE, BIT STRING }, and that octet is not
// zero; nothing otherwise (also when the octet is already zero).
std::optional<size_t> nonZeroSignatureUnusedBits(const uint8_t* der, size_t length);

// Parses one DER certificate into `certificate` (which must be empty). When the library
// refuses the bytes and only the signature's unused-bits octet is off, parses a copy with
// that octet set to zero; the library keeps its own copy of the bytes it parsed. Returns 0
// or the library's error for the original bytes.
int parseCertificateLenient(const uint8_t* der, size_t length, mbedtls_x509_crt* certificate);

}  // namespace orvanta
