#include "cert/fido2_fetch.h"

#include <algorithm>
#include <cstring>

#include "cert/certificate_details.h"
#include "ctap/crypto.h"
#include "ctap/pin_token.h"
#include "ctap/secure_wipe.h"
#include "info/getinfo_rows.h"
#include "transport/ctaphid.h"

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

bool nonEmptyByteString(CborSpan item, const uint8_t** content, uint32_t* length) {
    return readByteString(item, content, length) && *length > 0;
}

}  // namespace

std::vector<uint8_t> buildMakeCredentialRequest(const uint8_t* pinAuth) {
    std::vector<uint8_t> request(1 + MAKE_CREDENTIAL_CBOR_CAPACITY, 0);
    request[0] = AUTHENTICATOR_MAKE_CREDENTIAL;
    CborWriter w{request.data() + 1, 0, MAKE_CREDENTIAL_CBOR_CAPACITY, false};
    beginMap(w, pinAuth != nullptr ? 6 : 4);
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
    if (pinAuth != nullptr) {
        putUnsigned(w, 8);
        putBytes(w, pinAuth, PIN_AUTH_LENGTH);
        putUnsigned(w, 9);
        putUnsigned(w, 1);
    }
    // The map is far below the capacity; a failed writer would mean a broken build.
    request.resize(w.failed ? 0 : 1 + w.length);
    return request;
}

FetchOutcome showMakeCredentialResult(Fido2CertPage& page, CborSpan response,
                                      const uint8_t clientDataHash[32], UserPrompts& prompts) {
    const uint8_t* authData = nullptr;
    uint32_t authDataLength = 0;
    if (!nonEmptyByteString(mapFindInt(response, 2), &authData, &authDataLength)) {
        return FetchOutcome::Failed;
    }
    // authData of any length: the signed data grows with it.
    std::vector<uint8_t> signedData(authData, authData + authDataLength);
    signedData.insert(signedData.end(), clientDataHash, clientDataHash + 32);

    CborSpan statement = mapFindInt(response, 3);
    const uint8_t* signature = nullptr;
    uint32_t signatureLength = 0;
    if (!nonEmptyByteString(mapFindText(statement, "sig"), &signature, &signatureLength)) {
        return FetchOutcome::Failed;
    }

    CborSpan chain = mapFindText(statement, "x5c");
    int shown = 0;
    if (itemLength(chain) != 0) {
        for (int32_t index = 0; index < MAX_SHOWN_CERTIFICATES; ++index) {
            const uint8_t* certificate = nullptr;
            uint32_t certificateLength = 0;
            if (!readByteString(arrayAt(chain, index), &certificate, &certificateLength)) {
                continue;
            }
            ++shown;
            // A certificate that does not decode has shown its message; the next one follows.
            showCertificateDetails(page, certificate, certificateLength, signedData.data(),
                                   signedData.size(), signature, signatureLength,
                                   CertificateVariant::Fido2, prompts);
        }
    }
    if (shown == 0) {
        // No x5c, or one that holds no certificate (self attestation).
        prompts.showMessage(NO_CERTIFICATE_MESSAGE, MessageIcon::Exclamation);
        return FetchOutcome::NoCertificate;
    }
    return FetchOutcome::Shown;
}

FetchOutcome fetchFido2Certificates(DeviceSession& session, bool clientPinSet, Fido2CertPage& page,
                                    UserPrompts& prompts) {
    if (!prompts.askOkCancel(TIPS_TEXT)) {
        return FetchOutcome::Cancelled;
    }
    page.clearCertificatePage();
    page.showFido2Tips();

    // Some keys need the FIDO application selected first; what it answers does not matter.
    sendApdu(session, SELECT_FIDO_APDU, CTAPHID_CBOR);

    std::vector<uint8_t> request;
    WipeVectorOnExit wipeRequest(request);
    if (clientPinSet) {
        uint8_t token[PIN_TOKEN_SIZE] = {};
        WipeOnExit<uint8_t[PIN_TOKEN_SIZE]> wipeToken(token);
        if (obtainPinToken(session, prompts, token) != 0) {
            return FetchOutcome::Failed;  // the PIN step has told the user
        }
        uint8_t mac[SHA256_LENGTH] = {};
        WipeOnExit<uint8_t[SHA256_LENGTH]> wipeMac(mac);
        if (hmacSha256(token, sizeof token, FIDO2_CLIENT_DATA_HASH, sizeof FIDO2_CLIENT_DATA_HASH,
                       mac) != 0) {
            return FetchOutcome::Failed;
        }
        request = buildMakeCredentialRequest(mac);  // pinAuth: the first 16 bytes
    } else {
        request = buildMakeCredentialRequest(nullptr);
    }

    prompts.touchNeeded();
    Result<CborReply> answer = sendCbor(session, request);
    if (!answer || answer->status != 0) {
        return FetchOutcome::Failed;
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
                                    FIDO2_CLIENT_DATA_HASH, prompts);
}

}  // namespace orvanta
