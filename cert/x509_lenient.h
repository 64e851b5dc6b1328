#pragma once
// X.509 decoding with libcrypto, lenient where the rows do not need the library's verdict.
// The rows take the serial number, the names and the public key from the bytes as the key
// encoded them; the library judges the rest of the structure. It refuses a few slips that
// real attestation certificates make and that other decoders accept: a signature BIT
// STRING whose unused-bits octet is out of range (some early U2F certificates), a serial
// number with redundant leading octets, and names whose strings do not convert to UTF-8
// (broken UTF-8, UTF-16 surrogates in a BMPString). For those it gets a copy without them.

#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace orvanta {

struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

// Fields of the tbsCertificate exactly as encoded.
struct CertificateFields {
    std::span<const uint8_t> serial;                // the INTEGER's content
    std::span<const uint8_t> issuer;                // the whole Name
    std::span<const uint8_t> subject;               // the whole Name
    std::span<const uint8_t> subjectPublicKeyInfo;  // the whole SEQUENCE
};

// The fields when `der` starts with SEQUENCE { SEQUENCE { [0] version (optional), INTEGER,
// SEQUENCE, Name, SEQUENCE, Name, SEQUENCE, ... }, SEQUENCE, BIT STRING }; nothing
// otherwise. Only the layout is checked, not the contents.
std::optional<CertificateFields> certificateFields(std::span<const uint8_t> der);

// Offset of the unused-bits octet of the outer signature BIT STRING when `der` is shaped
// like a certificate, SEQUENCE { SEQUENCE, SEQUENCE, BIT STRING }, and that octet is not
// zero; nothing otherwise (also when the octet is already zero).
std::optional<size_t> nonZeroSignatureUnusedBits(const uint8_t* der, size_t length);

// Decodes one DER certificate. When the library refuses the bytes, decodes a copy with the
// serial number 1, empty names and a zero unused-bits octet instead (the rows read those
// from the original). Null when neither decodes.
X509Ptr parseCertificateLenient(std::span<const uint8_t> der);

}  // namespace orvanta
