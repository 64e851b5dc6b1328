#include "info/getinfo_rows.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <string_view>
#include <vector>

#include "transport/ctaphid.h"
#include "transport/hex_text.h"

namespace orvanta {

namespace {

// The labels as strings once, so that no row builds its label again.
const std::string FIRST_LABEL = "authenticatorGetInfo";
const std::string LABEL = " ";
constexpr size_t OPTIONS_ROW_WIDTH = 85;
constexpr uint32_t REPLY_CAPACITY = 5000;
constexpr size_t AAGUID_ROW_LIMIT = 512;

void appendDecimal(std::string& out, long long value) {
    char text[24];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    out.append(text, end);
}

void appendDecimal(std::string& out, uint64_t value) {
    char text[24];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    out.append(text, end);
}

// The prefix, then the texts, each followed by two spaces.
std::string textList(const char* prefix, const std::vector<std::string>& texts) {
    std::string line(prefix);
    line.reserve(128);  // one allocation for the usual lists
    for (const std::string& text : texts) {
        line += text;
        line += "  ";
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
        std::string line;
        appendDecimal(line, static_cast<long long>(key));
        line += ": ";
        appendDecimal(line, *value);
        line += "  ";
        sink(LABEL, std::move(line));
    }
}

// The options the page knows, in the order it shows them; other names are left out.
void optionRows(const RowSink& sink, const AuthenticatorInfo& info) {
    // The value of each known name from one pass over the options (the first of a name
    // counts), rather than a search per name.
    std::array<std::optional<bool>, GETINFO_OPTION_NAMES.size()> values{};
    std::array<bool, GETINFO_OPTION_NAMES.size()> seen{};
    for (const NamedValue<bool>& option : info.options) {
        for (size_t n = 0; n < GETINFO_OPTION_NAMES.size(); ++n) {
            if (!seen[n] && GETINFO_OPTION_NAMES[n] == option.name) {
                seen[n] = true;
                values[n] = option.value;
                break;
            }
        }
    }
    std::string line = "4: ";
    line.reserve(512);  // every option name fits
    for (size_t n = 0; n < GETINFO_OPTION_NAMES.size(); ++n) {
        const std::string_view name = GETINFO_OPTION_NAMES[n];
        const std::optional<bool> value = values[n];
        if (!value) {
            continue;
        }
        line += name;
        line += *value ? "=true  " : "=false  ";
    }
    if (line.size() == 3) {
        return;
    }
    for (size_t start = 0; start < line.size(); start += OPTIONS_ROW_WIDTH) {
        sink(LABEL, line.substr(start, OPTIONS_ROW_WIDTH));
    }
}

std::string algorithmsLine(const std::vector<AuthenticatorAlgorithm>& algorithms) {
    std::string line = "10: ";
    line.reserve(128);
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

void certificationRows(const RowSink& sink, const AuthenticatorInfo& info) {
    for (const std::string_view name : CERTIFICATION_NAMES) {
        if (const std::optional<uint64_t> level = info.certification(name)) {
            std::string line = "19: ";
            line += name;
            line += " = ";
            appendDecimal(line, *level);
            line += "  ";
            sink(LABEL, std::move(line));
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
        std::string line = "5: ";
        appendDecimal(line, *info.maxMsgSize);
        sink(LABEL, std::move(line));
    }
    std::string protocols = "6: ";
    for (uint64_t protocol : info.pinUvAuthProtocols) {
        appendDecimal(protocols, protocol);
        protocols += "  ";
    }
    prefixedRow(sink, protocols, 3);
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
