#include "cert/u2f_fetch.h"

#include <algorithm>
#include <cstring>

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

FetchResult fetchU2fCertificate(DeviceSession& session, U2fCertPage& page, UserPrompts& prompts,
                                const MetadataBlob* metadata) {
    if (!prompts.confirm(Question::StartRegistration)) {
        return FetchResult::ended(Error::cancelled());
    }
    page.clearCertificatePage();
    page.showU2fTips();

    uint8_t extended[U2F_REGISTER_EXTENDED_LENGTH];
    uint8_t shortRegister[U2F_REGISTER_SHORT_LENGTH];
    u2fRegisterApdu(U2F_CHALLENGE_PARAMETER, U2F_APPLICATION_PARAMETER, extended);
    u2fRegisterShortApdu(U2F_CHALLENGE_PARAMETER, U2F_APPLICATION_PARAMETER, shortRegister);

    std::vector<uint8_t> collected;
    std::vector<uint8_t> receive(U2F_RECEIVE_CAPACITY + 1, 0);
    uint32_t receiveLength = U2F_RECEIVE_CAPACITY;
    // Why the last exchange failed.
    Error failure{};
    // The status word, or TRANSPORT_FAILED for a failed exchange or an answer longer than
    // the room offered.
    auto send = [&](const uint8_t* apdu, size_t apduLength) -> uint16_t {
        std::fill(receive.begin(), receive.end(), 0);
        receiveLength = U2F_RECEIVE_CAPACITY;
        Result<ApduReply> answer =
            sendApdu(session, std::span<const uint8_t>(apdu, apduLength), CTAPHID_MSG);
        if (!answer) {
            failure = answer.error();
            return TRANSPORT_FAILED;
        }
        if (answer->data.size() > U2F_RECEIVE_CAPACITY) {
            receiveLength = static_cast<uint32_t>(answer->data.size());
            failure = Error::transport(TransportCause::Framing);
            return TRANSPORT_FAILED;
        }
        std::copy(answer->data.begin(), answer->data.end(), receive.begin());
        receiveLength = static_cast<uint32_t>(answer->data.size());
        return answer->status;
    };
    // Keeps what an exchange returned; false when the response would outgrow its buffer.
    auto collect = [&]() {
        if (receiveLength > U2F_RESPONSE_CAPACITY - collected.size()) {
            return false;
        }
        collected.insert(collected.end(), receive.begin(), receive.begin() + receiveLength);
        return true;
    };
    auto fail = [&](MessageCode message, Error why) {
        prompts.show({message});
        return FetchResult::failed(why);
    };
    // A cancelled exchange ends the fetch at once, without a message.
    auto cancelled = [&](uint16_t sent) {
        return sent == TRANSPORT_FAILED && failure.isTransport() &&
               failure.cause == TransportCause::Cancelled;
    };
    const uint32_t start = session.clock().tickCount();
    // Unsigned difference: a wrap of the tick counter does no harm.
    auto expired = [&]() { return session.clock().tickCount() - start > U2F_FETCH_TIMEOUT_MS; };

    // A U2F key answers at once (0x6985 until touched); keepalives are no reason to wait.
    QuickExchanges quick(session);
    uint16_t status = SW_CONDITIONS_NOT_SATISFIED;
    prompts.touchNeeded();
    // Once the key refused the extended form, every register request is a short one.
    bool shortForm = false;
    for (;;) {
        bool collectedThisStep = false;
        bool shortAttempt = false;
        if (shortForm && status != SW_NO_ERROR && (status >> 8) != 0x61) {
            // Any answer but success or a chain, a failed exchange included, only leads to
            // another attempt until the time limit, paced like the extended ones.
            session.clock().sleep(U2F_RETRY_PAUSE_MS);
            if (expired()) {
                return fail(MessageCode::U2fShortTimeout, Error::isoStatus(status));
            }
            status = send(shortRegister, sizeof shortRegister);
            shortAttempt = true;
        } else if (status == SW_CONDITIONS_NOT_SATISFIED) {
            status = send(extended, sizeof extended);
            // The limit is tested before the answer: a late success counts as a timeout.
            if (!cancelled(status) && expired()) {
                return fail(MessageCode::U2fExtendedTimeout, Error::isoStatus(status));
            }
            session.clock().sleep(U2F_RETRY_PAUSE_MS);
        } else if ((status >> 8) == 0x61) {
            const uint8_t getResponse[5] = {0x00, 0xC0, 0x00, 0x00,
                                            static_cast<uint8_t>(status & 0xFF)};
            status = send(getResponse, sizeof getResponse);
            if (status != TRANSPORT_FAILED) {
                // A chain that announces more but delivers nothing would never end.
                if (!collect() || (receiveLength == 0 && (status >> 8) == 0x61)) {
                    return fail(MessageCode::U2fBadResponse, Error::malformed());
                }
                collectedThisStep = true;
            }
        } else if (status == SW_WRONG_LENGTH || status == SW_NO_PRECISE_DIAGNOSIS) {
            // The key does not take the extended form: the short form, at once.
            shortForm = true;
            status = send(shortRegister, sizeof shortRegister);
            shortAttempt = true;
        } else {
            return FetchResult::failed(Error::isoStatus(status));  // the key refuses: no message
        }
        if (cancelled(status)) {
            return FetchResult::ended(failure);
        }
        if (status == SW_NO_ERROR) {
            if (!collectedThisStep && !collect()) {
                return fail(MessageCode::U2fBadResponse, Error::malformed());
            }
            break;
        }
        if (status == TRANSPORT_FAILED && !shortAttempt) {
            return fail(MessageCode::U2fTransportFailed, failure);
        }
    }
    return showU2fRegistration(page, collected, U2F_CHALLENGE_PARAMETER, U2F_APPLICATION_PARAMETER,
                               prompts, metadata);
}

}  // namespace orvanta
