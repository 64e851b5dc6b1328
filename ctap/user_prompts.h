#pragma once
// Everything the core asks of the user goes through this interface: the Qt window
// implements it with message boxes and the PIN dialog, the command line with the terminal,
// the tests with a script of answers. The core tells what happened as typed events (a
// message with its code, a question, the PIN or a touch needed); the words are made where
// the user is told (cert/prompt_texts.h). The caption of every message is the application's
// name, "Orvanta".

#include <cstdint>
#include <string>

namespace orvanta {

inline constexpr const char* APP_NAME = "Orvanta";

enum class MessageIcon { Error, Exclamation, Information, Warning };

// A message that tells of a failure (the fetch or check it belongs to did not succeed).
inline bool isFailure(MessageIcon icon) {
    return icon == MessageIcon::Error || icon == MessageIcon::Exclamation;
}

// Every message the core can give.
enum class MessageCode : uint8_t {
    PinEmpty,                     // the PIN was confirmed empty; nothing was sent
    PinStepFailed,                // status: what the PIN step reported (a CTAP status, ...)
    NoCertificate,                // the attestation carried no certificate
    Fido2CertificateUndecodable,  // a certificate of the FIDO2 attestation does not decode
    U2fCertificateUndecodable,    // the U2F attestation certificate does not decode
    U2fBadResponse,               // the registration reply does not have the U2F form
    U2fTransportFailed,           // an extended-form register exchange failed
    U2fExtendedTimeout,           // no touch in time, extended-form requests
    U2fShortTimeout,              // no touch in time, short-form requests
};

struct MessageEvent {
    MessageCode code = MessageCode::PinEmpty;
    int32_t status = 0;  // PinStepFailed: the step's result; 0 otherwise
    bool operator==(const MessageEvent& other) const = default;
};

// Every question the core asks (OK or Cancel).
enum class Question : uint8_t {
    StartRegistration,  // a test registration is about to be made; the key will want a touch
};

class UserPrompts {
  public:
    virtual ~UserPrompts() = default;
    // A message of the core.
    virtual void show(const MessageEvent& message) = 0;
    // A message a front end has worded itself (a file it could not write, another instance
    // running).
    virtual void showMessage(const std::string& text, MessageIcon icon) = 0;
    // OK/Cancel question with the warning icon; true for OK.
    virtual bool confirm(Question question) = 0;
    // Asks for the PIN (masked). True when confirmed with OK: pin then holds what was
    // typed, as UTF-8, possibly empty. False when cancelled: pin is left empty.
    // The caller wipes pin after use. (The key is not asked for its retries first: that
    // would be one more request.)
    virtual bool askPin(std::string& pin) = 0;
    // Hands a file to the desktop (the system's certificate viewer for ".cer").
    virtual void openFile(const std::string& path) = 0;
    // Tells that the key now waits for a touch (progress only; the window shows nothing).
    virtual void touchNeeded() {}
};

}  // namespace orvanta
