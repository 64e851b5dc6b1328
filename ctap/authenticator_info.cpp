#include "ctap/authenticator_info.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace orvanta {

namespace {

constexpr bool keysAreDense() {
    for (size_t i = 0; i < INFO_MEMBERS.size(); ++i) {
        if (INFO_MEMBERS[i].key != i + 1) {
            return false;
        }
    }
    return true;
}
static_assert(keysAreDense(), "infoMember finds a member by its place in the table");

// ---- Reading ------------------------------------------------------------------------------

// An item of the reply: its bytes to the end of the reply and its header as readHeader reads
// it. A missing item is the null item.
struct Item {
    CborSpan span;
    CborHeader header;
};

// An item a walk met, with the header the walk read: the same as readHeader's unless tags
// come first (the walk skips them all, readHeader folds one into the item).
Item walkedItem(CborSpan span, const CborHeader& walked) {
    constexpr uint8_t TAG = 6;
    return {span, (span.data[0] >> 5) != TAG ? walked : readHeader(span)};
}

std::optional<uint64_t> unsignedOf(const Item& item) {
    if (item.header.majorType == 0 && item.header.headerLength != 0) {
        return item.header.argument;
    }
    return std::nullopt;
}

// Keys have always read a simple value by its additional information alone: 20 is false and
// 21 is true whatever the major type says.
std::optional<bool> booleanOf(const Item& item) {
    const uint8_t ai = item.header.additionalInfo;
    if (ai == 20 || ai == 21) {
        return ai == 21;
    }
    return std::nullopt;
}

// The text of an item: the bytes of a definite text string, cut at the end of the reply
// (empty for any other item).
std::string_view textOf(const Item& item) {
    const CborHeader& h = item.header;
    if (h.majorType != 3 || h.headerLength == 0 || h.additionalInfo == 31) {
        return std::string_view();
    }
    const uint32_t available = item.span.length - h.headerLength;
    return std::string_view(reinterpret_cast<const char*>(item.span.data + h.headerLength),
                            std::min(h.argument, available));
}

// Calls each(element) for the elements of an array member, in one walk; a missing element
// is the null item. A definite array that announces more elements than arrived ends in
// missing ones, and so does a string or map member, as many as its argument says; never
// more than the bytes received. An indefinite array ends at its first missing element.
template <class Each>
void forEachElement(const Item& member, Each&& each) {
    const CborHeader& h = member.header;
    if (h.headerLength == 0 || h.majorType < 2 || h.majorType > 5) {
        return;
    }
    const bool indefinite = h.additionalInfo == 31;
    const uint32_t count =
        std::min(indefinite ? member.span.length : h.argument, member.span.length);
    uint32_t found = 0;
    if (h.majorType == 4) {
        forEachItem(member.span, 4, [&](CborSpan element, const CborHeader& walked) {
            if (found == count) {
                return false;
            }
            ++found;
            each(walkedItem(element, walked));
            return true;
        });
    }
    for (uint32_t i = found; !indefinite && i < count; ++i) {
        each(Item{});
    }
}

// Room for the elements or entries a member announces, never more than the bytes received
// could hold.
template <typename List>
void reserveAnnounced(const Item& member, List& list) {
    const CborHeader& h = member.header;
    if (h.headerLength != 0 && h.additionalInfo != 31) {
        list.reserve(std::min(h.argument, member.span.length));
    }
}

// Calls each(name, value) for every entry with a definite text key of the map at the start
// of the item, in order. The key's text ends where its value starts.
template <class Each>
void forEachTextEntry(const Item& map, Each&& each) {
    bool isValue = false;
    bool textKey = false;
    uint32_t keyLength = 0;
    forEachItem(map.span, 5, [&](CborSpan item, const CborHeader& walked) {
        if (!isValue) {
            textKey = walked.majorType == 3 && walked.additionalInfo != 31;
            keyLength = walked.argument;
        } else if (textKey) {
            each(std::string_view(reinterpret_cast<const char*>(item.data - keyLength), keyLength),
                 walkedItem(item, walked));
        }
        isValue = !isValue;
        return true;
    });
}

// How a member's value is read, by its kind.

void read(const Item& value, InfoTexts& texts) {
    reserveAnnounced(value, texts);
    forEachElement(value, [&](const Item& element) { texts.emplace_back(textOf(element)); });
}

void read(const Item& value, InfoBytes& bytes) {
    const uint8_t* content = nullptr;
    uint32_t length = 0;
    if (readByteString(value.span, &content, &length)) {
        bytes.emplace(content, content + length);
    }
}

void read(const Item& value, InfoUnsigned& n) {
    n = unsignedOf(value);
}

void read(const Item& value, InfoBoolean& b) {
    b = booleanOf(value);
}

void read(const Item& value, InfoUnsignedList& list) {
    reserveAnnounced(value, list);
    forEachElement(value, [&](const Item& element) {
        if (const std::optional<uint64_t> n = unsignedOf(element)) {
            list.push_back(*n);
        }
    });
}

void read(const Item& value, InfoOptions& options) {
    reserveAnnounced(value, options);
    forEachTextEntry(value, [&](std::string_view name, const Item& entry) {
        NamedValue<bool>& option = options.emplace_back();
        option.name = name;
        option.value = booleanOf(entry);
    });
}

void read(const Item& value, InfoCertifications& certifications) {
    reserveAnnounced(value, certifications);
    forEachTextEntry(value, [&](std::string_view name, const Item& entry) {
        certifications.push_back({std::string(name), unsignedOf(entry)});
    });
}

// "alg" and "type" of each entry (the first of each name counts).
void read(const Item& value, InfoAlgorithms& algorithms) {
    reserveAnnounced(value, algorithms);
    forEachElement(value, [&](const Item& element) {
        AuthenticatorAlgorithm& algorithm = algorithms.emplace_back();
        bool haveAlg = false;
        bool haveType = false;
        forEachTextEntry(element, [&](std::string_view name, const Item& entry) {
            const CborHeader& h = entry.header;
            if (name == "alg" && !std::exchange(haveAlg, true)) {
                if (h.headerLength != 0 && h.majorType == 0) {
                    algorithm.alg = int64_t{h.argument};
                } else if (h.headerLength != 0 && h.majorType == 1) {
                    algorithm.alg = -1 - int64_t{h.argument};
                }
            } else if (name == "type" && !std::exchange(haveType, true)) {
                algorithm.type = textOf(entry);
            }
        });
    });
}

// ---- Writing ------------------------------------------------------------------------------

void putUnsigned64(CborWriter& w, uint64_t n) {
    if (n > std::numeric_limits<uint32_t>::max()) {
        w.failed = true;
        return;
    }
    putUnsigned(w, static_cast<uint32_t>(n));
}

// An item already encoded, as it is.
void putEncoded(CborWriter& w, const std::vector<uint8_t>& item) {
    if (w.buffer == nullptr) {
        return;
    }
    if (item.size() > w.capacity - w.length) {
        w.failed = true;
        return;
    }
    std::memcpy(w.buffer + w.length, item.data(), item.size());
    w.length += static_cast<uint32_t>(item.size());
}

// The entries that have a value, in CTAP2 canonical order: shorter names first, then
// bytewise.
template <typename T>
std::vector<const NamedValue<T>*> canonicalEntries(const std::vector<NamedValue<T>>& entries) {
    std::vector<const NamedValue<T>*> sorted;
    for (const NamedValue<T>& entry : entries) {
        if (entry.value) {
            sorted.push_back(&entry);
        }
    }
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto* a, const auto* b) {
        return a->name.size() != b->name.size() ? a->name.size() < b->name.size()
                                                : a->name < b->name;
    });
    return sorted;
}

