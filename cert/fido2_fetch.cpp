#include "cert/fido2_fetch.h"

#include <algorithm>
#include <cstring>

#include "cert/attestation_chain.h"
#include "cert/certificate_details.h"
#include "ctap/crypto.h"
#include "ctap/pin_token.h"
#include "ctap/secure_wipe.h"
#include "info/getinfo_rows.h"
#include "info/metadata_rows.h"
#include "transport/exchange.h"

namespace orvanta {

namespace {

// Wipes a byte vector (a request that carries pinAuth) when it goes out of scope.
class WipeVectorOnExit {
  public:
    explicit WipeVectorOnExit(std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    ~WipeVectorOnExit() { secureWipe(bytes_.data(), bytes_.size()); }
    WipeVectorOnExit(const WipeVectorOnExit&) = delete;
    WipeVectorOnExit& operator=(const WipeVectorOnExit&) = delete;

  private:
    std::vector<uint8_t>& bytes_;
};

std::optional<std::vector<uint8_t>> byteString(CborSpan item) {
    const uint8_t* content = nullptr;
    uint32_t length = 0;
    if (!readByteString(item, &content, &length)) {
        return std::nullopt;
    }
    return std::vector<uint8_t>(content, content + length);
}

// The PIN step's result as an error (its code as the step reported it, truncated to 16 bits).
Error pinStepError(int result) {
    return {ErrorKind::PinStep, static_cast<uint16_t>(result)};
}

}  // namespace

std::vector<uint8_t> buildMakeCredentialRequest(const uint8_t* pinAuth) {
    return buildMakeCredentialRequest(
        pinAuth != nullptr ? std::span(pinAuth, PIN_AUTH_LENGTH) : std::span<const uint8_t>(),
        PinProtocol::One);
}

std::vector<uint8_t> buildMakeCredentialRequest(std::span<const uint8_t> pinUvAuthParam,
                                                PinProtocol protocol) {
    const bool withPin = !pinUvAuthParam.empty();
    std::vector<uint8_t> request(1 + MAKE_CREDENTIAL_CBOR_CAPACITY, 0);
    request[0] = AUTHENTICATOR_MAKE_CREDENTIAL;
    CborWriter w{request.data() + 1, 0, MAKE_CREDENTIAL_CBOR_CAPACITY, false};
    beginMap(w, withPin ? 6 : 4);
    putUnsigned(w, 1);
    putBytes(w, FIDO2_CLIENT_DATA_HASH, sizeof FIDO2_CLIENT_DATA_HASH);
    putUnsigned(w, 2);
    beginMap(w, 2);
    putText(w, "id");
    putText(w, FIDO2_TEST_RP);
    putText(w, "name");
    putText(w, FIDO2_TEST_RP);
    putUnsigned(w, 3);
    beginMap(w, 3);
    putText(w, "id");
    putBytes(w, FIDO2_TEST_USER_ID, sizeof FIDO2_TEST_USER_ID);
    putText(w, "name");
    putText(w, FIDO2_TEST_USER_NAME);
    putText(w, "displayName");
    putText(w, FIDO2_TEST_DISPLAY_NAME);
    putUnsigned(w, 4);
    beginArray(w, 1);
    beginMap(w, 2);
    putText(w, "alg");
    putNegative(w, -7);
    putText(w, "type");
    putText(w, "public-key");
    if (withPin) {
        putUnsigned(w, 8);
        putBytes(w, pinUvAuthParam.data(), static_cast<uint32_t>(pinUvAuthParam.size()));
        putUnsigned(w, 9);
        putUnsigned(w, static_cast<uint32_t>(protocol));
    }
    // The map is far below the capacity; a failed writer would mean a broken build.
    request.resize(w.failed ? 0 : 1 + w.length);
    return request;
}

Result<Fido2Attestation> decodeMakeCredentialResponse(CborSpan response) {
    Fido2Attestation attestation;
    std::optional<std::vector<uint8_t>> authData = byteString(mapFindInt(response, 2));
    if (!authData || authData->empty()) {
        return Error::malformed();
    }
    attestation.authData = std::move(*authData);
    const CborSpan statement = mapFindInt(response, 3);
    std::optional<std::vector<uint8_t>> signature = byteString(mapFindText(statement, "sig"));
    if (!signature || signature->empty()) {
        return Error::malformed();
    }
    attestation.signature = std::move(*signature);

    std::string_view fmt;
    if (readTextString(mapFindInt(response, 1), &fmt)) {
        attestation.fmt = std::string(fmt);
    }
    const CborHeader alg = readHeader(mapFindText(statement, "alg"));
    if (alg.headerLength != 0 && (alg.majorType == 0 || alg.majorType == 1)) {
        attestation.alg = alg.majorType == 1 ? -1 - static_cast<int64_t>(alg.argument)
                                             : static_cast<int64_t>(alg.argument);
    }
    const CborSpan chain = mapFindText(statement, "x5c");
    if (itemLength(chain) != 0) {
        forEachItem(chain, 4, [&](CborSpan element, const CborHeader&) {
            attestation.x5c.push_back(byteString(element));
            return true;
        });
    }
    return attestation;
}

namespace {

// The AAGUID of the attested credential data, when authData has it.
std::optional<std::span<const uint8_t>> authDataAaguid(const std::vector<uint8_t>& authData) {
    constexpr size_t AAGUID_AT = 37;  // after rpIdHash, flags and signCount
    constexpr uint8_t ATTESTED_CREDENTIAL_DATA = 0x40;
    if (authData.size() < AAGUID_AT + 16 || (authData[32] & ATTESTED_CREDENTIAL_DATA) == 0) {
        return std::nullopt;
    }
    return std::span(authData).subspan(AAGUID_AT, 16);
}

}  // namespace

FetchResult showMakeCredentialResult(Fido2CertPage& page, CborSpan response,
                                     const uint8_t clientDataHash[32], UserPrompts& prompts,
                                     const MetadataBlob* metadata) {
    Result<Fido2Attestation> attestation = decodeMakeCredentialResponse(response);
    if (!attestation) {
        return FetchResult::failed(attestation.error());
    }
    // authData of any length: the signed data grows with it. Without the client data hash
    // there is nothing to check the signature over.
    std::vector<uint8_t> signedData;
    if (clientDataHash != nullptr) {
        signedData = attestation->authData;
        signedData.insert(signedData.end(), clientDataHash, clientDataHash + 32);
    }

    const std::vector<uint8_t>& signature = attestation->signature;
    const std::optional<std::span<const uint8_t>> aaguid = authDataAaguid(attestation->authData);
    const MetadataEntry* entry =
        metadata != nullptr && aaguid ? metadata->findByAaguid(*aaguid) : nullptr;
    // The chain as sent: each certificate is checked against the one after it.
    std::vector<std::vector<uint8_t>> chain;
    for (const std::optional<std::vector<uint8_t>>& certificate : attestation->x5c) {
        if (certificate) {
            chain.push_back(*certificate);
        }
    }
    const std::vector<ChainCheck> chainChecks =
        checkAttestationChain(chain, entry != nullptr ? std::span(entry->attestationRoots)
                                                      : std::span<const std::vector<uint8_t>>());
    int shown = 0;
    for (size_t index = 0;
         index < attestation->x5c.size() && index < static_cast<size_t>(MAX_SHOWN_CERTIFICATES);
         ++index) {
        const std::optional<std::vector<uint8_t>>& certificate = attestation->x5c[index];
        if (!certificate) {
            continue;
        }
        const size_t position = static_cast<size_t>(shown);
        ++shown;
        // A certificate that does not decode has shown its message; the next one follows.
        if (showCertificateDetails(page, certificate->data(), certificate->size(),
                                   clientDataHash != nullptr ? signedData.data() : nullptr,
                                   signedData.size(), signature.data(), signature.size(),
                                   CertificateVariant::Fido2, prompts, attestation->alg) != 0) {
            continue;
        }
        if (position < chainChecks.size()) {
            appendChainRow(page, chainChecks[position]);
        }
        if (position == 0) {
            appendRequirementsRow(page, packedAttestationRequirements(*certificate, aaguid));
        }
    }
    if (shown != 0 && metadata != nullptr) {
        appendMetadataRows(page, entry);
    }
    if (shown == 0) {
        // No x5c, or one that holds no certificate (self attestation).
        prompts.show({MessageCode::NoCertificate});
        return {FetchOutcome::NoCertificate, Error::malformed()};
    }
    return FetchResult::shown();
}

FetchResult fetchFido2Certificates(DeviceSession& session, bool clientPinSet, Fido2CertPage& page,
                                   UserPrompts& prompts, PinProtocol protocol,
                                   const MetadataBlob* metadata) {
    if (!prompts.confirm(Question::StartRegistration)) {
        return FetchResult::ended(Error::cancelled());
    }
    page.clearCertificatePage();
    page.showFido2Tips();

    // Some keys need the FIDO application selected first; what it answers does not matter.
    std::optional<QuickExchanges> quick(std::in_place, session);  // no touch until the registration
    sendApdu(session, SELECT_FIDO_APDU, CTAPHID_CBOR);

    std::vector<uint8_t> request;
    WipeVectorOnExit wipeRequest(request);
    if (clientPinSet) {
        PinToken token;
        if (const int step = obtainPinToken(session, prompts, token, protocol); step != 0) {
            // A failed step has told the user; a PIN not given is a cancel.
            return FetchResult::ended(step == PIN_ENTRY_CANCELLED ? Error::cancelled()
                                                                  : pinStepError(step));
        }
        uint8_t mac[SHA256_LENGTH] = {};
        WipeOnExit<uint8_t[SHA256_LENGTH]> wipeMac(mac);
        // Keyed by the token at the length the key gave it.
        if (const int failure =
                pinAuthenticate(protocol, token.bytes(), FIDO2_CLIENT_DATA_HASH, mac);
            failure != 0) {
            return FetchResult::failed(pinStepError(failure));
        }
        request = buildMakeCredentialRequest(std::span(mac, pinAuthLength(protocol)), protocol);
    } else {
        request = buildMakeCredentialRequest(nullptr);
    }

    quick.reset();  // the key may wait for its touch as long as it likes
    prompts.touchNeeded();
    Result<CborReply> answer = sendCbor(session, request);
    if (!answer) {
        return FetchResult::ended(answer.error());
    }
    if (answer->status != 0) {
        return FetchResult::failed(Error::ctapStatus(answer->status));
    }
    // A reply of the status byte alone, or one longer than the response room, leaves the
    // whole zeroed response to be read.
    std::vector<uint8_t> response(MAKE_CREDENTIAL_RESPONSE_CAPACITY, 0);
    uint32_t responseLength = MAKE_CREDENTIAL_RESPONSE_CAPACITY;
    const Bytes& data = answer->data;
    if (!data.empty() && data.size() <= response.size()) {
        std::copy(data.begin(), data.end(), response.begin());
        responseLength = static_cast<uint32_t>(data.size());
    }
    return showMakeCredentialResult(page, CborSpan{response.data(), responseLength},
                                    FIDO2_CLIENT_DATA_HASH, prompts, metadata);
}

}  // namespace orvanta
