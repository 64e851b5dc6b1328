#include "info/getinfo_rows.h"

#include <array>
#include <cstdio>
#include <string_view>
#include <vector>

#include "transport/ctaphid.h"

namespace orvanta {

bool clientPinSet = false;

namespace {

constexpr const char* FIRST_LABEL = "authenticatorGetInfo";
constexpr const char* LABEL = " ";
constexpr size_t OPTIONS_ROW_WIDTH = 85;
constexpr uint32_t REPLY_CAPACITY = 5000;

std::string decimal(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%u", value);
    return text;
}

bool isUnsigned(const CborHeader& h) {
    return h.majorType == 0 && h.headerLength != 0;
}

// Text of an item: the bytes of a definite text string, cut at the end of the reply.
std::string textOf(CborSpan item) {
    CborHeader h = readHeader(item);
    if (h.majorType != 3 || h.headerLength == 0 || h.additionalInfo == 31) {
        return {};
    }
    const uint32_t available = item.length - h.headerLength;
    const uint32_t n = h.argument < available ? h.argument : available;
    return std::string(reinterpret_cast<const char*>(item.data + h.headerLength), n);
}

// Calls each(element) for the elements of an array member; a missing element is a null
// span. A member that is not an array has as many missing elements as its argument says,
// but never more than the bytes received. An indefinite array ends at its first missing
// element.
template <class Each>
void forEachElement(CborSpan member, Each&& each) {
    CborHeader h = readHeader(member);
    if (h.headerLength == 0 || h.majorType < 2 || h.majorType > 5) {
        return;
    }
    const bool indefinite = h.additionalInfo == 31;
    uint32_t count = indefinite ? member.length : h.argument;
    if (count > member.length) {
        count = member.length;
    }
    bool exhausted = h.majorType != 4;  // lookups in anything but an array find nothing
    for (uint32_t i = 0; i < count; ++i) {
        CborSpan element;
        if (!exhausted) {
            element = arrayAt(member, static_cast<int32_t>(i));
            // Once an index finds nothing, no later index can find anything.
            exhausted = !element.found();
        }
        if (!element.found() && indefinite) {
            return;
        }
        each(element);
    }
}

// A line of element texts, each followed by two spaces.
std::string textList(CborSpan member) {
    std::string line;
    forEachElement(member, [&](CborSpan element) { line += textOf(element) + "  "; });
    return line;
}

void prefixedRow(const RowSink& sink, const char* prefix, const std::string& line) {
    if (!line.empty()) {
        sink(LABEL, prefix + line);
    }
}

void unsignedRow(const RowSink& sink, CborSpan reply, int32_t key) {
    CborHeader h = readHeader(mapFindInt(reply, key));
    if (isUnsigned(h)) {
        sink(LABEL, std::to_string(key) + ": " + decimal(h.argument) + "  ");
    }
}

std::string hexBytes(const uint8_t* data, uint32_t n) {
    static constexpr char DIGITS[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(2 * n);
    for (uint32_t i = 0; i < n; ++i) {
        text += DIGITS[data[i] >> 4];
        text += DIGITS[data[i] & 0x0F];
    }
    return text;
}

constexpr std::array<std::string_view, 19> OPTION_NAMES = {
    "ep",
    "rk",
    "up",
    "uv",
    "plat",
    "uvAcfg",
    "alwaysUv",
    "credMgmt",
    "authnrCfg",
    "bioEnroll",
    "clientPin",
    "largeBlobs",
    "uvBioEnroll",
    "pinUvAuthToken",
    "setMinPINLength",
    "makeCredUvNotRqd",
    "credentialMgmtPreview",
    "userVerificationMgmtPreview",
    "noMcGaPermissionsWithClientPin",
};

void optionRows(const RowSink& sink, CborSpan reply) {
    const CborSpan options = mapFindInt(reply, 4);
    std::string line;
    for (std::string_view name : OPTION_NAMES) {
        const uint8_t ai = readHeader(mapFindText(options, name)).additionalInfo;
        if (ai != 20 && ai != 21) {
            continue;
        }
        const bool value = ai == 21;
        line += std::string(name) + (value ? "=true  " : "=false  ");
        if (name == "clientPin") {
            clientPinSet = value;
        }
    }
    if (line.empty()) {
        return;
    }
    line = "4: " + line;
    for (size_t start = 0; start < line.size(); start += OPTIONS_ROW_WIDTH) {
        sink(LABEL, line.substr(start, OPTIONS_ROW_WIDTH));
    }
}

std::string algorithmsLine(CborSpan member) {
    std::string line;
    forEachElement(member, [&](CborSpan element) {
        CborHeader alg = readHeader(mapFindText(element, "alg"));
        if (alg.majorType == 1 && alg.headerLength != 0) {
            char text[32];
            std::snprintf(text, sizeof text, "alg=%lld  ",
                          -1LL - static_cast<long long>(alg.argument));
            line += text;
        }
        line += "type=" + textOf(mapFindText(element, "type"));
    });
    return line;
}

constexpr std::array<std::string_view, 6> CERTIFICATION_NAMES = {
    "FIDO", "FIPS-CMVP-2", "FIPS-CMVP-3", "FIPS-CMVP-2-PHY", "FIPS-CMVP-3-PHY", "CC-EAL",
};

void certificationRows(const RowSink& sink, CborSpan reply) {
    const CborSpan certifications = mapFindInt(reply, 19);
    for (std::string_view name : CERTIFICATION_NAMES) {
        CborHeader h = readHeader(mapFindText(certifications, name));
        if (isUnsigned(h)) {
            sink(LABEL, "19: " + std::string(name) + " = " + decimal(h.argument) + "  ");
        }
    }
}

}  // namespace

void appendGetInfoRowsFromReply(CborSpan reply, const RowSink& sink) {
    sink(FIRST_LABEL, "1: " + textList(mapFindInt(reply, 1)));
    prefixedRow(sink, "2: ", textList(mapFindInt(reply, 2)));

    const uint8_t* aaguid = nullptr;
    uint32_t aaguidLength = 0;
    if (readByteString(mapFindInt(reply, 3), &aaguid, &aaguidLength) && aaguidLength <= 512) {
        prefixedRow(sink, "3: ", hexBytes(aaguid, aaguidLength));
    }

    optionRows(sink, reply);

    CborHeader maxMsgSize = readHeader(mapFindInt(reply, 5));
    if (isUnsigned(maxMsgSize)) {
        sink(LABEL, "5: " + decimal(maxMsgSize.argument));
    }

    std::string protocols;
    forEachElement(mapFindInt(reply, 6), [&](CborSpan element) {
        CborHeader h = readHeader(element);
        if (isUnsigned(h)) {
            protocols += decimal(h.argument) + "  ";
        }
    });
    prefixedRow(sink, "6: ", protocols);

    unsignedRow(sink, reply, 7);
    unsignedRow(sink, reply, 8);
    prefixedRow(sink, "9: ", textList(mapFindInt(reply, 9)));
    prefixedRow(sink, "10: ", algorithmsLine(mapFindInt(reply, 10)));
    unsignedRow(sink, reply, 11);

    const uint8_t forcePinChange = readHeader(mapFindInt(reply, 12)).additionalInfo;
    if (forcePinChange == 21) {
        sink(LABEL, "12: true  ");
    } else if (forcePinChange == 20) {
        sink(LABEL, "12: false  ");
    }

    for (int32_t key = 13; key <= 18; ++key) {
        unsignedRow(sink, reply, key);
    }
    certificationRows(sink, reply);
    unsignedRow(sink, reply, 20);
    unsignedRow(sink, reply, 21);
}

void appendGetInfoRows(const RowSink& sink) {
    std::vector<uint8_t> reply(REPLY_CAPACITY, 0);
    uint32_t replyLength = REPLY_CAPACITY;
    const uint8_t request = 0x04;  // authenticatorGetInfo
    if (sendCbor(&request, 1, reply.data(), &replyLength) != 0) {
        return;
    }
    // A reply of the status byte alone leaves the length as it was: the zeroed buffer then
    // holds a single zero byte, which is no map, so only the first row appears.
    if (replyLength >= REPLY_CAPACITY) {
        replyLength = 1;
    }
    appendGetInfoRowsFromReply(CborSpan{reply.data(), replyLength}, sink);
}

}  // namespace orvanta
