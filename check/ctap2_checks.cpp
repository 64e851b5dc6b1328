// The CTAP2 error checks: requests a key must refuse before it asks for a touch, and the
// PIN queries that spend nothing.

#include <array>
#include <string_view>

#include "check/check_run.h"
#include "common/hex_text.h"
#include "ctap/crypto.h"
#include "ctap/ctap_protocol.h"
#include "ctap/secure_wipe.h"

namespace orvanta::check {

namespace {

constexpr std::string_view CHECK_RP = "conformance.orvanta.invalid";
constexpr int32_t UNKNOWN_ALGORITHM = -9999;  // no COSE algorithm has this number
constexpr uint32_t UNKNOWN_PIN_PROTOCOL = 99;
constexpr uint8_t UNKNOWN_CTAP_COMMAND = 0x20;
constexpr uint64_t MAX_PIN_RETRIES = 8;

// One CTAP2 request being written: the command byte, then its CBOR.
class Request {
  public:
    explicit Request(uint8_t command) {
        buffer_[0] = command;
        w.buffer = buffer_.data() + 1;
        w.capacity = static_cast<uint32_t>(buffer_.size() - 1);
    }
    std::span<const uint8_t> bytes() const { return std::span(buffer_).first(w.length + 1); }

    CborWriter w;