void write(CborWriter& w, const InfoTexts& texts) {
    beginArray(w, static_cast<uint32_t>(texts.size()));
    for (const std::string& text : texts) {
        putText(w, text);
    }
}

void write(CborWriter& w, const InfoBytes& bytes) {
    putBytes(w, bytes->data(), static_cast<uint32_t>(bytes->size()));
}

void write(CborWriter& w, const InfoUnsigned& n) {
    putUnsigned64(w, *n);
}

void write(CborWriter& w, const InfoBoolean& b) {
    putBool(w, *b);
}

void write(CborWriter& w, const InfoUnsignedList& list) {
    beginArray(w, static_cast<uint32_t>(list.size()));
    for (const uint64_t n : list) {
        putUnsigned64(w, n);
    }
}

void write(CborWriter& w, const InfoOptions& options) {
    const auto entries = canonicalEntries(options);
    beginMap(w, static_cast<uint32_t>(entries.size()));
    for (const NamedValue<bool>* entry : entries) {
        putBool(putText(w, entry->name), *entry->value);
    }
}

void write(CborWriter& w, const InfoCertifications& certifications) {
    const auto entries = canonicalEntries(certifications);
    beginMap(w, static_cast<uint32_t>(entries.size()));
    for (const NamedValue<uint64_t>* entry : entries) {
        putUnsigned64(putText(w, entry->name), *entry->value);
    }
}

