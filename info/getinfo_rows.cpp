#include "info/getinfo_rows.h"

#include <algorithm>
#include <array>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "common/hex_text.h"
#include "common/utf8.h"
#include "ctap/cbor_diagnostic.h"
#include "transport/exchange.h"

namespace orvanta {

namespace {

constexpr uint32_t REPLY_CAPACITY = 5000;

// The rows of the getInfo block, as they are handed on: the first row of the block is
// labelled, the others continue it.
class BlockRows {
  public:
    explicit BlockRows(const RowSink& sink) : sink_(sink) {}

    void add(std::string value) {
        sink_(first_ ? FIRST_LABEL : LABEL, std::move(value));
        first_ = false;
    }
    // A long line in rows of 85 characters, the width of the options row; a character
    // written in several bytes (a text the key sent) stays whole.
    void addWrapped(const std::string& line) {
        std::string_view rest = line;
        do {
            const size_t length = utf8PrefixLength(rest, ROW_WIDTH);
            add(std::string(rest.substr(0, length)));
            rest.remove_prefix(length);
        } while (!rest.empty());
    }

  private:
    static constexpr size_t ROW_WIDTH = 85;
    // The labels as strings once, so that no row builds its label again.
    static inline const std::string FIRST_LABEL = "authenticatorGetInfo";
    static inline const std::string LABEL = " ";

