#include "info/vendor_queries.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <span>
#include <vector>

#include "common/aids.h"
#include "common/iso_status.h"
#include "transport/exchange.h"
#include "transport/nfc_protocol.h"

namespace orvanta {

namespace {

const uint8_t VERSION_COMMAND[] = {0x80, 0xE2, 0x80, 0x00, 0x05, 0xDF,
                                   0xFF, 0x02, 0x80, 0x01, 0x00};
constexpr uint32_t VERSION_CAPACITY = 30;

// SELECT by name with the trailing Le byte.
std::vector<uint8_t> selectApdu(std::span<const uint8_t> aid, bool withLe = true) {
    std::vector<uint8_t> apdu = {ISO_CLA, ISO_INS_SELECT, ISO_SELECT_BY_NAME, 0x00,
                                 static_cast<uint8_t>(aid.size())};
    apdu.resize(apdu.size() + aid.size());
    std::copy(aid.begin(), aid.end(), apdu.end() - static_cast<std::ptrdiff_t>(aid.size()));
    if (withLe) {
        apdu.push_back(0x00);
    }
    return apdu;
}

template <size_t N>
std::vector<uint8_t> vendorAid(const uint8_t (&suffix)[N]) {
    std::vector<uint8_t> aid(std::begin(VENDOR_RID), std::end(VENDOR_RID));
    aid.insert(aid.end(), std::begin(suffix), std::end(suffix));
    return aid;
}

// The answer as the queries read it: a failed exchange, and an answer longer than the
// query offers room for, count as a transport failure.
struct Reply {
    bool failed = true;
    uint16_t status = 0;
    size_t length = 0;
    Bytes data;
};

void exchange(DeviceSession& session, const std::vector<uint8_t>& apdu, size_t capacity,
              Reply& reply) {
    Result<ApduReply> answer = sendApdu(session, apdu, CTAPHID_MSG);
    reply.failed = !answer || answer->data.size() > capacity;
    if (reply.failed) {
        return;
    }
    reply.status = answer->status;
    reply.length = answer->data.size();
    reply.data = std::move(answer->data);
}

bool succeeded(const Reply& reply) {
    return !reply.failed && reply.status == SW_NO_ERROR;
}

void formatTwo(char* text, uint8_t a, uint8_t b) {
    std::snprintf(text, QUERY_TEXT_SIZE, "%02X%02X", a, b);
}

// SELECT, then the version command; the version is in data bytes 8 and 9.
int twoStepQuery(DeviceSession& session, const std::vector<uint8_t>& select,
                 uint32_t selectCapacity, char* text) {
    // The selection is the key's, not our channel's: no other program may select another
    // applet before the question is asked.
    LinkHold hold(session.link());
    Reply reply;
    exchange(session, select, selectCapacity, reply);
    if (!succeeded(reply)) {
        return 1;
    }
    std::vector<uint8_t> version(VERSION_COMMAND, VERSION_COMMAND + sizeof VERSION_COMMAND);
    Reply second;
    exchange(session, version, VERSION_CAPACITY, second);
    if (second.failed || second.length < 16) {
        return 2;
    }
    formatTwo(text, second.data[8], second.data[9]);
    return 0;
}

}  // namespace

int queryIdentify(DeviceSession& session, char* text) {
    Reply reply;
    exchange(session, selectApdu(IDENTIFY_AID, false), 30, reply);
    if (reply.failed || reply.length < 16) {
        return 2;
    }
    if (reply.status != SW_NO_ERROR) {
        return 1;
    }
    size_t used = 0;
    for (size_t i = 0; i < reply.length && used + 2 < QUERY_TEXT_SIZE; ++i) {
        std::snprintf(text + used, QUERY_TEXT_SIZE - used, "%02X", reply.data[i]);
        used += 2;
    }
    std::snprintf(text + used, QUERY_TEXT_SIZE - used, "%04X", SW_NO_ERROR);
    return 0;
}

int queryFingerprintVersion(DeviceSession& session, char* text) {
    const std::vector<uint8_t> command = {0x80, 0xE3, 0x00, 0x00, 0x00};
    Reply reply;
    exchange(session, command, 256, reply);
    if (!succeeded(reply)) {
        return 1;
    }
    if (reply.length != 7) {
        return 2;
    }
    formatTwo(text, reply.data[5], reply.data[6]);
    return 0;
}

int queryWinHelloVersion(DeviceSession& session, char* text) {
    std::vector<uint8_t> aid = vendorAid(WIN_HELLO_AID_SUFFIX);
    return twoStepQuery(session, selectApdu(aid), 25, text);
}

int queryOtpVersion(DeviceSession& session, char* text) {
    std::vector<uint8_t> aid = vendorAid(OTP_AID_SUFFIX);
    return twoStepQuery(session, selectApdu(aid), 25, text);
}

int queryPivVersion(DeviceSession& session, char* text) {
    LinkHold hold(session.link());  // as in twoStepQuery
    Reply reply;
    exchange(session, selectApdu(PIV_AID), 1024, reply);
    if (!succeeded(reply)) {
        return 1;
    }
    std::vector<uint8_t> version(VERSION_COMMAND, VERSION_COMMAND + sizeof VERSION_COMMAND);
    Reply second;
    exchange(session, version, VERSION_CAPACITY, second);
    if (!succeeded(second)) {
        return 2;
    }
    if (second.length >= 16) {
        formatTwo(text, second.data[8], second.data[9]);
    } else if (second.length >= 2) {
        formatTwo(text, second.data[0], second.data[1]);
    } else {
        return 2;  // no version bytes in the reply: no row rather than invented digits
    }
    return 0;
}

int queryGidsVersion(DeviceSession& session, char* text) {
    return twoStepQuery(session, selectApdu(GIDS_AID), 25, text);
}

int queryNdefPresent(DeviceSession& session) {
    Reply reply;
    exchange(session, selectApdu(NDEF_AID), 1023, reply);
    return succeeded(reply) ? 0 : 1;
}

int queryU2fVersion(DeviceSession& session, char* text) {
    return twoStepQuery(session, selectApdu(FIDO_AID), 1024, text);
}

namespace {

// The text of a query that succeeded and (unless allowEmpty) produced one.
template <typename Query>
std::optional<std::string> versionText(DeviceSession& session, Query query,
                                       bool allowEmpty = false) {
    char text[QUERY_TEXT_SIZE] = {};
    if (query(session, text) == 0 && (allowEmpty || text[0] != 0)) {
        return std::string(text);
    }
    return std::nullopt;
}

}  // namespace

VendorVersions queryVendorVersions(DeviceSession& session) {
    VendorVersions versions;
    versions.identify = versionText(session, queryIdentify);
    versions.fingerprintModule = versionText(session, queryFingerprintVersion);
    versions.winHello = versionText(session, queryWinHelloVersion);
    versions.otp = versionText(session, queryOtpVersion);
    versions.piv = versionText(session, queryPivVersion);
    versions.gids = versionText(session, queryGidsVersion, true);
    versions.ndef = queryNdefPresent(session) == 0;
    versions.u2f = versionText(session, queryU2fVersion);
    return versions;
}

}  // namespace orvanta
