#include "cert/signature_check.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "support/p256_test_key.h"

namespace orvanta {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes keyBytes(const test::P256TestKey& key) {
    auto point = key.publicKey();
    return Bytes(point.begin(), point.end());
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
    int check(const Bytes& key, const Bytes& data, const Bytes& signature) {
        return verifyAttestationSignature(key.data(), key.size(), data.data(), data.size(),
                                          signature.data(), signature.size());
    }

    test::P256TestKey attestationKey{7};
    Bytes authData = concat({Bytes(32, 0xa1), {0x41, 0x00, 0x00, 0x00, 0x05}, Bytes(60, 0x3c)});
    Bytes clientDataHash = Bytes(32, 0xcd);
    Bytes signedData = concat({authData, clientDataHash});
    Bytes signature = attestationKey.sign(signedData);
};

TEST_F(AttestationSignature, ValidSignatureGivesZero) {
    EXPECT_EQ(check(keyBytes(attestationKey), signedData, signature), 0);
}

TEST_F(AttestationSignature, KeyOfAnotherLengthIsRefused) {
    // A P-384 point is 97 bytes; even with the right P-256 key in front it is refused.
    Bytes p384Sized = concat({keyBytes(attestationKey), Bytes(32, 0x11)});
    EXPECT_EQ(check(p384Sized, signedData, signature), SIGNATURE_KEY_NOT_P256);
    Bytes shortKey = keyBytes(attestationKey);
    shortKey.pop_back();
    EXPECT_EQ(check(shortKey, signedData, signature), SIGNATURE_KEY_NOT_P256);
    EXPECT_EQ(verifyAttestationSignature(nullptr, 65, signedData.data(), signedData.size(),
                                         signature.data(), signature.size()),
              SIGNATURE_KEY_NOT_P256);
}

TEST_F(AttestationSignature, ChangedDataOrOtherKeyFails) {
    Bytes changed = signedData;
    changed[authData.size()] ^= 0x80;  // first byte of the client data hash
    EXPECT_NE(check(keyBytes(attestationKey), changed, signature), 0);

    // An issuing certificate whose key did not sign.
    test::P256TestKey issuer(8);
    EXPECT_NE(check(keyBytes(issuer), signedData, signature), 0);
}

// --- U2F registration ---

class RegistrationSignature : public ::testing::Test {
  protected:
    Bytes signedDataFor(const Bytes& first, const Bytes& second, const Bytes& handle) {
        return concat({{0x00}, first, second, handle, userKey});
    }
    int check(const Bytes& key, const Bytes& data, const Bytes& signature) {
        return verifyRegistrationSignature(key.data(), key.size(), data.data(), data.size(),
                                           signature.data(), signature.size());
    }

    test::P256TestKey attestationKey{9};
    Bytes application = Bytes(32, 0xaa);
    Bytes challenge = Bytes(32, 0xcc);
    Bytes keyHandle = Bytes(64, 0x4b);
    Bytes userKey = keyBytes(test::P256TestKey(10));
    Bytes signedData = signedDataFor(application, challenge, keyHandle);
};

TEST_F(RegistrationSignature, ValidSignatureGivesZero) {
    EXPECT_EQ(check(keyBytes(attestationKey), signedData, attestationKey.sign(signedData)), 0);
}

TEST_F(RegistrationSignature, ParametersSignedInSwappedOrderFail) {
    Bytes swapped = signedDataFor(challenge, application, keyHandle);
    EXPECT_NE(check(keyBytes(attestationKey), signedData, attestationKey.sign(swapped)), 0);
}

TEST_F(RegistrationSignature, ChangedKeyHandleFails) {
    Bytes signature = attestationKey.sign(signedData);
    Bytes changedHandle = keyHandle;
    changedHandle[17] ^= 0x01;
    EXPECT_NE(check(keyBytes(attestationKey), signedDataFor(application, challenge, changedHandle),
                    signature),
              0);
}

TEST_F(RegistrationSignature, KeyThatIsNotAP256PointFails) {
    Bytes signature = attestationKey.sign(signedData);
    // Shorter than 65 bytes: exactly sized on the heap, so a read past it would show.
    Bytes shortKey = keyBytes(attestationKey);
    shortKey.resize(64);
    EXPECT_NE(check(shortKey, signedData, signature), 0);
    EXPECT_NE(check(Bytes{}, signedData, signature), 0);
    Bytes p384Sized = concat({keyBytes(attestationKey), Bytes(32, 0x22)});
    EXPECT_NE(check(p384Sized, signedData, signature), 0);
}

}  // namespace
}  // namespace orvanta
