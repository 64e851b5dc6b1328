#include "info/vendor_queries.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "transport/ctaphid.h"

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

struct Reply {
    uint16_t status = TRANSPORT_FAILED;
    uint32_t length = 0;
    uint8_t data[1024] = {};
};

void exchange(const std::vector<uint8_t>& apdu, uint32_t capacity, Reply& reply) {
    reply.length = capacity;
    reply.status = sendApdu(apdu.data(), static_cast<int32_t>(apdu.size()), reply.data,
                            &reply.length, CTAPHID_MSG);
}

void formatTwo(char* text, uint8_t a, uint8_t b) {
    std::snprintf(text, QUERY_TEXT_SIZE, "%02X%02X", a, b);
}

// SELECT, then the version command; the version is in data bytes 8 and 9.
int twoStepQuery(const std::vector<uint8_t>& select, uint32_t selectCapacity, char* text) {
    Reply reply;
    exchange(select, selectCapacity, reply);
    if (reply.status != 0x9000) {
        return 1;
    }
    std::vector<uint8_t> version(VERSION_COMMAND, VERSION_COMMAND + sizeof VERSION_COMMAND);
    Reply second;
    exchange(version, VERSION_CAPACITY, second);
    if (second.status == TRANSPORT_FAILED || second.length < 16) {
        return 2;
    }
    formatTwo(text, second.data[8], second.data[9]);
    return 0;
}

}  // namespace

int queryIdentify(char* text) {
    const uint8_t aid[] = {0xA0, 0x00, 0x00, 0x01, 0x67, 0x41, 0x30, 0x00, 0xFF};
    Reply reply;
    exchange(selectApdu(aid, sizeof aid, false), 30, reply);
    if (reply.status == TRANSPORT_FAILED || reply.length < 16) {
        return 2;
    }
    if (reply.status != 0x9000) {
        return 1;
    }
    size_t used = 0;
    for (uint32_t i = 0; i < reply.length && used + 2 < QUERY_TEXT_SIZE; ++i) {
        std::snprintf(text + used, QUERY_TEXT_SIZE - used, "%02X", reply.data[i]);
        used += 2;
    }
    std::snprintf(text + used, QUERY_TEXT_SIZE - used, "%04X", 0x9000);
    return 0;
}

int queryFingerprintVersion(char* text) {
    const std::vector<uint8_t> command = {0x80, 0xE3, 0x00, 0x00, 0x00};
    Reply reply;
    exchange(command, 256, reply);
    if (reply.status != 0x9000) {
        return 1;
    }
    if (reply.length != 7) {
        return 2;
    }
    formatTwo(text, reply.data[5], reply.data[6]);
    return 0;
}

int queryWinHelloVersion(char* text) {
    const uint8_t suffix[] = {0x52, 0x68, 0x65, 0x6C, 0x6C, 0x6F, 0x01, 0x01, 0x00};
    std::vector<uint8_t> aid = vendorAid(suffix, sizeof suffix);
    return twoStepQuery(selectApdu(aid.data(), aid.size()), 25, text);
}

int queryOtpVersion(char* text) {
    const uint8_t suffix[] = {0x83, 0x26, 0x01, 0x01};
    std::vector<uint8_t> aid = vendorAid(suffix, sizeof suffix);
    return twoStepQuery(selectApdu(aid.data(), aid.size()), 25, text);
}

int queryPivVersion(char* text) {
    const uint8_t aid[] = {0xA0, 0x00, 0x00, 0x03, 0x08, 0x00, 0x00, 0x10, 0x00, 0x01, 0x00};
    Reply reply;
    exchange(selectApdu(aid, sizeof aid), 1024, reply);
    if (reply.status != 0x9000) {
        return 1;
    }
    std::vector<uint8_t> version(VERSION_COMMAND, VERSION_COMMAND + sizeof VERSION_COMMAND);
    Reply second;
    exchange(version, VERSION_CAPACITY, second);
    if (second.status != 0x9000) {
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

int queryGidsVersion(char* text) {
    const uint8_t aid[] = {0xA0, 0x00, 0x00, 0x03, 0x97, 0x42, 0x54, 0x46, 0x59, 0x02, 0x01};
    return twoStepQuery(selectApdu(aid, sizeof aid), 25, text);
}

int queryNdefPresent() {
    const uint8_t aid[] = {0xD2, 0x76, 0x00, 0x00, 0x85, 0x01, 0x01};
    Reply reply;
    exchange(selectApdu(aid, sizeof aid), 1023, reply);
    return reply.status == 0x9000 ? 0 : 1;
}

int queryU2fVersion(char* text) {
    const uint8_t aid[] = {0xA0, 0x00, 0x00, 0x06, 0x47, 0x2F, 0x00, 0x01};
    return twoStepQuery(selectApdu(aid, sizeof aid), 1024, text);
}

}  // namespace orvanta
