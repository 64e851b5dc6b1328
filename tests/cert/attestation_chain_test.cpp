#include "cert/attestation_chain.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_pki.h"

namespace orvanta::test {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(AttestationChain, EachCertificateAgainstTheNextAndTheLastAgainstTheRoots) {
    Pkey root = makeKey(KeyKind::P256);
    Pkey intermediate = makeKey(KeyKind::Rsa2048);
    Pkey attestation = makeKey(KeyKind::Ed25519);
    const Bytes rootDer = makeCertificate(rootRequest("Root"), root.get(), root.get());
    const Bytes intermediateDer = makeCertificate(issuedRequest("Intermediate", "Root", true),
                                                  intermediate.get(), root.get());
    const Bytes leafDer = makeCertificate(issuedRequest("Attestation", "Intermediate"),
                                          attestation.get(), intermediate.get());
    const std::vector<Bytes> chain = {leafDer, intermediateDer};
    const std::vector<Bytes> roots = {rootDer};

    std::vector<ChainCheck> result = checkAttestationChain(chain, roots);
    ASSERT_EQ(result.size(), 2u);
    EXPECT_TRUE(result[0].ok) << result[0].reason;  // RSA signature over the leaf
    EXPECT_TRUE(result[1].ok) << result[1].reason;  // ECDSA by the root

    // Without metadata the last certificate cannot be checked; the rest still can.
    result = checkAttestationChain(chain, {});
    EXPECT_TRUE(result[0].ok);
    EXPECT_FALSE(result[1].ok);
    EXPECT_FALSE(result[1].reason.empty());

    // The wrong order, a foreign root, an undecodable certificate: NO with a reason.
    const std::vector<Bytes> swapped = {intermediateDer, leafDer};
    result = checkAttestationChain(swapped, roots);
    EXPECT_FALSE(result[0].ok);
    EXPECT_FALSE(result[1].ok);
    Pkey other = makeKey(KeyKind::P256);
    const std::vector<Bytes> otherRoots = {
        makeCertificate(rootRequest("Root"), other.get(), other.get())};
    EXPECT_FALSE(checkAttestationChain(chain, otherRoots)[1].ok);
    const std::vector<Bytes> broken = {Bytes{0x30, 0x03, 0x02, 0x01, 0x01}, intermediateDer};
    result = checkAttestationChain(broken, roots);
    EXPECT_FALSE(result[0].ok);
    EXPECT_TRUE(result[1].ok);
    // A chain that ends in the root itself.
    const std::vector<Bytes> withRoot = {leafDer, intermediateDer, rootDer};
    for (const ChainCheck& check : checkAttestationChain(withRoot, roots)) {
        EXPECT_TRUE(check.ok) << check.reason;
    }
}

TEST(AttestationChain, PackedAttestationCertificateRules) {
    Pkey ca = makeKey(KeyKind::P256);
    Pkey key = makeKey(KeyKind::P256);
    const Bytes aaguid(16, 0xA5);
    CertificateRequest good = issuedRequest("", "CA");
    good.subject = {{"C", "SE"},
                    {"O", "Orvanta"},
                    {"OU", "Authenticator Attestation"},
                    {"CN", "Orvanta Attestation"}};
    good.aaguidExtension = aaguid;
    EXPECT_TRUE(
        packedAttestationRequirements(makeCertificate(good, key.get(), ca.get()), aaguid).empty());

    CertificateRequest bad = good;
    bad.subject = {{"C", "Sweden"}, {"O", "Orvanta"}, {"CN", "Orvanta Attestation"}};
    bad.ca = true;
    bad.aaguidExtension = Bytes(16, 0x00);
    bad.aaguidCritical = true;
    const std::vector<std::string> unmet =
        packedAttestationRequirements(makeCertificate(bad, key.get(), ca.get()), aaguid);
    EXPECT_EQ(unmet, (std::vector<std::string>{
                         "subject C (country code)", "subject OU \"Authenticator Attestation\"",
                         "basic constraints CA false", "AAGUID extension not critical",
                         "AAGUID extension equal to the authenticator data's"}));
}

}  // namespace
}  // namespace orvanta::test
