#include "mds/metadata_blob.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/test_pki.h"

namespace orvanta::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

class MetadataBlobTest : public ::testing::Test {
  protected:
    MetadataBlobTest() {
        rootDer = makeCertificate(rootRequest("Test Metadata Root"), root.get(), root.get());
    }

    // A BLOB signed by a fresh signer of `kind` whose certificate the root issued.
    std::string blob(const std::string& payload, KeyKind kind = KeyKind::Rsa2048,
                     const char* alg = "RS256") {
        Pkey signer = makeKey(kind);
        const Bytes signerDer = makeCertificate(
            issuedRequest("Test Metadata Signer", "Test Metadata Root"), signer.get(), root.get());
        return signJwt(payload, alg, signer.get(), {signerDer});
    }

    std::string payload(const std::string& nextUpdate = "2999-01-01") const {
        return R"({"legalHeader":"test","no":7,"nextUpdate":")" + nextUpdate +
               R"(","entries":[)"
               R"({"aaguid":"4f525641-4e54-412d-5649-525455414c31",)"
               R"("metadataStatement":{"description":"Orvanta Virtual Key",)"
               R"("attestationRootCertificates":[")" +
               base64Standard(rootDer) +
               R"("]},"statusReports":[)"
               R"({"status":"FIDO_CERTIFIED","effectiveDate":"2020-01-01"},)"
               R"({"status":"REVOKED","effectiveDate":"2024-05-01"},)"
               R"({"status":"FIDO_CERTIFIED_L1","effectiveDate":"2022-01-01"}]},)"
               R"({"attestationCertificateKeyIdentifiers":["00112233445566778899AABBCCDDEEFF00112233"],)"
               R"("metadataStatement":{"description":"Orvanta U2F"},)"
               R"("statusReports":[{"status":"FIDO_CERTIFIED","effectiveDate":"2019-01-01"}]}]})";
    }

    MetadataLoad load(const std::string& jwt, const Bytes& trusted) const {
        return loadMetadataBlob(jwt, trusted, std::time(nullptr));
    }

    Pkey root = makeKey(KeyKind::P256);
    Bytes rootDer;
};

TEST_F(MetadataBlobTest, VerifiedBlobFindsEntriesByAaguidAndKeyIdentifier) {
    const std::string pem = toPem(rootDer);
    for (const auto& [kind, alg] :
         {std::pair{KeyKind::Rsa2048, "RS256"}, std::pair{KeyKind::P256, "ES256"},
          std::pair{KeyKind::Ed25519, "EdDSA"}}) {
        // The root given as PEM with text around it, as openssl writes it, or as DER.
        const MetadataLoad loaded = load(blob(payload(), kind, alg), bytesOf("root\n" + pem));
        ASSERT_TRUE(loaded.blob) << alg << ": " << loaded.error;
        EXPECT_TRUE(loaded.warning.empty());
        EXPECT_EQ(loaded.blob->serial, 7u);
        EXPECT_EQ(loaded.blob->entries.size(), 2u);
    }
    const MetadataLoad loaded = load(blob(payload()), rootDer);
    ASSERT_TRUE(loaded.blob) << loaded.error;
    const Bytes aaguid = {0x4F, 0x52, 0x56, 0x41, 0x4E, 0x54, 0x41, 0x2D,
                          0x56, 0x49, 0x52, 0x54, 0x55, 0x41, 0x4C, 0x31};
    const MetadataEntry* fido2 = loaded.blob->findByAaguid(aaguid);
    ASSERT_NE(fido2, nullptr);
    EXPECT_EQ(fido2->description, "Orvanta Virtual Key");
    ASSERT_EQ(fido2->attestationRoots.size(), 1u);
    EXPECT_EQ(fido2->attestationRoots[0], rootDer);
    // The latest report by date, wherever it stands in the list.
    ASSERT_TRUE(fido2->latestStatus);
    EXPECT_EQ(fido2->latestStatus->status, "REVOKED");
    EXPECT_EQ(fido2->latestStatus->effectiveDate, "2024-05-01");
    EXPECT_TRUE(isCompromiseStatus("REVOKED"));
    EXPECT_TRUE(isCompromiseStatus("ATTESTATION_KEY_COMPROMISE"));
    EXPECT_FALSE(isCompromiseStatus("FIDO_CERTIFIED_L1"));

    std::array<uint8_t, 20> id = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99,
                                  0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x00, 0x11, 0x22, 0x33};
    const MetadataEntry* u2f = loaded.blob->findByKeyIdentifier(id);
    ASSERT_NE(u2f, nullptr);
    EXPECT_EQ(u2f->description, "Orvanta U2F");
    id[0] = 0x01;
    EXPECT_EQ(loaded.blob->findByKeyIdentifier(id), nullptr);
    EXPECT_EQ(loaded.blob->findByAaguid(Bytes(16, 0)), nullptr);
}

