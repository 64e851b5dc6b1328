#pragma once
// What one virtual security key carries and how it behaves: its HID identity, its CTAP2
// and U2F abilities, its PIN, its vendor applets, how the user touches it, and the faults
// it can be told to commit. Named profiles cover the usual cases.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvanta {

inline constexpr uint16_t VIRTUAL_VENDOR_ID = 0x1209;
inline constexpr uint16_t VIRTUAL_PRODUCT_ID = 0x0001;
inline constexpr const char* VIRTUAL_PRODUCT_STRING = "Orvanta Virtual Key";

// The smart-card style applications the hardware page asks about.
enum class Applet : uint8_t { Identify, Fingerprint, WinHello, Otp, Piv, Gids, Ndef, U2f };
inline constexpr size_t APPLET_COUNT = 8;

struct AppletConfig {
    bool present = true;
    // Reported in data bytes 8 and 9 of the version command (bytes 5 and 6 of the
    // fingerprint module reply).
    uint8_t versionMajor = 1;
    uint8_t versionMinor = 0;
};

// When the user touches the key. Every request that needs user presence asks once; a
// CTAP2 request that waits asks again at every keepalive step.
struct TouchPolicy {
    enum class Mode { Immediate, AfterRequests, AfterMs, Never };
    Mode mode = Mode::Immediate;
    uint32_t requests = 0;  // AfterRequests: the n-th check since the last touch succeeds
    uint32_t ms = 0;        // AfterMs: clock time since the first check of a wait

    static TouchPolicy immediate() { return {}; }
    static TouchPolicy afterRequests(uint32_t n) { return {Mode::AfterRequests, n, 0}; }
    static TouchPolicy afterMs(uint32_t t) { return {Mode::AfterMs, 0, t}; }
    static TouchPolicy never() { return {Mode::Never, 0, 0}; }
};

// Ways to misbehave, for hardening the inspector. Silence covers every reply (INIT
// included); the others touch the replies to requests, never the INIT reply.
enum class FaultMode : uint8_t {
    None,
    Silence,           // accepts reports, never answers
    OversizedBcnt,     // reply announces 0xFFFF bytes
    WrongChannel,      // reply goes to another channel than the request's
    TruncatedCbor,     // successful CBOR replies lose the second half of their data
    MalformedCbor,     // successful CBOR replies carry broken CBOR
    ShortPinToken,     // sends 16 bytes of its 32-byte pinToken, checks with all 32
    ShortU2fResponse,  // the U2F registration response stops inside its certificate
    BadCertificate,    // the attestation certificate does not decode
    EndlessKeepalive,  // answers INIT, then only keepalives ("processing"), forever
    ChannelBusy,       // answers INIT, then CTAPHID_ERROR 6 (channel busy) to every request,
                       // as a key another program holds
    ClientPinBusy,     // answers authenticatorClientPIN requests with CTAPHID_ERROR 6
};
const char* faultModeName(FaultMode mode);

// Rules a key breaks on purpose, one family each, so that every conformance check is seen to
// fail as well as to pass.
enum class RuleBreak : uint8_t {
    None,
    Cbor,    // getInfo: not canonical, members of the wrong type or missing, wrong claims
    Hid,     // CTAPHID: channels, sequence, busy, WINK and CANCEL handled wrongly
    U2f,     // U2F: other status words than the raw messages give, VERSION "U2F_V3"
    Errors,  // CTAP2: other status codes for refused requests, PIN answers out of range
};

// The key type of the attestation key and its certificates (packed "alg" and the U2F
// registration signature follow it).
enum class AttestationKeyType : uint8_t {
    P256,     // ES256
    Ed25519,  // EdDSA
};

// How much authenticatorGetInfo tells.
enum class GetInfoKind : uint8_t {
    Minimal,   // a CTAP 2.0 key: versions, aaguid, options, maxMsgSize, pinProtocols
    Standard,  // a CTAP 2.1 key without the rarer members
    Full,      // every member 1 to 21 of a CTAP 2.1 key
};

