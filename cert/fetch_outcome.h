#pragma once
// How a certificate fetch of a certification page ended, and why, for front ends that report
// it (the page itself already shows rows and messages). Text is made by whoever tells the
// user: the window's status line, the command line's standard error and JSON.

#include "transport/result.h"

namespace orvanta {

enum class FetchOutcome {
    Cancelled,      // the confirmation or the PIN was not given, or the exchange was
                    // cancelled; no message was shown
    Shown,          // certificate data was handed to the certificate rows
    NoCertificate,  // the attestation carried no certificate ("No certificate information
                    // returned!")
    Failed,         // any other end: a message was shown, or the fetch ended silently
};

struct FetchResult {
    FetchOutcome outcome = FetchOutcome::Failed;
    // Why it did not show certificates: the exchange's error (the key stopped answering,
    // the exchange was cancelled), the key's CTAP status or ISO status word, the PIN step's
    // result, a malformed reply, or ErrorKind::Cancelled when the user said no.
    Error why{};

    bool cancelled() const { return outcome == FetchOutcome::Cancelled; }
    static FetchResult shown() { return {FetchOutcome::Shown, {}}; }
    static FetchResult failed(Error why) { return {FetchOutcome::Failed, why}; }
    // A cancelled exchange ends the fetch as a cancel; any other error as a failure.
    static FetchResult ended(Error why) {
        const bool cancel = why.kind == ErrorKind::Cancelled ||
                            (why.isTransport() && why.cause == TransportCause::Cancelled);
        return {cancel ? FetchOutcome::Cancelled : FetchOutcome::Failed, why};
    }
};

}  // namespace orvanta
