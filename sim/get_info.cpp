#include "sim/get_info.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "sim/cbor_out.h"

namespace orvanta {

namespace {

using Options = std::vector<std::pair<std::string, bool>>;

// Canonical CTAP2 order of text keys: shorter first, then bytewise.
void putOptions(CborOut& out, Options options) {
    std::sort(options.begin(), options.end(), [](const auto& a, const auto& b) {
        if (a.first.size() != b.first.size()) {
            return a.first.size() < b.first.size();
        }
        return a.first < b.first;
    });
    beginMap(out.w, static_cast<uint32_t>(options.size()));
    for (const auto& [name, value] : options) {
        out.text(name);
        putBool(out.w, value);
    }
}

void putTexts(CborOut& out, const std::vector<std::string>& texts) {
    beginArray(out.w, static_cast<uint32_t>(texts.size()));
    for (const auto& t : texts) {
        out.text(t);
    }
}

void putPinProtocols(CborOut& out, const Profile& p) {
    beginArray(out.w, static_cast<uint32_t>(p.pinProtocols.size()));
    for (const uint8_t protocol : p.pinProtocols) {
        out.integer(protocol);
    }
}

void putAlgorithm(CborOut& out, int32_t alg) {
    beginMap(out.w, 2);
    out.text("alg").integer(alg);
    out.text("type").text("public-key");
}

uint32_t firmwareVersion(const Profile& p) {
    return static_cast<uint32_t>(p.firmwareMajor) << 16 |
           static_cast<uint32_t>(p.firmwareMinor) << 8 | p.firmwareBuild;
}

Bytes minimal(const Profile& p, bool pinSet) {
    CborOut out;
    beginMap(out.w, 6);
    out.integer(1);
    putTexts(out, p.u2f ? std::vector<std::string>{"U2F_V2", "FIDO_2_0"}
                        : std::vector<std::string>{"FIDO_2_0"});
    out.integer(3);
    putBytes(out.w, p.aaguid.data(), 16);
    out.integer(4);
    putOptions(out, {{"rk", false}, {"up", true}, {"plat", false}, {"clientPin", pinSet}});
    out.integer(5).integer(static_cast<int32_t>(VIRTUAL_MAX_MSG_SIZE));
    out.integer(6);
    putPinProtocols(out, p);
    out.integer(9);
    putTexts(out, {"usb"});
    return out.reply();
}

std::vector<std::string> versions21(const Profile& p) {
    std::vector<std::string> v;
    if (p.u2f) {
        v.push_back("U2F_V2");
    }
    v.insert(v.end(), {"FIDO_2_0", "FIDO_2_1"});
    return v;
}

Bytes standard(const Profile& p, bool pinSet) {
    CborOut out;
    beginMap(out.w, 12);
    out.integer(1);
    putTexts(out, versions21(p));
    out.integer(2);
    putTexts(out, {"credProtect", "hmac-secret"});
    out.integer(3);
    putBytes(out.w, p.aaguid.data(), 16);
    out.integer(4);
    putOptions(out, {{"rk", true},
                     {"up", true},
                     {"plat", false},
                     {"clientPin", pinSet},
                     {"pinUvAuthToken", true},
                     {"makeCredUvNotRqd", true}});
    out.integer(5).integer(static_cast<int32_t>(VIRTUAL_MAX_MSG_SIZE));
    out.integer(6);
    putPinProtocols(out, p);
    out.integer(7).integer(8);
    out.integer(8).integer(128);
    out.integer(9);
    putTexts(out, {"usb"});
    out.integer(10);
    beginArray(out.w, 1);
    putAlgorithm(out, -7);
    out.integer(13).integer(4);
    putUnsigned(out.w, 14);
    putUnsigned(out.w, firmwareVersion(p));
    return out.reply();
}

Bytes full(const Profile& p, bool pinSet) {
    CborOut out;
    beginMap(out.w, 31);
    out.integer(1);
    std::vector<std::string> versions = versions21(p);
    versions.insert(versions.end() - 1, "FIDO_2_1_PRE");
    putTexts(out, versions);
    out.integer(2);
    putTexts(out, {"credBlob", "credProtect", "hmac-secret", "largeBlobKey", "minPinLength"});
    out.integer(3);
    putBytes(out.w, p.aaguid.data(), 16);
    out.integer(4);
    putOptions(out, {{"ep", false},
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
                     {"noMcGaPermissionsWithClientPin", false}});
    out.integer(5).integer(static_cast<int32_t>(VIRTUAL_MAX_MSG_SIZE));
    out.integer(6);
    putPinProtocols(out, p);
    out.integer(7).integer(8);
    out.integer(8).integer(128);
    out.integer(9);
    putTexts(out, {"nfc", "usb"});
    out.integer(10);
    beginArray(out.w, 2);
    putAlgorithm(out, -7);
    putAlgorithm(out, -8);
    out.integer(11).integer(1024);
    out.integer(12);
    putBool(out.w, false);
    out.integer(13).integer(4);
    putUnsigned(out.w, 14);
    putUnsigned(out.w, firmwareVersion(p));
    out.integer(15).integer(32);
    out.integer(16).integer(1);
    out.integer(17).integer(3);
    out.integer(18).integer(2);  // fingerprint
    out.integer(19);
    beginMap(out.w, 2);
    out.text("FIDO").integer(2);
    out.text("CC-EAL").integer(5);
    out.integer(20).integer(25);
    out.integer(21);  // vendorPrototypeConfigCommands: an array in CTAP 2.1
    beginArray(out.w, 1);
    out.integer(0x4F52);
    // The members CTAP 2.2 adds.
    out.integer(22);
    putTexts(out, {"packed", "none"});
    out.integer(23).integer(0);
    out.integer(24);
    putBool(out.w, false);
    out.integer(25);
    const std::array<uint8_t, 16> encIdentifier = {0x45, 0x4E, 0x43, 0x2D, 0x49, 0x44, 0x2D, 0x4F,
                                                   0x52, 0x56, 0x41, 0x4E, 0x54, 0x41, 0x00, 0x01};
    putBytes(out.w, encIdentifier.data(), static_cast<uint32_t>(encIdentifier.size()));
    out.integer(26);
    putTexts(out, {"usb"});
    out.integer(27);
    putBool(out.w, false);
    out.integer(28);
    const std::string policyUrl = "https://example.org/pin-policy";
    putBytes(out.w, reinterpret_cast<const uint8_t*>(policyUrl.data()),
             static_cast<uint32_t>(policyUrl.size()));
    out.integer(29).integer(63);
    out.integer(30);
    const std::array<uint8_t, 4> credStoreState = {0x00, 0x00, 0x00, 0x19};
    putBytes(out.w, credStoreState.data(), static_cast<uint32_t>(credStoreState.size()));
    out.integer(31);
    beginArray(out.w, 3);
    out.integer(1).integer(2).integer(3);
    return out.reply();
}

}  // namespace

Bytes buildGetInfo(const Profile& profile, bool pinSet) {
    switch (profile.getInfo) {
        case GetInfoKind::Minimal:
            return minimal(profile, pinSet);
        case GetInfoKind::Standard:
            return standard(profile, pinSet);
        case GetInfoKind::Full:
            break;
    }
    return full(profile, pinSet);
}

}  // namespace orvanta