// A non-FIDO top-level collection of the same USB device (for example a keyboard).
struct CollectionShape {
    uint16_t usagePage = 0x0001;
    uint16_t usage = 0x0006;
    uint16_t inputReportLength = 9;
    uint16_t outputReportLength = 2;
};

struct Profile {
    std::string name = "default";

    // HID identity.
    std::string productString = VIRTUAL_PRODUCT_STRING;
    uint16_t vendorId = VIRTUAL_VENDOR_ID;
    uint16_t productId = VIRTUAL_PRODUCT_ID;
    uint16_t releaseNumber = 0x0100;
    // Collections beside the FIDO one; the FIDO collection is listed at fidoPosition.
    std::vector<CollectionShape> extraCollections;
    size_t fidoPosition = 0;
    // When not empty, opening any collection of the device fails with this reason.
    std::string openError;

    // Protocols.
    bool ctap2 = true;  // false: a U2F-only key, CTAPHID_CBOR is an invalid command
    bool u2f = true;    // false: U2F_REGISTER answers 0x6D00
    GetInfoKind getInfo = GetInfoKind::Standard;
    std::array<uint8_t, 16> aaguid = {0x4F, 0x52, 0x56, 0x41, 0x4E, 0x54, 0x41, 0x2D,
                                      0x56, 0x49, 0x52, 0x54, 0x55, 0x41, 0x4C, 0x31};
    uint8_t firmwareMajor = 5;
    uint8_t firmwareMinor = 4;
    uint8_t firmwareBuild = 3;
    AttestationKeyType attestationKey = AttestationKeyType::P256;

    // Client PIN: the PIN/UV auth protocols the key speaks, as getInfo member 6 lists them.
    std::vector<uint8_t> pinProtocols = {1};
    bool pinSet = false;
    std::string pin;             // UTF-8
    size_t pinTokenLength = 32;  // 16 to 64, a multiple of 16: keys choose
    uint8_t pinRetries = 8;
    // User verification of its own (a fingerprint sensor, none enrolled): the full getInfo
    // lists the "uv" option, and getUVRetries answers.
    bool builtInUv = false;
    uint8_t uvRetries = 5;

    // Vendor applets, indexed by Applet.
    std::array<AppletConfig, APPLET_COUNT> applets{};
    std::vector<uint8_t> identification = {0x4F, 0x52, 0x56, 0x00, 0x01, 0x02, 0x03, 0x04,
                                           0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C};

    // U2F options.
    bool u2fChaining = false;             // register answers 0x61xx; the data comes by GET RESPONSE
    uint16_t u2fChunk = 256;              // bytes per GET RESPONSE (1..256)
    bool u2fExtendedWrongLength = false;  // the extended-form register answers 0x6700

    TouchPolicy touch;
    FaultMode fault = FaultMode::None;
    RuleBreak breaks = RuleBreak::None;
    // Link model: clock time spent per report read or written (0: off).
    uint32_t linkDelayMs = 0;

    AppletConfig& applet(Applet a) { return applets[static_cast<size_t>(a)]; }
    const AppletConfig& applet(Applet a) const { return applets[static_cast<size_t>(a)]; }
};

// Named profiles: "default", "full", "pin", "u2f-only", "ctap2-only", "no-applets",
// "silent", "busy" (channel busy), "pin-busy" (a PIN, and the PIN requests refused as busy),
// "keyboard", "u2f-chained", "u2f-short-form", "slow-touch", "eddsa" (Ed25519 attestation),
// and "nonconform-cbor", "nonconform-hid", "nonconform-u2f" and "nonconform-errors", which
// break one family of rules each. An unknown name gives the default profile.
Profile profileByName(const std::string& name);
std::vector<std::string> profileNames();
bool isProfileName(const std::string& name);

}  // namespace orvanta
