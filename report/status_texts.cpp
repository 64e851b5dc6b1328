#include "report/status_texts.h"

#include "cert/fido2_fetch.h"
#include "common/terminal_text.h"
#include "ctap/status_messages.h"

namespace orvanta::report {

namespace {

std::string keyName(const DeviceRecord& key) {
    return "The key " + terminalSafe(key.productName) + " (" + terminalSafe(key.path) + ")";
}

// Why an exchange failed, when the key is not simply silent.
std::string transportReason(const Error& why) {
    switch (why.cause) {
        case TransportCause::Lock:
            return "another program is using the key";
        case TransportCause::KeyError:
            return "the key refused the request (CTAPHID error " + std::to_string(why.code) + ")";
        case TransportCause::NoDevice:
            return "the key is gone";
        case TransportCause::BadRequest:
        case TransportCause::Unsupported:
            return "the key's transport cannot carry the request";
        case TransportCause::Framing:
        case TransportCause::ShortReply:
            return "the key's reply could not be read";
        case TransportCause::Read:
        case TransportCause::Write:
            return "the system could not reach the key";
        case TransportCause::None:
        case TransportCause::Timeout:
        case TransportCause::NoChannel:
        case TransportCause::GaveUp:
        case TransportCause::Cancelled:
            break;
    }
    return "the exchange with the key failed";
}

}  // namespace

std::string keyDoesNotAnswerText(const DeviceRecord& key) {
    return keyName(key) + " does not answer.";
}

std::string keyStoppedAnsweringText(const DeviceRecord& key) {
    return keyName(key) + " stopped answering; the page is incomplete.";
}

std::string keyRefusedEveryRequestText(const DeviceRecord& key) {
    return keyName(key) + " answered every request with an error; the page is incomplete.";
}

std::string fetchEndText(const FetchResult& result, const DeviceRecord& key) {
    const Error& why = result.why;
    std::string reason;
    switch (result.outcome) {
        case FetchOutcome::Shown:
            return {};
        case FetchOutcome::Cancelled:
            return FETCH_CANCELLED_TEXT;
        case FetchOutcome::NoCertificate:
            reason = NO_CERTIFICATE_MESSAGE;
            break;
        case FetchOutcome::Failed:
            switch (why.kind) {
                case ErrorKind::Transport:
                    if (why.cause == TransportCause::Timeout ||
                        why.cause == TransportCause::NoChannel ||
                        why.cause == TransportCause::GaveUp) {
                        return keyDoesNotAnswerText(key);
                    }
                    if (why.cause == TransportCause::Cancelled) {
                        return FETCH_CANCELLED_TEXT;
                    }
                    reason = transportReason(why);
                    break;
                case ErrorKind::PinStep:
                    if (why.code == TRANSPORT_FAILED) {
                        return keyDoesNotAnswerText(key);
                    }
                    reason = statusMessage(why.code);
                    break;
                case ErrorKind::CtapStatus:
                case ErrorKind::IsoStatus:
                    reason = statusMessage(why.code);
                    break;
                case ErrorKind::Cancelled:
                    return FETCH_CANCELLED_TEXT;
                case ErrorKind::Malformed:
                    reason = "the key's reply does not have the expected form";
                    break;
                case ErrorKind::RefusedByPolicy:
                    reason = "the key's metadata status forbids trusting it";
                    break;
            }
            break;
    }
    return "The fetch ended without certificates: " + reason;
}

}  // namespace orvanta::report
