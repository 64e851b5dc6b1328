#include "ctap/authenticator_info.h"

#include <array>

namespace orvanta {

namespace {

constexpr size_t KNOWN_KEYS = 22;  // 0 to 21; 1 to 21 are named

constexpr std::array<std::string_view, KNOWN_KEYS> MEMBER_NAMES = {
    "",
    "versions",
    "extensions",
    "aaguid",
    "options",
    "maxMsgSize",
    "pinUvAuthProtocols",
    "maxCredentialCountInList",
    "maxCredentialIdLength",
    "transports",
    "algorithms",
    "maxSerializedLargeBlobArray",
    "forcePINChange",
    "minPINLength",
    "firmwareVersion",
    "maxCredBlobLength",
    "maxRPIDsForSetMinPINLength",
    "preferredPlatformUvAttempts",
    "uvModality",
    "certifications",
    "remainingDiscoverableCredentials",
    "vendorPrototypeConfigCommands",
};

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

std::optional<uint64_t> unsignedOf(CborSpan item) {
    const CborHeader h = headerOf(item);
    if (h.majorType == 0 && h.headerLength != 0) {
        return h.argument;
    }
    return std::nullopt;
}

// Keys have always read a simple value by its additional information alone: 20 is false and
// 21 is true whatever the major type says.
std::optional<bool> booleanOf(CborSpan item) {
    const uint8_t ai = headerOf(item).additionalInfo;
    if (ai == 20 || ai == 21) {
        return ai == 21;
    }
    return std::nullopt;
}

// The text of an item: the bytes of a definite text string, cut at the end of the reply
// (empty for any other item).
std::string textOf(CborSpan item) {
    const CborHeader h = headerOf(item);
    if (h.majorType != 3 || h.headerLength == 0 || h.additionalInfo == 31) {
        return std::string();
    }
    const uint32_t available = item.length - h.headerLength;
    const uint32_t n = h.argument < available ? h.argument : available;
    return std::string(reinterpret_cast<const char*>(item.data + h.headerLength), n);
}

// Calls each(element) for the elements of an array member; a missing element is a null
// span. A member that is not an array has as many missing elements as its argument says,
// but never more than the bytes received. An indefinite array ends at its first missing
// element. The elements come from one walk: the walk meets the same elements that lookups
// by index find, and once an index finds nothing no later index can.
template <class Each>
void forEachElement(CborSpan member, Each&& each) {
    const CborHeader h = headerOf(member);
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

// The element count an array member announces, capped by the bytes received (for reserving).
uint32_t announced(CborSpan member) {
    const CborHeader h = headerOf(member);
    if (h.headerLength == 0 || h.additionalInfo == 31) {
        return 0;
    }
    return h.argument < member.length ? h.argument : member.length;
}

std::vector<std::string> textList(CborSpan member) {
    std::vector<std::string> list;
    list.reserve(announced(member));
    forEachElement(member, [&](CborSpan element) { list.push_back(textOf(element)); });
    return list;
}

// Every entry with a definite text key of the map at the start of the span, in order, with
// the value the walk meets for it. A key's content ends where the walk meets its value.
template <class Each>
void forEachTextEntry(CborSpan map, Each&& each) {
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
        if (textKey) {
            each(std::string_view(reinterpret_cast<const char*>(item.data - keyLength), keyLength),
                 item);
        }
        return true;
    });
}

}  // namespace

std::optional<bool> AuthenticatorInfo::option(std::string_view name) const {
    for (const NamedValue<bool>& entry : options) {
        if (entry.name == name) {
            return entry.value;
        }
    }
    return std::nullopt;
}

std::optional<uint64_t> AuthenticatorInfo::certification(std::string_view name) const {
    for (const NamedValue<uint64_t>& entry : certifications) {
        if (entry.name == name) {
            return entry.value;
        }
    }
    return std::nullopt;
}

