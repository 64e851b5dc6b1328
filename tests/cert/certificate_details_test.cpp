#include "cert/certificate_details.h"

#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include "cert/der.h"
#include "cert/name_text.h"
#include "cert/x509_lenient.h"
#include "common/base64.h"
#include "common/hex_text.h"
#include "page_labels.h"
#include "support/scripted_prompts.h"
#include "support/temp_dir.h"
#include "support/test_pki.h"

namespace orvanta::test {
namespace {

// Bytes as the rows show them: upper-case digit pairs, each followed by a space.
std::string hexRow(std::span<const uint8_t> bytes) {
    return hexText(bytes, " ");
}

class CertificateRowsTest : public ::testing::Test, protected CertificateScratch {
  protected:
    P256TestKey issuerKey{11};
    P256TestKey subjectKey{22};
    ScriptedPrompts prompts;

    std::string value(const std::vector<Row>& rows, const std::string& label) {
        for (const Row& row : rows) {
            if (row.label == label) {
                return row.valueText();
            }
        }
        ADD_FAILURE() << "no row " << label;
        return std::string();
    }

    // The rows of a certificate of `shape` for the subject key, signed by the issuer key.
    std::vector<Row> rowsOf(const CertificateRequest& shape) {
        const std::vector<uint8_t> der = makeCertificate(shape, subjectKey, issuerKey);
        std::vector<Row> rows;
        EXPECT_TRUE(certificateRows(der.data(), der.size(), rows));
        return rows;
    }

    // `certificate` on `page` as `variant` shows it, checking `signature` over `signedData`.
    int show(CertificatePage& page, const std::vector<uint8_t>& certificate,
             const std::vector<uint8_t>& signedData, const std::vector<uint8_t>& signature,
             CertificateVariant variant) {
        return showCertificateDetails(page, certificate.data(), certificate.size(),
                                      signedData.data(), signedData.size(), signature.data(),
                                      signature.size(), variant, prompts);
    }
};

TEST_F(CertificateRowsTest, VersionThreeCertificateGivesTheSevenRowsInOrder) {
    CertificateRequest shape;
    shape.serial = {0x9A, 0x3C};  // high bit set: encoded with a leading zero octet
    const std::vector<uint8_t> der = makeCertificate(shape, subjectKey, issuerKey);
    std::vector<Row> rows;
    ASSERT_TRUE(certificateRows(der.data(), der.size(), rows));
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[0].label, "Version");
    EXPECT_EQ(rows[0].valueText(), "V3");
    EXPECT_EQ(rows[1].label, "Serial number");
    EXPECT_EQ(rows[1].valueText(), "00 9A 3C ");
    EXPECT_EQ(rows[2].label, "User");
    EXPECT_EQ(rows[2].valueText(), "US, Orvanta Test, Authenticator Attestation, Test Attestation");
    EXPECT_EQ(rows[3].label, "Issuer");
    EXPECT_EQ(rows[3].valueText(), "Orvanta Test Root");
    EXPECT_EQ(rows[4].label, "Validity period");
    EXPECT_EQ(rows[4].valueText(), "2020-01-31 08:00:00 - 2045-01-31 08:00:00");
    EXPECT_EQ(rows[5].label, "Public key");
    EXPECT_EQ(rows[5].valueText(), hexRow(subjectKey.publicKey()));
    EXPECT_EQ(rows[5].valueText().size(), 65u * 3);
    EXPECT_EQ(rows[6].label, "Base64 encode");
    EXPECT_EQ(rows[6].valueText(), base64Encode(der.data(), der.size()));
}

TEST_F(CertificateRowsTest, VersionOneCertificateShowsV1AndNoExtensionRow) {
    CertificateRequest shape;
    shape.version = 1;
    const std::vector<Row> rows = rowsOf(shape);
    EXPECT_EQ(value(rows, "Version"), "V1");
    EXPECT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows.back().label, "Base64 encode");
}

