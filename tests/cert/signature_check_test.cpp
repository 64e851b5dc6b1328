#include "cert/signature_check.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "support/p256_test_key.h"
#include "support/test_pki.h"

namespace orvanta {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes spkiOf(const test::P256TestKey& key) {
    auto point = key.publicKey();
    return test::p256SubjectPublicKeyInfo(Bytes(point.begin(), point.end()));
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

// --- FIDO2 packed attestation ---

class AttestationSignature : public ::testing::Test {
  protected:
    int check(const Bytes& key, std::optional<int64_t> alg, const Bytes& data,
              const Bytes& signature) {
        return verifyAttestationSignature(key, alg, data, signature);
    }

    test::P256TestKey attestationKey{7};
    Bytes authData = concat({Bytes(32, 0xa1), {0x41, 0x00, 0x00, 0x00, 0x05}, Bytes(60, 0x3c)});
    Bytes clientDataHash = Bytes(32, 0xcd);
    Bytes signedData = concat({authData, clientDataHash});
    Bytes signature = attestationKey.sign(signedData);
};

TEST_F(AttestationSignature, Es256SignatureGivesZeroWithOrWithoutAlg) {
    EXPECT_EQ(check(spkiOf(attestationKey), COSE_ES256, signedData, signature), 0);
    EXPECT_EQ(check(spkiOf(attestationKey), std::nullopt, signedData, signature), 0);
}

TEST_F(AttestationSignature, ChangedDataOrOtherKeyFails) {
    Bytes changed = signedData;
    changed[authData.size()] ^= 0x80;  // first byte of the client data hash
    EXPECT_EQ(check(spkiOf(attestationKey), COSE_ES256, changed, signature), SIGNATURE_INVALID);

    // An issuing certificate whose key did not sign.
    test::P256TestKey issuer(8);
    EXPECT_EQ(check(spkiOf(issuer), COSE_ES256, signedData, signature), SIGNATURE_INVALID);
}

TEST_F(AttestationSignature, EcdsaIntegersOfAnyDerLengthAreRead) {
    // Keys do not always write minimal INTEGERs: a zero octet too many still verifies.
    test::RawSignature raw = attestationKey.signRaw(signedData.data(), signedData.size());
    raw.r.insert(raw.r.begin(), {0x00, 0x00});
    raw.s.insert(raw.s.begin(), 0x00);
    EXPECT_EQ(
        check(spkiOf(attestationKey), COSE_ES256, signedData, test::derSignature(raw.r, raw.s)), 0);
    // No DER pair at all: nothing, a cut, bytes after it.
    EXPECT_EQ(check(spkiOf(attestationKey), COSE_ES256, signedData, {}), SIGNATURE_MALFORMED);
    EXPECT_EQ(check(spkiOf(attestationKey), COSE_ES256, signedData,
                    Bytes(signature.begin(), signature.end() - 1)),
              SIGNATURE_MALFORMED);
    EXPECT_EQ(check(spkiOf(attestationKey), COSE_ES256, signedData, concat({signature, {0x00}})),
              SIGNATURE_MALFORMED);
}

TEST_F(AttestationSignature, Rs256Ed25519AndEs384VerifyAndAFlippedByteFails) {
    const test::LibcryptoKey keys[] = {test::LibcryptoKey::rsa2048(),
                                       test::LibcryptoKey::ed25519(9), test::LibcryptoKey::p384()};
    const int64_t algs[] = {COSE_RS256, COSE_EDDSA, COSE_ES384};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(algs[i]);
        const Bytes spki = keys[i].subjectPublicKeyInfo();
        Bytes sig = keys[i].sign(signedData);
        EXPECT_EQ(check(spki, algs[i], signedData, sig), 0);
        EXPECT_EQ(check(spki, std::nullopt, signedData, sig), 0);
        Bytes changed = signedData;
        changed.back() ^= 0x01;
        EXPECT_EQ(check(spki, algs[i], changed, sig), SIGNATURE_INVALID);
        sig[sig.size() / 2] ^= 0x10;
        EXPECT_NE(check(spki, algs[i], signedData, sig), 0);
    }
}

TEST_F(AttestationSignature, AlgThatDoesNotFitTheKeyFails) {
    const Bytes p256 = spkiOf(attestationKey);
    for (int64_t alg : {COSE_EDDSA, COSE_RS256, COSE_ES384, int64_t{-999}}) {
        EXPECT_EQ(check(p256, alg, signedData, signature), SIGNATURE_ALG_MISMATCH);
    }
    const test::LibcryptoKey ed25519 = test::LibcryptoKey::ed25519(3);
    EXPECT_EQ(
        check(ed25519.subjectPublicKeyInfo(), COSE_ES256, signedData, ed25519.sign(signedData)),
        SIGNATURE_ALG_MISMATCH);
}

TEST_F(AttestationSignature, KeyThatIsNoneTheLibraryReadsFails) {
    EXPECT_EQ(check({}, COSE_ES256, signedData, signature), SIGNATURE_KEY_UNSUPPORTED);
    Bytes cut = spkiOf(attestationKey);
    cut.pop_back();
    EXPECT_EQ(check(cut, COSE_ES256, signedData, signature), SIGNATURE_KEY_UNSUPPORTED);
    // A point off the curve.
    Bytes bent = spkiOf(attestationKey);
    bent.back() ^= 0x01;
    EXPECT_EQ(check(bent, COSE_ES256, signedData, signature), SIGNATURE_KEY_UNSUPPORTED);
}

// --- U2F registration ---

class RegistrationSignature : public ::testing::Test {
  protected:
    Bytes signedDataFor(const Bytes& first, const Bytes& second, const Bytes& handle) {
        return concat({{0x00}, first, second, handle, userKey});
    }
    int check(const Bytes& key, const Bytes& data, const Bytes& signature) {
        return verifyRegistrationSignature(key, data, signature);
    }

