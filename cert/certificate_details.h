#pragma once
// An X.509 certificate as the run of rows that both certification pages show: version,
// serial number, subject, issuer, validity, public key, Base64, the FIDO transports
// extension, and the result of the attestation signature check.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ctap/user_prompts.h"
#include "info/page_model.h"

namespace orvanta {

// Which page shows the certificate; they differ in the separator row, the failure message
// and when the signature check runs.
enum class CertificateVariant { Fido2, U2f };

inline constexpr const char* FIDO_TRANSPORTS_OID_TEXT = "1.3.6.1.4.1.45724.2.1.1";
inline constexpr const char* BASE64_ROW_LABEL = "Base64 encode";
inline constexpr const char* FIDO2_DECODE_FAILED = "Fetch certifications failed2222!";
inline constexpr const char* U2F_DECODE_FAILED = "Fetch certifications failed6666!";

// An instant of a certificate as it states it (UTC).
struct CertificateTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// One decoded certificate.
struct CertificateDetails {
    int version = 0;  // 1 to 3
    std::vector<uint8_t> serialNumber;
    std::string subject;  // attribute values joined with ", "
    std::string issuer;   // the issuer's common name
    CertificateTime notBefore;
    CertificateTime notAfter;
    std::vector<uint8_t> publicKey;             // subjectPublicKey without the unused-bits octet
    std::vector<uint8_t> subjectPublicKeyInfo;  // as encoded: the key the signatures need
    std::vector<uint8_t> der;                   // the whole certificate as given
    // The value of the FIDO transports extension, when present.
    std::optional<std::vector<uint8_t>> transports;
};

// Decodes a DER certificate with libcrypto (leniently, see x509_lenient.h): every key type
// and every extension, known or not, critical or not. Nothing when the bytes are no
// certificate, or one of a version other than 1 to 3, or with a validity time that names
// no real instant.
std::optional<CertificateDetails> describeCertificate(std::span<const uint8_t> der);

// The rows "Version" ... "Base64 encode" and, when present, "Extentions".
std::vector<Row> certificateRows(const CertificateDetails& details);

// Both in one step, for front ends that decode certificates from files. False when the
// bytes are no certificate (rows untouched).
bool certificateRows(const uint8_t* der, size_t length, std::vector<Row>& rows);

// An instant of a certificate (UTC fields) in local time as "%Y-%m-%d %H:%M:%S", for any
// year 0 to 9999. When the local year would leave that range the UTC time is shown with
// " UTC" appended.
std::string certificateTimeText(int year, int month, int day, int hour, int minute, int second);

// The value text of the transports extension: every octet "%02X ", then "( names )" for the
// set bits 0x80, 0x40, 0x20, 0x10 of the last octet when any is set.
std::string transportsText(const uint8_t* value, size_t length);

// Appends a certificate's rows to the page. FIDO2 variant: a separator row " " / " " first
// (it stays when decoding fails); "Verify Result" only when the subject contains
// "Attestation". U2F variant: "Verify Result" always. A null signedData leaves the
// signature unchecked in both variants: no "Verify Result". The FIDO2 check takes the
// attestation statement's algorithm `alg` when there is one (see signature_check.h); the
// U2F check the algorithm of the certificate's key. Before the rows, the
// certificate is written to a new temporary ".cer" file that the page remembers. Returns 0
// when the rows were added, 1 when the certificate does not decode (after the error message
// "Fetch certifications failed2222!" or "...6666!").
int showCertificateDetails(CertificatePage& page, const uint8_t* certificate,
                           size_t certificateLength, const uint8_t* signedData,
                           size_t signedDataLength, const uint8_t* signature,
                           size_t signatureLength, CertificateVariant variant, UserPrompts& prompts,
                           std::optional<int64_t> alg = std::nullopt);

}  // namespace orvanta
