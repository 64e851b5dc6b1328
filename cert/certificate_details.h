#pragma once
// An X.509 certificate as the run of rows that both certification pages show: version,
// serial number, subject, issuer, validity, public key, Base64, the FIDO transports
// extension, and the result of the attestation signature check.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ctap/user_prompts.h"
#include "info/page_model.h"

namespace orvanta {

// Which page shows the certificate; they differ in the separator row, the failure message
// and when the signature check runs.
enum class CertificateVariant { Fido2, U2f };

inline constexpr const char* FIDO_TRANSPORTS_OID_TEXT = "1.3.6.1.4.1.45724.2.1.1";
inline constexpr const char* FIDO2_DECODE_FAILED = "Fetch certifications failed2222!";
inline constexpr const char* U2F_DECODE_FAILED = "Fetch certifications failed6666!";

// The texts of one decoded certificate.
struct CertificateText {
    std::string version;                    // "V3"
    std::string serialNumber;               // "00 9A 3C "
    std::string subject;                    // attribute values joined with ", "
    std::string issuer;                     // the issuer's common name
    std::string validity;                   // "notBefore - notAfter" in local time
    std::string publicKey;                  // "04 ... "
    std::string base64;                     // the whole DER certificate as given
    std::vector<uint8_t> publicKeyOctets;   // subjectPublicKey without the unused-bits octet
    std::optional<std::string> transports;  // the "Extentions" text, when present
};

// Decodes a DER certificate (leniently, see x509_lenient.h). False when it is none.
bool describeCertificate(const uint8_t* der, size_t length, CertificateText& text);

// The rows "Version" ... "Base64 encode" and, when present, "Extentions".
std::vector<Row> certificateRows(const CertificateText& text);

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
// "Attestation". U2F variant: "Verify Result" always. Before the rows, the certificate is
// written to a new temporary ".cer" file that the page remembers. Returns 0 when the rows
// were added, 1 when the certificate does not decode (after the error message
// "Fetch certifications failed2222!" or "...6666!").
int showCertificateDetails(CertificatePage& page, const uint8_t* certificate,
                           size_t certificateLength, const uint8_t* signedData,
                           size_t signedDataLength, const uint8_t* signature,
                           size_t signatureLength, CertificateVariant variant,
                           UserPrompts& prompts);

}  // namespace orvanta
