#include "info/getinfo_rows.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <string_view>
#include <vector>

#include "ctap/cbor_diagnostic.h"
#include "transport/exchange.h"
#include "transport/hex_text.h"

namespace orvanta {

namespace {

// The labels as strings once, so that no row builds its label again.
const std::string FIRST_LABEL = "authenticatorGetInfo";
const std::string LABEL = " ";
constexpr size_t OPTIONS_ROW_WIDTH = 85;
constexpr uint32_t REPLY_CAPACITY = 5000;
constexpr size_t AAGUID_ROW_LIMIT = 512;
// Byte strings and unknown members longer than this are cut (their rows end in "...").
constexpr size_t LONG_MEMBER_LIMIT = 1024;

// Writes the decimal digits at out; returns the end.
template <typename Integer>
char* putDecimal(char* out, Integer value) {
    return std::to_chars(out, out + 20, value).ptr;
}

char* putText(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

void appendDecimal(std::string& out, long long value) {
    char text[24];
    out.append(text, putDecimal(text, value));
}

// The prefix, then the texts, each followed by two spaces; sized once, so a line that fits
// in the string itself costs no allocation and a longer one costs one.
std::string textList(std::string_view prefix, const TextList& texts) {
    std::string line(prefix.size() + texts.characters() + 2 * texts.size(), ' ');
    char* out = putText(line.data(), prefix);
    for (const std::string_view text : texts) {
        out = putText(out, text) + 2;
    }
    return line;
}

// A row for a line that holds more than its prefix.
void prefixedRow(const RowSink& sink, std::string line, size_t prefixLength) {
    if (line.size() > prefixLength) {
        sink(LABEL, std::move(line));
    }
}

void unsignedRow(const RowSink& sink, const std::optional<uint64_t>& value, int32_t key) {
    if (value) {
        char text[48];
        char* out = putText(putDecimal(text, key), ": ");
        out = putText(putDecimal(out, *value), "  ");
        sink(LABEL, std::string(text, out));
    }
}

// The longest options line: every known name once, with the longer of its two values.
constexpr size_t OPTIONS_LINE_ROOM = [] {
    size_t size = 3;
    for (const std::string_view name : GETINFO_OPTION_NAMES) {
        size += name.size() + 8;
    }
    return size;
}();

// The options the page knows, in the order it shows them; other names are left out.
void optionRows(const RowSink& sink, const AuthenticatorInfo& info) {
    // The value of each known name (the first of a name counts) from one pass over the
    // options, by the index each name was decoded to.
    std::array<std::optional<bool>, GETINFO_OPTION_NAMES.size()> values{};
    std::array<bool, GETINFO_OPTION_NAMES.size()> seen{};
    for (const NamedValue<bool, OptionName>& option : info.options) {
        const uint8_t n = option.name.known();
        if (n < seen.size() && !seen[n]) {
            seen[n] = true;
            values[n] = option.value;
        }
    }
    char line[OPTIONS_LINE_ROOM];
    char* out = putText(line, "4: ");
    for (size_t n = 0; n < GETINFO_OPTION_NAMES.size(); ++n) {
        if (values[n]) {
            out = putText(out, GETINFO_OPTION_NAMES[n]);
            out = putText(out, *values[n] ? "=true  " : "=false  ");
        }
    }
    const auto size = static_cast<size_t>(out - line);
    if (size == 3) {
        return;
    }
    for (size_t start = 0; start < size; start += OPTIONS_ROW_WIDTH) {
        // Assigned, not constructed: the constructor's inlined copy compiles to a rep movs,
        // slower for rows this short than the library's copy.
        std::string row;
        row.assign(line + start, std::min(OPTIONS_ROW_WIDTH, size - start));
        sink(LABEL, std::move(row));
    }
}

std::string algorithmsLine(const std::vector<AuthenticatorAlgorithm>& algorithms) {
    // Room for the longest "alg=...  type=" of every entry and its type text.
    size_t room = 4;
    for (const AuthenticatorAlgorithm& algorithm : algorithms) {
        room += 31 + algorithm.type.size();
    }
    std::string line = "10: ";
    line.reserve(room);
    for (const AuthenticatorAlgorithm& algorithm : algorithms) {
        // COSE algorithm identifiers of signatures are negative; others are not shown.
        if (algorithm.alg && *algorithm.alg < 0) {
            line += "alg=";
            appendDecimal(line, static_cast<long long>(*algorithm.alg));
            line += "  ";
        }
        line += "type=";
        line += algorithm.type;
    }
    return line;
}

constexpr std::array<std::string_view, 6> CERTIFICATION_NAMES = {
    "FIDO", "FIPS-CMVP-2", "FIPS-CMVP-3", "FIPS-CMVP-2-PHY", "FIPS-CMVP-3-PHY", "CC-EAL",
};

void booleanRow(const RowSink& sink, const std::optional<bool>& value, int32_t key) {
    if (value) {
        char text[24];
        char* out = putText(putDecimal(text, key), *value ? ": true  " : ": false  ");
        sink(LABEL, std::string(text, out));
    }
}

// A long line in rows of the options row's width.
void wrappedRows(const RowSink& sink, const std::string& line) {
    for (size_t start = 0; start < line.size(); start += OPTIONS_ROW_WIDTH) {
        sink(LABEL, line.substr(start, OPTIONS_ROW_WIDTH));
    }
}

std::string keyPrefix(uint64_t key) {
    char text[24];
    return std::string(text, putText(putDecimal(text, key), ": "));
}

void bytesRows(const RowSink& sink, const std::optional<std::vector<uint8_t>>& bytes, int32_t key) {
    if (!bytes) {
        return;
    }
    static constexpr char HEX[] = "0123456789ABCDEF";
    const size_t shown = std::min(bytes->size(), LONG_MEMBER_LIMIT / 2);
    std::string line = keyPrefix(static_cast<uint64_t>(key));
    line.reserve(line.size() + 2 * shown + 3);
    for (size_t i = 0; i < shown; ++i) {
        line.push_back(HEX[(*bytes)[i] >> 4]);
        line.push_back(HEX[(*bytes)[i] & 0x0F]);
    }
    if (shown < bytes->size()) {
        line += "...";
    }
    wrappedRows(sink, std::move(line));
}

void unsignedListRow(const RowSink& sink, const std::vector<uint64_t>& list, int32_t key) {
    if (list.empty()) {
        return;
    }
    std::string line = keyPrefix(static_cast<uint64_t>(key));
    for (uint64_t n : list) {
        char text[24];
        line.append(text, putText(putDecimal(text, n), "  "));
    }
    sink(LABEL, std::move(line));
}

void certificationRows(const RowSink& sink, const AuthenticatorInfo& info) {
    if (info.certifications.empty()) {
        return;
    }
    for (const std::string_view name : CERTIFICATION_NAMES) {
        if (const std::optional<uint64_t> level = info.certification(name)) {
            char text[48];
            char* out = putText(putText(putText(text, "19: "), name), " = ");
            out = putText(putDecimal(out, *level), "  ");
            sink(LABEL, std::string(text, out));
        }
    }
}

}  // namespace

void appendGetInfoRows(const AuthenticatorInfo& info, const RowSink& sink) {
    sink(FIRST_LABEL, textList("1: ", info.versions));
    prefixedRow(sink, textList("2: ", info.extensions), 3);
    if (info.aaguid && info.aaguid->size() <= AAGUID_ROW_LIMIT) {
        prefixedRow(sink, "3: " + hexText(*info.aaguid), 3);
    }
    optionRows(sink, info);
    if (info.maxMsgSize) {
        char text[24];
        sink(LABEL, std::string(text, putDecimal(putText(text, "5: "), *info.maxMsgSize)));
    }
    if (!info.pinUvAuthProtocols.empty()) {
        std::string protocols = "6: ";  // the usual one or two fit in the string itself
        for (uint64_t protocol : info.pinUvAuthProtocols) {
            char text[24];
            protocols.append(text, putText(putDecimal(text, protocol), "  "));
        }
        sink(LABEL, std::move(protocols));
    }
    unsignedRow(sink, info.maxCredentialCountInList, 7);
    unsignedRow(sink, info.maxCredentialIdLength, 8);
    prefixedRow(sink, textList("9: ", info.transports), 3);
    prefixedRow(sink, algorithmsLine(info.algorithms), 4);
    unsignedRow(sink, info.maxSerializedLargeBlobArray, 11);
    if (info.forcePinChange) {
        sink(LABEL, std::string(*info.forcePinChange ? "12: true  " : "12: false  "));
    }
    unsignedRow(sink, info.minPINLength, 13);
    unsignedRow(sink, info.firmwareVersion, 14);
    unsignedRow(sink, info.maxCredBlobLength, 15);
    unsignedRow(sink, info.maxRPIDsForSetMinPINLength, 16);
    unsignedRow(sink, info.preferredPlatformUvAttempts, 17);
    unsignedRow(sink, info.uvModality, 18);
    certificationRows(sink, info);
    unsignedRow(sink, info.remainingDiscoverableCredentials, 20);
    unsignedRow(sink, info.vendorPrototypeConfigCommands, 21);
    prefixedRow(sink, textList("22: ", info.attestationFormats), 4);
    unsignedRow(sink, info.uvCountSinceLastPinEntry, 23);
    booleanRow(sink, info.longTouchForReset, 24);
    bytesRows(sink, info.encIdentifier, 25);
    prefixedRow(sink, textList("26: ", info.transportsForReset), 4);
    booleanRow(sink, info.pinComplexityPolicy, 27);
    bytesRows(sink, info.pinComplexityPolicyURL, 28);
    unsignedRow(sink, info.maxPINLength, 29);
    bytesRows(sink, info.encCredStoreState, 30);
    unsignedListRow(sink, info.authenticatorConfigCommands, 31);
    // Members no version of the protocol names yet, as the key sent them.
    for (const auto& [key, item] : info.otherMembers) {
        wrappedRows(sink, keyPrefix(key) + cborDiagnostic(item, LONG_MEMBER_LIMIT));
    }
}

AuthenticatorInfo appendGetInfoRowsFromReply(CborSpan reply, const RowSink& sink) {
    AuthenticatorInfo info = decodeAuthenticatorInfo(reply);
    appendGetInfoRows(info, sink);
    return info;
}

std::optional<AuthenticatorInfo> readAuthenticatorInfo(DeviceSession& session) {
    const uint8_t request[1] = {0x04};  // authenticatorGetInfo
    Result<CborReply> reply = sendCbor(session, request);
    if (!reply || reply->status != 0) {
        return std::nullopt;
    }
    // A reply of the status byte alone (or one longer than the reply room) is read as a
    // single zero byte, which is no map, so only the first row appears.
    static constexpr uint8_t NOTHING[1] = {0};
    if (reply->data.empty() || reply->data.size() > REPLY_CAPACITY) {
        return decodeAuthenticatorInfo(CborSpan{NOTHING, 1});
    }
    return decodeAuthenticatorInfo(
        CborSpan{reply->data.data(), static_cast<uint32_t>(reply->data.size())});
}

std::optional<AuthenticatorInfo> appendGetInfoRows(DeviceSession& session, const RowSink& sink) {
    std::optional<AuthenticatorInfo> info = readAuthenticatorInfo(session);
    if (info) {
        appendGetInfoRows(*info, sink);
    }
    return info;
}

}  // namespace orvanta
