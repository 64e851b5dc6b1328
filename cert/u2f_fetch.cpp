#include "cert/u2f_fetch.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "cert/attestation_chain.h"
#include "cert/certificate_details.h"
#include "ctap/status_messages.h"
#include "info/metadata_rows.h"
#include "transport/exchange.h"

namespace orvanta {

namespace {

constexpr uint8_t U2F_REGISTER_HEADER[4] = {0x00, 0x01, 0x03, 0x00};  // CLA INS P1 P2
constexpr size_t KEY_HANDLE_LENGTH_OFFSET = 66;
constexpr size_t KEY_HANDLE_OFFSET = 67;

// Length of the DER item at `item` (header included) when it is a SEQUENCE whose length,
// in the short or a long form of up to four octets, fits in `available` bytes.
std::optional<size_t> derSequenceLength(const uint8_t* item, size_t available) {
    if (available < 2 || item[0] != 0x30) {
        return std::nullopt;
    }
    size_t header = 2;
    size_t content = 0;
    uint8_t first = item[1];
    if (first < 0x80) {
        content = first;
    } else {
        size_t octets = first & 0x7F;
        if (octets == 0 || octets > 4 || available < 2 + octets) {
            return std::nullopt;  // indefinite or absurdly long
        }
        for (size_t i = 0; i < octets; ++i) {
            content = (content << 8) | item[2 + i];
        }
        header += octets;
    }
    if (content > available - header) {
        return std::nullopt;
    }
    return header + content;
}

}  // namespace

void u2fRegisterApdu(const uint8_t challenge[32], const uint8_t application[32],
                     uint8_t apdu[U2F_REGISTER_EXTENDED_LENGTH]) {
    std::memcpy(apdu, U2F_REGISTER_HEADER, 4);
    apdu[4] = 0x00;  // extended Lc = 64
    apdu[5] = 0x00;
    apdu[6] = 0x40;
    std::memcpy(apdu + 7, challenge, 32);
    std::memcpy(apdu + 39, application, 32);
    apdu[71] = 0x00;  // extended Le
    apdu[72] = 0x00;
}

void u2fRegisterShortApdu(const uint8_t challenge[32], const uint8_t application[32],
                          uint8_t apdu[U2F_REGISTER_SHORT_LENGTH]) {
    std::memcpy(apdu, U2F_REGISTER_HEADER, 4);
    apdu[4] = 0x40;  // Lc = 64, no Le
    std::memcpy(apdu + 5, challenge, 32);
    std::memcpy(apdu + 37, application, 32);
}

std::optional<U2fRegistration> parseU2fRegistration(std::span<const uint8_t> response) {
    const size_t length = response.size();
    if (length > U2F_RESPONSE_CAPACITY || length <= KEY_HANDLE_OFFSET) {
        return std::nullopt;
    }
    U2fRegistration parts;
    parts.userPublicKey = response.subspan(1, U2F_USER_KEY_LENGTH);
    const size_t keyHandleLength = response[KEY_HANDLE_LENGTH_OFFSET];
    const size_t certificateOffset = KEY_HANDLE_OFFSET + keyHandleLength;
    if (certificateOffset >= length) {
        return std::nullopt;
    }
    parts.keyHandle = response.subspan(KEY_HANDLE_OFFSET, keyHandleLength);
    std::optional<size_t> certificateLength =
        derSequenceLength(response.data() + certificateOffset, length - certificateOffset);
    if (!certificateLength) {
        return std::nullopt;
    }
    parts.certificate = response.subspan(certificateOffset, *certificateLength);
    parts.signature = response.subspan(certificateOffset + *certificateLength);
    // A response that ends with the certificate still shows it; its check then says NO.
    if (parts.signature.size() > U2F_SIGNATURE_CAPACITY) {
        return std::nullopt;
    }
    return parts;
}

std::vector<uint8_t> u2fSignedMessage(const U2fRegistration& registration,
                                      std::span<const uint8_t, 32> challenge,
                                      std::span<const uint8_t, 32> application) {
    std::vector<uint8_t> message;
    message.reserve(1 + 32 + 32 + registration.keyHandle.size() + U2F_USER_KEY_LENGTH);
    message.push_back(0x00);
    message.insert(message.end(), application.begin(), application.end());
    message.insert(message.end(), challenge.begin(), challenge.end());
    message.insert(message.end(), registration.keyHandle.begin(), registration.keyHandle.end());
    message.insert(message.end(), registration.userPublicKey.begin(),
                   registration.userPublicKey.end());
    return message;
}

FetchResult showU2fRegistration(U2fCertPage& page, std::span<const uint8_t> response,
                                std::span<const uint8_t, 32> challenge,
                                std::span<const uint8_t, 32> application, UserPrompts& prompts,
                                const MetadataBlob* metadata) {
    std::optional<U2fRegistration> registration = parseU2fRegistration(response);
    if (!registration) {
        prompts.show({MessageCode::U2fBadResponse});
        return FetchResult::failed(Error::malformed());
    }
    std::vector<uint8_t> signedMessage = u2fSignedMessage(*registration, challenge, application);
    if (showCertificateDetails(
            page, registration->certificate.data(), registration->certificate.size(),
            signedMessage.data(), signedMessage.size(), registration->signature.data(),
            registration->signature.size(), CertificateVariant::U2f, prompts) != 0) {
        return FetchResult::failed(Error::malformed());  // "...6666!" has been shown
    }
    const MetadataEntry* entry = nullptr;
    if (metadata != nullptr) {
        if (const auto id = attestationKeyIdentifier(registration->certificate)) {
            entry = metadata->findByKeyIdentifier(*id);
        }
    }
    const std::vector<std::vector<uint8_t>> chain = {
        std::vector<uint8_t>(registration->certificate.begin(), registration->certificate.end())};
    appendChainRow(page, checkAttestationChain(chain, entry != nullptr
                                                          ? std::span(entry->attestationRoots)
                                                          : std::span<const std::vector<uint8_t>>())
                             .front());
    if (metadata != nullptr) {
        appendMetadataRows(page, entry);
    }
    return FetchResult::shown();
}

namespace {

// One U2F registration until the key's response is complete: the extended register request
// repeated until the key is touched, the short form for a key that refuses the extended
// one, and GET RESPONSE for an answer that comes in a chain.
class U2fRegistering {
  public:
    U2fRegistering(DeviceSession& session, UserPrompts& prompts)
        : session_(session), prompts_(prompts), start_(session.clock().tickCount()) {
        u2fRegisterApdu(U2F_CHALLENGE_PARAMETER, U2F_APPLICATION_PARAMETER, extended_);
        u2fRegisterShortApdu(U2F_CHALLENGE_PARAMETER, U2F_APPLICATION_PARAMETER, short_);
    }