    test::P256TestKey attestationKey{9};
    Bytes application = Bytes(32, 0xaa);
    Bytes challenge = Bytes(32, 0xcc);
    Bytes keyHandle = Bytes(64, 0x4b);
    Bytes userKey = [] {
        auto point = test::P256TestKey(10).publicKey();
        return Bytes(point.begin(), point.end());
    }();
    Bytes signedData = signedDataFor(application, challenge, keyHandle);
};

TEST_F(RegistrationSignature, ValidSignatureGivesZero) {
    EXPECT_EQ(check(spkiOf(attestationKey), signedData, attestationKey.sign(signedData)), 0);
}

TEST_F(RegistrationSignature, ParametersSignedInSwappedOrderFail) {
    Bytes swapped = signedDataFor(challenge, application, keyHandle);
    EXPECT_NE(check(spkiOf(attestationKey), signedData, attestationKey.sign(swapped)), 0);
}

TEST_F(RegistrationSignature, ChangedKeyHandleFails) {
    Bytes signature = attestationKey.sign(signedData);
    Bytes changedHandle = keyHandle;
    changedHandle[17] ^= 0x01;
    EXPECT_NE(check(spkiOf(attestationKey), signedDataFor(application, challenge, changedHandle),
                    signature),
              0);
}

TEST_F(RegistrationSignature, Ed25519AttestationKeySignsAsItsType) {
    const test::LibcryptoKey key = test::LibcryptoKey::ed25519(11);
    Bytes signature = key.sign(signedData);
    EXPECT_EQ(check(key.subjectPublicKeyInfo(), signedData, signature), 0);
    signature[0] ^= 0x01;
    EXPECT_NE(check(key.subjectPublicKeyInfo(), signedData, signature), 0);
}

TEST_F(RegistrationSignature, KeyThatIsNotReadableFails) {
    Bytes signature = attestationKey.sign(signedData);
    // Shorter: exactly sized on the heap, so a read past it would show.
    Bytes shortKey = spkiOf(attestationKey);
    shortKey.resize(shortKey.size() - 1);
    EXPECT_NE(check(shortKey, signedData, signature), 0);
    EXPECT_NE(check(Bytes{}, signedData, signature), 0);
    EXPECT_NE(check(concat({spkiOf(attestationKey), Bytes(32, 0x22)}), signedData, signature), 0);
}

}  // namespace
}  // namespace orvanta
