#include "cert/name_text.h"

#include <algorithm>

#include "cert/der.h"
#include "common/hex_text.h"
#include "common/utf8.h"

namespace orvanta {

namespace {

// 2.5.4.3, id-at-commonName.
constexpr uint8_t COMMON_NAME_OID[] = {0x55, 0x04, 0x03};

// One character of a name as shown: control characters, which would break the line or the
// terminal, become "?"; everything else goes through the shared encoder.
void appendShown(std::string& out, uint32_t code) {
    if (code < 0x20 || code == 0x7F) {
        out += '?';
    } else {
        appendUtf8(out, code);
    }
}

}  // namespace

std::string attributeValueText(int tag, const uint8_t* value, size_t length) {
    std::string out;
    if (value == nullptr) {
        return out;
    }
    switch (tag) {
        case der_tag::UTF8_STRING: {
            const std::string_view text(reinterpret_cast<const char*>(value), length);
            for (size_t i = 0; i < length;) {
                // Malformed, overlong or surrogate sequences give U+FFFD for one byte.
                const std::optional<Utf8Character> c = decodeUtf8(text, i);
                appendShown(out, c ? c->codePoint : REPLACEMENT_CHARACTER);
                i += c ? c->length : 1;
            }
            return out;
        }
        case der_tag::BMP_STRING:
            for (size_t i = 0; i + 1 < length; i += 2) {
                uint32_t unit = (static_cast<uint32_t>(value[i]) << 8) | value[i + 1];
                if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < length) {
                    uint32_t low = (static_cast<uint32_t>(value[i + 2]) << 8) | value[i + 3];
                    if (low >= 0xDC00 && low <= 0xDFFF) {
                        appendShown(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                        i += 2;
                        continue;
                    }
                }
                appendShown(out, unit);
            }
            return out;
        case der_tag::UNIVERSAL_STRING:
            for (size_t i = 0; i + 3 < length; i += 4) {
                appendShown(out, (static_cast<uint32_t>(value[i]) << 24) |
                                     (static_cast<uint32_t>(value[i + 1]) << 16) |
                                     (static_cast<uint32_t>(value[i + 2]) << 8) | value[i + 3]);
            }
            return out;
        case der_tag::T61_STRING:
            for (size_t i = 0; i < length; ++i) {
                appendShown(out, value[i]);  // Latin-1
            }
            return out;
        case der_tag::PRINTABLE_STRING:
        case der_tag::IA5_STRING:
        case der_tag::NUMERIC_STRING:
        case der_tag::VISIBLE_STRING:
            for (size_t i = 0; i < length; ++i) {
                appendShown(out, value[i] < 0x80 ? value[i] : REPLACEMENT_CHARACTER);
            }
            return out;
        default:
            return "#" + hexText({value, length});
    }
}

std::optional<std::vector<NameAttribute>> nameAttributes(std::span<const uint8_t> name) {
    DerCursor outer(name);
    std::optional<DerElement> sequence = outer.next(der_tag::SEQUENCE);
    if (!sequence || !outer.atEnd()) {
        return std::nullopt;
    }
    std::vector<NameAttribute> attributes;
    DerCursor rdns(sequence->content);
    while (!rdns.atEnd()) {
        std::optional<DerElement> rdn = rdns.next(der_tag::SET);
        if (!rdn) {
            return std::nullopt;
        }
        DerCursor members(rdn->content);
        while (!members.atEnd()) {
            std::optional<DerElement> member = members.next(der_tag::SEQUENCE);
            if (!member) {
                return std::nullopt;
            }
            DerCursor parts(member->content);
            std::optional<DerElement> type = parts.next(der_tag::OID);
            std::optional<DerElement> value = type ? parts.next() : std::nullopt;
            if (!value || !parts.atEnd()) {
                return std::nullopt;
            }
            attributes.push_back({type->content, value->tag, value->content, !members.atEnd()});
        }
    }
    return attributes;
}

std::string nameValuesText(std::span<const NameAttribute> name) {
    std::string out;
    bool sameRdnAsPrevious = false;
    for (const NameAttribute& attribute : name) {
        if (!out.empty()) {
            out += sameRdnAsPrevious ? " + " : ", ";
        }
        out += attributeValueText(attribute.tag, attribute.value.data(), attribute.value.size());
        sameRdnAsPrevious = attribute.sameRdnAsNext;
    }
    return out;
}

std::string nameDisplayText(std::span<const NameAttribute> name) {
    auto commonName = std::find_if(name.begin(), name.end(), [](const NameAttribute& attribute) {
        return std::equal(attribute.type.begin(), attribute.type.end(), std::begin(COMMON_NAME_OID),
                          std::end(COMMON_NAME_OID));
    });
    if (commonName == name.end()) {
        if (name.empty()) {
            return std::string();
        }
        commonName = name.end() - 1;
    }
    return attributeValueText(commonName->tag, commonName->value.data(), commonName->value.size());
}

}  // namespace orvanta