    // Nothing once the whole response is collected, else how the fetch ended.
    std::optional<FetchResult> run() {
        for (;;) {
            bool collectedThisStep = false;
            bool shortAttempt = false;
            if (std::optional<FetchResult> ended = exchange(collectedThisStep, shortAttempt)) {
                return ended;
            }
            if (cancelled(status_)) {
                return FetchResult::ended(failure_);
            }
            if (status_ == SW_NO_ERROR) {
                if (!collectedThisStep && !collect()) {
                    return fail(MessageCode::U2fBadResponse, Error::malformed());
                }
                return std::nullopt;
            }
            if (status_ == TRANSPORT_FAILED && !shortAttempt) {
                return fail(MessageCode::U2fTransportFailed, failure_);
            }
        }
    }

    std::span<const uint8_t> response() const { return collected_; }

  private:
    // The next request the last status calls for; how the fetch ended if it ends here.
    std::optional<FetchResult> exchange(bool& collectedThisStep, bool& shortAttempt) {
        if (shortForm_ && status_ != SW_NO_ERROR && (status_ >> 8) != 0x61) {
            // Any answer but success or a chain, a failed exchange included, only leads to
            // another attempt until the time limit, paced like the extended ones; a lost key
            // gets none (a cancelled exchange ends the fetch before this).
            if (status_ == TRANSPORT_FAILED && keyLost()) {
                return fail(MessageCode::U2fTransportFailed, failure_);
            }
            session_.clock().sleep(U2F_RETRY_PAUSE_MS);
            if (session_.cancelRequested()) {
                return FetchResult::ended(Error::transport(TransportCause::Cancelled));
            }
            if (expired()) {
                return fail(MessageCode::U2fShortTimeout, Error::isoStatus(status_));
            }
            status_ = sendRegister(short_, sizeof short_);
            shortAttempt = true;
        } else if (status_ == SW_CONDITIONS_NOT_SATISFIED) {
            status_ = sendRegister(extended_, sizeof extended_);
            // The limit is tested before the answer: a late success counts as a timeout.
            if (!cancelled(status_) && expired()) {
                return fail(MessageCode::U2fExtendedTimeout, Error::isoStatus(status_));
            }
            session_.clock().sleep(U2F_RETRY_PAUSE_MS);
        } else if ((status_ >> 8) == 0x61) {
            const uint8_t getResponse[5] = {0x00, 0xC0, 0x00, 0x00,
                                            static_cast<uint8_t>(status_ & 0xFF)};
            status_ = send(getResponse, sizeof getResponse);
            if (status_ != TRANSPORT_FAILED) {
                // A chain that announces more but delivers nothing would never end.
                if (!collect() || (receiveLength_ == 0 && (status_ >> 8) == 0x61)) {
                    return fail(MessageCode::U2fBadResponse, Error::malformed());
                }
                collectedThisStep = true;
            }
        } else if (status_ == SW_WRONG_LENGTH || status_ == SW_NO_PRECISE_DIAGNOSIS) {
            // The key does not take the extended form: the short form, at once.
            shortForm_ = true;
            status_ = sendRegister(short_, sizeof short_);
            shortAttempt = true;
        } else {
            return FetchResult::failed(Error::isoStatus(status_));  // the key refuses: no message
        }
        // Data that comes with 0x61xx ("more available") is the response's first part.
        if (!collectedThisStep && (status_ >> 8) == 0x61 && !collect()) {
            return fail(MessageCode::U2fBadResponse, Error::malformed());
        }
        return std::nullopt;
    }