void write(CborWriter& w, const InfoAlgorithms& algorithms) {
    beginArray(w, static_cast<uint32_t>(algorithms.size()));
    for (const AuthenticatorAlgorithm& algorithm : algorithms) {
        beginMap(w, algorithm.alg ? 2 : 1);
        if (const std::optional<int64_t> alg = algorithm.alg) {
            putText(w, "alg");
            if (*alg < std::numeric_limits<int32_t>::min() ||
                *alg > std::numeric_limits<uint32_t>::max()) {
                w.failed = true;
            } else if (*alg < 0) {
                putNegative(w, static_cast<int32_t>(*alg));
            } else {
                putUnsigned(w, static_cast<uint32_t>(*alg));
            }
        }
        putText(putText(w, "type"), algorithm.type);
    }
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
    const InfoMember* member = infoMember(key);
    return member != nullptr ? member->name : std::string_view();
}

AuthenticatorInfo decodeAuthenticatorInfo(CborSpan reply) {
    AuthenticatorInfo info;
    std::array<bool, INFO_MEMBERS.size() + 1> seen{};
    bool isValue = false;
    CborHeader key;
    forEachItem(reply, 5, [&](CborSpan value, const CborHeader& header) {
        if (!isValue) {
            key = header;
        } else if (key.majorType == 0) {  // getInfo has integer keys only
            if (const InfoMember* member = infoMember(key.argument)) {
                if (!std::exchange(seen[key.argument], true)) {
                    const Item item = walkedItem(value, header);
                    visitMember(*member, info, [&](auto& field) { read(item, field); });
                }
            } else {
                info.otherMembers.emplace_back(
                    key.argument, std::vector<uint8_t>(value.data, value.data + itemLength(value)));
            }
        }
        isValue = !isValue;
        return true;
    });
    return info;
}

void encodeAuthenticatorInfo(const AuthenticatorInfo& info, CborWriter& writer) {
    std::vector<const std::pair<uint64_t, std::vector<uint8_t>>*> others;
    for (const auto& member : info.otherMembers) {
        others.push_back(&member);
    }
    std::stable_sort(others.begin(), others.end(),
                     [](const auto* a, const auto* b) { return a->first < b->first; });
    size_t members = others.size();
    for (const InfoMember& member : INFO_MEMBERS) {
        members += visitMember(member, info, [](const auto& value) { return hasValue(value); });
    }
    beginMap(writer, static_cast<uint32_t>(members));
    auto next = others.begin();
    auto putOthersBefore = [&](std::optional<uint64_t> key) {
        for (; next != others.end() && (!key || (*next)->first < *key); ++next) {
            putUnsigned64(writer, (*next)->first);
            putEncoded(writer, (*next)->second);
        }
    };
    for (const InfoMember& member : INFO_MEMBERS) {
        putOthersBefore(member.key);
        visitMember(member, info, [&](const auto& value) {
            if (hasValue(value)) {
                putUnsigned(writer, member.key);
                write(writer, value);
            }
        });
    }
    putOthersBefore(std::nullopt);
}

}  // namespace orvanta