std::string_view authenticatorInfoMemberName(uint64_t key) {
    return key < MEMBER_NAMES.size() ? MEMBER_NAMES[key] : std::string_view();
}

AuthenticatorInfo decodeAuthenticatorInfo(CborSpan reply) {
    // Every member from one walk of the reply (the first of each known key), instead of one
    // walk per member.
    std::array<CborSpan, KNOWN_KEYS> member{};
    std::array<bool, KNOWN_KEYS> seen{};
    AuthenticatorInfo info;
    bool isValue = false;
    bool unsignedKey = false;
    uint64_t key = 0;
    forEachItem(reply, 5, [&](CborSpan item, const CborHeader& h) {
        if (!isValue) {
            isValue = true;
            unsignedKey = h.majorType == 0;
            key = h.argument;
            return true;
        }
        isValue = false;
        if (!unsignedKey) {
            return true;
        }
        if (key > 0 && key < KNOWN_KEYS) {
            if (!seen[key]) {
                seen[key] = true;
                member[key] = item;
            }
        } else {
            const uint32_t length = itemLength(item);
            info.otherMembers.emplace_back(key,
                                           std::vector<uint8_t>(item.data, item.data + length));
        }
        return true;
    });

    info.versions = textList(member[1]);
    info.extensions = textList(member[2]);
    const uint8_t* aaguid = nullptr;
    uint32_t aaguidLength = 0;
    if (readByteString(member[3], &aaguid, &aaguidLength)) {
        info.aaguid.emplace(aaguid, aaguid + aaguidLength);
    }
    info.options.reserve(announced(member[4]));
    forEachTextEntry(member[4], [&](std::string_view name, CborSpan value) {
        info.options.push_back({std::string(name), booleanOf(value)});
    });
    info.maxMsgSize = unsignedOf(member[5]);
    forEachElement(member[6], [&](CborSpan element) {
        if (std::optional<uint64_t> n = unsignedOf(element)) {
            info.pinUvAuthProtocols.push_back(*n);
        }
    });
    info.maxCredentialCountInList = unsignedOf(member[7]);
    info.maxCredentialIdLength = unsignedOf(member[8]);
    info.transports = textList(member[9]);
    info.algorithms.reserve(announced(member[10]));
    forEachElement(member[10], [&](CborSpan element) {
        AuthenticatorAlgorithm algorithm;
        bool haveAlg = false;
        bool haveType = false;
        forEachTextEntry(element, [&](std::string_view name, CborSpan value) {
            if (name == "alg" && !haveAlg) {
                haveAlg = true;
                const CborHeader h = headerOf(value);
                if (h.headerLength != 0 && (h.majorType == 0 || h.majorType == 1)) {
                    algorithm.alg = h.majorType == 1 ? -1 - static_cast<int64_t>(h.argument)
                                                     : static_cast<int64_t>(h.argument);
                }
            } else if (name == "type" && !haveType) {
                haveType = true;
                algorithm.type = textOf(value);
            }
        });
        info.algorithms.push_back(std::move(algorithm));
    });
    info.maxSerializedLargeBlobArray = unsignedOf(member[11]);
    info.forcePinChange = booleanOf(member[12]);
    info.minPINLength = unsignedOf(member[13]);
    info.firmwareVersion = unsignedOf(member[14]);
    info.maxCredBlobLength = unsignedOf(member[15]);
    info.maxRPIDsForSetMinPINLength = unsignedOf(member[16]);
    info.preferredPlatformUvAttempts = unsignedOf(member[17]);
    info.uvModality = unsignedOf(member[18]);
    forEachTextEntry(member[19], [&](std::string_view name, CborSpan value) {
        info.certifications.push_back({std::string(name), unsignedOf(value)});
    });
    info.remainingDiscoverableCredentials = unsignedOf(member[20]);
    info.vendorPrototypeConfigCommands = unsignedOf(member[21]);
    return info;
}

}  // namespace orvanta