TEST_F(MetadataBlobTest, TamperedForeignMalformedAndOutdatedBlobs) {
    const std::string good = blob(payload());

    // One character of the payload changed: the signature no longer holds.
    std::string tampered = good;
    char& changed = tampered[good.find('.') + 5];
    changed = changed == 'A' ? 'B' : 'A';
    MetadataLoad loaded = load(tampered, rootDer);
    EXPECT_FALSE(loaded.blob);
    EXPECT_NE(loaded.error.find("signature does not verify"), std::string::npos) << loaded.error;

    // Signed under another root.
    Pkey other = makeKey(KeyKind::P256);
    const Bytes otherRoot = makeCertificate(rootRequest("Other Root"), other.get(), other.get());
    loaded = load(good, otherRoot);
    EXPECT_FALSE(loaded.blob);
    EXPECT_NE(loaded.error.find("does not lead to the trusted root"), std::string::npos);

    for (const std::string& bad : {std::string("abc"), std::string("a.b"), good + ".x",
                                   std::string("!!.??.**"), std::string()}) {
        loaded = load(bad, rootDer);
        EXPECT_FALSE(loaded.blob) << bad;
        EXPECT_FALSE(loaded.error.empty()) << bad;
    }
    EXPECT_FALSE(load(good, bytesOf("not a certificate")).blob);

    // Past its next update: used, with a warning.
    loaded = load(blob(payload("2001-01-01")), rootDer);
    ASSERT_TRUE(loaded.blob) << loaded.error;
    EXPECT_NE(loaded.warning.find("2001-01-01"), std::string::npos);
}

TEST_F(MetadataBlobTest, HeaderShapeAndNestingAreCheckedBeforeThePayload) {
    const std::string signature = "." + base64Url("signature");
    // A header without a chain is refused for that, before the payload is looked at.
    MetadataLoad loaded = load(base64Url(R"({"alg":"ES256"})") + ".!!!" + signature, rootDer);
    EXPECT_NE(loaded.error.find("has no certificate chain"), std::string::npos) << loaded.error;
    // Nesting far deeper than any BLOB's, in the header and in a payload.
    const std::string deep = std::string(5000, '[') + std::string(5000, ']');
    loaded = load(base64Url(R"({"alg":"ES256","x5c":)" + deep + "}") + ".e30" + signature, rootDer);
    EXPECT_NE(loaded.error.find("header cannot be read"), std::string::npos) << loaded.error;
    EXPECT_FALSE(decodeMetadataPayload(bytesOf(R"({"entries":[],"x":)" + deep + "}")));
    // Brackets in strings are text.
    const std::string inText = R"({"entries":[{"a":[[{"b":")" + std::string(40, '[') + R"("}]]}]})";
    EXPECT_TRUE(decodeMetadataPayload(bytesOf(inText)));
}

TEST_F(MetadataBlobTest, OnlyRegularFilesOfAtMost64MegabytesAreRead) {
    TempDir dir;
    const std::string root = dir.file("root.der");
    {
        std::ofstream out(root, std::ios::binary);
        out.write(reinterpret_cast<const char*>(rootDer.data()),
                  static_cast<std::streamsize>(rootDer.size()));
    }
    // A FIFO no one writes to is refused at once instead of waited on.
    const std::string fifo = dir.file("blob.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    MetadataLoad loaded = loadMetadataBlobFiles(fifo, root, std::time(nullptr));
    EXPECT_EQ(loaded.error, "Cannot read the metadata BLOB " + fifo + " (not a regular file).");
    // One byte past 64 MB (sparse: nothing is written) is refused before it is read.
    const std::string large = dir.file("large.jwt");
    std::ofstream(large).close();
    ASSERT_EQ(truncate(large.c_str(), 64 * 1024 * 1024 + 1), 0);
    loaded = loadMetadataBlobFiles(large, root, std::time(nullptr));
    EXPECT_EQ(loaded.error, "Cannot read the metadata BLOB " + large + " (larger than 64 MB).");
    // The root is held to the same rules.
    ASSERT_EQ(truncate(large.c_str(), 0), 0);
    loaded = loadMetadataBlobFiles(large, dir.path(), std::time(nullptr));
    EXPECT_EQ(loaded.error,
              "Cannot read the trusted root certificate " + dir.path() + " (not a regular file).");
}

TEST_F(MetadataBlobTest, KeyIdentifierIsSha1OfTheSubjectPublicKeyBits) {
    Pkey key = makeKey(KeyKind::P256);
    const Bytes der =
        makeCertificate(issuedRequest("Attestation", "Test Metadata Root"), key.get(), root.get());
    unsigned char* spki = nullptr;
    const int length = i2d_PUBKEY(key.get(), &spki);
    ASSERT_GT(length, 65);
    std::array<uint8_t, 20> expected{};
    SHA1(spki + length - 65, 65, expected.data());  // the uncompressed point ends the SPKI
    OPENSSL_free(spki);
    EXPECT_EQ(attestationKeyIdentifier(der), expected);
    EXPECT_EQ(attestationKeyIdentifier(Bytes{0x30, 0x00}), std::nullopt);
}

}  // namespace
}  // namespace orvanta::test
