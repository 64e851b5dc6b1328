#include "sim/ctap2_handler.h"

#include <array>
#include <cstring>
#include <optional>
#include <span>
#include <string>

#include "ctap/ctap_protocol.h"
#include "sim/attestation.h"
#include "sim/cbor_out.h"
#include "sim/get_info.h"

namespace orvanta {

// The attested credential of a registration, made once the key is touched: the packed
// attestation reply, for an ES256 or (eddsa) an EdDSA credential.
namespace {

Bytes attestedCredential(VirtualKeyState& key, const std::array<uint8_t, 32>& clientDataHash,
                         const Sha256Digest& rpIdHash, bool verified, bool eddsa);

constexpr uint8_t FLAG_UP = 0x01;
constexpr uint8_t FLAG_UV = 0x04;
constexpr uint8_t FLAG_AT = 0x40;

Ctap2Outcome now(Bytes reply) {
    Ctap2Outcome o;
    o.reply = std::move(reply);
    return o;
}

Ctap2Outcome status(uint8_t s) {
    return now(Bytes{s});
}

Ctap2Outcome afterTouch(std::function<Bytes()> complete) {
    Ctap2Outcome o;
    o.needsTouch = true;
    o.complete = std::move(complete);
    return o;
}

bool isMap(CborSpan span) {
    const CborHeader h = readHeader(span);
    return h.headerLength != 0 && h.majorType == 5;
}

// The first algorithm of pubKeyCredParams (type "public-key") the key makes credentials
// with: ES256 always, EdDSA when its getInfo lists it (the full profile). 0 when none.
int32_t chooseAlgorithm(CborSpan params, bool eddsa, bool& wellFormed) {
    wellFormed = true;
    const CborHeader h = readHeader(params);
    if (h.headerLength == 0 || h.majorType != 4 || h.additionalInfo == 31) {
        wellFormed = false;
        return 0;
    }
    for (uint32_t i = 0; i < h.argument; ++i) {
        const CborSpan element = arrayAt(params, static_cast<int32_t>(i));
        if (!isMap(element)) {
            wellFormed = false;
            return 0;
        }
        const CborHeader alg = readHeader(mapFindText(element, "alg"));
        std::string_view type;
        if (alg.headerLength == 0 || alg.majorType != 1 ||
            !readTextString(mapFindText(element, "type"), &type) || type != "public-key") {
            continue;
        }
        if (alg.argument == 6) {
            return -7;
        }
        if (alg.argument == 7 && eddsa) {
            return -8;
        }
    }
    return 0;
}

// The options map: uv true asks for built-in user verification, which this key lacks.
bool asksUserVerification(CborSpan options) {
    const CborSpan uv = mapFindText(options, "uv");
    return uv.found() && readHeader(uv).majorType == 7 && readHeader(uv).additionalInfo == 21;
}

// The credential's public key as a COSE_Key: EC2, ES256, P-256.
Bytes coseEs256Key(const std::array<uint8_t, 65>& point) {
    CborOut cose(128);
    beginMap(cose.w, 5);
    cose.integer(1).integer(2);   // kty: EC2
    cose.integer(3).integer(-7);  // alg: ES256
    cose.integer(-1).integer(1);  // crv: P-256
    cose.integer(-2);
    putBytes(cose.w, point.data() + 1, 32);
    cose.integer(-3);
    putBytes(cose.w, point.data() + 33, 32);
    return cose.bytes();
}

// The credential's public key as a COSE_Key: OKP, EdDSA, Ed25519.
Bytes coseEd25519Key(const std::array<uint8_t, 32>& publicKey) {
    CborOut cose(128);
    beginMap(cose.w, 4);
    cose.integer(1).integer(1);   // kty: OKP
    cose.integer(3).integer(-8);  // alg: EdDSA
    cose.integer(-1).integer(6);  // crv: Ed25519
    cose.integer(-2);
    putBytes(cose.w, publicKey.data(), 32);
    return cose.bytes();
}

// rpIdHash, flags, the big-endian counter, then the attested credential data.
Bytes authenticatorData(const Sha256Digest& rpIdHash, uint8_t flags, uint32_t counter,
                        std::span<const uint8_t> aaguid, const Bytes& credentialId,
                        const Bytes& coseKey) {
    Bytes authData(rpIdHash.begin(), rpIdHash.end());
    authData.push_back(flags);
    for (int shift = 24; shift >= 0; shift -= 8) {
        authData.push_back(static_cast<uint8_t>(counter >> shift));
    }
    authData.insert(authData.end(), aaguid.begin(), aaguid.end());
    authData.push_back(static_cast<uint8_t>(credentialId.size() >> 8));
    authData.push_back(static_cast<uint8_t>(credentialId.size()));
    authData.insert(authData.end(), credentialId.begin(), credentialId.end());
    authData.insert(authData.end(), coseKey.begin(), coseKey.end());
    return authData;
}

}  // namespace

Ctap2Outcome Ctap2Handler::handle(const uint8_t* message, size_t length) {
    if (message == nullptr || length == 0) {
        return status(ctap_status::INVALID_LENGTH);
    }
    const CborSpan params{length > 1 ? message + 1 : nullptr, static_cast<uint32_t>(length - 1)};
    switch (message[0]) {
        case AUTHENTICATOR_GET_INFO:
            ++key_.counters.getInfoRequests;
            return now(buildGetInfo(key_.profile, pin_.isSet()));
        case AUTHENTICATOR_CLIENT_PIN:
            return now(pin_.handle(params));
        case AUTHENTICATOR_MAKE_CREDENTIAL:
            return makeCredential(params);
        case AUTHENTICATOR_GET_ASSERTION:  // credentials are not kept
            return status(key_.breaks(RuleBreak::Errors) ? ctap_status::INVALID_PARAMETER
                                                         : ctap_status::NO_CREDENTIALS);
        case AUTHENTICATOR_RESET:
            return afterTouch([this] {
                pin_.clear();
                key_.signCount = 0;
                return Bytes{ctap_status::OK};
            });
        case AUTHENTICATOR_SELECTION: {
            Ctap2Outcome selection = afterTouch([] { return Bytes{ctap_status::OK}; });
            selection.blinksFirst = true;
            return selection;
        }
        default:
            return status(key_.breaks(RuleBreak::Errors) ? ctap_status::OTHER
                                                         : ctap_status::INVALID_COMMAND);
    }
}

Ctap2Outcome Ctap2Handler::makeCredential(CborSpan request) {
    ++key_.counters.makeCredentialRequests;
    if (!isMap(request)) {
        return status(ctap_status::CBOR_UNEXPECTED_TYPE);
    }
    const bool wrongCodes = key_.breaks(RuleBreak::Errors);
    const CborSpan cdhItem = mapFindInt(request, 1);
    if (cdhItem.found() && readHeader(cdhItem).majorType != 2) {
        return status(wrongCodes ? ctap_status::MISSING_PARAMETER
                                 : ctap_status::CBOR_UNEXPECTED_TYPE);
    }
    const uint8_t* cdh = nullptr;
    uint32_t cdhLength = 0;
    std::string_view rpId;
    const CborSpan user = mapFindInt(request, 3);
    const CborSpan params = mapFindInt(request, 4);
    if (!readByteString(mapFindInt(request, 1), &cdh, &cdhLength) ||
        !readTextString(mapFindText(mapFindInt(request, 2), "id"), &rpId) || !isMap(user) ||
        !params.found()) {
        return status(wrongCodes ? ctap_status::INVALID_PARAMETER : ctap_status::MISSING_PARAMETER);
    }
    if (cdhLength != 32) {
        return status(ctap_status::INVALID_LENGTH);
    }
    bool wellFormed = true;
    const int32_t algorithm =
        chooseAlgorithm(params, key_.profile.getInfo == GetInfoKind::Full, wellFormed);
    if (algorithm == 0) {
        if (!wellFormed) {
            return status(ctap_status::CBOR_UNEXPECTED_TYPE);
        }
        return status(wrongCodes ? ctap_status::INVALID_CBOR : ctap_status::UNSUPPORTED_ALGORITHM);
    }
    if (asksUserVerification(mapFindInt(request, 7))) {
        return status(ctap_status::UNSUPPORTED_OPTION);
    }
    bool verified = false;
    if (std::optional<Ctap2Outcome> refused = checkPinAuth(request, cdh, verified)) {
        return std::move(*refused);
    }

    std::array<uint8_t, 32> clientDataHash{};
    std::memcpy(clientDataHash.data(), cdh, 32);
    const Sha256Digest rpIdHash =
        sha256Of(reinterpret_cast<const uint8_t*>(rpId.data()), rpId.size());
    return afterTouch([this, clientDataHash, rpIdHash, verified, algorithm] {
        return algorithm == -8 ? attestedCredential(key_, clientDataHash, rpIdHash, verified, true)
                               : registerCredential(clientDataHash, rpIdHash, verified);
    });
}

// PIN rules of CTAP 2.0.
std::optional<Ctap2Outcome> Ctap2Handler::checkPinAuth(CborSpan request,
                                                       const uint8_t* clientDataHash,
                                                       bool& verified) {
    const CborSpan pinAuthItem = mapFindInt(request, 8);
    if (!pinAuthItem.found()) {
        if (pin_.isSet()) {
            return status(ctap_status::PIN_REQUIRED);
        }
        return std::nullopt;
    }
    const uint8_t* pinAuth = nullptr;
    uint32_t pinAuthLength = 0;
    if (!readByteString(pinAuthItem, &pinAuth, &pinAuthLength)) {
        return status(ctap_status::CBOR_UNEXPECTED_TYPE);
    }
    if (pinAuthLength == 0) {
        // A platform asking the user to pick this key: touch, then the PIN state.
        const bool set = pin_.isSet();
        return afterTouch(
            [set] { return Bytes{set ? ctap_status::PIN_INVALID : ctap_status::PIN_NOT_SET}; });
    }
    const CborHeader protocol = readHeader(mapFindInt(request, 9));
    if (protocol.headerLength == 0) {
        return status(ctap_status::MISSING_PARAMETER);
    }
    if (protocol.majorType != 0 || !pin_.speaks(protocol.argument)) {
        // CTAP 2.0 answered PIN_AUTH_INVALID; a CTAP 2.1 key says the parameter is invalid.
        const bool ctap21 = key_.profile.getInfo != GetInfoKind::Minimal;
        return status(ctap21 && !key_.breaks(RuleBreak::Errors) ? ctap_status::INVALID_PARAMETER
                                                                : ctap_status::PIN_AUTH_INVALID);
    }
    if (!pin_.isSet()) {
        return status(ctap_status::PIN_NOT_SET);
    }
    const PinProtocol pinProtocol = protocol.argument == 2 ? PinProtocol::Two : PinProtocol::One;
    if (!pin_.verifyPinAuth(pinProtocol, clientDataHash, pinAuth, pinAuthLength)) {
        return status(ctap_status::PIN_AUTH_INVALID);
    }
    verified = true;
    return std::nullopt;
}

Bytes Ctap2Handler::registerCredential(const std::array<uint8_t, 32>& clientDataHash,
                                       const Sha256Digest& rpIdHash, bool verified) {
    return attestedCredential(key_, clientDataHash, rpIdHash, verified, false);
}

namespace {

Bytes attestedCredential(VirtualKeyState& key, const std::array<uint8_t, 32>& clientDataHash,
                         const Sha256Digest& rpIdHash, bool verified, bool eddsa) {
    Bytes coseKey;
    if (eddsa) {
        SimEd25519Key credential;
        credential.generate(key.drbg);
        coseKey = coseEd25519Key(credential.publicKey());
    } else {
        SimKeyPair credential;
        credential.generate(key.drbg);
        coseKey = coseEs256Key(credential.publicPoint());
    }
    const Bytes credentialId = key.drbg.bytes(64);
    const uint32_t counter = ++key.signCount;
    const uint8_t flags = static_cast<uint8_t>(FLAG_UP | FLAG_AT | (verified ? FLAG_UV : 0));
    const Bytes authData =
        authenticatorData(rpIdHash, flags, counter, key.profile.aaguid, credentialId, coseKey);

    Bytes signedData = authData;
    signedData.insert(signedData.end(), clientDataHash.begin(), clientDataHash.end());
    const VirtualAttestation& att = VirtualAttestation::forProfile(key.profile);
    const Bytes sig = att.sign(signedData.data(), signedData.size(), key.drbg);
    const Bytes leaf =
        key.fault() == FaultMode::BadCertificate ? undecodableCertificate() : att.certificate();

    CborOut out;
    beginMap(out.w, 3);
    out.integer(1).text("packed");
    out.integer(2).bytes(authData);
    out.integer(3);
    beginMap(out.w, 3);
    out.text("alg").integer(att.algorithm());
    out.text("sig").bytes(sig);
    out.text("x5c");
    beginArray(out.w, 2);
    out.bytes(leaf).bytes(att.caCertificate());
    ++key.counters.credentialsMade;
    return out.reply();
}

}  // namespace

}  // namespace orvanta
