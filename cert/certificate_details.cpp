#include "cert/certificate_details.h"

#include <mbedtls/asn1.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "cert/base64.h"
#include "cert/certificate_file.h"
#include "cert/name_text.h"
#include "cert/signature_check.h"
#include "cert/x509_lenient.h"
#include "transport/hex_text.h"

namespace orvanta {

namespace {

static_assert(sizeof(time_t) >= 8, "certificate times up to the year 9999 need a 64-bit time_t");

constexpr int SEQUENCE = MBEDTLS_ASN1_CONSTRUCTED | MBEDTLS_ASN1_SEQUENCE;
// DER content of the object identifier 1.3.6.1.4.1.45724.2.1.1.
constexpr uint8_t FIDO_TRANSPORTS_OID[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82,
                                           0xE5, 0x1C, 0x02, 0x01, 0x01};

CertificateTime timeOf(const mbedtls_x509_time& t) {
    return CertificateTime{t.year, t.mon, t.day, t.hour, t.min, t.sec};
}

std::string timeText(const CertificateTime& t) {
    return certificateTimeText(t.year, t.month, t.day, t.hour, t.minute, t.second);
}

// The BIT STRING content of subjectPublicKeyInfo, without its unused-bits octet.
std::vector<uint8_t> subjectPublicKey(const mbedtls_x509_buf& spki) {
    unsigned char* p = spki.p;
    const unsigned char* end = spki.p + spki.len;
    size_t len = 0;
    if (p == nullptr || mbedtls_asn1_get_tag(&p, end, &len, SEQUENCE) != 0) {
        return {};
    }
    end = p + len;
    if (mbedtls_asn1_get_tag(&p, end, &len, SEQUENCE) != 0) {
        return {};
    }
    p += len;  // algorithm
    if (mbedtls_asn1_get_tag(&p, end, &len, MBEDTLS_ASN1_BIT_STRING) != 0 || len == 0) {
        return {};
    }
    return std::vector<uint8_t>(p + 1, p + len);
}

// The extnValue content of the extension with the given OID among the raw v3 extensions
// (the content of the [3] field: SEQUENCE OF Extension).
std::optional<std::vector<uint8_t>> findExtension(const mbedtls_x509_buf& extensions,
                                                  const uint8_t* oid, size_t oidLength) {
    if (extensions.p == nullptr || extensions.len == 0) {
        return std::nullopt;
    }
    unsigned char* p = extensions.p;
    const unsigned char* end = extensions.p + extensions.len;
    size_t len = 0;
    if (mbedtls_asn1_get_tag(&p, end, &len, SEQUENCE) != 0) {
        return std::nullopt;
    }
    end = p + len;
    while (p < end) {
        if (mbedtls_asn1_get_tag(&p, end, &len, SEQUENCE) != 0) {
            return std::nullopt;
        }
        const unsigned char* extensionEnd = p + len;
        size_t oidLen = 0;
        if (mbedtls_asn1_get_tag(&p, extensionEnd, &oidLen, MBEDTLS_ASN1_OID) != 0) {
            return std::nullopt;
        }
        bool match = oidLen == oidLength && std::memcmp(p, oid, oidLength) == 0;
        p += oidLen;
        int critical = 0;
        if (p < extensionEnd && *p == MBEDTLS_ASN1_BOOLEAN &&
            mbedtls_asn1_get_bool(&p, extensionEnd, &critical) != 0) {
            return std::nullopt;
        }
        size_t valueLen = 0;
        if (mbedtls_asn1_get_tag(&p, extensionEnd, &valueLen, MBEDTLS_ASN1_OCTET_STRING) != 0) {
            return std::nullopt;
        }
        if (match) {
            return std::vector<uint8_t>(p, p + valueLen);
        }
        p = const_cast<unsigned char*>(extensionEnd);
    }
    return std::nullopt;
}

}  // namespace

std::string certificateTimeText(int year, int month, int day, int hour, int minute, int second) {
    struct tm utc = {};
    utc.tm_year = year - 1900;
    utc.tm_mon = month - 1;
    utc.tm_mday = day;
    utc.tm_hour = hour;
    utc.tm_min = minute;
    utc.tm_sec = second;
    struct tm shown = utc;
    const char* suffix = "";
    time_t instant = timegm(&utc);
    struct tm local = {};
    if (localtime_r(&instant, &local) != nullptr && local.tm_year >= -1900 &&
        local.tm_year <= 9999 - 1900) {
        shown = local;
    } else {
        suffix = " UTC";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d%s", shown.tm_year + 1900,
                  shown.tm_mon + 1, shown.tm_mday, shown.tm_hour, shown.tm_min, shown.tm_sec,
                  suffix);
    return text;
}

std::string transportsText(const uint8_t* value, size_t length) {
    static constexpr struct {
        uint8_t mask;
        const char* name;
    } TRANSPORTS[] = {
        {0x80, "BluetoothRadio"}, {0x40, "BluetoothLowEnergyRadio"}, {0x20, "USB"}, {0x10, "NFC"}};
    if (value == nullptr || length == 0) {
        return std::string();
    }
    std::string text = hexText({value, length}, " ");
    std::string names;
    uint8_t last = value[length - 1];
    for (const auto& transport : TRANSPORTS) {
        if ((last & transport.mask) != 0) {
            if (!names.empty()) {
                names += ", ";
            }
            names += transport.name;
        }
    }
    if (!names.empty()) {
        text += "( " + names + " )";
    }
    return text;
}

std::optional<CertificateDetails> describeCertificate(std::span<const uint8_t> der) {
    X509Certificate certificate;
    if (der.empty() || parseCertificateLenient(der.data(), der.size(), certificate.get()) != 0) {
        return std::nullopt;
    }
    const mbedtls_x509_crt& crt = *certificate.get();
    CertificateDetails details;
    details.version = crt.version;
    details.serialNumber.assign(crt.serial.p, crt.serial.p + crt.serial.len);
    details.subject = nameValuesText(&crt.subject);
    details.issuer = nameDisplayText(&crt.issuer);
    details.notBefore = timeOf(crt.valid_from);
    details.notAfter = timeOf(crt.valid_to);
    details.publicKey = subjectPublicKey(crt.pk_raw);
    details.der.assign(der.begin(), der.end());
    details.transports = findExtension(crt.v3_ext, FIDO_TRANSPORTS_OID, sizeof FIDO_TRANSPORTS_OID);
    return details;
}

std::vector<Row> certificateRows(const CertificateDetails& details) {
    char version[16];
    std::snprintf(version, sizeof version, "V%X", static_cast<unsigned>(details.version));
    std::vector<Row> rows = {
        {"Version", std::string(version)},
        {"Serial number", hexText(details.serialNumber, " ")},
        {"User", details.subject},
        {"Issuer", details.issuer},
        {"Validity period", timeText(details.notBefore) + " - " + timeText(details.notAfter)},
        {"Public key", hexText(details.publicKey, " ")},
        {BASE64_ROW_LABEL, base64Encode(details.der.data(), details.der.size())},
    };
    if (details.transports) {
        rows.push_back(
            {"Extentions", transportsText(details.transports->data(), details.transports->size())});
    }
    return rows;
}

bool certificateRows(const uint8_t* der, size_t length, std::vector<Row>& rows) {
    if (der == nullptr) {
        return false;
    }
    std::optional<CertificateDetails> details = describeCertificate({der, length});
    if (!details) {
        return false;
    }
    rows = certificateRows(*details);
    return true;
}

int showCertificateDetails(CertificatePage& page, const uint8_t* certificate,
                           size_t certificateLength, const uint8_t* signedData,
                           size_t signedDataLength, const uint8_t* signature,
                           size_t signatureLength, CertificateVariant variant,
                           UserPrompts& prompts) {
    const bool fido2 = variant == CertificateVariant::Fido2;
    if (fido2) {
        page.AppendRow(" ", std::string(" "));
    }
    std::optional<CertificateDetails> details =
        certificate != nullptr ? describeCertificate({certificate, certificateLength})
                               : std::nullopt;
    if (!details) {
        prompts.showMessage(fido2 ? FIDO2_DECODE_FAILED : U2F_DECODE_FAILED, MessageIcon::Error);
        return 1;
    }
    // The file keeps the bytes as received, also when only a patched copy decoded.
    writeCertificateFile(page, certificate, certificateLength);

    const std::vector<uint8_t>& key = details->publicKey;
    std::optional<bool> verified;
    if (signedData == nullptr) {
        // Nothing to check the signature over: the rows alone, the check left open.
    } else if (!fido2) {
        verified = verifyRegistrationSignature(key.data(), key.size(), signedData, signedDataLength,
                                               signature, signatureLength) == 0;
    } else if (details->subject.find("Attestation") != std::string::npos) {
        verified = verifyAttestationSignature(key.data(), key.size(), signedData, signedDataLength,
                                              signature, signatureLength) == 0;
    }
    std::vector<Row> rows = certificateRows(*details);
    const size_t index = page.addCertificate(PageCertificate{std::move(details->der), verified});
    for (Row& row : rows) {
        if (row.label == BASE64_ROW_LABEL) {
            row.action = RowAction::ExportCertificate;
            row.certificate = index;
        }
        page.AppendRow(std::move(row));
    }
    if (verified) {
        page.AppendRow("Verify Result", std::string(*verified ? "YES" : "NO"));
    }
    return 0;
}

}  // namespace orvanta