TEST_F(CertificateRowsTest, TransportsExtensionShowsOctetsAndNamesOfTheLastOctet) {
    struct Case {
        std::vector<uint8_t> value;
        std::string text;
    };
    const Case cases[] = {
        {{0x03, 0x02, 0x04, 0x30}, "03 02 04 30 ( USB, NFC )"},
        {{0x03, 0x02, 0x04, 0xF0},
         "03 02 04 F0 ( BluetoothRadio, BluetoothLowEnergyRadio, USB, NFC )"},
        {{0x03, 0x02, 0x00, 0x0F}, "03 02 00 0F "},
        {{0x03, 0x02, 0x07, 0x80}, "03 02 07 80 ( BluetoothRadio )"},
        {{0x03, 0x02, 0x04, 0x00}, "03 02 04 00 "},
    };
    for (const Case& c : cases) {
        CertificateRequest shape;
        shape.transports = c.value;
        const std::vector<Row> rows = rowsOf(shape);
        ASSERT_EQ(rows.size(), 8u);
        EXPECT_EQ(rows[7].label, "Extentions");
        EXPECT_EQ(rows[7].valueText(), c.text);
    }
}

TEST(TransportsText, EmptyValueGivesEmptyText) {
    EXPECT_EQ(transportsText(nullptr, 0), "");
    const uint8_t one[] = {0x20};
    EXPECT_EQ(transportsText(one, 0), "");
    EXPECT_EQ(transportsText(one, 1), "20 ( USB )");
}

TEST_F(CertificateRowsTest, TimesOfAnyYearAreShown) {
    CertificateRequest shape;
    shape.notBefore = "19500101000000";
    shape.notAfter = "99991231235959";
    const std::vector<Row> rows = rowsOf(shape);
    EXPECT_EQ(value(rows, "Validity period"), "1950-01-01 00:00:00 - 9999-12-31 23:59:59");
}

TEST_F(CertificateRowsTest, TimesAreShownInLocalTime) {
    {
        ScopedEnvironment west("TZ", "XST+05");  // five hours behind UTC
        EXPECT_EQ(certificateTimeText(2020, 1, 31, 8, 0, 0), "2020-01-31 03:00:00");
        EXPECT_EQ(certificateTimeText(9999, 12, 31, 23, 59, 59), "9999-12-31 18:59:59");
        // The first instant of year 0 lies in year -1 locally: shown in UTC instead.
        EXPECT_EQ(certificateTimeText(0, 1, 1, 0, 0, 0), "0000-01-01 00:00:00 UTC");
        EXPECT_EQ(certificateTimeText(1899, 6, 1, 12, 0, 0), "1899-06-01 07:00:00");
    }
    {
        ScopedEnvironment east("TZ", "XST-02");  // two hours ahead
        EXPECT_EQ(certificateTimeText(2020, 1, 31, 8, 0, 0), "2020-01-31 10:00:00");
        // Locally already in the year 10000: shown in UTC.
        EXPECT_EQ(certificateTimeText(9999, 12, 31, 23, 59, 59), "9999-12-31 23:59:59 UTC");
        EXPECT_EQ(certificateTimeText(3001, 3, 1, 0, 0, 0), "3001-03-01 02:00:00");
    }
}

TEST_F(CertificateRowsTest, LongSerialAndNamesAreShownWhole) {
    CertificateRequest shape;
    shape.serial.assign(32, 0x7E);
    std::string longName(200, 'n');
    shape.subject = {{"O", std::string(200, 'o')}, {"CN", longName}};
    shape.issuer = {{"CN", longName}};
    const std::vector<Row> rows = rowsOf(shape);
    EXPECT_EQ(value(rows, "Serial number").size(), 32u * 3);
    EXPECT_EQ(value(rows, "User"), std::string(200, 'o') + ", " + longName);
    EXPECT_EQ(value(rows, "Issuer"), longName);
}

