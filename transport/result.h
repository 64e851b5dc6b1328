#pragma once
// One error model for exchanges and decoders: a value, or a typed error that says what
// went wrong. The numeric outcomes users see ("failed3333!", the -1/0/1/2 returns) are
// made from these where pages and messages are made, not here.

#include <cstdint>
#include <utility>
#include <variant>

namespace orvanta {

// Why an exchange with the key did not complete.
enum class TransportCause : uint8_t {
    None,
    NoDevice,     // no key chosen, or its handle is gone
    BadRequest,   // empty or longer than one CTAPHID message can carry
    Lock,         // another program held the key for too long
    Write,        // the system did not take an output report
    Read,         // the system failed a read
    Timeout,      // a reply report did not come in time
    NoChannel,    // CTAPHID_INIT gave no channel
    Framing,      // report lengths, sequence or length fields the framing cannot take
    ShortReply,   // fewer bytes than a status word or status byte
    KeyError,     // the key answered with CTAPHID_ERROR; Error::code holds its error code
    GaveUp,       // an earlier exchange of the same run failed; nothing was sent
    Cancelled,    // the exchange was cancelled (CTAPHID_CANCEL sent when the key was waiting)
    Unsupported,  // the key's transport has no such command (a card has no PING or WINK)
};

enum class ErrorKind : uint8_t {
    Transport,   // cause says why
    CtapStatus,  // code: the CTAP2 status byte
    IsoStatus,   // code: the ISO 7816 status word
    PinStep,     // code: what the PIN step reported
    Cancelled,   // the user said no
    Malformed,   // the reply or file does not have the expected form
    // The key answered, but its metadata status (revoked, a compromise) forbids trusting it.
    RefusedByPolicy,
};

struct Error {
    ErrorKind kind = ErrorKind::Transport;
    uint16_t code = 0;
    TransportCause cause = TransportCause::None;

    static Error transport(TransportCause cause, uint16_t code = 0) {
        return {ErrorKind::Transport, code, cause};
    }
    static Error ctapStatus(uint8_t status) { return {ErrorKind::CtapStatus, status}; }
    static Error isoStatus(uint16_t word) { return {ErrorKind::IsoStatus, word}; }
    static Error malformed() { return {ErrorKind::Malformed, 0}; }
    static Error cancelled() { return {ErrorKind::Cancelled, 0}; }
    static Error refusedByPolicy() { return {ErrorKind::RefusedByPolicy, 0}; }
    bool isTransport() const { return kind == ErrorKind::Transport; }
};

template <typename T>
class Result {
  public:
    Result(T value) : state_(std::move(value)) {}  // NOLINT: implicit by design
    Result(Error error) : state_(error) {}         // NOLINT: implicit by design

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(state_); }
    const T& value() const { return std::get<0>(state_); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    const Error& error() const { return std::get<1>(state_); }

  private:
    std::variant<T, Error> state_;
};

}  // namespace orvanta
