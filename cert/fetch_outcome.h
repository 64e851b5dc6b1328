#pragma once
// How a certificate fetch of a certification page ended, for front ends that report it
// (the page itself already shows rows and messages).

namespace orvanta {

enum class FetchOutcome {
    Cancelled,      // the confirmation was not given; the page is unchanged
    Shown,          // certificate data was handed to the certificate rows
    NoCertificate,  // the attestation carried no certificate ("No certificate information
                    // returned!")
    Failed,         // any other end: a message was shown, or the fetch ended silently
};

}  // namespace orvanta
