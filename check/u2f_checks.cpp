// The U2F checks: VERSION, and the requests a key must refuse with the status word the U2F
// raw messages give for them, none of which waits for a touch.

#include <array>
#include <vector>

#include "check/check_run.h"
#include "common/iso_status.h"
#include "ctap/crypto.h"

namespace orvanta::check {

namespace {

constexpr uint8_t U2F_REGISTER = 0x01;
constexpr uint8_t U2F_AUTHENTICATE = 0x02;
constexpr uint8_t U2F_VERSION = 0x03;
constexpr uint8_t CHECK_ONLY = 0x07;
constexpr uint8_t WRONG_CLA = 0x70;
constexpr uint8_t UNKNOWN_INS = 0x7F;

// A command APDU in the extended form the U2F HID transport uses.
Bytes apdu(uint8_t cla, uint8_t ins, uint8_t p1, const Bytes& data) {
    Bytes a = {cla, ins, p1, 0x00, 0x00};
    if (!data.empty()) {
        a.push_back(static_cast<uint8_t>(data.size() >> 8));
        a.push_back(static_cast<uint8_t>(data.size()));
        a.insert(a.end(), data.begin(), data.end());
    }
    a.push_back(0x00);  // Le: as much as there is (without data: 00 00 00, the extended Le)
    a.push_back(0x00);
    return a;
}

Outcome expectWord(CheckRun& run, const Bytes& request, uint16_t expected) {
    if (!run.hasU2f()) {
        return skip("the key has no U2F");
    }
    const Result<ApduReply> reply = sendApdu(run.session, request);
    if (!reply) {
        return fail(errorText(reply.error()));
    }
    if (reply->status == expected) {
        return pass();
    }
    return fail(statusWordText(reply->status) + "; " + statusWordText(expected) + " expected");
}

}  // namespace

Bytes u2fVersionRequest() {
    return apdu(0x00, U2F_VERSION, 0x00, {});
}

Outcome checkU2fVersion(CheckRun& run) {
    if (!run.u2fVersion) {
        return skip("the key has no U2F (CTAPHID_MSG refused)");
    }
    const ApduReply& reply = *run.u2fVersion;
    const std::string text(reply.data.begin(), reply.data.end());
    if (reply.status == SW_NO_ERROR && text == "U2F_V2") {
        return pass();
    }
    if (reply.status == SW_INS_NOT_SUPPORTED || reply.status == SW_CLA_NOT_SUPPORTED) {
        return skip("the key has no U2F (" + statusWordText(reply.status) + ")");
    }
    return fail("\"" + text + "\" with " + statusWordText(reply.status));
}

Outcome checkWrongCla(CheckRun& run) {
    return expectWord(run, apdu(WRONG_CLA, U2F_VERSION, 0x00, {}), SW_CLA_NOT_SUPPORTED);
}

Outcome checkWrongIns(CheckRun& run) {
    return expectWord(run, apdu(0x00, UNKNOWN_INS, 0x00, {}), SW_INS_NOT_SUPPORTED);
}

Outcome checkCheckOnly(CheckRun& run) {
    // Challenge and application parameters, then a key handle the key never made.
    Bytes data(64, 0xA5);
    std::array<uint8_t, 64> handle{};
    randomBytes(handle);
    data.push_back(static_cast<uint8_t>(handle.size()));
    data.insert(data.end(), handle.begin(), handle.end());
    return expectWord(run, apdu(0x00, U2F_AUTHENTICATE, CHECK_ONLY, data), SW_WRONG_DATA);
}

Outcome checkWrongLength(CheckRun& run) {
    // A registration carries 64 bytes; 10 must be refused before any touch.
    return expectWord(run, apdu(0x00, U2F_REGISTER, 0x00, Bytes(10, 0x5A)), SW_WRONG_LENGTH);
}

}  // namespace orvanta::check