  private:
    std::array<uint8_t, 512> buffer_{};
};

void putInteger(CborWriter& w, int32_t n) {
    if (n < 0) {
        putNegative(w, n);
    } else {
        putUnsigned(w, static_cast<uint32_t>(n));
    }
}

const std::array<uint8_t, 32> CLIENT_DATA_HASH = [] {
    std::array<uint8_t, 32> hash{};
    for (size_t i = 0; i < hash.size(); ++i) {
        hash[i] = static_cast<uint8_t>(0xC0 + i);
    }
    return hash;
}();

// How the makeCredential request of a check differs from a well-formed one.
enum class Flaw : uint8_t {
    NoCredentialParameters,  // member 4 left out
    TextClientDataHash,      // member 1 as a text string
    UnknownAlgorithmOnly,    // member 4 offers only an algorithm nobody has
    UnknownPinProtocol,      // members 8 and 9 with a protocol nobody has
};

Request makeCredential(Flaw flaw) {
    Request r(AUTHENTICATOR_MAKE_CREDENTIAL);
    CborWriter& w = r.w;
    beginMap(w, flaw == Flaw::NoCredentialParameters ? 3
                : flaw == Flaw::UnknownPinProtocol   ? 6
                                                     : 4);
    putUnsigned(w, 1);
    if (flaw == Flaw::TextClientDataHash) {
        putText(w, "00000000000000000000000000000000");
    } else {
        putBytes(w, CLIENT_DATA_HASH.data(), static_cast<uint32_t>(CLIENT_DATA_HASH.size()));
    }
    putUnsigned(w, 2);
    beginMap(w, 2);
    putText(w, "id");
    putText(w, CHECK_RP);
    putText(w, "name");
    putText(w, CHECK_RP);
    putUnsigned(w, 3);
    beginMap(w, 2);
    putText(w, "id");
    putBytes(w, CLIENT_DATA_HASH.data(), 16);
    putText(w, "name");
    putText(w, "conformance");
    if (flaw != Flaw::NoCredentialParameters) {
        putUnsigned(w, 4);
        beginArray(w, 1);
        beginMap(w, 2);
        putText(w, "alg");
        putInteger(w, flaw == Flaw::UnknownAlgorithmOnly ? UNKNOWN_ALGORITHM : -7);
        putText(w, "type");
        putText(w, "public-key");
    }
    if (flaw == Flaw::UnknownPinProtocol) {
        putUnsigned(w, 8);
        putBytes(w, CLIENT_DATA_HASH.data(), 16);
        putUnsigned(w, 9);
        putUnsigned(w, UNKNOWN_PIN_PROTOCOL);
    }
    return r;
}

Outcome needsCtap2(const CheckRun& run) {
    return skip(run.init && (run.init->capabilities & CTAPHID_CAPABILITY_CBOR) == 0
                    ? "the key has no CTAP2 (no CBOR capability)"
                    : "the key gave no getInfo");
}

bool speaksPin(const CheckRun& run) {
    return !run.info.pinUvAuthProtocols.empty() || run.info.option("clientPin").has_value();
}

uint32_t pinProtocol(const CheckRun& run) {
    return run.info.pinUvAuthProtocols.empty()
               ? 1
               : static_cast<uint32_t>(run.info.pinUvAuthProtocols.front());
}

// A request the key must refuse with `expected` (or `alternative`, when not 0xFF).
Outcome expectStatus(CheckRun& run, std::span<const uint8_t> request, uint8_t expected) {
    const Result<CborReply> reply = sendCbor(run.session, request);
    if (!reply) {
        return fail(errorText(reply.error()));
    }
    if (reply->status == expected) {
        return pass();
    }
    return fail(ctapStatusText(reply->status) + "; " + ctapStatusText(expected) + " expected");
}

Result<CborReply> clientPin(CheckRun& run, uint32_t subcommand) {
    Request r(AUTHENTICATOR_CLIENT_PIN);
    beginMap(r.w, 2);
    putUnsigned(r.w, client_pin::KEY_PIN_PROTOCOL);
    putUnsigned(r.w, pinProtocol(run));
    putUnsigned(r.w, client_pin::KEY_SUBCOMMAND);
    putUnsigned(r.w, subcommand);
    return sendCbor(run.session, r.bytes());
}

}  // namespace

Outcome checkMissingParameter(CheckRun& run) {
    return run.ctap2 ? expectStatus(run, makeCredential(Flaw::NoCredentialParameters).bytes(),
                                    ctap_status::MISSING_PARAMETER)
                     : needsCtap2(run);
}

Outcome checkWrongType(CheckRun& run) {
    return run.ctap2 ? expectStatus(run, makeCredential(Flaw::TextClientDataHash).bytes(),
                                    ctap_status::CBOR_UNEXPECTED_TYPE)
                     : needsCtap2(run);
}

Outcome checkUnsupportedAlgorithms(CheckRun& run) {
    return run.ctap2 ? expectStatus(run, makeCredential(Flaw::UnknownAlgorithmOnly).bytes(),
                                    ctap_status::UNSUPPORTED_ALGORITHM)
                     : needsCtap2(run);
}

Outcome checkUnsupportedPinProtocol(CheckRun& run) {
    if (!run.ctap2) {
        return needsCtap2(run);
    }
    if (!speaksPin(run)) {
        return skip("the key has no PIN/UV auth protocol");
    }
    // CTAP 2.1 made it INVALID_PARAMETER; a CTAP 2.0 key answers PIN_AUTH_INVALID.
    const uint8_t expected = run.listsVersion("FIDO_2_1") ? ctap_status::INVALID_PARAMETER
                                                          : ctap_status::PIN_AUTH_INVALID;
    return expectStatus(run, makeCredential(Flaw::UnknownPinProtocol).bytes(), expected);
}

Outcome checkUnknownCredential(CheckRun& run) {
    if (!run.ctap2) {
        return needsCtap2(run);
    }
    std::array<uint8_t, 32> credentialId{};
    randomBytes(credentialId);
    Request r(AUTHENTICATOR_GET_ASSERTION);
    CborWriter& w = r.w;
    beginMap(w, 4);
    putUnsigned(w, 1);
    putText(w, CHECK_RP);
    putUnsigned(w, 2);
    putBytes(w, CLIENT_DATA_HASH.data(), static_cast<uint32_t>(CLIENT_DATA_HASH.size()));
    putUnsigned(w, 3);
    beginArray(w, 1);
    beginMap(w, 2);
    putText(w, "id");
    putBytes(w, credentialId.data(), static_cast<uint32_t>(credentialId.size()));
    putText(w, "type");
    putText(w, "public-key");
    putUnsigned(w, 5);
    beginMap(w, 1);
    putText(w, "up");  // no touch: the key only says whether it knows the credential
    putBool(w, false);
    return expectStatus(run, r.bytes(), ctap_status::NO_CREDENTIALS);
}

Outcome checkPinRetries(CheckRun& run) {
    if (!run.ctap2) {
        return needsCtap2(run);
    }
    if (!speaksPin(run)) {
        return skip("the key has no client PIN");
    }
    const Result<CborReply> reply = clientPin(run, client_pin::GET_RETRIES);
    if (!reply) {
        return fail(errorText(reply.error()));
    }
    if (reply->status != ctap_status::OK) {
        return fail(ctapStatusText(reply->status));
    }
    const CborSpan map{reply->data.data(), static_cast<uint32_t>(reply->data.size())};
    const CborHeader retries = readHeader(mapFindInt(map, client_pin::REPLY_RETRIES));
    if (retries.headerLength == 0 || retries.majorType != 0) {
        return fail("no pinRetries in the reply");
    }
    const std::string value = std::to_string(retries.argument);
    return retries.argument <= MAX_PIN_RETRIES ? pass(value + " retries")
                                               : fail(value + " retries; at most 8 expected");
}

Outcome checkKeyAgreement(CheckRun& run) {
    if (!run.ctap2) {
        return needsCtap2(run);
    }
    if (!speaksPin(run)) {
        return skip("the key has no PIN/UV auth protocol");
    }
    const Result<CborReply> reply = clientPin(run, client_pin::GET_KEY_AGREEMENT);
    if (!reply) {
        return fail(errorText(reply.error()));
    }
    if (reply->status != ctap_status::OK) {
        return fail(ctapStatusText(reply->status));
    }
    const CborSpan map{reply->data.data(), static_cast<uint32_t>(reply->data.size())};
    const CborSpan key = mapFindInt(map, client_pin::REPLY_KEY_AGREEMENT);
    const CborHeader kty = readHeader(mapFindInt(key, cose::KTY));
    const CborHeader crv = readHeader(mapFindInt(key, cose::CRV));
    const uint8_t* x = nullptr;
    const uint8_t* y = nullptr;
    uint32_t xLength = 0;
    uint32_t yLength = 0;
    if (!readByteString(mapFindInt(key, cose::X), &x, &xLength) ||
        !readByteString(mapFindInt(key, cose::Y), &y, &yLength) || kty.majorType != 0 ||
        kty.argument != cose::KTY_EC2 || crv.majorType != 0 || crv.argument != cose::CRV_P256) {
        return fail("no EC2 P-256 COSE key in the reply");
    }
    if (xLength != P256_COORDINATE_LENGTH || yLength != P256_COORDINATE_LENGTH) {
        return fail("coordinates of " + std::to_string(xLength) + " and " +
                    std::to_string(yLength) + " bytes");
    }
    std::array<uint8_t, P256_COORDINATE_LENGTH> ourX{};
    std::array<uint8_t, P256_COORDINATE_LENGTH> ourY{};
    std::array<uint8_t, SHARED_SECRET_LENGTH> secret{};
    const int agreed =
        computeSharedSecret(P256Coordinate(x, P256_COORDINATE_LENGTH),
                            P256Coordinate(y, P256_COORDINATE_LENGTH), ourX, ourY, secret);
    secureWipe(secret.data(), secret.size());
    if (agreed == CRYPTO_POINT_INVALID) {
        return fail("the point is not on P-256");
    }
    return agreed == 0 ? pass() : skip("the point could not be checked here");
}

Outcome checkUnknownCtapCommand(CheckRun& run) {
    if (!run.ctap2) {
        return needsCtap2(run);
    }
    const uint8_t request[1] = {UNKNOWN_CTAP_COMMAND};
    return expectStatus(run, request, ctap_status::INVALID_COMMAND);
}

}  // namespace orvanta::check