TEST_F(CertificateRowsTest, IssuerWithoutCommonNameShowsItsLastValue) {
    CertificateRequest shape;
    shape.issuer = {{"C", "US"}, {"O", "Orvanta Issuing"}};
    const std::vector<Row> rows = rowsOf(shape);
    EXPECT_EQ(value(rows, "Issuer"), "Orvanta Issuing");
}

TEST_F(CertificateRowsTest, P384KeyIsShownWholeAndFailsTheFido2Check) {
    const LibcryptoKey p384 = LibcryptoKey::p384();
    std::vector<uint8_t> der = makeCertificate(CertificateRequest{}, p384.get(), issuerKey.pkey());
    Fido2CertPage page;
    std::vector<uint8_t> signedData(100, 0x55);
    std::vector<uint8_t> signature = subjectKey.sign(signedData);
    ASSERT_EQ(show(page, der, signedData, signature, CertificateVariant::Fido2), 0);
    EXPECT_EQ(page.rows()[6].valueText().size(), 97u * 3);
    EXPECT_EQ(page.rows().back().label, "Verify Result");
    EXPECT_EQ(page.rows().back().valueText(), "NO");
}

TEST_F(CertificateRowsTest, SignatureBitStringWithUnusedBitsStillDecodes) {
    std::vector<uint8_t> original = makeCertificate(CertificateRequest{}, subjectKey, issuerKey);
    EXPECT_FALSE(nonZeroSignatureUnusedBits(original.data(), original.size()).has_value());
    // 3 is a count the library takes; 0x80 is none, and only the lenient retry reads it.
    for (uint8_t bits : {uint8_t{0x03}, uint8_t{0x80}}) {
        std::vector<uint8_t> patched = withSignatureUnusedBits(original, bits);
        ASSERT_TRUE(nonZeroSignatureUnusedBits(patched.data(), patched.size()).has_value());
        if (bits == 0x80) {
            const unsigned char* p = patched.data();
            X509* strict = d2i_X509(nullptr, &p, static_cast<long>(patched.size()));
            EXPECT_EQ(strict, nullptr) << "the library should refuse the unused-bits octet";
            X509_free(strict);
        }

        U2fCertPage page;
        std::vector<uint8_t> signedData(130, 0x01);
        std::vector<uint8_t> signature = subjectKey.sign(signedData);
        ASSERT_EQ(show(page, patched, signedData, signature, CertificateVariant::U2f), 0);
        EXPECT_TRUE(prompts.messages.empty());
        EXPECT_EQ(labels(page), (std::vector<std::string>{"Version", "Serial number", "User",
                                                          "Issuer", "Validity period", "Public key",
                                                          "Base64 encode", "Verify Result"}));
        EXPECT_EQ(page.rows()[7].valueText(), "YES");
        // Base64 and file keep the bytes as received.
        EXPECT_EQ(page.rows()[6].valueText(), base64Encode(patched.data(), patched.size()));
        EXPECT_EQ(TempDir::read(page.certificateFileName), patched);
    }
}

