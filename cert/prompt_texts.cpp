#include "cert/prompt_texts.h"

#include "cert/certificate_details.h"
#include "cert/fido2_fetch.h"
#include "cert/u2f_fetch.h"
#include "ctap/status_messages.h"
#include "info/page_model.h"

namespace orvanta {

std::string messageText(const MessageEvent& message) {
    switch (message.code) {
        case MessageCode::PinEmpty:
            return "PIN cannot be empty!";
        case MessageCode::PinStepFailed:
            return statusMessage(message.status);
        case MessageCode::NoCertificate:
            return NO_CERTIFICATE_MESSAGE;
        case MessageCode::Fido2CertificateUndecodable:
            return FIDO2_DECODE_FAILED;
        case MessageCode::U2fCertificateUndecodable:
            return U2F_DECODE_FAILED;
        case MessageCode::U2fBadResponse:
            return U2F_BAD_RESPONSE_MESSAGE;
        case MessageCode::U2fTransportFailed:
            return U2F_TRANSPORT_FAILED_MESSAGE;
        case MessageCode::U2fExtendedTimeout:
            return U2F_EXTENDED_TIMEOUT_MESSAGE;
        case MessageCode::U2fShortTimeout:
            return U2F_SHORT_TIMEOUT_MESSAGE;
    }
    return {};
}

MessageIcon messageIcon(MessageCode code) {
    switch (code) {
        case MessageCode::PinEmpty:
        case MessageCode::NoCertificate:
            return MessageIcon::Exclamation;
        case MessageCode::PinStepFailed:
        case MessageCode::Fido2CertificateUndecodable:
        case MessageCode::U2fCertificateUndecodable:
        case MessageCode::U2fBadResponse:
        case MessageCode::U2fTransportFailed:
        case MessageCode::U2fExtendedTimeout:
        case MessageCode::U2fShortTimeout:
            return MessageIcon::Error;
    }
    return MessageIcon::Error;
}

std::string questionText(Question question) {
    switch (question) {
        case Question::StartRegistration:
            return TIPS_TEXT;
    }
    return {};
}

}  // namespace orvanta
