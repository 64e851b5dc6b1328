// The checks that need a touch: a registration (a credential the key does not keep) for
// each algorithm the key lists, its attestation verified, and the rules of the attestation
// certificate.

#include <algorithm>
#include <array>

#include "cert/attestation_chain.h"
#include "cert/fido2_fetch.h"
#include "check/attestation_signature.h"
#include "check/check_run.h"
#include "ctap/ctap_protocol.h"

namespace orvanta::check {

namespace {

constexpr std::string_view TOUCH_RP = "conformance.orvanta.invalid";
constexpr size_t AAGUID_OFFSET = 37;  // after rpIdHash, flags and the counter
constexpr uint8_t FLAG_AT = 0x40;

Bytes registration(int64_t alg) {
    std::array<uint8_t, 512> buffer{};
    buffer[0] = AUTHENTICATOR_MAKE_CREDENTIAL;
    CborWriter w{buffer.data() + 1, 0, static_cast<uint32_t>(buffer.size() - 1), false};
    beginMap(w, 4);
    putUnsigned(w, 1);
    putBytes(w, FIDO2_CLIENT_DATA_HASH, sizeof FIDO2_CLIENT_DATA_HASH);
    putUnsigned(w, 2);
    beginMap(w, 2);
    putText(w, "id");
    putText(w, TOUCH_RP);
    putText(w, "name");
    putText(w, TOUCH_RP);
    putUnsigned(w, 3);
    beginMap(w, 2);
    putText(w, "id");
    putBytes(w, FIDO2_TEST_USER_ID, 16);
    putText(w, "name");
    putText(w, "conformance");
    // Member 7 (options) is left out: rk false, the key keeps nothing.
    putUnsigned(w, 4);
    beginArray(w, 1);
    beginMap(w, 2);
    putText(w, "alg");
    if (alg < 0) {
        putNegative(w, static_cast<int32_t>(alg));
    } else {
        putUnsigned(w, static_cast<uint32_t>(alg));
    }
    putText(w, "type");
    putText(w, "public-key");
    return Bytes(buffer.begin(), buffer.begin() + w.length + 1);
}

std::string algorithmText(int64_t alg) {
    switch (alg) {
        case -7:
            return "ES256";
        case -8:
            return "EdDSA";
        case -35:
            return "ES384";
        case -257:
            return "RS256";
        default:
            return "alg " + std::to_string(alg);
    }
}

Outcome needsTouch(const CheckRun& run) {
    if (!run.options.touch) {
        return skip("needs a touch (run with --touch)");
    }
    return skip(run.ctap2 ? "needs a PIN" : "the key has no CTAP2");
}

// One registration with alg: "" when its attestation verified, else what went wrong.
std::string attest(CheckRun& run, int64_t alg) {
    if (run.options.touchNeeded) {
        run.options.touchNeeded();
    }
    const Bytes request = registration(alg);
    const Result<CborReply> reply = sendCbor(run.session, request);
    if (!reply) {
        return errorText(reply.error());
    }
    if (reply->status != ctap_status::OK) {
        return ctapStatusText(reply->status);
    }
    const CborSpan response{reply->data.data(), static_cast<uint32_t>(reply->data.size())};
    const Result<Fido2Attestation> attestation = decodeMakeCredentialResponse(response);
    if (!attestation) {
        return "the attestation does not decode";
    }
    const Bytes& authData = attestation->authData;
    if (authData.size() < AAGUID_OFFSET + 16 || (authData[32] & FLAG_AT) == 0) {
        return "no attested credential data";
    }
    if (attestation->x5c.empty() || !attestation->x5c.front()) {
        return "self attestation (no certificate to verify against)";
    }
    const Bytes& certificate = *attestation->x5c.front();
    Bytes signedData = authData;
    signedData.insert(signedData.end(), std::begin(FIDO2_CLIENT_DATA_HASH),
                      std::end(FIDO2_CLIENT_DATA_HASH));
    switch (checkAttestationSignature(certificate, attestation->alg, signedData,
                                      attestation->signature)) {
        case SignatureCheck::Undecodable:
            return "the attestation certificate does not decode";
        case SignatureCheck::Invalid:
            return "the attestation signature does not verify";
        case SignatureCheck::Valid:
            break;
    }
    run.attestations.emplace_back(certificate, Bytes(authData.begin() + AAGUID_OFFSET,
                                                     authData.begin() + AAGUID_OFFSET + 16));
    return {};
}

}  // namespace

Outcome checkAttestedCredentials(CheckRun& run) {
    if (!run.options.touch || !run.ctap2) {
        return needsTouch(run);
    }
    if (run.info.clientPin().value_or(false) &&
        !run.info.option("makeCredUvNotRqd").value_or(false)) {
        return skip("needs a PIN");
    }
    std::vector<int64_t> algorithms;
    for (const AuthenticatorAlgorithm& a : run.info.algorithms) {
        if (a.alg && a.type == "public-key" &&
            std::find(algorithms.begin(), algorithms.end(), *a.alg) == algorithms.end()) {
            algorithms.push_back(*a.alg);
        }
    }
    if (algorithms.empty()) {
        algorithms.push_back(-7);  // ES256: what every key must have
    }
    std::string done;
    for (int64_t alg : algorithms) {
        const std::string problem = attest(run, alg);
        if (!problem.empty()) {
            return fail(algorithmText(alg) + ": " + problem);
        }
        done += (done.empty() ? "" : ", ") + algorithmText(alg);
    }
    return pass(done + " attested and verified");
}

Outcome checkAttestationCertificate(CheckRun& run) {
    if (!run.options.touch || !run.ctap2) {
        return needsTouch(run);
    }
    if (run.attestations.empty()) {
        return skip("no verified attestation to look at");
    }
    std::vector<std::string> unmet;
    for (const auto& [der, aaguid] : run.attestations) {
        for (std::string& rule : packedAttestationRequirements(der, std::span(aaguid))) {
            if (std::find(unmet.begin(), unmet.end(), rule) == unmet.end()) {
                unmet.push_back(std::move(rule));
            }
        }
    }
    if (unmet.empty()) {
        return pass("Requirements: OK");
    }
    std::string text = "Requirements: Not met: ";
    for (size_t i = 0; i < unmet.size(); ++i) {
        text += (i == 0 ? "" : ", ") + unmet[i];
    }
    return fail(text);
}

}  // namespace orvanta::check
