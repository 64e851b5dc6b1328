#pragma once
// The fetch of the "FIDO2 Certification" page: a test registration with CTAP2
// authenticatorMakeCredential (with a PIN token when the key has a PIN), and the rows of up
// to three attestation certificates from the packed attestation statement.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cert/fetch_outcome.h"
#include "common/aids.h"
#include "ctap/cbor.h"
#include "ctap/ctap_protocol.h"
#include "ctap/pin_protocol.h"
#include "ctap/user_prompts.h"
#include "info/page_model.h"
#include "mds/metadata_blob.h"
#include "transport/device_session.h"
#include "transport/nfc_protocol.h"
#include "transport/result.h"

namespace orvanta {

inline constexpr uint8_t FIDO2_CLIENT_DATA_HASH[32] = {
    0x68, 0x71, 0x34, 0x96, 0x82, 0x22, 0xEC, 0x17, 0x20, 0x2E, 0x42, 0x50, 0x5F, 0x8E, 0xD2, 0xB1,
    0x6A, 0xE2, 0x2F, 0x16, 0xBB, 0x05, 0xB8, 0x8C, 0x25, 0xDB, 0x9E, 0x60, 0x26, 0x45, 0xF1, 0x41};
inline constexpr uint8_t FIDO2_TEST_USER_ID[32] = {
    0x01, 0xB6, 0x5E, 0xBF, 0x91, 0x47, 0x24, 0xC5, 0xFC, 0x50, 0xBE, 0x4E, 0x9F, 0xF2, 0xE6, 0x17,
    0x87, 0xFE, 0x97, 0xF8, 0xF0, 0xB1, 0x54, 0x43, 0x44, 0x31, 0x6E, 0xCD, 0x24, 0x92, 0x5F, 0x01};
inline constexpr std::string_view FIDO2_TEST_RP = "tessmar";  // id and name
inline constexpr std::string_view FIDO2_TEST_USER_NAME = "test@orvanta.test";
inline constexpr std::string_view FIDO2_TEST_DISPLAY_NAME = "Test Ctap";
static_assert(FIDO2_TEST_USER_NAME.size() == 17, "the request layout has a 17-byte user name");

// ISO 7816 SELECT of the FIDO application, sent before the registration.
inline constexpr std::array<uint8_t, 5 + sizeof FIDO_AID> SELECT_FIDO_APDU = [] {
    std::array<uint8_t, 5 + sizeof FIDO_AID> apdu = {ISO_CLA, ISO_INS_SELECT, ISO_SELECT_BY_NAME,
                                                     0x00, sizeof FIDO_AID};
    std::copy(std::begin(FIDO_AID), std::end(FIDO_AID), apdu.begin() + 5);
    return apdu;
}();
inline constexpr uint32_t MAKE_CREDENTIAL_CBOR_CAPACITY = 1024;
inline constexpr uint32_t MAKE_CREDENTIAL_RESPONSE_CAPACITY = 5000;
inline constexpr uint32_t PIN_AUTH_LENGTH = 16;
// Certificates of x5c that are shown; later ones are ignored.
inline constexpr int32_t MAX_SHOWN_CERTIFICATES = 3;

inline constexpr const char* NO_CERTIFICATE_MESSAGE = "No certificate information returned!";

// The authenticatorMakeCredential request: the command byte and the CBOR map of
// clientDataHash, rp, user and pubKeyCredParams (ES256); with pinAuth (16 bytes) also
// keys 8 (pinAuth) and 9 (pinProtocol 1). 171 bytes without, 191 bytes with a pinAuth.
std::vector<uint8_t> buildMakeCredentialRequest(const uint8_t* pinAuth);
// The same with a pinUvAuthParam of the given protocol (16 bytes in protocol 1, 32 in
// protocol 2) in key 8 and the protocol number in key 9; an empty span leaves both out.
std::vector<uint8_t> buildMakeCredentialRequest(std::span<const uint8_t> pinUvAuthParam,
                                                PinProtocol protocol);

// The attestation of an authenticatorMakeCredential response.
struct Fido2Attestation {
    std::string fmt;                 // member 1, when it is text
    std::vector<uint8_t> authData;   // member 2
    std::optional<int64_t> alg;      // attStmt "alg", when it is an integer
    std::vector<uint8_t> signature;  // attStmt "sig"
    // attStmt "x5c", element by element; an element that is no byte string is empty.
    std::vector<std::optional<std::vector<uint8_t>>> x5c;
};

// Decodes the CBOR map after the status byte. Malformed when authData or sig is missing,
// empty or runs past the response.
Result<Fido2Attestation> decodeMakeCredentialResponse(CborSpan response);

// Shows what a successful authenticatorMakeCredential response (the CBOR map after the
// status byte) attests: the signed data is authData followed by clientDataHash, the
// signature is attStmt "sig" made with the algorithm attStmt "alg" names, and each of the
// first three x5c certificates goes to the certificate rows (FIDO2 variant). Missing or
// empty authData or sig end silently (Failed); an attestation without certificates shows
// "No certificate information returned!" (NoCertificate). A null clientDataHash shows the
// same certificate rows without the signature check (no "Verify Result"). The command line
// uses it to decode saved responses.
// After each certificate's rows "Chain Result" (and "Requirements" after the attestation
// certificate's); with a metadata BLOB, the rows of the entry for authData's AAGUID last.
FetchResult showMakeCredentialResult(Fido2CertPage& page, CborSpan response,
                                     const uint8_t clientDataHash[32], UserPrompts& prompts,
                                     const MetadataBlob* metadata = nullptr);

// The whole fetch started by a double click on "Tips": confirmation, page reset, SELECT,
// PIN token when the key has a PIN (as its last authenticatorGetInfo said), the
// registration (the key waits for a touch) and the rows.
// `protocol`: the PIN/UV auth protocol the key's getInfo asks for (choosePinProtocol).
// Cancelled when the confirmation or the PIN is not given or the registration's exchange is
// cancelled (no message then); otherwise `why` says what ended it.
FetchResult fetchFido2Certificates(DeviceSession& session, bool clientPinSet, Fido2CertPage& page,
                                   UserPrompts& prompts, PinProtocol protocol = PinProtocol::One,
                                   const MetadataBlob* metadata = nullptr);

}  // namespace orvanta
