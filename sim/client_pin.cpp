#include "sim/client_pin.h"

#include <algorithm>
#include <cstring>

#include "ctap/secure_wipe.h"
#include "sim/cbor_out.h"

namespace orvanta {

namespace {

bool readUnsigned(CborSpan span, uint32_t& value) {
    if (!span.found()) {
        return false;
    }
    const CborHeader h = readHeader(span);
    if (h.headerLength == 0 || h.majorType != 0) {
        return false;
    }
    value = h.argument;
    return true;
}

Bytes statusOnly(uint8_t status) {
    return Bytes{status};
}

// {key: count}: the tries left.
Bytes countReply(int32_t key, uint8_t count) {
    CborOut out;
    beginMap(out.w, 1);
    out.integer(key);
    putUnsigned(out.w, count);
    return out.reply();
}

}  // namespace

ClientPin::ClientPin(VirtualKeyState& key) : key_(key) {
    if (key_.profile.pinSet) {
        const std::string& pin = key_.profile.pin;
        const Sha256Digest h = sha256Of(reinterpret_cast<const uint8_t*>(pin.data()), pin.size());
        std::memcpy(pinHash_.data(), h.data(), pinHash_.size());
        set_ = true;
        retries_ = key_.profile.pinRetries;
    }
    powerCycle();
}

void ClientPin::newAgreementKey() {
    // A draw outside [1, n-1] (about once in 2^32) is taken again.
    uint8_t x[P256_COORDINATE_LENGTH];
    uint8_t y[P256_COORDINATE_LENGTH];
    do {
        key_.drbg.fill(agreement_.data(), agreement_.size());
    } while (p256PublicKey(agreement_, x, y) == CRYPTO_SCALAR_INVALID);
}

bool ClientPin::speaks(uint64_t protocol) const {
    const auto& list = key_.profile.pinProtocols;
    return std::find(list.begin(), list.end(), protocol) != list.end();
}

void ClientPin::powerCycle() {
    newAgreementKey();
    const size_t length = key_.profile.pinTokenLength;
    tokenLength_ = length >= 16 && length <= token_.size() && length % 16 == 0 ? length : 32;
    key_.drbg.fill(token_.data(), tokenLength_);
    consecutiveFailures_ = 0;
}

void ClientPin::clear() {
    set_ = false;
    secureWipe(pinHash_.data(), pinHash_.size());
    retries_ = PIN_RETRIES_MAX;
    powerCycle();
}

bool ClientPin::verifyPinAuth(PinProtocol protocol, const uint8_t* clientDataHash,
                              const uint8_t* pinAuth, uint32_t length) const {
    if (length != pinAuthLength(protocol)) {
        return false;
    }
    std::array<uint8_t, SHA256_LENGTH> mac{};
    WipeOnExit wipeMac(mac);
    return pinAuthenticate(protocol, std::span(token_.data(), tokenLength_),
                           std::span(clientDataHash, 32), mac) == 0 &&
           std::memcmp(mac.data(), pinAuth, length) == 0;
}

Bytes ClientPin::handle(CborSpan request) {
    ++key_.counters.clientPinRequests;
    if (readHeader(request).majorType != 5) {
        return statusOnly(ctap_status::CBOR_UNEXPECTED_TYPE);
    }
    uint32_t protocol = 0;
    uint32_t sub = 0;
    if (!readUnsigned(mapFindInt(request, 2), sub)) {
        return statusOnly(ctap_status::MISSING_PARAMETER);
    }
    // Counting the tries left needs no protocol (CTAP 2.1); a protocol that is given must be
    // one the key speaks.
    const bool counting = sub == client_pin::GET_RETRIES || sub == client_pin::GET_UV_RETRIES;
    const CborSpan protocolItem = mapFindInt(request, 1);
    if (!readUnsigned(protocolItem, protocol) && !(counting && !protocolItem.found())) {
        return statusOnly(ctap_status::MISSING_PARAMETER);
    }
    if (protocolItem.found() && !speaks(protocol)) {
        return statusOnly(ctap_status::INVALID_PARAMETER);
    }
    const PinProtocol pinProtocol = protocol == 2 ? PinProtocol::Two : PinProtocol::One;
    switch (sub) {
        case client_pin::GET_RETRIES:
            return countReply(client_pin::REPLY_RETRIES,
                              key_.breaks(RuleBreak::Errors) ? uint8_t{15} : retries_);
        case client_pin::GET_UV_RETRIES:
            if (!key_.profile.builtInUv) {
                return statusOnly(ctap_status::INVALID_SUBCOMMAND);
            }
            return countReply(client_pin::REPLY_UV_RETRIES, key_.profile.uvRetries);
        case 2:
            return keyAgreement();
        case 3:
            return setPin(request, pinProtocol);
        case 5:  // getPINToken
        case 9:  // getPinUvAuthTokenUsingPinWithPermissions: the same token here
            return pinToken(request, pinProtocol);
        default:
            return statusOnly(ctap_status::INVALID_SUBCOMMAND);
    }
}

Bytes ClientPin::keyAgreement() {
    uint8_t x[P256_COORDINATE_LENGTH];
    uint8_t y[P256_COORDINATE_LENGTH];
    if (p256PublicKey(agreement_, x, y) != 0) {
        return statusOnly(ctap_status::OTHER);
    }
    if (key_.breaks(RuleBreak::Errors)) {
        y[P256_COORDINATE_LENGTH - 1] ^= 0x01;  // off the curve
    }
    CborOut out;
    beginMap(out.w, 1);
    putUnsigned(out.w, 1);
    beginMap(out.w, 5);
    out.integer(1).integer(2);    // kty: EC2
    out.integer(3).integer(-25);  // alg: ECDH-ES + HKDF-256
    out.integer(-1).integer(1);   // crv: P-256
    out.integer(-2);
    putBytes(out.w, x, 32);
    out.integer(-3);
    putBytes(out.w, y, 32);
    return out.reply();
}

bool ClientPin::sharedSecret(CborSpan request, PinProtocol protocol, PinSecret& secret) {
    const CborSpan cose = mapFindInt(request, 3);
    const uint8_t* x = nullptr;
    const uint8_t* y = nullptr;
    uint32_t xLength = 0;
    uint32_t yLength = 0;
    if (!readByteString(mapFindInt(cose, -2), &x, &xLength) ||
        !readByteString(mapFindInt(cose, -3), &y, &yLength) || xLength != 32 || yLength != 32) {
        return false;
    }
    uint8_t sharedX[P256_COORDINATE_LENGTH];
    WipeOnExit wipeSharedX(sharedX);
    return p256SharedX(agreement_, P256Coordinate(x, 32), P256Coordinate(y, 32), sharedX) == 0 &&
           secret.derive(protocol, sharedX) == 0;
}

Bytes ClientPin::setPin(CborSpan request, PinProtocol protocol) {
    const uint8_t* pinAuth = nullptr;
    const uint8_t* newPinEnc = nullptr;
    uint32_t authLength = 0;
    uint32_t newPinEncLength = 0;
    if (!mapFindInt(request, 3).found() ||
        !readByteString(mapFindInt(request, 4), &pinAuth, &authLength) ||
        !readByteString(mapFindInt(request, 5), &newPinEnc, &newPinEncLength)) {
        return statusOnly(ctap_status::MISSING_PARAMETER);
    }
    if (set_) {
        return statusOnly(ctap_status::PIN_AUTH_INVALID);
    }
    PinSecret shared;
    if (!sharedSecret(request, protocol, shared)) {
        return statusOnly(ctap_status::INVALID_PARAMETER);
    }
    uint8_t mac[SHA256_LENGTH];
    WipeOnExit wipeMac(mac);
    const bool authentic = authLength == pinAuthLength(protocol) &&
                           pinAuthenticate(protocol, shared.hmacKey(),
                                           std::span(newPinEnc, newPinEncLength), mac) == 0 &&
                           std::memcmp(mac, pinAuth, authLength) == 0;
    if (!authentic) {
        return statusOnly(ctap_status::PIN_AUTH_INVALID);
    }
    const size_t paddedLength = pinPlainLength(protocol, newPinEncLength);
    if (paddedLength < 64 || paddedLength % 16 != 0 || paddedLength > 256) {
        return statusOnly(ctap_status::PIN_POLICY_VIOLATION);
    }
    uint8_t padded[256];
    if (pinDecrypt(shared, std::span(newPinEnc, newPinEncLength),
                   std::span(padded, paddedLength)) != 0) {
        return statusOnly(ctap_status::INVALID_PARAMETER);
    }
    size_t length = 0;
    while (length < paddedLength && padded[length] != 0) {
        ++length;
    }
    Bytes status;
    if (length < 4 || length > 63) {
        status = statusOnly(ctap_status::PIN_POLICY_VIOLATION);
    } else {
        Sha256Digest h = sha256Of(padded, length);
        std::memcpy(pinHash_.data(), h.data(), pinHash_.size());
        secureWipe(h.data(), h.size());
        set_ = true;
        retries_ = PIN_RETRIES_MAX;
        status = statusOnly(ctap_status::OK);
    }
    secureWipe(padded, sizeof(padded));
    return status;
}

Bytes ClientPin::pinToken(CborSpan request, PinProtocol protocol) {
    const uint8_t* pinHashEnc = nullptr;
    uint32_t pinHashEncLength = 0;
    if (!mapFindInt(request, 3).found() ||
        !readByteString(mapFindInt(request, 6), &pinHashEnc, &pinHashEncLength)) {
        return statusOnly(ctap_status::MISSING_PARAMETER);
    }
    if (!set_) {
        return statusOnly(ctap_status::PIN_NOT_SET);
    }
    if (retries_ == 0) {
        return statusOnly(ctap_status::PIN_BLOCKED);
    }
    if (consecutiveFailures_ >= PIN_CONSECUTIVE_LIMIT) {
        return statusOnly(ctap_status::PIN_AUTH_BLOCKED);
    }
    PinSecret shared;
    if (!sharedSecret(request, protocol, shared)) {
        return statusOnly(ctap_status::INVALID_PARAMETER);
    }
    if (pinHashEncLength != pinCiphertextLength(protocol, 16)) {
        return statusOnly(ctap_status::INVALID_PARAMETER);
    }
    uint8_t pinHash[16];
    WipeOnExit<uint8_t[16]> wipeHash(pinHash);
    if (pinDecrypt(shared, std::span(pinHashEnc, pinHashEncLength), pinHash) != 0) {
        return statusOnly(ctap_status::INVALID_PARAMETER);
    }
    --retries_;
    if (std::memcmp(pinHash, pinHash_.data(), sizeof(pinHash)) != 0) {
        // A wrong PIN also spends the key agreement.
        newAgreementKey();
        ++consecutiveFailures_;
        if (retries_ == 0) {
            return statusOnly(ctap_status::PIN_BLOCKED);
        }
        if (consecutiveFailures_ >= PIN_CONSECUTIVE_LIMIT) {
            return statusOnly(ctap_status::PIN_AUTH_BLOCKED);
        }
        return statusOnly(ctap_status::PIN_INVALID);
    }
    retries_ = PIN_RETRIES_MAX;
    consecutiveFailures_ = 0;
    // The fault sends the first block alone while the key keeps checking with all of it.
    const size_t tokenLength = key_.fault() == FaultMode::ShortPinToken ? 16 : tokenLength_;
    uint8_t encrypted[AES_BLOCK_LENGTH + 64];
    const size_t encryptedLength = pinCiphertextLength(protocol, tokenLength);
    if (pinEncrypt(shared, std::span(token_.data(), tokenLength),
                   std::span(encrypted, encryptedLength)) != 0) {
        return statusOnly(ctap_status::INVALID_PARAMETER);
    }
    CborOut out;
    beginMap(out.w, 1);
    putUnsigned(out.w, 2);
    putBytes(out.w, encrypted, static_cast<uint32_t>(encryptedLength));
    return out.reply();
}

}  // namespace orvanta