// Made with: openssl req -x509 -newkey ed25519 -nodes -days 9000 -subj "/C=US/O=Orvanta
// Test/OU=Authenticator Attestation/CN=Ed25519 Attestation" -addext
// "1.3.6.1.4.1.45724.2.1.1=DER:03020430" (the end of its validity is a GeneralizedTime).
constexpr const char* ED25519_CERTIFICATE_PEM = R"(-----BEGIN CERTIFICATE-----
MIIB+DCCAaqgAwIBAgIUN14RfOZzLLr5yMZibpIZr+aNp3EwBQYDK2VwMGYxCzAJ
BgNVBAYTAlVTMRUwEwYDVQQKDAxPcnZhbnRhIFRlc3QxIjAgBgNVBAsMGUF1dGhl
bnRpY2F0b3IgQXR0ZXN0YXRpb24xHDAaBgNVBAMME0VkMjU1MTkgQXR0ZXN0YXRp
b24wIBcNMjYxMjA5MDAyMTAyWhgPMjA1MTA3MzEwMDIxMDJaMGYxCzAJBgNVBAYT
AlVTMRUwEwYDVQQKDAxPcnZhbnRhIFRlc3QxIjAgBgNVBAsMGUF1dGhlbnRpY2F0
b3IgQXR0ZXN0YXRpb24xHDAaBgNVBAMME0VkMjU1MTkgQXR0ZXN0YXRpb24wKjAF
BgMrZXADIQBuneo4j9BcUEv2CV1GTgagG+exmrqbEYs7ZekWmNgMx6NoMGYwHQYD
VR0OBBYEFA7lbx0pd3EJCLWua3Z1s4mFcRqKMB8GA1UdIwQYMBaAFA7lbx0pd3EJ
CLWua3Z1s4mFcRqKMA8GA1UdEwEB/wQFMAMBAf8wEwYLKwYBBAGC5RwCAQEEBAMC
BDAwBQYDK2VwA0EA3VCwyzy5huUAod9lryh1zXupEypAMuJXw8Fz0QSBX8uMp6ZO
IqwtHdhv2IbTioTmB3lmBYQOOilA2MHnuXypBw==
-----END CERTIFICATE-----
)";

TEST_F(CertificateRowsTest, Ed25519CertificateMadeByOpensslShowsEveryRow) {
    std::string pem = ED25519_CERTIFICATE_PEM;
    const size_t begin = pem.find('\n') + 1;
    std::vector<uint8_t> der = base64Decode(pem.substr(begin, pem.find("-----END") - begin));
    ASSERT_EQ(der.size(), 508u);
    std::vector<Row> rows;
    ASSERT_TRUE(certificateRows(der.data(), der.size(), rows));
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Version", "V3"},
        {"Serial number", "37 5E 11 7C E6 73 2C BA F9 C8 C6 62 6E 92 19 AF E6 8D A7 71 "},
        {"User", "US, Orvanta Test, Authenticator Attestation, Ed25519 Attestation"},
        {"Issuer", "Ed25519 Attestation"},
        {"Validity period", "2026-12-09 00:21:02 - 2051-07-31 00:21:02"},
        {"Public key",
         "6E 9D EA 38 8F D0 5C 50 4B F6 09 5D 46 4E 06 A0 1B E7 B1 9A BA 9B 11 8B "
         "3B 65 E9 16 98 D8 0C C7 "},
        {"Base64 encode", base64Encode(der.data(), der.size())},
        {"Extentions", "03 02 04 30 ( USB, NFC )"},
    };
    ASSERT_EQ(rows.size(), expected.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].label, expected[i].first);
        EXPECT_EQ(rows[i].valueText(), expected[i].second);
    }
}

TEST_F(CertificateRowsTest, UnknownCriticalExtensionAndRsaOrEd25519KeysDecode) {
    const std::vector<uint8_t> unknownOid = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x99, 0x17};
    const std::vector<uint8_t> transportsOid = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82,
                                                0xE5, 0x1C, 0x02, 0x01, 0x01};
    HandmadeCertificate handmade;
    handmade.subjectPublicKeyInfo = p256SubjectPublicKeyInfo(subjectKey.publicKey());
    handmade.extensions = {derExtension(unknownOid, true, {0x05, 0x00}),
                           derExtension(transportsOid, false, {0x03, 0x02, 0x05, 0x20})};
    std::vector<uint8_t> der = assemble(handmade);
    std::vector<Row> rows;
    ASSERT_TRUE(certificateRows(der.data(), der.size(), rows));
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(value(rows, "Public key"), hexRow(subjectKey.publicKey()));
    EXPECT_EQ(value(rows, "Extentions"), "03 02 05 20 ( USB )");

    // The key row shows the subjectPublicKey of any key type: the RSAPublicKey SEQUENCE,
    // the 32 bytes of an Ed25519 key.
    const LibcryptoKey rsa = LibcryptoKey::rsa2048();
    const LibcryptoKey ed25519 = LibcryptoKey::ed25519(5);
    for (const LibcryptoKey* key : {&rsa, &ed25519}) {
        handmade.subjectPublicKeyInfo = key->subjectPublicKeyInfo();
        der = assemble(handmade);
        ASSERT_TRUE(certificateRows(der.data(), der.size(), rows));
        const std::vector<uint8_t>& spki = handmade.subjectPublicKeyInfo;
        const size_t keyLength = key == &rsa ? 270 : 32;  // 2048-bit modulus, exponent 65537
        EXPECT_EQ(value(rows, "Public key"),
                  hexRow(std::vector<uint8_t>(spki.end() - keyLength, spki.end())));
    }
}

