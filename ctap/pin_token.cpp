#include "ctap/pin_token.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "ctap/crypto.h"
#include "ctap/ctap_protocol.h"
#include "ctap/pin_protocol.h"
#include "ctap/secure_wipe.h"
#include "ctap/status_messages.h"
#include "transport/exchange.h"

namespace orvanta {

namespace {

using namespace client_pin;
constexpr uint32_t SUBCOMMAND_GET_PIN_TOKEN = GET_PIN_TOKEN;

// Result for a key-agreement reply that cannot be used (the CTAP "invalid CBOR" code, so
// the user sees the matching sentence).
constexpr int KEY_AGREEMENT_UNUSABLE = 0x12;
constexpr int LOCAL_FAILURE = -1;

constexpr uint32_t RESPONSE_CAPACITY = 1024;
constexpr uint32_t REQUEST_CAPACITY = 1024;
// The left half of SHA-256(PIN) is what the key compares.
constexpr size_t PIN_HASH_LENGTH = 16;
// pinHashEnc of protocol 2: the IV, then the encrypted half hash.
constexpr size_t PIN_HASH_ENC_MAX_LENGTH = AES_BLOCK_LENGTH + PIN_HASH_LENGTH;

// {1: protocol, 2: 2 (getKeyAgreement)}
std::array<uint8_t, 6> getKeyAgreementRequest(PinProtocol protocol) {
    return {AUTHENTICATOR_CLIENT_PIN, 0xA2, 0x01, static_cast<uint8_t>(protocol), 0x02, 0x02};
}

// Sends one authenticatorClientPIN request into a freshly zeroed response buffer.
// Returns the status (TRANSPORT_FAILED for a failed exchange); on 0, `reply` spans the
// CBOR the key sent back, or the whole zeroed buffer when the key sent none or more than
// it holds.
int exchange(DeviceSession& session, std::span<const uint8_t> request,
             uint8_t (&response)[RESPONSE_CAPACITY], CborSpan& reply) {
    std::memset(response, 0, sizeof(response));
    Result<CborReply> answer = sendCbor(session, request);
    if (!answer) {
        reply = CborSpan{response, 0};
        return TRANSPORT_FAILED;
    }
    Bytes& data = answer->data;
    uint32_t length = RESPONSE_CAPACITY;
    if (!data.empty() && data.size() <= RESPONSE_CAPACITY) {
        std::copy(data.begin(), data.end(), response);
        length = static_cast<uint32_t>(data.size());
    }
    secureWipe(data.data(), data.size());
    reply = CborSpan{response, length};
    return answer->status;
}

// A COSE coordinate must be a byte string of exactly one coordinate's length.
std::optional<P256Coordinate> readCoordinate(CborSpan coseKey, int32_t key) {
    const uint8_t* coordinate = nullptr;
    uint32_t length = 0;
    if (!readByteString(mapFindInt(coseKey, key), &coordinate, &length) || coordinate == nullptr ||
        length != P256_COORDINATE_LENGTH) {
        return std::nullopt;
    }
    return P256Coordinate(coordinate, P256_COORDINATE_LENGTH);
}

struct AuthenticatorKey {
    P256Coordinate x;
    P256Coordinate y;
};

// The authenticator's key agreement key (reply key 1): x and y of its COSE key.
std::optional<AuthenticatorKey> readAuthenticatorKey(CborSpan response) {
    const CborSpan coseKey = mapFindInt(response, REPLY_KEY_AGREEMENT);
    const std::optional<P256Coordinate> x = readCoordinate(coseKey, cose::X);
    if (!x) {
        return std::nullopt;
    }
    const std::optional<P256Coordinate> y = readCoordinate(coseKey, cose::Y);
    if (!y) {
        return std::nullopt;
    }
    return AuthenticatorKey{*x, *y};
}

// A generator that could not be seeded is reported like an unusable reply.
int agreementResult(int result) {
    return result == KEY_AGREEMENT_SEED_FAILED ? KEY_AGREEMENT_UNUSABLE : result;
}

// The getPINToken request: command byte, then {1: protocol, 2: 5, 3: COSE key,
// 6: pinHashEnc}. Returns its length, or 0 when it did not fit.
uint32_t writeGetPinTokenRequest(std::span<uint8_t, REQUEST_CAPACITY> buffer, PinProtocol protocol,
                                 P256Coordinate platformX, P256Coordinate platformY,
                                 std::span<const uint8_t> pinHashEnc) {
    buffer[0] = AUTHENTICATOR_CLIENT_PIN;
    CborWriter writer{buffer.data() + 1, 0, REQUEST_CAPACITY - 1};
    beginMap(writer, 4);
    putUnsigned(putUnsigned(writer, KEY_PIN_PROTOCOL), static_cast<uint32_t>(protocol));
    putUnsigned(putUnsigned(writer, KEY_SUBCOMMAND), SUBCOMMAND_GET_PIN_TOKEN);
    putUnsigned(writer, KEY_KEY_AGREEMENT);
    beginMap(writer, 5);
    putUnsigned(putUnsigned(writer, cose::KTY), cose::KTY_EC2);
    putNegative(putUnsigned(writer, cose::ALG), cose::ALG_ECDH_ES_HKDF_256);
    putUnsigned(putNegative(writer, cose::CRV), cose::CRV_P256);
    putBytes(putNegative(writer, cose::X), platformX.data(), P256_COORDINATE_LENGTH);
    putBytes(putNegative(writer, cose::Y), platformY.data(), P256_COORDINATE_LENGTH);
    putBytes(putUnsigned(writer, KEY_PIN_HASH_ENC), pinHashEnc.data(),
             static_cast<uint32_t>(pinHashEnc.size()));
    return writer.failed ? 0 : writer.length + 1;
}

}  // namespace

int deriveSharedSecret(CborSpan response, std::span<uint8_t, SHARED_SECRET_LENGTH> sharedSecret,
                       P256CoordinateOut platformX, P256CoordinateOut platformY) {
    const std::optional<AuthenticatorKey> key = readAuthenticatorKey(response);
    if (!key) {
        return KEY_AGREEMENT_UNUSABLE;
    }
    return agreementResult(computeSharedSecret(key->x, key->y, platformX, platformY, sharedSecret));
}

int deriveSharedSecret(CborSpan response, std::span<uint8_t, SHARED_SECRET_LENGTH> sharedSecret,
                       P256CoordinateOut platformX, P256CoordinateOut platformY,
                       EntropyFunction entropy, void* entropyContext) {
    const std::optional<AuthenticatorKey> key = readAuthenticatorKey(response);
    if (!key) {
        return KEY_AGREEMENT_UNUSABLE;
    }
    return agreementResult(computeSharedSecret(key->x, key->y, platformX, platformY, sharedSecret,
                                               entropy, entropyContext));
}

int fetchPinToken(DeviceSession& session, const std::string& pin, UserPrompts& prompts,
                  PinToken& token, PinProtocol protocol) {
    if (pin.empty()) {
        prompts.show({MessageCode::PinEmpty});
        return LOCAL_FAILURE;
    }

    // Everything below that touches the PIN or the key agreement is wiped on every path.
    uint8_t response[RESPONSE_CAPACITY];
    uint8_t request[REQUEST_CAPACITY] = {};
    PinSecret secret;  // wipes itself
    uint8_t sharedX[P256_COORDINATE_LENGTH] = {};
    uint8_t platformX[P256_COORDINATE_LENGTH] = {};
    uint8_t platformY[P256_COORDINATE_LENGTH] = {};
    uint8_t pinHash[SHA256_LENGTH] = {};
    uint8_t pinHashEnc[PIN_HASH_ENC_MAX_LENGTH] = {};
    WipeOnExit wipeResponse(response);
    WipeOnExit wipeRequest(request);
    WipeOnExit wipeSharedX(sharedX);
    WipeOnExit wipeX(platformX);
    WipeOnExit wipeY(platformY);
    WipeOnExit wipeHash(pinHash);
    WipeOnExit wipeHashEnc(pinHashEnc);

    CborSpan reply;
    int result = exchange(session, getKeyAgreementRequest(protocol), response, reply);
    if (result != 0) {
        return result;
    }
    const std::optional<AuthenticatorKey> key = readAuthenticatorKey(reply);
    if (!key) {
        return KEY_AGREEMENT_UNUSABLE;
    }
    result = agreementResult(computeSharedPoint(key->x, key->y, platformX, platformY, sharedX));
    if (result == 0) {
        result = secret.derive(protocol, sharedX);
    }
    if (result != 0) {
        return result;
    }

    // The PIN goes out as its UTF-8 bytes, as CTAP2 requires.
    result = sha256(std::span(reinterpret_cast<const uint8_t*>(pin.data()), pin.size()), pinHash);
    if (result != 0) {
        return result;
    }
    // pinHashEnc encrypts the first 16 bytes of the hash.
    const std::span<const uint8_t> pinHashEncBytes(pinHashEnc,
                                                   pinCiphertextLength(protocol, PIN_HASH_LENGTH));
    result = pinEncrypt(secret, std::span(pinHash).first<PIN_HASH_LENGTH>(),
                        std::span(pinHashEnc, pinHashEncBytes.size()));
    if (result != 0) {
        return result;
    }

    const uint32_t requestLength =
        writeGetPinTokenRequest(request, protocol, platformX, platformY, pinHashEncBytes);
    if (requestLength == 0) {
        return LOCAL_FAILURE;
    }
    result = exchange(session, std::span<const uint8_t>(request, requestLength), response, reply);
    if (result != 0) {
        return result;
    }

    // The encrypted token: 16 to 64 bytes in whole AES blocks (keys choose the length), all
    // of it received; in protocol 2 after its IV.
    const uint8_t* encryptedToken = nullptr;
    uint32_t encryptedLength = 0;
    if (!readByteString(mapFindInt(reply, REPLY_PIN_TOKEN), &encryptedToken, &encryptedLength) ||
        encryptedToken == nullptr) {
        return LOCAL_FAILURE;
    }
    const size_t tokenLength = pinPlainLength(protocol, encryptedLength);
    if (tokenLength < PIN_TOKEN_MIN_SIZE || tokenLength > PIN_TOKEN_MAX_SIZE ||
        tokenLength % AES_BLOCK_LENGTH != 0) {
        return LOCAL_FAILURE;
    }
    // Decrypted at its own length, so that pinAuth is keyed by exactly the key's token.
    std::array<uint8_t, PIN_TOKEN_MAX_SIZE> plain{};
    WipeOnExit wipePlain(plain);
    result = pinDecrypt(secret, std::span(encryptedToken, encryptedLength),
                        std::span(plain).first(tokenLength));
    if (result == 0) {
        const std::span<uint8_t> out = token.resize(tokenLength);
        std::copy_n(plain.begin(), tokenLength, out.begin());
    }
    return result;
}

int obtainPinToken(DeviceSession& session, UserPrompts& prompts, PinToken& token,
                   PinProtocol protocol) {
    std::string pin;
    // Room up front, so that typing a PIN of usual length leaves no copies behind in
    // released memory when the string would otherwise grow.
    pin.reserve(128);
    if (!prompts.askPin(pin)) {
        secureWipe(pin);
        return PIN_ENTRY_CANCELLED;
    }
    const int result = fetchPinToken(session, pin, prompts, token, protocol);
    secureWipe(pin);
    if (result > 0) {
        prompts.show({MessageCode::PinStepFailed, result});
    }
    return result;
}

}  // namespace orvanta
