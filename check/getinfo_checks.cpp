// The getInfo checks: the reply as received (canonical CBOR, members of the right types) and
// what its members say against each other and against the key's other answers.

#include <algorithm>
#include <array>
#include <string_view>

#include "check/canonical_cbor.h"
#include "check/check_run.h"

namespace orvanta::check {

namespace {

constexpr uint64_t MIN_MAX_MSG_SIZE = 1024;

// The option names CTAP 2.1 and 2.2 define.
constexpr std::array<std::string_view, 20> KNOWN_OPTIONS = {
    "plat",
    "rk",
    "clientPin",
    "up",
    "uv",
    "pinUvAuthToken",
    "noMcGaPermissionsWithClientPin",
    "largeBlobs",
    "ep",
    "bioEnroll",
    "userVerificationMgmtPreview",
    "uvBioEnroll",
    "authnrCfg",
    "uvAcfg",
    "credMgmt",
    "credentialMgmtPreview",
    "setMinPINLength",
    "makeCredUvNotRqd",
    "alwaysUv",
    "perCredMgmtRO",
};

std::string_view faultText(CanonicalFault fault) {
    switch (fault) {
        case CanonicalFault::None:
            return "canonical";
        case CanonicalFault::Truncated:
            return "an item runs past the reply";
        case CanonicalFault::Malformed:
            return "a reserved or misplaced header";
        case CanonicalFault::Indefinite:
            return "an indefinite length";
        case CanonicalFault::LongerForm:
            return "a number in a longer form than needed";
        case CanonicalFault::KeyOrder:
            return "map keys out of canonical order";
        case CanonicalFault::DuplicateKey:
            return "a map key given twice";
        case CanonicalFault::Trailing:
            return "bytes after the map";
        case CanonicalFault::TooDeep:
            return "nesting too deep";
    }
    return "not canonical";
}

// The CBOR kinds a member's value may have.
enum class Kind : uint8_t {
    Unsigned,
    Bytes,
    Boolean,
    Map,
    TextArray,
    UnsignedArray,
    MapArray,
    Any
};

constexpr Kind memberKind(uint64_t key) {
    switch (key) {
        case 1:
        case 2:
        case 9:
        case 22:
        case 26:
            return Kind::TextArray;
        case 3:
        case 25:
        case 28:
        case 30:
            return Kind::Bytes;
        case 4:
        case 19:
            return Kind::Map;
        case 6:
        case 21:
        case 31:
            return Kind::UnsignedArray;
        case 10:
            return Kind::MapArray;
        case 12:
        case 24:
        case 27:
            return Kind::Boolean;
        default:
            return key <= 31 ? Kind::Unsigned : Kind::Any;
    }
}

bool isBoolean(const CborHeader& h) {
    return h.majorType == 7 && (h.additionalInfo == 20 || h.additionalInfo == 21);
}

bool elementsAre(CborSpan array, uint8_t major) {
    bool all = true;
    forEachItem(array, 4, [&](CborSpan, const CborHeader& h) {
        all = all && h.majorType == major;
        return all;
    });
    return all;
}

bool hasKind(CborSpan value, Kind kind) {
    const CborHeader h = readHeader(value);
    switch (kind) {
        case Kind::Unsigned:
            return h.majorType == 0;
        case Kind::Bytes:
            return h.majorType == 2;
        case Kind::Boolean:
            return isBoolean(h);
        case Kind::Map:
            return h.majorType == 5;
        case Kind::TextArray:
            return h.majorType == 4 && elementsAre(value, 3);
        case Kind::UnsignedArray:
            return h.majorType == 4 && elementsAre(value, 0);
        case Kind::MapArray:
            return h.majorType == 4 && elementsAre(value, 5);
        case Kind::Any:
            return true;
    }
    return false;
}

Outcome needsInfo(const CheckRun& run) {
    return skip(run.init && (run.init->capabilities & CTAPHID_CAPABILITY_CBOR) == 0
                    ? "the key has no CTAP2 (no CBOR capability)"
                    : "the key gave no getInfo");
}

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

}  // namespace

Outcome checkCanonicalInfo(CheckRun& run) {
    if (!run.ctap2) {
        return needsInfo(run);
    }
    const CanonicalCheck result = checkCanonical(run.getInfoCbor);
    if (result.fault == CanonicalFault::None) {
        return pass();
    }
    return fail(std::string(faultText(result.fault)) + " at byte " + std::to_string(result.offset));
}

Outcome checkRequiredMembers(CheckRun& run) {
    if (!run.ctap2) {
        return needsInfo(run);
    }
    const CborSpan map{run.getInfoCbor.data(), static_cast<uint32_t>(run.getInfoCbor.size())};
    if (readHeader(map).majorType != 5) {
        return fail("the reply is no map");
    }
    std::vector<std::string> wrong;
    bool isKey = true;
    uint64_t key = 0;
    bool keyIsUnsigned = false;
    forEachItem(map, 5, [&](CborSpan item, const CborHeader& h) {
        if (isKey) {
            keyIsUnsigned = h.majorType == 0;
            key = h.argument;
        } else if (!keyIsUnsigned) {
            wrong.push_back("a key that is no unsigned number");
        } else if (!hasKind(item, memberKind(key))) {
            const std::string_view name = authenticatorInfoMemberName(key);
            wrong.push_back(std::string(name.empty() ? "member " + std::to_string(key) : name) +
                            " of the wrong type");
        }
        isKey = !isKey;
        return true;
    });
    if (run.info.versions.empty()) {
        wrong.insert(wrong.begin(), "versions missing");
    }
    if (!run.info.aaguid) {
        wrong.insert(wrong.begin(), "aaguid missing");
    } else if (run.info.aaguid->size() != 16) {
        wrong.push_back("aaguid of " + std::to_string(run.info.aaguid->size()) + " bytes");
    }
    return wrong.empty() ? pass() : fail(joined(wrong));
}

Outcome checkVersionsU2f(CheckRun& run) {
    if (!run.ctap2) {
        return needsInfo(run);
    }
    const bool listed = run.listsVersion("U2F_V2");
    const bool answers = run.hasU2f();
    if (listed == answers) {
        return pass(listed ? "U2F_V2 listed, and U2F answers" : "no U2F_V2, and no U2F");
    }
    return fail(listed ? "versions lists U2F_V2, but U2F VERSION is refused"
                       : "versions lacks U2F_V2, but U2F VERSION answers");
}

Outcome checkPinProtocols(CheckRun& run) {
    if (!run.ctap2) {
        return needsInfo(run);
    }
    const bool present = !run.info.pinUvAuthProtocols.empty();
    const bool pinOption = run.info.option("clientPin").has_value() ||
                           run.info.option("pinUvAuthToken").value_or(false);
    if (present == pinOption) {
        return pass(present ? "present with clientPin or pinUvAuthToken"
                            : "absent, as are clientPin and pinUvAuthToken");
    }
    return fail(present ? "pinUvAuthProtocols present without clientPin or pinUvAuthToken"
                        : "clientPin or pinUvAuthToken without pinUvAuthProtocols");
}

Outcome checkOptionNames(CheckRun& run) {
    if (!run.ctap2) {
        return needsInfo(run);
    }
    std::vector<std::string> vendor;
    std::vector<std::string> notBoolean;
    for (const NamedValue<bool>& option : run.info.options) {
        if (!option.value) {
            notBoolean.push_back(option.name);
        }
        if (std::find(KNOWN_OPTIONS.begin(), KNOWN_OPTIONS.end(), option.name) ==
            KNOWN_OPTIONS.end()) {
            vendor.push_back(option.name);
        }
    }
    if (!notBoolean.empty()) {
        return fail("options without a boolean value: " + joined(notBoolean));
    }
    return pass(vendor.empty() ? std::string() : "vendor options: " + joined(vendor));
}

Outcome checkMaxMsgSize(CheckRun& run) {
    if (!run.ctap2) {
        return needsInfo(run);
    }
    if (!run.info.maxMsgSize) {
        return pass("absent (1024 applies)");
    }
    const std::string value = std::to_string(*run.info.maxMsgSize);
    return *run.info.maxMsgSize >= MIN_MAX_MSG_SIZE ? pass(value) : fail(value);
}

}  // namespace orvanta::check