TEST_F(CertificateRowsTest, FieldsTheLibraryRefusesAreShownAsEncoded) {
    HandmadeCertificate handmade;
    handmade.subjectPublicKeyInfo = p256SubjectPublicKeyInfo(subjectKey.publicKey());
    handmade.serial = {0x00, 0x01};  // a redundant leading octet
    // Broken UTF-8, and a BMPString with a surrogate pair: neither converts for the library.
    handmade.subject =
        derName({{{OID_ORGANIZATION, der_tag::UTF8_STRING, {'K', 0xC3, 'y'}}},
                 {{OID_COMMON_NAME, der_tag::BMP_STRING, textBytes("Attestation")}}});
    handmade.issuer =
        derName({{{OID_COMMON_NAME, der_tag::BMP_STRING, {0x00, 'R', 0xD8, 0x3D, 0xDE, 0x00}}}});
    std::vector<uint8_t> der = assemble(handmade);
    {
        const unsigned char* p = der.data();
        X509* strict = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
        EXPECT_EQ(strict, nullptr) << "the library should refuse these fields";
        X509_free(strict);
    }
    std::vector<Row> rows;
    ASSERT_TRUE(certificateRows(der.data(), der.size(), rows));
    EXPECT_EQ(value(rows, "Serial number"), "00 01 ");
    // The odd BMP bytes "At", "te", ... read as CJK code points; what counts is that the
    // name shows at all and the UTF-8 slip becomes U+FFFD.
    EXPECT_EQ(value(rows, "User").substr(0, 7), "K\xEF\xBF\xBDy, ");
    EXPECT_EQ(value(rows, "Issuer"), "R\xF0\x9F\x98\x80");
    EXPECT_EQ(value(rows, "Base64 encode"), base64Encode(der.data(), der.size()));
}

TEST_F(CertificateRowsTest, UnknownVersionsAndImpossibleTimesDoNotDecode) {
    HandmadeCertificate good;
    good.subjectPublicKeyInfo = p256SubjectPublicKeyInfo(subjectKey.publicKey());
    std::vector<uint8_t> der = assemble(good);
    std::vector<Row> rows;
    ASSERT_TRUE(certificateRows(der.data(), der.size(), rows));

    std::vector<HandmadeCertificate> bad(5, good);
    bad[0].version = {0xA0, 0x03, 0x02, 0x01, 0x05};  // version 6
    bad[1].notBefore = "200230080000Z";               // 30 February
    bad[2].notBefore = "201331080000Z";               // month 13
    bad[3].notAfter = "4501310800Z";                  // no seconds
    bad[4].notAfter = "450131080000+0100";            // an offset
    for (const HandmadeCertificate& certificate : bad) {
        der = assemble(certificate);
        rows.clear();
        EXPECT_FALSE(certificateRows(der.data(), der.size(), rows));
        EXPECT_TRUE(rows.empty());
    }
    // Leap days are real.
    good.notBefore = "240229000000Z";
    der = assemble(good);
    ASSERT_TRUE(certificateRows(der.data(), der.size(), rows));
    EXPECT_EQ(value(rows, "Validity period").substr(0, 10), "2024-02-29");
}

