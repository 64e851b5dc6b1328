#pragma once
// Offline decoders: saved replies and certificates shown with the same rows as the pages.
// Files are binary, hexadecimal, Base64 or Base64url text ("-": standard input); a file
// that is not what the command expects ends with a message on standard error and status 1.

#include <optional>
#include <string>

#include "cli/context.h"

namespace orvanta::cli {

// An authenticatorGetInfo reply (the CBOR map, optionally preceded by the status byte 00):
// the "authenticatorGetInfo" rows of the hardware page.
int decodeGetInfo(Context& context, const std::string& file);

// An authenticatorMakeCredential response (CBOR map with the integer keys 1 fmt,
// 2 authData, 3 attStmt, optionally preceded by the status byte) or a WebAuthn
// attestationObject (the same with the text keys "fmt", "authData", "attStmt"): the rows of
// the "FIDO2 Certification" page, "Verify Result" checked against the client data hash.
// Without a client data hash the rows come without any "Verify Result", and standard error
// says that the signature was not checked.
int decodeMakeCredential(Context& context, const std::string& file,
                         const std::optional<std::string>& clientDataHashHex);

// A U2F registration response (without the status word): the rows of the
// "U2F Certification" page, "Verify Result" checked with the challenge and application
// parameters.
int decodeU2fRegistration(Context& context, const std::string& file,
                          const std::string& challengeHex, const std::string& applicationHex);

// X.509 certificates, DER or PEM: the rows of each ("Version" to "Base64 encode" and
// "Extentions") on a "certificate" page of its own. PEM text may have other text before
// the first block and may hold several certificates, shown in the order of the file.
int decodeCertificate(Context& context, const std::string& file);

}  // namespace orvanta::cli
