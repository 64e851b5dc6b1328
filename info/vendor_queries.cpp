#include "info/vendor_queries.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "transport/exchange.h"

namespace orvanta {

namespace {

const uint8_t VERSION_COMMAND[] = {0x80, 0xE2, 0x80, 0x00, 0x05, 0xDF,
                                   0xFF, 0x02, 0x80, 0x01, 0x00};
constexpr uint32_t VERSION_CAPACITY = 30;

// SELECT by name with the trailing Le byte.
std::vector<uint8_t> selectApdu(const uint8_t* aid, size_t aidLength, bool withLe = true) {
    std::vector<uint8_t> apdu = {0x00, 0xA4, 0x04, 0x00, static_cast<uint8_t>(aidLength)};
    apdu.insert(apdu.end(), aid, aid + aidLength);
    if (withLe) {
        apdu.push_back(0x00);
    }
    return apdu;
}

std::vector<uint8_t> vendorAid(const uint8_t* suffix, size_t suffixLength) {
    std::vector<uint8_t> aid(VENDOR_RID, VENDOR_RID + sizeof VENDOR_RID);
    aid.insert(aid.end(), suffix, suffix + suffixLength);
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
    return !reply.failed && reply.status == 0x9000;
}

void formatTwo(char* text, uint8_t a, uint8_t b) {
    std::snprintf(text, QUERY_TEXT_SIZE, "%02X%02X", a, b);
}

// SELECT, then the version command; the version is in data bytes 8 and 9.
int twoStepQuery(DeviceSession& session, const std::vector<uint8_t>& select,
                 uint32_t selectCapacity, char* text) {
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
    const uint8_t aid[] = {0xA0, 0x00, 0x00, 0x01, 0x67, 0x41, 0x30, 0x00, 0xFF};
    Reply reply;
    exchange(session, selectApdu(aid, sizeof aid, false), 30, reply);
    if (reply.failed || reply.length < 16) {
        return 2;
    }
    if (reply.status != 0x9000) {
        return 1;
    }
    size_t used = 0;
    for (size_t i = 0; i < reply.length && used + 2 < QUERY_TEXT_SIZE; ++i) {
        std::snprintf(text + used, QUERY_TEXT_SIZE - used, "%02X", reply.data[i]);
        used += 2;
    }
    std::snprintf(text + used, QUERY_TEXT_SIZE - used, "%04X", 0x9000);
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
    const uint8_t suffix[] = {0x52, 0x68, 0x65, 0x6C, 0x6C, 0x6F, 0x01, 0x01, 0x00};
    std::vector<uint8_t> aid = vendorAid(suffix, sizeof suffix);
    return twoStepQuery(session, selectApdu(aid.data(), aid.size()), 25, text);
}

int queryOtpVersion(DeviceSession& session, char* text) {
    const uint8_t suffix[] = {0x83, 0x26, 0x01, 0x01};
    std::vector<uint8_t> aid = vendorAid(suffix, sizeof suffix);
    return twoStepQuery(session, selectApdu(aid.data(), aid.size()), 25, text);
}

int queryPivVersion(DeviceSession& session, char* text) {
    const uint8_t aid[] = {0xA0, 0x00, 0x00, 0x03, 0x08, 0x00, 0x00, 0x10, 0x00, 0x01, 0x00};
    Reply reply;
    exchange(session, selectApdu(aid, sizeof aid), 1024, reply);
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
    const uint8_t aid[] = {0xA0, 0x00, 0x00, 0x03, 0x97, 0x42, 0x54, 0x46, 0x59, 0x02, 0x01};
    return twoStepQuery(session, selectApdu(aid, sizeof aid), 25, text);
}

int queryNdefPresent(DeviceSession& session) {
    const uint8_t aid[] = {0xD2, 0x76, 0x00, 0x00, 0x85, 0x01, 0x01};
    Reply reply;
    exchange(session, selectApdu(aid, sizeof aid), 1023, reply);
    return succeeded(reply) ? 0 : 1;
}

int queryU2fVersion(DeviceSession& session, char* text) {
    const uint8_t aid[] = {0xA0, 0x00, 0x00, 0x06, 0x47, 0x2F, 0x00, 0x01};
    return twoStepQuery(session, selectApdu(aid, sizeof aid), 1024, text);
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
