#include "sim/get_info.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "ctap/authenticator_info.h"
#include "sim/cbor_out.h"

namespace orvanta {

namespace {

AuthenticatorAlgorithm signatureAlgorithm(int64_t alg) {
    return {alg, "public-key"};
}

InfoTexts versions21(const Profile& p) {
    InfoTexts v;
    if (p.u2f) {
        v.push_back("U2F_V2");
    }
    v.insert(v.end(), {"FIDO_2_0", "FIDO_2_1"});
    return v;
}

AuthenticatorInfo minimal(const Profile& p, bool pinSet) {
    AuthenticatorInfo info;
    info.versions = p.u2f ? InfoTexts{"U2F_V2", "FIDO_2_0"} : InfoTexts{"FIDO_2_0"};
    info.aaguid.emplace(p.aaguid.begin(), p.aaguid.end());
    info.options = {{"rk", false}, {"up", true}, {"plat", false}, {"clientPin", pinSet}};
    info.maxMsgSize = VIRTUAL_MAX_MSG_SIZE;
    info.pinUvAuthProtocols.assign(p.pinProtocols.begin(), p.pinProtocols.end());
    info.transports = {"usb"};
    return info;
}

AuthenticatorInfo standard(const Profile& p, bool pinSet) {
    AuthenticatorInfo info = minimal(p, pinSet);
    info.versions = versions21(p);
    info.extensions = {"credProtect", "hmac-secret"};
    info.options = {{"rk", true},
                    {"up", true},
                    {"plat", false},
                    {"clientPin", pinSet},
                    {"pinUvAuthToken", true},
                    {"makeCredUvNotRqd", true}};
    info.maxCredentialCountInList = 8;
    info.maxCredentialIdLength = 128;
    info.algorithms = {signatureAlgorithm(-7)};
    info.minPINLength = 4;
    info.firmwareVersion =
        uint64_t{p.firmwareMajor} << 16 | uint64_t{p.firmwareMinor} << 8 | p.firmwareBuild;
    return info;
}

AuthenticatorInfo full(const Profile& p, bool pinSet) {
    AuthenticatorInfo info = standard(p, pinSet);
    info.versions.insert(info.versions.end() - 1, "FIDO_2_1_PRE");
    info.extensions = {"credBlob", "credProtect", "hmac-secret", "largeBlobKey", "minPinLength"};
    info.options = {{"ep", false},
                    {"rk", true},
                    {"up", true},
                    {"uv", false},
                    {"plat", false},
                    {"uvAcfg", false},
                    {"alwaysUv", false},
                    {"credMgmt", true},
                    {"authnrCfg", true},
                    {"bioEnroll", false},
                    {"clientPin", pinSet},
                    {"largeBlobs", true},
                    {"uvBioEnroll", false},
                    {"pinUvAuthToken", true},
                    {"setMinPINLength", true},
                    {"makeCredUvNotRqd", true},
                    {"credentialMgmtPreview", true},
                    {"userVerificationMgmtPreview", false},
                    {"noMcGaPermissionsWithClientPin", false}};
    // A key without user verification of its own does not name the option at all.
    if (!p.builtInUv) {
        std::erase_if(info.options, [](const NamedValue<bool>& o) { return o.name == "uv"; });
    }
    info.transports = {"nfc", "usb"};
    info.algorithms.push_back(signatureAlgorithm(-8));
    info.maxSerializedLargeBlobArray = 1024;
    info.forcePinChange = false;
    info.maxCredBlobLength = 32;
    info.maxRPIDsForSetMinPINLength = 1;
    info.preferredPlatformUvAttempts = 3;
    info.uvModality = 2;  // fingerprint
    info.certifications = {{"FIDO", 2}, {"CC-EAL", 5}};
    info.remainingDiscoverableCredentials = 25;
    // vendorPrototypeConfigCommands as CTAP 2.1 has it, an array of commands, which the
    // inspector's typed value (a single number) does not hold: sent as it is.
    CborOut commands;
    beginArray(commands.w, 1);
    commands.integer(0x4F52);
    info.otherMembers.emplace_back(21, commands.bytes());
    // The members CTAP 2.2 adds.
    info.attestationFormats = {"packed", "none"};
    info.uvCountSinceLastPinEntry = 0;
    info.longTouchForReset = false;
    info.encIdentifier = {0x45, 0x4E, 0x43, 0x2D, 0x49, 0x44, 0x2D, 0x4F,
                          0x52, 0x56, 0x41, 0x4E, 0x54, 0x41, 0x00, 0x01};
    info.transportsForReset = {"usb"};
    info.pinComplexityPolicy = false;
    const std::string policyUrl = "https://example.org/pin-policy";
    info.pinComplexityPolicyURL.emplace(policyUrl.begin(), policyUrl.end());
    info.maxPINLength = 63;
    info.encCredStoreState = {0x00, 0x00, 0x00, 0x19};
    info.authenticatorConfigCommands = {1, 2, 3};
    return info;
}

// A getInfo that breaks the rules: keys out of order and one in a longer form than needed,
// an AAGUID one byte short, no U2F_V2 though U2F answers, PIN protocols without a PIN option,
// an option that is no boolean, and a maxMsgSize under 1024.
Bytes ruleBreakingInfo(const Profile& p) {
    CborOut out;
    beginMap(out.w, 5);
    out.integer(3);
    putBytes(out.w, p.aaguid.data(), static_cast<uint32_t>(p.aaguid.size() - 1));
    out.integer(1);
    beginArray(out.w, 2);
    out.text("FIDO_2_0").text("FIDO_2_1");
    out.integer(4);
    beginMap(out.w, 2);
    out.text("rk").integer(1);
    out.text("up");
    putBool(out.w, true);
    out.integer(5).integer(512);
    const uint8_t longKey[2] = {0x18, 0x06};  // 6 in two bytes
    if (out.w.length + 2 <= out.w.capacity) {
        std::copy(std::begin(longKey), std::end(longKey), out.w.buffer + out.w.length);
        out.w.length += 2;
    }
    beginArray(out.w, 1);
    out.integer(1);
    return out.reply();
}

}  // namespace

Bytes buildGetInfo(const Profile& profile, bool pinSet) {
    if (profile.breaks == RuleBreak::Cbor) {
        return ruleBreakingInfo(profile);
    }
    AuthenticatorInfo info;
    switch (profile.getInfo) {
        case GetInfoKind::Minimal:
            info = minimal(profile, pinSet);
            break;
        case GetInfoKind::Standard:
            info = standard(profile, pinSet);
            break;
        case GetInfoKind::Full:
            info = full(profile, pinSet);
            break;
    }
    CborOut out;
    encodeAuthenticatorInfo(info, out.w);
    return out.reply();
}

}  // namespace orvanta
