#include "ctap/authenticator_info.h"

#include <ostream>

namespace orvanta {

namespace {

constexpr size_t KNOWN_KEYS = 32;  // 0 to 31; 1 to 31 are named

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
    "attestationFormats",
    "uvCountSinceLastPinEntry",
    "longTouchForReset",
    "encIdentifier",
    "transportsForReset",
    "pinComplexityPolicy",
    "pinComplexityPolicyURL",
    "maxPINLength",
    "encCredStoreState",
    "authenticatorConfigCommands",
};

// Containers in a plain reply nest at most this deep below the reply's map (getInfo nests
// two levels).
constexpr int PLAIN_DEPTH = 8;
// A position no item of a plain reply ends at: the item at hand is not plain, or a walk
// did not reach the end of its container.
constexpr uint32_t NO_END = 0;

// A plain header: no tag, no indefinite length, an argument in the initial byte or in the
// 1, 2 or 4 bytes after it, all of it inside the span. The header of any plain item reads
// the same here as through readHeader.
[[gnu::always_inline]] inline bool plainHeader(const uint8_t* data, uint32_t length, uint32_t pos,
                                               CborHeader& h) {
    if (pos >= length) {
        return false;
    }
    const uint8_t initial = data[pos];
    const auto majorType = static_cast<uint8_t>(initial >> 5);
    const auto ai = static_cast<uint8_t>(initial & 0x1F);
    if (majorType == 6) {
        return false;
    }
    if (ai <= 23) {
        h = CborHeader{255, majorType, ai, 1, ai};
        return true;
    }
    if (ai > 26) {
        return false;
    }
    const uint32_t size = 1u + (1u << (ai - 24));  // 24: 2, 25: 3, 26: 5
    if (length - pos < size) {
        return false;
    }
    uint32_t argument = 0;
    for (uint32_t i = 1; i < size; ++i) {
        argument = (argument << 8) | data[pos + i];
    }
    h = CborHeader{255, majorType, ai, static_cast<uint8_t>(size), argument};
    return true;
}

// readHeader, with plain headers decoded right here.
inline CborHeader headerOf(CborSpan item) {
    CborHeader h;
    if (item.found() && plainHeader(item.data, item.length, 0, h)) {
        return h;
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
// (empty for any other item). A view into the reply, copied once where it is kept.
std::string_view textOf(CborSpan item) {
    const CborHeader h = headerOf(item);
    if (h.majorType != 3 || h.headerLength == 0 || h.additionalInfo == 31) {
        return std::string_view();
    }
    const uint32_t available = item.length - h.headerLength;
    const uint32_t n = h.argument < available ? h.argument : available;
    return std::string_view(reinterpret_cast<const char*>(item.data + h.headerLength), n);
}

// The position after `items` consecutive plain items from pos: plain headers, the content
// of every string inside the span, containers of plain items nested at most PLAIN_DEPTH
// deep. NO_END for anything else. Every item takes a byte at least, so the walk ends within
// the span whatever the counts say.
uint32_t plainSkip(const uint8_t* data, uint32_t length, uint32_t pos, uint64_t items) {
    std::array<uint64_t, PLAIN_DEPTH> enclosing;  // items left in the enclosing containers
    int depth = 0;
    for (;;) {
        while (items == 0) {
            if (depth == 0) {
                return pos;
            }
            items = enclosing[static_cast<size_t>(--depth)];
        }
        --items;
        CborHeader h;
        if (!plainHeader(data, length, pos, h)) {
            return NO_END;
        }
        pos += h.headerLength;
        if (h.majorType == 2 || h.majorType == 3) {
            if (h.argument > length - pos) {
                return NO_END;
            }
            pos += h.argument;
        } else if ((h.majorType == 4 || h.majorType == 5) && h.argument != 0) {
            if (depth == PLAIN_DEPTH) {
                return NO_END;
            }
            enclosing[static_cast<size_t>(depth++)] = items;
            items = h.majorType == 5 ? uint64_t{h.argument} * 2 : h.argument;
        }
    }
}

// The position after the item at pos with the plain header h, or NO_END when the item is
// not plain. Only containers need a walk.
[[gnu::always_inline]] inline uint32_t plainEnd(const uint8_t* data, uint32_t length, uint32_t pos,
                                                const CborHeader& h) {
    const uint32_t content = pos + h.headerLength;
    if (h.majorType == 2 || h.majorType == 3) {
        return h.argument <= length - content ? content + h.argument : NO_END;
    }
    if ((h.majorType == 4 || h.majorType == 5) && h.argument != 0) {
        return plainSkip(data, length, pos, 1);
    }
    return content;
}

// How a member's containers are walked. children(container, majorType, visit) calls
// visit(item, header) for every item directly inside the array (4) or map (5) at the start
// of the span, as forEachItem does, until visit returns false; it returns the container's
// length when it walked all of it, or NO_END.

// The general walk of the CBOR codec: any reply; it stops where the reply goes wrong.
struct GeneralWalk {
    template <class Visit>
    static uint32_t children(CborSpan container, uint8_t majorType, Visit&& visit) {
        forEachItem(container, majorType, visit);
        return NO_END;
    }
};

// A walk of a plain reply: every item read in place, with no call per item. On a plain
// reply the general walk meets every item and closes every container, so both walks visit
// the same items; any item this walk finds not plain ends it, and the reply is read again
// with the general walk.
struct PlainWalk {
    template <class Visit>
    static uint32_t children(CborSpan container, uint8_t majorType, Visit&& visit) {
        if (!container.found()) {
            return NO_END;
        }
        const uint8_t* data = container.data;
        const uint32_t length = container.length;
        CborHeader h;
        if (!plainHeader(data, length, 0, h) || h.majorType != majorType) {
            return NO_END;
        }
        uint32_t pos = h.headerLength;
        for (uint64_t items = majorType == 5 ? uint64_t{h.argument} * 2 : h.argument; items > 0;
             --items) {
            CborHeader child;
            if (!plainHeader(data, length, pos, child) ||
                !visit(CborSpan{data + pos, length - pos}, child)) {
                return NO_END;
            }
            pos = plainEnd(data, length, pos, child);
            if (pos == NO_END) {
                return NO_END;
            }
        }
        return pos;
    }
};

// Calls each(element) for the elements of an array member; a missing element is a null
// span. A member that is not an array has as many missing elements as its argument says,
// but never more than the bytes received. An indefinite array ends at its first missing
// element. The elements come from one walk: the walk meets the same elements that lookups
// by index find, and once an index finds nothing no later index can. Returns what the
// walk returns.
template <class Walk, class Each>
uint32_t forEachElement(CborSpan member, Each&& each) {
    const CborHeader h = headerOf(member);
    if (h.headerLength == 0 || h.majorType < 2 || h.majorType > 5) {
        return NO_END;
    }
    const bool indefinite = h.additionalInfo == 31;
    uint32_t count = indefinite ? member.length : h.argument;
    if (count > member.length) {
        count = member.length;
    }
    uint32_t found = 0;
    uint32_t end = NO_END;
    if (h.majorType == 4) {  // lookups in anything but an array find nothing
        end = Walk::children(member, 4, [&](CborSpan element, const CborHeader&) {
            if (found >= count) {
                return false;
            }
            ++found;
            each(element);
            return true;
        });
    }
    if (indefinite) {
        return end;
    }
    for (uint32_t i = found; i < count; ++i) {
        each(CborSpan{});
    }
    return end;
}

// The element count an array member announces, capped by the bytes received (for reserving).
uint32_t announced(CborSpan member) {
    const CborHeader h = headerOf(member);
    if (h.headerLength == 0 || h.additionalInfo == 31) {
        return 0;
    }
    return h.argument < member.length ? h.argument : member.length;
}

// Every entry with a definite text key of the map at the start of the span, in order, with
// the value the walk meets for it. A key's content ends where the walk meets its value.
// Returns what the walk returns.
template <class Walk, class Each>
uint32_t forEachTextEntry(CborSpan map, Each&& each) {
    bool isValue = false;
    bool textKey = false;
    uint32_t keyLength = 0;
    return Walk::children(map, 5, [&](CborSpan item, const CborHeader& h) {
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

// The texts of a list member, in one block. The texts are gathered as views into the reply
// first, the usual short list without an allocation, so the block is made at its size.
template <class Walk>
uint32_t decodeTextList(CborSpan member, TextList& list) {
    struct Text {  // no initialisers, so the room for the usual list is not cleared first
        const char* data;
        size_t size;
    };
    constexpr size_t GATHERED = 16;
    std::array<Text, GATHERED> gathered;
    std::vector<Text> more;
    size_t count = 0;
    size_t characters = 0;
    const uint32_t end = forEachElement<Walk>(member, [&](CborSpan element) {
        const std::string_view text = textOf(element);
        if (count < GATHERED) {
            gathered[count] = Text{text.data(), text.size()};
        } else {
            if (more.empty()) {
                more.reserve(announced(member));
                more.assign(gathered.begin(), gathered.end());
            }
            more.push_back(Text{text.data(), text.size()});
        }
        ++count;
        characters += text.size();
    });
    const Text* texts = count <= GATHERED ? gathered.data() : more.data();
    list = TextList(count, characters, [&](auto&& put) {
        for (size_t i = 0; i < count; ++i) {
            put(std::string_view(texts[i].data, texts[i].size));
        }
    });
    return end;
}

template <class Walk>
uint32_t decodeOptions(CborSpan member, AuthenticatorInfo& info) {
    info.options.reserve(announced(member));
    return forEachTextEntry<Walk>(member, [&](std::string_view name, CborSpan value) {
        const size_t from = info.options.empty() ? 0 : info.options.back().name.known() + 1u;
        info.options.emplace_back(OptionName(name, from), booleanOf(value));
    });
}

// The unsigned elements of a list member; other elements are left out.
template <class Walk>
uint32_t decodeUnsignedList(CborSpan member, std::vector<uint64_t>& list) {
    list.reserve(announced(member));
    return forEachElement<Walk>(member, [&](CborSpan element) {
        if (std::optional<uint64_t> n = unsignedOf(element)) {
            list.push_back(*n);
        }
    });
}

void decodeBytes(CborSpan member, std::optional<std::vector<uint8_t>>& bytes) {
    const uint8_t* content = nullptr;
    uint32_t length = 0;
    if (readByteString(member, &content, &length)) {
        bytes.emplace(content, content + length);
    }
}

template <class Walk>
uint32_t decodeAlgorithms(CborSpan member, AuthenticatorInfo& info) {
    info.algorithms.reserve(announced(member));
    return forEachElement<Walk>(member, [&](CborSpan element) {
        AuthenticatorAlgorithm algorithm;
        bool haveAlg = false;
        bool haveType = false;
        forEachTextEntry<Walk>(element, [&](std::string_view name, CborSpan value) {
            if (name == "alg" && !haveAlg) {
                haveAlg = true;
                const CborHeader h = headerOf(value);
                if (h.headerLength != 0 && (h.majorType == 0 || h.majorType == 1)) {
                    algorithm.alg = h.majorType == 1 ? -1 - static_cast<int64_t>(h.argument)
                                                     : static_cast<int64_t>(h.argument);
                }
            } else if (name == "type" && !haveType) {
                haveType = true;
                algorithm.type.assign(textOf(value));
            }
        });
        info.algorithms.push_back(std::move(algorithm));
    });
}

template <class Walk>
uint32_t decodeCertifications(CborSpan member, AuthenticatorInfo& info) {
    info.certifications.reserve(announced(member));
    return forEachTextEntry<Walk>(member, [&](std::string_view name, CborSpan value) {
        info.certifications.push_back({std::string(name), unsignedOf(value)});
    });
}

// Decodes the value of known member `key` (1 to 21) into info; returns the value's length
// when its walk went through all of it, or NO_END.
template <class Walk>
uint32_t decodeMember(uint32_t key, CborSpan value, AuthenticatorInfo& info) {
    switch (key) {
        case 1:
            return decodeTextList<Walk>(value, info.versions);
        case 2:
            return decodeTextList<Walk>(value, info.extensions);
        case 3: {
            const uint8_t* aaguid = nullptr;
            uint32_t aaguidLength = 0;
            if (readByteString(value, &aaguid, &aaguidLength)) {
                info.aaguid.emplace(aaguid, aaguid + aaguidLength);
            }
            return NO_END;
        }
        case 4:
            return decodeOptions<Walk>(value, info);
        case 5:
            info.maxMsgSize = unsignedOf(value);
            return NO_END;
        case 6:
            return decodeUnsignedList<Walk>(value, info.pinUvAuthProtocols);
        case 7:
            info.maxCredentialCountInList = unsignedOf(value);
            return NO_END;
        case 8:
            info.maxCredentialIdLength = unsignedOf(value);
            return NO_END;
        case 9:
            return decodeTextList<Walk>(value, info.transports);
        case 10:
            return decodeAlgorithms<Walk>(value, info);
        case 11:
            info.maxSerializedLargeBlobArray = unsignedOf(value);
            return NO_END;
        case 12:
            info.forcePinChange = booleanOf(value);
            return NO_END;
        case 13:
            info.minPINLength = unsignedOf(value);
            return NO_END;
        case 14:
            info.firmwareVersion = unsignedOf(value);
            return NO_END;
        case 15:
            info.maxCredBlobLength = unsignedOf(value);
            return NO_END;
        case 16:
            info.maxRPIDsForSetMinPINLength = unsignedOf(value);
            return NO_END;
        case 17:
            info.preferredPlatformUvAttempts = unsignedOf(value);
            return NO_END;
        case 18:
            info.uvModality = unsignedOf(value);
            return NO_END;
        case 19:
            return decodeCertifications<Walk>(value, info);
        case 20:
            info.remainingDiscoverableCredentials = unsignedOf(value);
            return NO_END;
        case 21:
            info.vendorPrototypeConfigCommands = unsignedOf(value);
            return NO_END;
        case 22:
            return decodeTextList<Walk>(value, info.attestationFormats);
        case 23:
            info.uvCountSinceLastPinEntry = unsignedOf(value);
            return NO_END;
        case 24:
            info.longTouchForReset = booleanOf(value);
            return NO_END;
        case 25:
            decodeBytes(value, info.encIdentifier);
            return NO_END;
        case 26:
            return decodeTextList<Walk>(value, info.transportsForReset);
        case 27:
            info.pinComplexityPolicy = booleanOf(value);
            return NO_END;
        case 28:
            decodeBytes(value, info.pinComplexityPolicyURL);
            return NO_END;
        case 29:
            info.maxPINLength = unsignedOf(value);
            return NO_END;
        case 30:
            decodeBytes(value, info.encCredStoreState);
            return NO_END;
        case 31:
            return decodeUnsignedList<Walk>(value, info.authenticatorConfigCommands);
        default:
            return NO_END;
    }
}

// A plain reply (every item plain, as keys send their replies) in one pass: each member is
// decoded where the walk of the reply meets it, and its decode walks it for the reply's walk
// too. False for a reply that is not plain; info is then to be thrown away.
bool decodePlainReply(CborSpan reply, AuthenticatorInfo& info) {
    CborHeader map;
    if (!reply.found() || !plainHeader(reply.data, reply.length, 0, map) || map.majorType != 5) {
        return false;
    }
    const uint8_t* data = reply.data;
    const uint32_t length = reply.length;
    std::array<bool, KNOWN_KEYS> seen{};
    uint32_t pos = map.headerLength;
    for (uint32_t entry = 0; entry < map.argument; ++entry) {
        CborHeader key;
        CborHeader value;
        if (!plainHeader(data, length, pos, key)) {
            return false;
        }
        const uint32_t valuePos = plainEnd(data, length, pos, key);
        if (valuePos == NO_END || !plainHeader(data, length, valuePos, value)) {
            return false;
        }
        const CborSpan item{data + valuePos, length - valuePos};
        uint32_t end = NO_END;
        const bool known = key.majorType == 0 && key.argument > 0 && key.argument < KNOWN_KEYS;
        if (known && !seen[key.argument]) {
            seen[key.argument] = true;
            const uint32_t walked = decodeMember<PlainWalk>(key.argument, item, info);
            if (walked != NO_END) {
                end = valuePos + walked;
            }
        }
        if (end == NO_END) {
            end = plainEnd(data, length, valuePos, value);
            if (end == NO_END) {
                return false;
            }
        }
        if (key.majorType == 0 && !known) {
            info.otherMembers.emplace_back(key.argument,
                                           std::vector<uint8_t>(data + valuePos, data + end));
        }
        pos = end;
    }
    return true;
}

// Any reply: the members from the general walk of the reply's map (the first of each known
// key), then each member from a walk of its own.
void decodeWalkedReply(CborSpan reply, AuthenticatorInfo& info) {
    std::array<CborSpan, KNOWN_KEYS> member{};
    std::array<bool, KNOWN_KEYS> seen{};
    bool isValue = false;
    CborHeader key;
    forEachItem(reply, 5, [&](CborSpan item, const CborHeader& h) {
        if (!isValue) {
            isValue = true;
            key = h;
            return true;
        }
        isValue = false;
        if (key.majorType != 0) {
            return true;
        }
        if (key.argument > 0 && key.argument < KNOWN_KEYS) {
            if (!seen[key.argument]) {
                seen[key.argument] = true;
                member[key.argument] = item;
            }
        } else {
            const uint32_t itemBytes = itemLength(item);
            info.otherMembers.emplace_back(key.argument,
                                           std::vector<uint8_t>(item.data, item.data + itemBytes));
        }
        return true;
    });
    for (uint32_t k = 1; k < KNOWN_KEYS; ++k) {
        if (member[k].found()) {
            decodeMember<GeneralWalk>(k, member[k], info);
        }
    }
}

}  // namespace

namespace {

size_t charactersOf(std::initializer_list<std::string_view> texts) {
    size_t characters = 0;
    for (const std::string_view text : texts) {
        characters += text.size();
    }
    return characters;
}

}  // namespace

TextList::TextList(std::initializer_list<std::string_view> texts)
    : TextList(texts.size(), charactersOf(texts), [&](auto&& put) {
          for (const std::string_view text : texts) {
              put(text);
          }
      }) {}

namespace {

template <typename Word>
Word wordAt(const char* at) {
    Word word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

// Equal texts, compared a word at a time in place: option names are short, and a call to
// the library's comparison cost more than the comparing.
bool sameText(std::string_view a, std::string_view b) {
    const size_t n = a.size();
    if (n != b.size()) {
        return false;
    }
    const char* p = a.data();
    const char* q = b.data();
    if (n >= 8) {
        for (size_t i = 0; i + 8 < n; i += 8) {
            if (wordAt<uint64_t>(p + i) != wordAt<uint64_t>(q + i)) {
                return false;
            }
        }
        return wordAt<uint64_t>(p + n - 8) == wordAt<uint64_t>(q + n - 8);
    }
    if (n >= 4) {
        return wordAt<uint32_t>(p) == wordAt<uint32_t>(q) &&
               wordAt<uint32_t>(p + n - 4) == wordAt<uint32_t>(q + n - 4);
    }
    for (size_t i = 0; i < n; ++i) {
        if (p[i] != q[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

OptionName::OptionName(std::string_view name, size_t from) {
    if (from < GETINFO_OPTION_NAMES.size() && sameText(GETINFO_OPTION_NAMES[from], name)) {
        known_ = static_cast<uint8_t>(from);
        return;
    }
    for (size_t n = 0; n < GETINFO_OPTION_NAMES.size(); ++n) {
        if (sameText(GETINFO_OPTION_NAMES[n], name)) {
            known_ = static_cast<uint8_t>(n);
            return;
        }
    }
    other_ = std::make_shared<const std::string>(name);
}

std::ostream& operator<<(std::ostream& out, const OptionName& name) {
    return out << name.text();
}

std::optional<bool> AuthenticatorInfo::option(std::string_view name) const {
    const OptionName wanted(name);
    for (const NamedValue<bool, OptionName>& entry : options) {
        if (entry.name.known() == wanted.known() &&
            (wanted.known() != OptionName::UNKNOWN || entry.name.text() == name)) {
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
    // A plain reply, as keys send it, is read in one pass; any other reply goes through the
    // general walk, which stops where the reply goes wrong.
    AuthenticatorInfo info;
    if (!decodePlainReply(reply, info)) {
        info = AuthenticatorInfo();
        decodeWalkedReply(reply, info);
    }
    return info;
}

}  // namespace orvanta
