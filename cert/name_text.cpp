#include "cert/name_text.h"

#include <mbedtls/asn1.h>
#include <mbedtls/oid.h>

#include <cstring>

#include "transport/hex_text.h"
#include "transport/utf8.h"

namespace orvanta {

namespace {

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
        case MBEDTLS_ASN1_UTF8_STRING:
            for (size_t i = 0; i < length;) {
                appendShown(out, nextUtf8(value, length, i));
            }
            return out;
        case MBEDTLS_ASN1_BMP_STRING:
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
        case MBEDTLS_ASN1_UNIVERSAL_STRING:
            for (size_t i = 0; i + 3 < length; i += 4) {
                appendShown(out, (static_cast<uint32_t>(value[i]) << 24) |
                                     (static_cast<uint32_t>(value[i + 1]) << 16) |
                                     (static_cast<uint32_t>(value[i + 2]) << 8) | value[i + 3]);
            }
            return out;
        case MBEDTLS_ASN1_T61_STRING:
            for (size_t i = 0; i < length; ++i) {
                appendShown(out, value[i]);  // Latin-1
            }
            return out;
        case MBEDTLS_ASN1_PRINTABLE_STRING:
        case MBEDTLS_ASN1_IA5_STRING:
        case 0x12:  // NumericString
        case 0x1A:  // VisibleString
            for (size_t i = 0; i < length; ++i) {
                appendShown(out, value[i] < 0x80 ? value[i] : REPLACEMENT_CHARACTER);
            }
            return out;
        default:
            return "#" + hexText({value, length});
    }
}

std::string nameValuesText(const mbedtls_x509_name* name) {
    std::string out;
    bool mergedWithPrevious = false;
    for (const mbedtls_x509_name* item = name; item != nullptr; item = item->next) {
        if (item->oid.p == nullptr) {
            continue;  // the empty head of an empty name
        }
        if (!out.empty()) {
            out += mergedWithPrevious ? " + " : ", ";
        }
        out += attributeValueText(item->val.tag, item->val.p, item->val.len);
        mergedWithPrevious = item->next_merged != 0;
    }
    return out;
}

std::string nameDisplayText(const mbedtls_x509_name* name) {
    const mbedtls_x509_name* last = nullptr;
    for (const mbedtls_x509_name* item = name; item != nullptr; item = item->next) {
        if (item->oid.p == nullptr) {
            continue;
        }
        if (MBEDTLS_OID_CMP(MBEDTLS_OID_AT_CN, &item->oid) == 0) {
            return attributeValueText(item->val.tag, item->val.p, item->val.len);
        }
        last = item;
    }
    if (last == nullptr) {
        return std::string();
    }
    return attributeValueText(last->val.tag, last->val.p, last->val.len);
}

}  // namespace orvanta
