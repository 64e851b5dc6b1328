#pragma once
// What the checks share within one run: the session, what the key said of itself before
// the checks (its INIT facts, its getInfo as received and decoded, its U2F version), and the
// verdicts with their texts.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "check/conformance.h"
#include "ctap/authenticator_info.h"
#include "transport/exchange.h"

namespace orvanta::check {

struct Outcome {
    Verdict verdict = Verdict::Skip;
    std::string detail;
};
inline Outcome pass(std::string detail = {}) {
    return {Verdict::Pass, std::move(detail)};
}
inline Outcome fail(std::string detail) {
    return {Verdict::Fail, std::move(detail)};
}
inline Outcome skip(std::string why) {
    return {Verdict::Skip, std::move(why)};
}

struct CheckRun {
    DeviceSession& session;
    const ConformanceOptions& options;
    std::optional<InitFacts> init;  // none: the key has no CTAPHID
    bool ctap2 = false;             // getInfo answered with success
    Bytes getInfoCbor;              // the getInfo map as received (after the status byte)
    AuthenticatorInfo info;
    // The answer to U2F VERSION (none: the exchange failed).
    std::optional<ApduReply> u2fVersion;
    // What the touch checks' registrations attested: each attestation certificate with
    // the AAGUID of its authenticator data.
    std::vector<std::pair<Bytes, Bytes>> attestations;

    bool listsVersion(std::string_view version) const;
    bool hasU2f() const;
};

// How an answer reads in a result: "status 0x14 (...)", "status word 6D00", "CTAPHID error
// 0x01", "no reply (...)".
std::string ctapStatusText(uint8_t status);
std::string statusWordText(uint16_t word);
std::string errorText(const Error& error);

// U2F VERSION, as every check sends it.
Bytes u2fVersionRequest();

// The checks, by family.
Outcome checkInit(CheckRun& run);
Outcome checkPing(CheckRun& run);
Outcome checkUnknownHidCommand(CheckRun& run);
Outcome checkSequence(CheckRun& run);
Outcome checkChannelZero(CheckRun& run);
Outcome checkUnallocatedChannel(CheckRun& run);
Outcome checkBusyChannel(CheckRun& run);
Outcome checkWink(CheckRun& run);
Outcome checkCancel(CheckRun& run);

Outcome checkCanonicalInfo(CheckRun& run);
Outcome checkRequiredMembers(CheckRun& run);
Outcome checkVersionsU2f(CheckRun& run);
Outcome checkPinProtocols(CheckRun& run);
Outcome checkOptionNames(CheckRun& run);
Outcome checkMaxMsgSize(CheckRun& run);

Outcome checkMissingParameter(CheckRun& run);
Outcome checkWrongType(CheckRun& run);
Outcome checkUnsupportedAlgorithms(CheckRun& run);
Outcome checkUnsupportedPinProtocol(CheckRun& run);
Outcome checkUnknownCredential(CheckRun& run);
Outcome checkPinRetries(CheckRun& run);
Outcome checkKeyAgreement(CheckRun& run);
Outcome checkUnknownCtapCommand(CheckRun& run);

Outcome checkU2fVersion(CheckRun& run);
Outcome checkWrongCla(CheckRun& run);
Outcome checkWrongIns(CheckRun& run);
Outcome checkCheckOnly(CheckRun& run);
Outcome checkWrongLength(CheckRun& run);

Outcome checkAttestedCredentials(CheckRun& run);
Outcome checkAttestationCertificate(CheckRun& run);

}  // namespace orvanta::check
