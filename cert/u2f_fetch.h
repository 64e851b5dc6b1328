#pragma once
// The fetch of the "U2F Certification" page: a U2F registration (U2F_REGISTER as an
// ISO 7816 APDU over CTAPHID_MSG), repeated until the user touches the key or ten seconds
// pass, and the rows of the attestation certificate of the registration response.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "cert/fetch_outcome.h"
#include "common/iso_status.h"
#include "ctap/user_prompts.h"
#include "info/page_model.h"
#include "mds/metadata_blob.h"
#include "transport/device_session.h"

namespace orvanta {

inline constexpr uint8_t U2F_CHALLENGE_PARAMETER[32] = {
    0x25, 0x2E, 0xC6, 0x52, 0x5A, 0x24, 0xF6, 0x9B, 0x4F, 0xFB, 0x45, 0x7A, 0x16, 0x58, 0xBD, 0x9E,
    0x51, 0x75, 0x41, 0xB3, 0x61, 0xAE, 0x18, 0x4A, 0x65, 0xC6, 0xBF, 0xFB, 0xA2, 0x0C, 0xBD, 0xDD};
inline constexpr uint8_t U2F_APPLICATION_PARAMETER[32] = {
    0x19, 0x85, 0x6F, 0x2A, 0xD4, 0x86, 0xA9, 0x55, 0x42, 0x0F, 0xA9, 0x88, 0xFE, 0x58, 0x28, 0x42,
    0xF4, 0x07, 0xF4, 0xCA, 0x34, 0x92, 0x39, 0x18, 0x26, 0xB8, 0x9A, 0x92, 0x7C, 0xA2, 0x3C, 0x70};

// Since the start of the fetch, on the session's clock.
inline constexpr uint32_t U2F_FETCH_TIMEOUT_MS = 10000;
// Between two extended-form attempts while the key waits for a touch.
inline constexpr uint32_t U2F_RETRY_PAUSE_MS = 200;

inline constexpr size_t U2F_REGISTER_EXTENDED_LENGTH = 73;
inline constexpr size_t U2F_REGISTER_SHORT_LENGTH = 69;
inline constexpr size_t U2F_RESPONSE_CAPACITY = 5000;   // collected registration response
inline constexpr uint32_t U2F_RECEIVE_CAPACITY = 9999;  // offered to every exchange
inline constexpr size_t U2F_SIGNATURE_CAPACITY = 256;
inline constexpr size_t U2F_USER_KEY_LENGTH = 65;

inline constexpr const char* U2F_TRANSPORT_FAILED_MESSAGE = "Fetch certifications failed3333!";
inline constexpr const char* U2F_EXTENDED_TIMEOUT_MESSAGE = "Fetch certifications failed4444!";
inline constexpr const char* U2F_SHORT_TIMEOUT_MESSAGE = "Fetch certifications failed5555!";
inline constexpr const char* U2F_BAD_RESPONSE_MESSAGE = "Fetch certifications failed6666!";

// The register APDUs: extended form (Lc 00 00 40, Le 00 00) and short form (Lc 40, no Le);
// both carry the challenge parameter, then the application parameter.
void u2fRegisterApdu(const uint8_t challenge[32], const uint8_t application[32],
                     uint8_t apdu[U2F_REGISTER_EXTENDED_LENGTH]);
void u2fRegisterShortApdu(const uint8_t challenge[32], const uint8_t application[32],
                          uint8_t apdu[U2F_REGISTER_SHORT_LENGTH]);

// The parts of a registration response, as views into it.
struct U2fRegistration {
    std::span<const uint8_t> userPublicKey;  // 65 bytes from offset 1
    std::span<const uint8_t> keyHandle;
    std::span<const uint8_t> certificate;  // length from its DER header, any length form
    std::span<const uint8_t> signature;    // the rest of the response, at most 256 bytes
};

// Splits a registration response: reserved byte, user key, key-handle length and handle,
// certificate (a DER SEQUENCE whose length is read in any form), signature. Nothing when a
// part runs past the response, the certificate is no SEQUENCE, the signature is longer
// than 256 bytes, or the response is longer than 5000 bytes.
std::optional<U2fRegistration> parseU2fRegistration(std::span<const uint8_t> response);

// The signed message of a registration: 0x00, application, challenge, key handle, user key.
std::vector<uint8_t> u2fSignedMessage(const U2fRegistration& registration,
                                      std::span<const uint8_t, 32> challenge,
                                      std::span<const uint8_t, 32> application);

// Shows a registration response on the page: the certificate rows (U2F variant) with the
// check of the registration signature. A response that cannot be split, or whose
// certificate does not decode, shows "Fetch certifications failed6666!" (Failed). The
// command line uses it to decode saved responses.
// After the certificate's rows "Chain Result" (the certificate against the roots of its
// metadata entry, found by its key identifier) and, with a BLOB, the entry's rows.
FetchResult showU2fRegistration(U2fCertPage& page, std::span<const uint8_t> response,
                                std::span<const uint8_t, 32> challenge,
                                std::span<const uint8_t, 32> application, UserPrompts& prompts,
                                const MetadataBlob* metadata = nullptr);

// The whole fetch started by a double click on "Tips". Cancelled when the confirmation is
// not given or an exchange is cancelled (no message then); otherwise `why` says what ended
// it.
FetchResult fetchU2fCertificate(DeviceSession& session, U2fCertPage& page, UserPrompts& prompts,
                                const MetadataBlob* metadata = nullptr);

}  // namespace orvanta
