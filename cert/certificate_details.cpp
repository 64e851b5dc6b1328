#include "cert/certificate_details.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "cert/certificate_file.h"
#include "cert/der.h"
#include "cert/name_text.h"
#include "cert/signature_check.h"
#include "cert/x509_lenient.h"
#include "common/base64.h"
#include "common/hex_text.h"

namespace orvanta {

namespace {

static_assert(sizeof(time_t) >= 8, "certificate times up to the year 9999 need a 64-bit time_t");

// DER content of the object identifier 1.3.6.1.4.1.45724.2.1.1.
constexpr uint8_t FIDO_TRANSPORTS_OID[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82,
                                           0xE5, 0x1C, 0x02, 0x01, 0x01};

// Reads `count` decimal digits; false at anything else.
bool readDigits(const unsigned char*& p, int count, int& value) {
    value = 0;
    for (int i = 0; i < count; ++i, ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
        value = value * 10 + (*p - '0');
    }
    return true;
}

// A validity time: UTCTime YYMMDDhhmmss (years 50 to 99 are 19xx) or GeneralizedTime
// YYYYMMDDhhmmss, each with an optional trailing "Z" and nothing else, naming an instant
// that exists. Fractions, offsets and missing seconds are refused, as is a calendar date
// that does not exist.
std::optional<CertificateTime> certificateTime(const ASN1_TIME* time) {
    if (time == nullptr) {
        return std::nullopt;
    }
    const int type = ASN1_STRING_type(time);
    const int yearDigits = type == V_ASN1_UTCTIME ? 2 : type == V_ASN1_GENERALIZEDTIME ? 4 : 0;
    const int length = ASN1_STRING_length(time);
    if (yearDigits == 0 || length < yearDigits + 10 || length > yearDigits + 11) {
        return std::nullopt;
    }
    const unsigned char* p = ASN1_STRING_get0_data(time);
    CertificateTime t;
    if (!readDigits(p, yearDigits, t.year) || !readDigits(p, 2, t.month) ||
        !readDigits(p, 2, t.day) || !readDigits(p, 2, t.hour) || !readDigits(p, 2, t.minute) ||
        !readDigits(p, 2, t.second)) {
        return std::nullopt;
    }
    if (length == yearDigits + 11 && *p != 'Z') {
        return std::nullopt;
    }
    if (yearDigits == 2) {
        t.year += t.year < 50 ? 2000 : 1900;
    }
    static constexpr int DAYS[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.month < 1 || t.month > 12 || t.hour > 23 || t.minute > 59 || t.second > 59) {
        return std::nullopt;
    }
    const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
    const int monthDays = DAYS[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
    if (t.day < 1 || t.day > monthDays) {
        return std::nullopt;
    }
    return t;
}

std::string timeText(const CertificateTime& t) {
    return certificateTimeText(t.year, t.month, t.day, t.hour, t.minute, t.second);
}

// The BIT STRING content of subjectPublicKeyInfo, without its unused-bits octet.
std::optional<std::vector<uint8_t>> subjectPublicKey(std::span<const uint8_t> spki) {
    DerCursor outer(spki);
    std::optional<DerElement> info = outer.next(der_tag::SEQUENCE);
    if (!info) {
        return std::nullopt;
    }
    DerCursor inner(info->content);
    std::optional<DerElement> key =
        inner.next(der_tag::SEQUENCE) ? inner.next(der_tag::BIT_STRING) : std::nullopt;
    if (!key || key->content.empty()) {
        return std::nullopt;
    }
    return std::vector<uint8_t>(key->content.begin() + 1, key->content.end());
}

// The extnValue content of the first extension with the given OID.
std::optional<std::vector<uint8_t>> findExtension(const X509* certificate,
                                                  std::span<const uint8_t> oid) {
    const int count = X509_get_ext_count(certificate);
    for (int i = 0; i < count; ++i) {
        X509_EXTENSION* extension = X509_get_ext(certificate, i);
        const ASN1_OBJECT* type = X509_EXTENSION_get_object(extension);
        const unsigned char* typeBytes = OBJ_get0_data(type);
        if (typeBytes == nullptr ||
            !std::equal(oid.begin(), oid.end(), typeBytes, typeBytes + OBJ_length(type))) {
            continue;
        }
        const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(extension);
        const unsigned char* bytes = ASN1_STRING_get0_data(value);
        return std::vector<uint8_t>(bytes, bytes + ASN1_STRING_length(value));
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
    std::optional<CertificateFields> fields = certificateFields(der);
    if (!fields) {
        return std::nullopt;
    }
    X509Ptr certificate = parseCertificateLenient(der);
    if (!certificate) {
        return std::nullopt;
    }
    // Versions 1 to 3 are the layouts there are; another number is no certificate we know.
    const long version = X509_get_version(certificate.get());
    std::optional<std::vector<NameAttribute>> subject = nameAttributes(fields->subject);
    std::optional<std::vector<NameAttribute>> issuer = nameAttributes(fields->issuer);
    std::optional<CertificateTime> notBefore =
        certificateTime(X509_get0_notBefore(certificate.get()));
    std::optional<CertificateTime> notAfter =
        certificateTime(X509_get0_notAfter(certificate.get()));
    std::optional<std::vector<uint8_t>> publicKey = subjectPublicKey(fields->subjectPublicKeyInfo);
    if (version < 0 || version > 2 || !subject || !issuer || !notBefore || !notAfter ||
        !publicKey) {
        return std::nullopt;
    }
    CertificateDetails details;
    details.version = static_cast<int>(version) + 1;
    details.serialNumber.assign(fields->serial.begin(), fields->serial.end());
    details.subject = nameValuesText(*subject);
    details.issuer = nameDisplayText(*issuer);
    details.notBefore = *notBefore;
    details.notAfter = *notAfter;
    details.publicKey = std::move(*publicKey);
    details.subjectPublicKeyInfo.assign(fields->subjectPublicKeyInfo.begin(),
                                        fields->subjectPublicKeyInfo.end());
    details.der.assign(der.begin(), der.end());
    details.transports = findExtension(certificate.get(), FIDO_TRANSPORTS_OID);
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
                           size_t signatureLength, CertificateVariant variant, UserPrompts& prompts,
                           std::optional<int64_t> alg) {
    const bool fido2 = variant == CertificateVariant::Fido2;
    if (fido2) {
        page.AppendRow(" ", std::string(" "));
    }
    std::optional<CertificateDetails> details =
        certificate != nullptr ? describeCertificate({certificate, certificateLength})
                               : std::nullopt;
    if (!details) {
        prompts.show({fido2 ? MessageCode::Fido2CertificateUndecodable
                            : MessageCode::U2fCertificateUndecodable});
        return 1;
    }
    // The file keeps the bytes as received, also when only a patched copy decoded.
    writeCertificateFile(page, certificate, certificateLength);

    const std::vector<uint8_t>& key = details->subjectPublicKeyInfo;
    // No signature at all is one that does not verify.
    const std::span<const uint8_t> signatureBytes =
        signature != nullptr ? std::span(signature, signatureLength) : std::span<const uint8_t>();
    std::optional<bool> verified;
    if (signedData == nullptr) {
        // Nothing to check the signature over: the rows alone, the check left open.
    } else if (!fido2) {
        verified =
            verifyRegistrationSignature(key, {signedData, signedDataLength}, signatureBytes) == 0;
    } else if (details->subject.find("Attestation") != std::string::npos) {
        verified = verifyAttestationSignature(key, alg, {signedData, signedDataLength},
                                              signatureBytes) == 0;
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