TEST_F(CertificateRowsTest, BytesThatAreNoCertificateDoNotDecode) {
    std::vector<uint8_t> der = makeCertificate(CertificateRequest{}, subjectKey, issuerKey);
    std::vector<std::vector<uint8_t>> bad = {
        {},
        {0x30},
        {0x30, 0x82, 0xFF, 0xFF, 0x30},
        std::vector<uint8_t>(der.begin(), der.begin() + der.size() / 2),
    };
    std::vector<uint8_t> tbsBroken = der;
    tbsBroken[6] ^= 0xFF;  // inside the tbsCertificate header
    bad.push_back(tbsBroken);
    for (const auto& bytes : bad) {
        std::vector<Row> rows;
        EXPECT_FALSE(certificateRows(bytes.data(), bytes.size(), rows));
        EXPECT_TRUE(rows.empty());
        EXPECT_FALSE(nonZeroSignatureUnusedBits(bytes.data(), bytes.size()).has_value());
    }
}

// ---- showCertificateDetails on the pages ----

TEST_F(CertificateRowsTest, Fido2AttestationCertificateVerifiesWithItsKey) {
    CertificateRequest shape;
    shape.transports = std::vector<uint8_t>{0x03, 0x02, 0x04, 0x30};
    std::vector<uint8_t> der = makeCertificate(shape, subjectKey, issuerKey);
    std::vector<uint8_t> signedData(37 + 32, 0xA5);
    std::vector<uint8_t> signature = subjectKey.sign(signedData);

    Fido2CertPage page;
    ASSERT_EQ(show(page, der, signedData, signature, CertificateVariant::Fido2), 0);
    EXPECT_EQ(labels(page),
              (std::vector<std::string>{" ", "Version", "Serial number", "User", "Issuer",
                                        "Validity period", "Public key", "Base64 encode",
                                        "Extentions", "Verify Result"}));
    EXPECT_EQ(page.rows()[0].valueText(), " ");
    EXPECT_EQ(page.rows().back().valueText(), "YES");

    // The file holds the certificate, is private and is remembered.
    EXPECT_EQ(TempDir::read(page.certificateFileName), der);
    struct stat info = {};
    ASSERT_EQ(stat(page.certificateFileName.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // One changed byte of the signed data: "NO".
    signedData[0] ^= 1;
    Fido2CertPage other;
    show(other, der, signedData, signature, CertificateVariant::Fido2);
    EXPECT_EQ(other.rows().back().valueText(), "NO");
}

TEST_F(CertificateRowsTest, Fido2CheckRunsOnlyForSubjectsContainingAttestation) {
    CertificateRequest shape;
    shape.subject = {
        {"C", "US"}, {"O", "Orvanta Test"}, {"OU", "authenticator attestation"}, {"CN", "Key"}};
    std::vector<uint8_t> der = makeCertificate(shape, subjectKey, issuerKey);
    std::vector<uint8_t> signedData(69, 1);
    std::vector<uint8_t> signature = subjectKey.sign(signedData);
    Fido2CertPage page;
    ASSERT_EQ(show(page, der, signedData, signature, CertificateVariant::Fido2), 0);
    EXPECT_EQ(page.rowCount(), 8);
    EXPECT_EQ(page.rows().back().label, "Base64 encode");

    // The U2F page checks whatever the subject says.
    U2fCertPage u2f;
    show(u2f, der, signedData, signature, CertificateVariant::U2f);
    EXPECT_EQ(u2f.rows().back().label, "Verify Result");
    EXPECT_EQ(u2f.rows().back().valueText(), "YES");
    EXPECT_EQ(u2f.rows().front().label, "Version");  // no separator row
}

TEST_F(CertificateRowsTest, UndecodableCertificateShowsTheVariantsMessage) {
    const uint8_t junk[] = {0x30, 0x03, 0x02, 0x01, 0x01};
    Fido2CertPage fido2;
    fido2.certificateFileName = "/nonexistent/previous.cer";
    EXPECT_EQ(showCertificateDetails(fido2, junk, sizeof junk, junk, sizeof junk, junk, sizeof junk,
                                     CertificateVariant::Fido2, prompts),
              1);
    EXPECT_EQ(labels(fido2), std::vector<std::string>{" "});  // the separator stays
    EXPECT_EQ(fido2.certificateFileName, "/nonexistent/previous.cer");

    U2fCertPage u2f;
    EXPECT_EQ(showCertificateDetails(u2f, junk, sizeof junk, junk, sizeof junk, junk, sizeof junk,
                                     CertificateVariant::U2f, prompts),
              1);
    EXPECT_EQ(u2f.rowCount(), 0);
    ASSERT_EQ(prompts.messages.size(), 2u);
    EXPECT_EQ(prompts.messages[0].text, "Fetch certifications failed2222!");
    EXPECT_EQ(prompts.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(prompts.messages[1].text, "Fetch certifications failed6666!");
    EXPECT_EQ(prompts.messages[1].icon, MessageIcon::Error);
    EXPECT_TRUE(temp.entries().empty());
}

// ---- name texts ----

TEST(NameText, AttributeValuesOfTheStringTypesBecomeUtf8) {
    const uint8_t utf8[] = {'K', 0xC3, 0xA4, 'y'};
    EXPECT_EQ(attributeValueText(der_tag::UTF8_STRING, utf8, sizeof utf8), "K\xC3\xA4y");
    const uint8_t brokenUtf8[] = {'a', 0xC3, 'b', 0xFF, 0xE2, 0x82};
    EXPECT_EQ(attributeValueText(der_tag::UTF8_STRING, brokenUtf8, sizeof brokenUtf8),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    const uint8_t bmp[] = {0x00, 'O', 0x00, 0xE4, 0xD8, 0x3D, 0xDE, 0x00};
    EXPECT_EQ(attributeValueText(der_tag::BMP_STRING, bmp, sizeof bmp),
              "O\xC3\xA4\xF0\x9F\x98\x80");
    const uint8_t latin1[] = {'c', 0xE9};
    EXPECT_EQ(attributeValueText(der_tag::T61_STRING, latin1, sizeof latin1), "c\xC3\xA9");
    const uint8_t control[] = {'a', 0x0A, 'b'};
    EXPECT_EQ(attributeValueText(der_tag::PRINTABLE_STRING, control, sizeof control), "a?b");
    const uint8_t octets[] = {0x01, 0xAB};
    EXPECT_EQ(attributeValueText(der_tag::OCTET_STRING, octets, sizeof octets), "#01AB");
}

TEST(NameText, MultiValuedRdnsJoinWithPlus) {
    const std::vector<uint8_t> ou = {0x55, 0x04, 0x0B};
    const std::vector<uint8_t> name = derName(
        {{{ou, der_tag::UTF8_STRING, {'A'}}, {OID_COMMON_NAME, der_tag::UTF8_STRING, {'B'}}},
         {{ou, der_tag::UTF8_STRING, {'C'}}}});
    std::optional<std::vector<NameAttribute>> attributes = nameAttributes(name);
    ASSERT_TRUE(attributes.has_value());
    EXPECT_EQ(nameValuesText(*attributes), "A + B, C");
    EXPECT_EQ(nameDisplayText(*attributes), "B");
    std::optional<std::vector<NameAttribute>> empty = nameAttributes(derName({}));
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(nameValuesText(*empty), "");
    EXPECT_EQ(nameDisplayText(*empty), "");
    // No Name: a value without its type, a cut, bytes after the Name.
    EXPECT_FALSE(
        nameAttributes(std::vector<uint8_t>{0x30, 0x06, 0x31, 0x04, 0x30, 0x02, 0x0C, 0x00})
            .has_value());
    EXPECT_FALSE(nameAttributes(std::vector<uint8_t>(name.begin(), name.end() - 1)).has_value());
    std::vector<uint8_t> longer = name;
    longer.push_back(0x00);
    EXPECT_FALSE(nameAttributes(longer).has_value());
}

}  // namespace
}  // namespace orvanta::test
