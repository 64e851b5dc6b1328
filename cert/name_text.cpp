#include "cert/name_text.h"

#include <algorithm>

#include "cert/der.h"
#include "transport/hex_text.h"
#include "transport/utf8.h"

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

// Decodes one UTF-8 sequence at value[i]; advances i. Malformed, overlong or surrogate
// sequences give U+FFFD and consume one byte.
uint32_t nextUtf8(const uint8_t* value, size_t length, size_t& i) {
    uint8_t lead = value[i];
    size_t extra = 0;
    uint32_t code = 0;
    uint32_t minimum = 0;
    if (lead < 0x80) {
        ++i;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        code = lead & 0x1F;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        code = lead & 0x0F;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        code = lead & 0x07;
        minimum = 0x10000;
    } else {
        ++i;
        return REPLACEMENT_CHARACTER;
    }
    if (length - i <= extra) {
        ++i;
        return REPLACEMENT_CHARACTER;
    }
    for (size_t k = 1; k <= extra; ++k) {
        uint8_t next = value[i + k];
        if ((next & 0xC0) != 0x80) {
            ++i;
            return REPLACEMENT_CHARACTER;
        }
        code = (code << 6) | (next & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        ++i;
        return REPLACEMENT_CHARACTER;
    }
    i += extra + 1;
    return code;
}

}  // namespace

std::string attributeValueText(int tag, const uint8_t* value, size_t length) {
    std::string out;
    if (value == nullptr) {
        return out;
    }
    switch (tag) {
        case der_tag::UTF8_STRING:
            for (size_t i = 0; i < length;) {
                appendShown(out, nextUtf8(value, length, i));
            }
            return out;
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