    const RowSink& sink_;
    bool first_ = true;
};

// The start of a member's row, "7: ", with room for `more` characters after it, so that a
// long row is made at its size.
std::string keyPrefix(uint64_t key, size_t more = 0) {
    std::string line = std::to_string(key);
    line.reserve(line.size() + 2 + more);
    line += ": ";
    return line;
}

// ---- The formats, by kind ------------------------------------------------------------------
// Each adds the rows of one member from its typed value; a member the key did not send adds
// none.

// "1: FIDO_2_0  U2F_V2  ", when the list has texts (always for a required member).
void texts(const InfoMember& member, const InfoTexts& list, BlockRows& rows) {
    if (list.empty() && !member.required) {
        return;
    }
    size_t characters = 0;
    for (const std::string& text : list) {
        characters += text.size() + 2;
    }
    std::string line = keyPrefix(member.key, characters);
    for (const std::string& text : list) {
        line.append(text).append("  ");
    }
    rows.add(std::move(line));
}

// "7: 8  ".
void number(const InfoMember& member, const InfoUnsigned& n, BlockRows& rows) {
    if (n) {
        std::string line = keyPrefix(member.key);
        line += std::to_string(*n);
        rows.add(std::move(line += "  "));
    }
}

// "5: 1200", with nothing after the number.
void bareNumber(const InfoMember& member, const InfoUnsigned& n, BlockRows& rows) {
    if (n) {
        std::string line = keyPrefix(member.key);
        line += std::to_string(*n);
        rows.add(std::move(line));
    }
}

// "6: 1  2  ", when the list has numbers.
void numbers(const InfoMember& member, const InfoUnsignedList& list, BlockRows& rows) {
    if (list.empty()) {
        return;
    }
    std::string line = keyPrefix(member.key, 22 * list.size());
    for (const uint64_t n : list) {
        line += std::to_string(n);
        line += "  ";
    }
    rows.add(std::move(line));
}

// "12: true  ".
void boolean(const InfoMember& member, const InfoBoolean& b, BlockRows& rows) {
    if (b) {
        rows.add(std::move(keyPrefix(member.key) += *b ? "true  " : "false  "));
    }
}

// "25: 0ABCFF", upper-case hex in rows of 85 characters; past 512 bytes cut, ending in "...".
void bytes(const InfoMember& member, const InfoBytes& b, BlockRows& rows) {
    constexpr size_t SHOWN = 512;
    if (b) {
        const size_t shown = std::min(b->size(), SHOWN);
        std::string line = keyPrefix(member.key, 2 * shown + 3);
        line += hexText(std::span(*b).first(shown));
        if (b->size() > SHOWN) {
            line += "...";
        }
        rows.addWrapped(std::move(line));
    }
}

// "3: 000102...0F" in one row; an empty one, or one longer than 512 bytes, is not shown.
void aaguid(const InfoMember& member, const InfoBytes& b, BlockRows& rows) {
    if (b && !b->empty() && b->size() <= 512) {
        rows.add(keyPrefix(member.key) + hexText(*b));
    }
}

// The first entry of that name in a map member (the first of a repeated name counts).
template <typename T>
const NamedValue<T>* firstNamed(const std::vector<NamedValue<T>>& entries, std::string_view name) {
    const auto first = std::find_if(entries.begin(), entries.end(),
                                    [&](const NamedValue<T>& entry) { return entry.name == name; });
    return first != entries.end() ? &*first : nullptr;
}

// "4: rk=true  up=true  ", in the order of these names, in rows of 85 characters; other
// names are left out.
void options(const InfoMember& member, const InfoOptions& list, BlockRows& rows) {
    static constexpr std::array<std::string_view, 19> SHOWN = {
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
    static constexpr size_t LONGEST = [] {  // every name, with the longer of its values
        size_t characters = 0;
        for (const std::string_view name : SHOWN) {
            characters += name.size() + 8;
        }
        return characters;
    }();
    std::string line = keyPrefix(member.key, LONGEST);
    const size_t prefix = line.size();
    for (const std::string_view name : SHOWN) {
        const NamedValue<bool>* option = firstNamed(list, name);
        if (option != nullptr && option->value) {
            line.append(name).append(*option->value ? "=true  " : "=false  ");
        }
    }
    if (line.size() > prefix) {
        rows.addWrapped(std::move(line));
    }
}

// "10: alg=-7  type=public-keyalg=-8  type=public-key": a negative alg (a COSE signature
// algorithm) and the type of every entry, nothing between entries.
void algorithms(const InfoMember& member, const InfoAlgorithms& list, BlockRows& rows) {
    if (list.empty()) {
        return;
    }
    size_t longest = 0;  // "alg=-9223372036854775808  type=" and the type of each
    for (const AuthenticatorAlgorithm& algorithm : list) {
        longest += 31 + algorithm.type.size();
    }
    std::string line = keyPrefix(member.key, longest);
    for (const AuthenticatorAlgorithm& algorithm : list) {
        if (algorithm.alg && *algorithm.alg < 0) {
            line += "alg=";
            line += std::to_string(*algorithm.alg);
            line += "  ";
        }
        line.append("type=").append(algorithm.type);
    }
    rows.add(std::move(line));
}

// "19: FIDO = 2  ", a row for each certification of these names, in this order.
void certifications(const InfoMember& member, const InfoCertifications& list, BlockRows& rows) {
    for (const std::string_view name :
         {"FIDO", "FIPS-CMVP-2", "FIPS-CMVP-3", "FIPS-CMVP-2-PHY", "FIPS-CMVP-3-PHY", "CC-EAL"}) {
        const NamedValue<uint64_t>* level = firstNamed(list, name);
        if (level != nullptr && level->value) {
            std::string line = keyPrefix(member.key, name.size() + 25);
            line.append(name).append(" = ");
            line += std::to_string(*level->value);
            rows.add(std::move(line += "  "));
        }
    }
}

// ---- The members -----------------------------------------------------------------------------

// How one member reads on the page.
struct MemberFormat {
    uint8_t key;
    void (*rows)(const AuthenticatorInfo& info, BlockRows& rows);
};

// The kind of value a format takes.
template <typename T>
T formatValue(void (*)(const InfoMember&, const T&, BlockRows&));

// Member `key` in `format`; the member's kind must be the one the format takes (checked as
// the program is compiled).
template <uint8_t key, auto format>
constexpr MemberFormat row = {key, [](const AuthenticatorInfo& info, BlockRows& rows) {
                                  using Value = decltype(formatValue(format));
                                  constexpr const InfoMember& member = INFO_MEMBERS[key - 1];
                                  constexpr auto field =
                                      std::get<Value AuthenticatorInfo::*>(member.field);
                                  format(member, info.*field, rows);
                              }};

// Each member of the table in its format, in the table's (and the page's) order.
constexpr std::array<MemberFormat, INFO_MEMBERS.size()> MEMBER_FORMATS = {
    row<1, texts>,      row<2, texts>,       row<3, aaguid>,          row<4, options>,
    row<5, bareNumber>, row<6, numbers>,     row<7, number>,          row<8, number>,
    row<9, texts>,      row<10, algorithms>, row<11, number>,         row<12, boolean>,
    row<13, number>,    row<14, number>,     row<15, number>,         row<16, number>,
    row<17, number>,    row<18, number>,     row<19, certifications>, row<20, number>,
    row<21, number>,    row<22, texts>,      row<23, number>,         row<24, boolean>,
    row<25, bytes>,     row<26, texts>,      row<27, boolean>,        row<28, bytes>,
    row<29, number>,    row<30, bytes>,      row<31, numbers>,
};

constexpr bool formatsFollowTheMembers() {
    for (size_t i = 0; i < MEMBER_FORMATS.size(); ++i) {
        if (MEMBER_FORMATS[i].key != INFO_MEMBERS[i].key) {
            return false;
        }
    }
    return true;
}
static_assert(formatsFollowTheMembers(), "one format for each member, in key order");

}  // namespace

void appendGetInfoRows(const AuthenticatorInfo& info, const RowSink& sink) {
    BlockRows rows(sink);
    for (const MemberFormat& format : MEMBER_FORMATS) {
        format.rows(info, rows);
    }
    // Members no version of the protocol names yet, as the key sent them.
    constexpr size_t LONG_MEMBER_LIMIT = 1024;
    for (const auto& [key, item] : info.otherMembers) {
        rows.addWrapped(keyPrefix(key) + cborDiagnostic(item, LONG_MEMBER_LIMIT));
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
