#include "check/conformance.h"

#include <algorithm>
#include <array>

#include "check/check_run.h"
#include "common/hex_text.h"
#include "ctap/ctap_protocol.h"
#include "ctap/status_messages.h"

namespace orvanta {

namespace {

using check::CheckRun;
using check::Outcome;

struct CheckEntry {
    CheckInfo info;
    Outcome (*run)(CheckRun&);
};

constexpr CheckFamily HID = CheckFamily::Ctaphid;
constexpr CheckFamily INFO = CheckFamily::GetInfo;
constexpr CheckFamily ERRORS = CheckFamily::Ctap2Errors;
constexpr CheckFamily U2F = CheckFamily::U2f;
constexpr CheckFamily TOUCH = CheckFamily::Touch;

constexpr std::array<CheckEntry, 30> CHECKS = {{
    {{"ctaphid.init", HID, "INIT echoes the nonce and gives a new channel", "CTAP 2.1 §11.2.9.1.3"},
     check::checkInit},
    {{"ctaphid.ping", HID, "PING echoes 0, 57, 58 bytes and the longest message the key allows",
      "CTAP 2.1 §11.2.9.1.4"},
     check::checkPing},
    {{"ctaphid.unknown-command", HID, "An unknown command gives ERR_INVALID_CMD",
      "CTAP 2.1 §11.2.9.1.6"},
     check::checkUnknownHidCommand},
    {{"ctaphid.sequence", HID, "A continuation out of sequence gives ERR_INVALID_SEQ",
      "CTAP 2.1 §11.2.4"},
     check::checkSequence},
    {{"ctaphid.channel-zero", HID, "A request on channel 0 gives ERR_INVALID_CHANNEL",
      "CTAP 2.1 §11.2.3"},
     check::checkChannelZero},
    {{"ctaphid.unallocated-channel", HID,
      "A request on an unallocated channel gives ERR_INVALID_CHANNEL", "CTAP 2.1 §11.2.3"},
     check::checkUnallocatedChannel},
    {{"ctaphid.busy", HID,
      "A second channel's request while the first is busy gives ERR_CHANNEL_BUSY",
      "CTAP 2.1 §11.2.5"},
     check::checkBusyChannel},
    {{"ctaphid.wink", HID, "WINK works when, and only when, the capability says so",
      "CTAP 2.1 §11.2.9.2.1"},
     check::checkWink},
    {{"ctaphid.cancel", HID, "CANCEL during a waiting request ends it with KEEPALIVE_CANCEL",
      "CTAP 2.1 §11.2.9.1.5"},
     check::checkCancel},
    {{"getinfo.canonical", INFO,
      "The reply is canonical CBOR (key order, shortest forms, definite lengths)", "CTAP 2.1 §8"},
     check::checkCanonicalInfo},
    {{"getinfo.members", INFO, "Required members present, every member of its type",
      "CTAP 2.1 §6.4"},
     check::checkRequiredMembers},
    {{"getinfo.u2f-version", INFO, "versions lists U2F_V2 exactly when U2F answers",
      "CTAP 2.1 §6.4"},
     check::checkVersionsU2f},
    {{"getinfo.pin-protocols", INFO,
      "pinUvAuthProtocols present exactly when clientPin or pinUvAuthToken is", "CTAP 2.1 §6.4"},
     check::checkPinProtocols},
    {{"getinfo.options", INFO, "Options are booleans; unknown names are vendor options",
      "CTAP 2.1 §6.4"},
     check::checkOptionNames},
    {{"getinfo.max-msg-size", INFO, "maxMsgSize is at least 1024", "CTAP 2.1 §6.4"},
     check::checkMaxMsgSize},
    {{"ctap2.missing-parameter", ERRORS,
      "makeCredential without pubKeyCredParams gives MISSING_PARAMETER", "CTAP 2.1 §6.1.2"},
     check::checkMissingParameter},
    {{"ctap2.wrong-type", ERRORS,
      "makeCredential with a text clientDataHash gives CBOR_UNEXPECTED_TYPE", "CTAP 2.1 §6.1.2"},
     check::checkWrongType},
    {{"ctap2.unsupported-algorithm", ERRORS,
      "makeCredential with only unsupported algorithms gives UNSUPPORTED_ALGORITHM",
      "CTAP 2.1 §6.1.2"},
     check::checkUnsupportedAlgorithms},
    {{"ctap2.unsupported-pin-protocol", ERRORS,
      "makeCredential with an unsupported pinUvAuthProtocol gives INVALID_PARAMETER "
      "(CTAP 2.0: PIN_AUTH_INVALID)",
      "CTAP 2.1 §6.1.2"},
     check::checkUnsupportedPinProtocol},
    {{"ctap2.unknown-credential", ERRORS,
      "getAssertion (up=false) with an unknown credential gives NO_CREDENTIALS", "CTAP 2.1 §6.2.2"},
     check::checkUnknownCredential},
    {{"ctap2.pin-retries", ERRORS, "clientPin getRetries answers 0 to 8", "CTAP 2.1 §6.5"},
     check::checkPinRetries},
    {{"ctap2.key-agreement", ERRORS, "clientPin getKeyAgreement gives a valid P-256 point",
      "CTAP 2.1 §6.5"},
     check::checkKeyAgreement},
    {{"ctap2.unknown-command", ERRORS, "An unknown command byte gives INVALID_COMMAND",
      "CTAP 2.1 §6"},
     check::checkUnknownCtapCommand},
    {{"u2f.version", U2F, "VERSION gives \"U2F_V2\"", "U2F raw messages §6.1"},
     check::checkU2fVersion},
    {{"u2f.wrong-cla", U2F, "A wrong CLA gives 6E00", "U2F raw messages §3.3"},
     check::checkWrongCla},
    {{"u2f.wrong-ins", U2F, "A wrong INS gives 6D00", "U2F raw messages §3.3"},
     check::checkWrongIns},
    {{"u2f.check-only", U2F,
      "AUTHENTICATE check-only with an unknown key handle gives 6A80 without a touch",
      "U2F raw messages §5.1"},
     check::checkCheckOnly},
    {{"u2f.wrong-length", U2F, "A REGISTER of the wrong length gives 6700",
      "U2F raw messages §3.3"},
     check::checkWrongLength},
    {{"touch.attestation", TOUCH,
      "makeCredential (not discoverable) for each algorithm listed, each attestation verified",
      "CTAP 2.1 §6.1", true},
     check::checkAttestedCredentials},
    {{"touch.certificate", TOUCH,
      "The attestation certificate meets the packed attestation rules (Requirements)",
      "WebAuthn §8.2.1", true},
     check::checkAttestationCertificate},
}};

const std::array<CheckInfo, CHECKS.size()> INFOS = [] {
    std::array<CheckInfo, CHECKS.size()> infos{};
    for (size_t i = 0; i < CHECKS.size(); ++i) {
        infos[i] = CHECKS[i].info;
    }
    return infos;
}();

bool keyAnswers(DeviceSession& session) {
    static constexpr uint8_t PROBE[8] = {'c', 'o', 'n', 'f', 'o', 'r', 'm', '?'};
    const Result<Bytes> reply = exchange(session, CTAPHID_PING, PROBE);
    if (!reply) {
        // A transport without PING (a card) has had the key answer when its link opened.
        return reply.error().cause == TransportCause::Unsupported;
    }
    return std::equal(reply->begin(), reply->end(), std::begin(PROBE), std::end(PROBE));
}

// What the key says of itself, which the checks judge its other answers by.
void learn(CheckRun& run) {
    run.init = run.session.initFacts();
    if (!run.init || (run.init->capabilities & CTAPHID_CAPABILITY_CBOR) != 0) {
        const uint8_t getInfo[1] = {AUTHENTICATOR_GET_INFO};
        const Result<CborReply> reply = sendCbor(run.session, getInfo);
        if (reply && reply->status == ctap_status::OK) {
            run.ctap2 = true;
            run.getInfoCbor = reply->data;
            run.info = decodeAuthenticatorInfo(
                {run.getInfoCbor.data(), static_cast<uint32_t>(run.getInfoCbor.size())});
        }
    }
    const Result<ApduReply> version = sendApdu(run.session, check::u2fVersionRequest());
    if (version) {
        run.u2fVersion = *version;
    }
}

}  // namespace

namespace check {

bool CheckRun::listsVersion(std::string_view version) const {
    return std::find(info.versions.begin(), info.versions.end(), version) != info.versions.end();
}

bool CheckRun::hasU2f() const {
    return u2fVersion && u2fVersion->status == 0x9000;
}

std::string ctapStatusText(uint8_t status) {
    return "status 0x" + hexText(std::span(&status, 1)) + " (" + statusMessage(status) + ")";
}

std::string statusWordText(uint16_t word) {
    return "status word " + hex4(word);
}

std::string errorText(const Error& error) {
    if (error.kind != ErrorKind::Transport) {
        return "failed";
    }
    switch (error.cause) {
        case TransportCause::KeyError: {
            const auto code = static_cast<uint8_t>(error.code);
            return "CTAPHID error 0x" + hexText(std::span(&code, 1));
        }
        case TransportCause::Timeout:
        case TransportCause::NoChannel:
            return "no reply in time";
        case TransportCause::Framing:
            return "a reply the framing cannot take";
        case TransportCause::ShortReply:
            return "a reply too short to hold a status";
        case TransportCause::Cancelled:
            return "cancelled";
        case TransportCause::GaveUp:
            return "not sent: the key stopped answering";
        case TransportCause::Unsupported:
            return "the key's transport has no such request";
        default:
            return "the exchange failed";
    }
}

}  // namespace check

size_t ConformanceReport::count(Verdict verdict) const {
    return static_cast<size_t>(
        std::count_if(results.begin(), results.end(),
                      [&](const CheckResult& r) { return r.verdict == verdict; }));
}

std::span<const CheckInfo> conformanceChecks() {
    return INFOS;
}

std::string_view familyName(CheckFamily family) {
    switch (family) {
        case CheckFamily::Ctaphid:
            return "CTAPHID";
        case CheckFamily::GetInfo:
            return "getInfo";
        case CheckFamily::Ctap2Errors:
            return "CTAP2 errors";
        case CheckFamily::U2f:
            return "U2F";
        case CheckFamily::Touch:
            return "With a touch";
    }
    return "";
}

std::string_view verdictName(Verdict verdict) {
    switch (verdict) {
        case Verdict::Pass:
            return "PASS";
        case Verdict::Fail:
            return "FAIL";
        case Verdict::Skip:
            return "SKIP";
    }
    return "";
}

ConformanceReport runConformance(DeviceSession& session, const ConformanceOptions& options) {
    ConformanceReport report;
    CheckRun run{session, options, {}, false, {}, {}, {}, {}};
    std::string allSkipped;
    if (!session.present()) {
        report.reach = KeyReach::NoKey;
        allSkipped = "no key";
    } else {
        QuickExchanges quick(session, true);
        if (keyAnswers(session)) {
            report.reach = KeyReach::Answered;
            learn(run);
        } else if ((options.cancelled && options.cancelled()) || session.cancelRequested()) {
            // Cancelled before the key could answer: nothing is known of it.
            report.reach = KeyReach::Answered;
            report.cancelled = true;
            allSkipped = "cancelled";
        } else {
            report.reach = KeyReach::Silent;
            allSkipped = "the key does not answer";
        }
    }
    bool lost = false;
    for (size_t i = 0; i < CHECKS.size(); ++i) {
        const CheckEntry& entry = CHECKS[i];
        Outcome outcome;
        if (!allSkipped.empty()) {
            outcome = check::skip(allSkipped);
        } else if (report.cancelled || (options.cancelled && options.cancelled()) ||
                   session.cancelRequested()) {
            report.cancelled = true;
            outcome = check::skip("cancelled");
        } else if (lost) {
            outcome = check::skip("the key stopped answering");
        } else if (entry.info.touch) {
            outcome = entry.run(run);
        } else {
            // Bounded: a key that keeps anything waiting is cut off, and after the first
            // exchange it did not answer the check asks no more.
            QuickExchanges quick(session, true);
            outcome = entry.run(run);
            lost = session.gaveUp();
        }
        const bool cancelledNow =
            (options.cancelled && options.cancelled()) || session.cancelRequested();
        if (outcome.verdict == Verdict::Fail && cancelledNow) {
            outcome = check::skip("cancelled");  // what the key would have answered is unknown
        }
        report.results.push_back({&INFOS[i], outcome.verdict, std::move(outcome.detail)});
        if (options.progress) {
            options.progress(i + 1, CHECKS.size(), report.results.back());
        }
    }
    return report;
}

}  // namespace orvanta