    // A register request starts the response afresh.
    uint16_t sendRegister(const uint8_t* apdu, size_t apduLength) {
        collected_.clear();
        return send(apdu, apduLength);
    }

    // The status word, or TRANSPORT_FAILED for a failed exchange or an answer longer than
    // the room offered.
    uint16_t send(const uint8_t* apdu, size_t apduLength) {
        std::fill(receive_.begin(), receive_.end(), 0);
        receiveLength_ = U2F_RECEIVE_CAPACITY;
        Result<ApduReply> answer =
            sendApdu(session_, std::span<const uint8_t>(apdu, apduLength), CTAPHID_MSG);
        if (!answer) {
            failure_ = answer.error();
            return TRANSPORT_FAILED;
        }
        if (answer->data.size() > U2F_RECEIVE_CAPACITY) {
            receiveLength_ = static_cast<uint32_t>(answer->data.size());
            failure_ = Error::transport(TransportCause::Framing);
            return TRANSPORT_FAILED;
        }
        std::copy(answer->data.begin(), answer->data.end(), receive_.begin());
        receiveLength_ = static_cast<uint32_t>(answer->data.size());
        return answer->status;
    }

    // Keeps what an exchange returned; false when the response would outgrow its buffer.
    bool collect() {
        if (receiveLength_ > U2F_RESPONSE_CAPACITY - collected_.size()) {
            return false;
        }
        collected_.insert(collected_.end(), receive_.begin(), receive_.begin() + receiveLength_);
        return true;
    }

    FetchResult fail(MessageCode message, Error why) {
        prompts_.show({message});
        return FetchResult::failed(why);
    }

    // A cancelled exchange ends the fetch at once, without a message.
    bool cancelled(uint16_t sent) const {
        return sent == TRANSPORT_FAILED && failure_.isTransport() &&
               failure_.cause == TransportCause::Cancelled;
    }

    // The last exchange failed because the key is gone (unplugged, its card taken away or
    // silent for good): asking again gets no answer either.
    bool keyLost() const {
        if (!failure_.isTransport()) {
            return false;
        }
        switch (failure_.cause) {
            case TransportCause::NoDevice:
            case TransportCause::Read:
            case TransportCause::Write:
            case TransportCause::GaveUp:
                return true;
            default:
                return false;
        }
    }

    // Unsigned difference: a wrap of the tick counter does no harm.
    bool expired() const { return session_.clock().tickCount() - start_ > U2F_FETCH_TIMEOUT_MS; }

    DeviceSession& session_;
    UserPrompts& prompts_;
    uint8_t extended_[U2F_REGISTER_EXTENDED_LENGTH];
    uint8_t short_[U2F_REGISTER_SHORT_LENGTH];
    std::vector<uint8_t> collected_;
    std::vector<uint8_t> receive_ = std::vector<uint8_t>(U2F_RECEIVE_CAPACITY + 1, 0);
    uint32_t receiveLength_ = U2F_RECEIVE_CAPACITY;
    // Why the last exchange failed.
    Error failure_{};
    const uint32_t start_;
    uint16_t status_ = SW_CONDITIONS_NOT_SATISFIED;
    // Once the key refused the extended form, every register request is a short one.
    bool shortForm_ = false;
};

}  // namespace

FetchResult fetchU2fCertificate(DeviceSession& session, U2fCertPage& page, UserPrompts& prompts,
                                const MetadataBlob* metadata) {
    if (!prompts.confirm(Question::StartRegistration)) {
        return FetchResult::ended(Error::cancelled());
    }
    page.clearCertificatePage();
    page.showU2fTips();

    U2fRegistering registering(session, prompts);
    // A U2F key answers at once (0x6985 until touched); keepalives are no reason to wait.
    QuickExchanges quick(session);
    prompts.touchNeeded();
    if (std::optional<FetchResult> ended = registering.run()) {
        return *ended;
    }
    return showU2fRegistration(page, registering.response(), U2F_CHALLENGE_PARAMETER,
                               U2F_APPLICATION_PARAMETER, prompts, metadata);
}

}  // namespace orvanta
