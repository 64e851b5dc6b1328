#include "info/getinfo_rows.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <string_view>
#include <vector>

#include "transport/ctaphid.h"

namespace orvanta {

bool clientPinSet = false;

namespace {

// The labels as strings once, so that no row builds its label again.
const std::string FIRST_LABEL = "authenticatorGetInfo";
const std::string LABEL = " ";
constexpr size_t OPTIONS_ROW_WIDTH = 85;
constexpr uint32_t REPLY_CAPACITY = 5000;

void appendDecimal(std::string& out, long long value) {
    char text[24];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    out.append(text, end);
}

// readHeader, with the usual one-byte header without a tag decoded right here.
inline CborHeader headerOf(CborSpan item) {
    if (item.found() && item.length > 0) {
        const uint8_t majorType = static_cast<uint8_t>(item.data[0] >> 5);
        const uint8_t ai = static_cast<uint8_t>(item.data[0] & 0x1F);
        if (ai <= 23 && majorType != 6) {
            return CborHeader{255, majorType, ai, 1, ai};
        }
    }
    return readHeader(item);
}

bool isUnsigned(const CborHeader& h) {
    return h.majorType == 0 && h.headerLength != 0;
}

// Appends the text of an item: the bytes of a definite text string, cut at the end of the
// reply (nothing for any other item).
void appendText(std::string& out, CborSpan item) {
    CborHeader h = headerOf(item);
    if (h.majorType != 3 || h.headerLength == 0 || h.additionalInfo == 31) {
        return;
    }
    const uint32_t available = item.length - h.headerLength;
    const uint32_t n = h.argument < available ? h.argument : available;
    out.append(reinterpret_cast<const char*>(item.data + h.headerLength), n);
}

// Calls each(element) for the elements of an array member; a missing element is a null
// span. A member that is not an array has as many missing elements as its argument says,
// but never more than the bytes received. An indefinite array ends at its first missing
// element. The elements come from one walk: the walk meets the same elements that lookups
// by index find, and once an index finds nothing no later index can.
template <class Each>
void forEachElement(CborSpan member, Each&& each) {
    CborHeader h = headerOf(member);
    if (h.headerLength == 0 || h.majorType < 2 || h.majorType > 5) {
        return;
    }
    const bool indefinite = h.additionalInfo == 31;
    uint32_t count = indefinite ? member.length : h.argument;
    if (count > member.length) {
        count = member.length;
    }
    uint32_t found = 0;
    if (h.majorType == 4) {  // lookups in anything but an array find nothing
        forEachItem(member, 4, [&](CborSpan element, const CborHeader&) {
            if (found >= count) {
                return false;
            }
            ++found;
            each(element);
            return true;
        });
    }
    if (indefinite) {
        return;
    }
    for (uint32_t i = found; i < count; ++i) {
        each(CborSpan{});
    }
}

// The prefix, then the element texts, each followed by two spaces.
std::string textList(const char* prefix, CborSpan member) {
    std::string line(prefix);
    line.reserve(128);  // one allocation for the usual lists
    forEachElement(member, [&](CborSpan element) {
        appendText(line, element);
        line += "  ";
    });
    return line;
}

// A row for a line that holds more than its prefix.
void prefixedRow(const RowSink& sink, std::string line, size_t prefixLength) {
    if (line.size() > prefixLength) {
        sink(LABEL, std::move(line));
    }
}

void unsignedRow(const RowSink& sink, CborSpan value, int32_t key) {
    CborHeader h = headerOf(value);
    if (isUnsigned(h)) {
        std::string line;
        appendDecimal(line, key);
        line += ": ";
        appendDecimal(line, h.argument);
        line += "  ";
        sink(LABEL, std::move(line));
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

// The values under the first occurrence of each text key of `names` in the map at the
// start of the span, as mapFindText finds them, from one walk of the map. A key's content
// ends where the walk meets its value; a value the walk cannot meet reads as no value, as
// a lookup's span of it would (its header does not decode).
template <size_t N>
std::array<CborSpan, N> findTextKeys(CborSpan map, const std::array<std::string_view, N>& names) {
    std::array<CborSpan, N> values{};
    std::array<bool, N> seen{};
    bool isValue = false;
    bool textKey = false;
    uint32_t keyLength = 0;
    forEachItem(map, 5, [&](CborSpan item, const CborHeader& h) {
        if (!isValue) {
            isValue = true;
            textKey = h.majorType == 3 && h.additionalInfo != 31;
            keyLength = h.argument;
            return true;
        }
        isValue = false;
        if (!textKey) {
            return true;
        }
        const std::string_view key(reinterpret_cast<const char*>(item.data - keyLength), keyLength);
        for (size_t n = 0; n < N; ++n) {
            if (!seen[n] && names[n] == key) {
                seen[n] = true;
                values[n] = item;
                break;
            }
        }
        return true;
    });
    return values;
}

// The values under the integer keys 0 to N - 1 of the map at the start of the span, as
// mapFindInt finds them (first occurrence), from one walk of the map.
template <size_t N>
std::array<CborSpan, N> findIntKeys(CborSpan map) {
    std::array<CborSpan, N> values{};
    std::array<bool, N> seen{};
    bool isValue = false;
    size_t pending = N;
    forEachItem(map, 5, [&](CborSpan item, const CborHeader& h) {
        if (!isValue) {
            isValue = true;
            pending = N;
            if (h.majorType == 0 && h.argument < N && !seen[h.argument]) {
                seen[h.argument] = true;
                pending = h.argument;
            }
            return true;
        }
        isValue = false;
        if (pending != N) {
            values[pending] = item;
        }
        return true;
    });
    return values;
}

void optionRows(const RowSink& sink, CborSpan options) {
    const auto values = findTextKeys(options, GETINFO_OPTION_NAMES);
    std::string line = "4: ";
    line.reserve(512);  // every option name fits
    for (size_t n = 0; n < GETINFO_OPTION_NAMES.size(); ++n) {
        const std::string_view name = GETINFO_OPTION_NAMES[n];
        const uint8_t ai = headerOf(values[n]).additionalInfo;
        if (ai != 20 && ai != 21) {
            continue;
        }
        const bool value = ai == 21;
        line += name;
        line += value ? "=true  " : "=false  ";
        if (name == "clientPin") {
            clientPinSet = value;
        }
    }
    if (line.size() == 3) {
        return;
    }
    for (size_t start = 0; start < line.size(); start += OPTIONS_ROW_WIDTH) {
        sink(LABEL, line.substr(start, OPTIONS_ROW_WIDTH));
    }
}

constexpr std::array<std::string_view, 2> ALGORITHM_NAMES = {"alg", "type"};

std::string algorithmsLine(CborSpan member) {
    std::string line = "10: ";
    line.reserve(128);
    forEachElement(member, [&](CborSpan element) {
        const auto values = findTextKeys(element, ALGORITHM_NAMES);
        CborHeader alg = headerOf(values[0]);
        if (alg.majorType == 1 && alg.headerLength != 0) {
            line += "alg=";
            appendDecimal(line, -1LL - static_cast<long long>(alg.argument));
            line += "  ";
        }
        line += "type=";
        appendText(line, values[1]);
    });
    return line;
}

constexpr std::array<std::string_view, 6> CERTIFICATION_NAMES = {
    "FIDO", "FIPS-CMVP-2", "FIPS-CMVP-3", "FIPS-CMVP-2-PHY", "FIPS-CMVP-3-PHY", "CC-EAL",
};

void certificationRows(const RowSink& sink, CborSpan certifications) {
    const auto values = findTextKeys(certifications, CERTIFICATION_NAMES);
    for (size_t n = 0; n < CERTIFICATION_NAMES.size(); ++n) {
        CborHeader h = headerOf(values[n]);
        if (isUnsigned(h)) {
            std::string line = "19: ";
            line += CERTIFICATION_NAMES[n];
            line += " = ";
            appendDecimal(line, h.argument);
            line += "  ";
            sink(LABEL, std::move(line));
        }
    }
}

}  // namespace

void appendGetInfoRowsFromReply(CborSpan reply, const RowSink& sink) {
    // Every member from one walk of the reply, instead of one walk per member.
    const auto member = findIntKeys<22>(reply);

    sink(FIRST_LABEL, textList("1: ", member[1]));
    prefixedRow(sink, textList("2: ", member[2]), 3);

    const uint8_t* aaguid = nullptr;
    uint32_t aaguidLength = 0;
    if (readByteString(member[3], &aaguid, &aaguidLength) && aaguidLength <= 512) {
        prefixedRow(sink, "3: " + hexBytes(aaguid, aaguidLength), 3);
    }

    optionRows(sink, member[4]);

    CborHeader maxMsgSize = headerOf(member[5]);
    if (isUnsigned(maxMsgSize)) {
        std::string line = "5: ";
        appendDecimal(line, maxMsgSize.argument);
        sink(LABEL, std::move(line));
    }

    std::string protocols = "6: ";
    forEachElement(member[6], [&](CborSpan element) {
        CborHeader h = headerOf(element);
        if (isUnsigned(h)) {
            appendDecimal(protocols, h.argument);
            protocols += "  ";
        }
    });
    prefixedRow(sink, protocols, 3);

    unsignedRow(sink, member[7], 7);
    unsignedRow(sink, member[8], 8);
    prefixedRow(sink, textList("9: ", member[9]), 3);
    prefixedRow(sink, algorithmsLine(member[10]), 4);
    unsignedRow(sink, member[11], 11);

    const uint8_t forcePinChange = headerOf(member[12]).additionalInfo;
    if (forcePinChange == 21) {
        sink(LABEL, std::string("12: true  "));
    } else if (forcePinChange == 20) {
        sink(LABEL, std::string("12: false  "));
    }

    for (int32_t key = 13; key <= 18; ++key) {
        unsignedRow(sink, member[key], key);
    }
    certificationRows(sink, member[19]);
    unsignedRow(sink, member[20], 20);
    unsignedRow(sink, member[21], 21);
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
