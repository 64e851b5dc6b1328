#include "ctap/crypto.h"

#include <gtest/gtest.h>
#include <openssl/ec.h>
#include <openssl/obj_mac.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "ctap/openssl_handles.h"
#include "ctap/pin_protocol.h"
#include "support/p256_test_key.h"

namespace orvanta {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes fromHex(std::string_view hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

Bytes fromText(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes sha256Of(const Bytes& data) {
    Bytes digest(SHA256_LENGTH);
    EXPECT_EQ(sha256(data, std::span<uint8_t, SHA256_LENGTH>(digest)), 0);
    return digest;
}

Bytes hmacOf(const Bytes& key, const Bytes& data) {
    Bytes mac(SHA256_LENGTH);
    EXPECT_EQ(hmacSha256(key, data, std::span<uint8_t, SHA256_LENGTH>(mac)), 0);
    return mac;
}

// --- SHA-256 (FIPS 180-2 examples) ---

TEST(Sha256, PublishedVectors) {
    EXPECT_EQ(sha256Of(fromText("abc")),
              fromHex("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    EXPECT_EQ(sha256Of(fromText("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              fromHex("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"));
    EXPECT_EQ(sha256Of({}),
              fromHex("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
}

// --- HMAC-SHA-256 (RFC 4231) ---

TEST(HmacSha256, Rfc4231Vectors) {
    // Test case 1: 20-byte key.
    EXPECT_EQ(hmacOf(Bytes(20, 0x0b), fromText("Hi There")),
              fromHex("b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"));
    // Test case 2: key shorter than the output.
    EXPECT_EQ(hmacOf(fromText("Jefe"), fromText("what do ya want for nothing?")),
              fromHex("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"));
    // Test case 6: 131-byte key, longer than the block, hashed first.
    EXPECT_EQ(hmacOf(Bytes(131, 0xaa),
                     fromText("Test Using Larger Than Block-Size Key - Hash Key First")),
              fromHex("60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"));
}

TEST(HmacSha256, PinAuthShapeIsFullDigestOfTokenAndHash) {
    // A 32-byte PIN token over a 32-byte client data hash: the full 32-byte MAC is given,
    // and its first 16 bytes are what goes out as pinAuth.
    Bytes token(32, 0x5a);
    Bytes clientDataHash(32, 0xc3);
    Bytes mac = hmacOf(token, clientDataHash);
    ASSERT_EQ(mac.size(), 32u);
    EXPECT_NE(Bytes(mac.begin(), mac.begin() + 16), Bytes(mac.begin() + 16, mac.end()));
    EXPECT_NE(hmacOf(token, Bytes(32, 0xc4)), mac);
}

// --- AES-256-CBC with zero IV ---

TEST(AesCbc, FirstBlockEqualsFips197Aes256) {
    // With a zero IV the first CBC block is the plain block cipher (FIPS-197 C.3).
    Bytes key = fromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    Bytes plain = fromHex("00112233445566778899aabbccddeeff");
    Bytes cipher(16);
    ASSERT_EQ(aesCbcEncrypt(std::span<const uint8_t, AES_KEY_LENGTH>(key), plain, cipher), 0);
    EXPECT_EQ(cipher, fromHex("8ea2b7ca516745bfeafc49904b496089"));
    Bytes back(16);
    ASSERT_EQ(aesCbcDecrypt(std::span<const uint8_t, AES_KEY_LENGTH>(key), cipher, back), 0);
    EXPECT_EQ(back, plain);
}

TEST(AesCbc, Sp800_38aChainWithIvFoldedIntoFirstBlock) {
    // SP 800-38A F.2.5 uses IV 000102..0f. CBC computes C1 = E(P1 ^ IV), so a zero-IV CBC
    // over (P1 ^ IV, P2, P3, P4) must give the published C1..C4; this checks the chaining.
    Bytes key = fromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    Bytes plain = fromHex(
        "6bc0bce12a459991e134741a7f9e1925"  // 6bc1bee22e409f96e93d7e117393172a ^ IV
        "ae2d8a571e03ac9c9eb76fac45af8e51"
        "30c81c46a35ce411e5fbc1191a0a52ef"
        "f69f2445df4f9b17ad2b417be66c3710");
    Bytes expected = fromHex(
        "f58c4c04d6e5f1ba779eabfb5f7bfbd6"
        "9cfc4e967edb808d679f777bc6702c7d"
        "39f23369a9d9bacfa530e26304231461"
        "b2eb05e2c39be9fcda6c19078c6a9d1b");
    Bytes cipher(plain.size());
    ASSERT_EQ(aesCbcEncrypt(std::span<const uint8_t, AES_KEY_LENGTH>(key), plain, cipher), 0);
    EXPECT_EQ(cipher, expected);
    // F.2.6 is the same vector decrypted.
    Bytes back(cipher.size());
    ASSERT_EQ(aesCbcDecrypt(std::span<const uint8_t, AES_KEY_LENGTH>(key), cipher, back), 0);
    EXPECT_EQ(back, plain);

    // With the IV given, the published plaintext itself gives the same blocks.
    const Bytes iv = fromHex("000102030405060708090a0b0c0d0e0f");
    Bytes published = plain;
    for (size_t i = 0; i < 16; ++i) {
        published[i] ^= iv[i];
    }
    const std::span<const uint8_t, AES_KEY_LENGTH> k(key);
    const std::span<const uint8_t, AES_BLOCK_LENGTH> ivSpan(iv);
    ASSERT_EQ(aesCbcEncrypt(k, ivSpan, published, cipher), 0);
    EXPECT_EQ(cipher, expected);
    ASSERT_EQ(aesCbcDecrypt(k, ivSpan, cipher, back), 0);
    EXPECT_EQ(back, published);
}

TEST(Hkdf, Rfc5869Case1) {
    Bytes okm(42);
    ASSERT_EQ(hkdfSha256(fromHex("000102030405060708090a0b0c"), Bytes(22, 0x0b),
                         fromHex("f0f1f2f3f4f5f6f7f8f9"), okm),
              0);
    EXPECT_EQ(okm, fromHex("3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf"
                           "34007208d5b887185865"));
}

// --- PIN/UV auth protocols ---

TEST(PinProtocols, ProtocolTwoOnlyWhenTheKeyListsItWithoutOne) {
    EXPECT_EQ(choosePinProtocol({}), PinProtocol::One);
    const std::array<uint64_t, 1> one{1};
    const std::array<uint64_t, 1> two{2};
    const std::array<uint64_t, 2> both{2, 1};
    const std::array<uint64_t, 2> twoAndUnknown{2, 3};
    EXPECT_EQ(choosePinProtocol(one), PinProtocol::One);
    EXPECT_EQ(choosePinProtocol(two), PinProtocol::Two);
    EXPECT_EQ(choosePinProtocol(both), PinProtocol::One);
    EXPECT_EQ(choosePinProtocol(twoAndUnknown), PinProtocol::Two);
}

TEST(PinProtocols, ProtocolTwoKeysComeFromHkdfAndCiphertextsCarryARandomIv) {
    std::array<uint8_t, 32> z{};
    z.fill(0x42);
    PinSecret one;
    PinSecret two;
    ASSERT_EQ(one.derive(PinProtocol::One, z), 0);
    ASSERT_EQ(two.derive(PinProtocol::Two, z), 0);
    EXPECT_EQ(Bytes(one.bytes().begin(), one.bytes().end()), sha256Of(Bytes(z.begin(), z.end())));
    ASSERT_EQ(two.bytes().size(), 64u);
    Bytes hmacKey(32);
    Bytes aesKey(32);
    ASSERT_EQ(hkdfSha256(Bytes(32, 0), z, fromText("CTAP2 HMAC key"), hmacKey), 0);
    ASSERT_EQ(hkdfSha256(Bytes(32, 0), z, fromText("CTAP2 AES key"), aesKey), 0);
    EXPECT_EQ(Bytes(two.hmacKey().begin(), two.hmacKey().end()), hmacKey);
    EXPECT_EQ(Bytes(two.aesKey().begin(), two.aesKey().end()), aesKey);

    const Bytes plain(16, 0x33);
    Bytes first(32);
    Bytes second(32);
    ASSERT_EQ(pinEncrypt(two, plain, first), 0);
    ASSERT_EQ(pinEncrypt(two, plain, second), 0);
    EXPECT_NE(first, second);  // a fresh IV each time
    Bytes back(16);
    ASSERT_EQ(pinDecrypt(two, first, back), 0);
    EXPECT_EQ(back, plain);
    EXPECT_EQ(pinDecrypt(two, std::span(first).first(15), back), CRYPTO_BAD_LENGTH);
    EXPECT_EQ(pinEncrypt(two, plain, std::span(first).first(31)), CRYPTO_BAD_LENGTH);

    // pinUvAuthParam: the cut HMAC in protocol 1, all of it in protocol 2.
    Bytes mac(32, 0);
    ASSERT_EQ(pinAuthenticate(PinProtocol::One, hmacKey, plain, mac), 0);
    const Bytes full = hmacOf(hmacKey, plain);
    EXPECT_EQ(Bytes(mac.begin(), mac.begin() + 16), Bytes(full.begin(), full.begin() + 16));
    EXPECT_EQ(Bytes(mac.begin() + 16, mac.end()), Bytes(16, 0));
    ASSERT_EQ(pinAuthenticate(PinProtocol::Two, hmacKey, plain, mac), 0);
    EXPECT_EQ(mac, full);
}

TEST(AesCbc, IvIsFreshForEveryCallAndInPlaceWorks) {
    Bytes key(32, 0x11);
    Bytes plain(32, 0x22);
    Bytes first(32);
    Bytes second(32);
    ASSERT_EQ(aesCbcEncrypt(std::span<const uint8_t, AES_KEY_LENGTH>(key), plain, first), 0);
    ASSERT_EQ(aesCbcEncrypt(std::span<const uint8_t, AES_KEY_LENGTH>(key), plain, second), 0);
    EXPECT_EQ(first, second);  // no IV carried over from the previous call
    EXPECT_NE(Bytes(first.begin(), first.begin() + 16), Bytes(first.begin() + 16, first.end()));

    Bytes buffer = first;
    ASSERT_EQ(aesCbcDecrypt(std::span<const uint8_t, AES_KEY_LENGTH>(key), buffer, buffer), 0);
    EXPECT_EQ(buffer, plain);
}

TEST(AesCbc, LengthNotAMultipleOfTheBlockFails) {
    Bytes key(32, 0);
    Bytes data(17, 0);
    Bytes out(17, 0xee);
    EXPECT_EQ(aesCbcEncrypt(std::span<const uint8_t, AES_KEY_LENGTH>(key), data, out),
              CRYPTO_BAD_LENGTH);
    EXPECT_EQ(aesCbcDecrypt(std::span<const uint8_t, AES_KEY_LENGTH>(key),
                            std::span(data).first(15), out),
              CRYPTO_BAD_LENGTH);
    EXPECT_EQ(out, Bytes(17, 0xee));  // nothing written
}

// --- Key agreement ---

struct Agreement {
    int result = -100;
    std::array<uint8_t, 32> x{};
    std::array<uint8_t, 32> y{};
    std::array<uint8_t, 32> secret{};
};

Agreement agreeWith(const std::array<uint8_t, 65>& peer) {
    Agreement a;
    a.result = computeSharedSecret(std::span(peer).subspan<1, 32>(),
                                   std::span(peer).subspan<33, 32>(), a.x, a.y, a.secret);
    return a;
}

TEST(KeyAgreement, SecretMatchesTheAuthenticatorSide) {
    test::P256TestKey authenticator(1);
    Agreement a = agreeWith(authenticator.publicKey());
    ASSERT_EQ(a.result, 0);

    // The authenticator multiplies the platform key by its own scalar and hashes X.
    std::array<uint8_t, 32> sharedX = authenticator.agree(a.x.data(), a.y.data());
    EXPECT_EQ(Bytes(a.secret.begin(), a.secret.end()),
              sha256Of(Bytes(sharedX.begin(), sharedX.end())));
}

TEST(KeyAgreement, EveryCallMakesANewPlatformKey) {
    test::P256TestKey authenticator(2);
    Agreement first = agreeWith(authenticator.publicKey());
    Agreement second = agreeWith(authenticator.publicKey());
    ASSERT_EQ(first.result, 0);
    ASSERT_EQ(second.result, 0);
    EXPECT_NE(first.x, second.x);
    EXPECT_NE(first.secret, second.secret);
}

TEST(KeyAgreement, PlatformKeyIsOnTheCurve) {
    test::P256TestKey authenticator(3);
    Agreement a = agreeWith(authenticator.publicKey());
    ASSERT_EQ(a.result, 0);
    std::array<uint8_t, 65> point{0x04};
    std::copy(a.x.begin(), a.x.end(), point.begin() + 1);
    std::copy(a.y.begin(), a.y.end(), point.begin() + 33);
    const openssl::EcGroup group(EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1));
    const openssl::EcPoint q(EC_POINT_new(group.get()));
    ASSERT_EQ(EC_POINT_oct2point(group.get(), q.get(), point.data(), point.size(), nullptr), 1);
    EXPECT_EQ(EC_POINT_is_on_curve(group.get(), q.get(), nullptr), 1);
}

TEST(KeyAgreement, SeedFailureHasItsOwnCode) {
    test::P256TestKey authenticator(4);
    auto peer = authenticator.publicKey();
    Agreement a;
    EXPECT_EQ(
        computeSharedSecret(std::span(peer).subspan<1, 32>(), std::span(peer).subspan<33, 32>(),
                            a.x, a.y, a.secret, test::failingEntropy, nullptr),
        KEY_AGREEMENT_SEED_FAILED);
}

TEST(KeyAgreement, SameSeedGivesSameKey) {
    test::P256TestKey authenticator(5);
    auto peer = authenticator.publicKey();
    Agreement first;
    Agreement second;
    test::SeededEntropy e1{77};
    test::SeededEntropy e2{77};
    ASSERT_EQ(
        computeSharedSecret(std::span(peer).subspan<1, 32>(), std::span(peer).subspan<33, 32>(),
                            first.x, first.y, first.secret, test::SeededEntropy::fill, &e1),
        0);
    ASSERT_EQ(
        computeSharedSecret(std::span(peer).subspan<1, 32>(), std::span(peer).subspan<33, 32>(),
                            second.x, second.y, second.secret, test::SeededEntropy::fill, &e2),
        0);
    EXPECT_EQ(first.x, second.x);
    EXPECT_EQ(first.secret, second.secret);
}

TEST(KeyAgreement, PeerPointOffTheCurveFails) {
    std::array<uint8_t, 65> bogus{0x04};
    bogus[32] = 1;  // X = 1
    bogus[64] = 1;  // Y = 1: not a P-256 point
    EXPECT_EQ(agreeWith(bogus).result, CRYPTO_POINT_INVALID);
}

// --- ECDSA P-256 signing (RFC 6979, A.2.5: P-256 with SHA-256) ---

TEST(EcdsaSign, Rfc6979VectorsAndTheyVerify) {
    const Bytes scalar =
        fromHex("C9AFA9D845BA75166B5C215767B1D6934E50C3DB36E89B127B8A622B120F6721");
    const std::span<const uint8_t, P256_SCALAR_LENGTH> d(scalar.data(), P256_SCALAR_LENGTH);
    std::array<uint8_t, P256_PUBLIC_KEY_LENGTH> publicKey{0x04};
    ASSERT_EQ(p256PublicKey(d, std::span(publicKey).subspan<1, 32>(),
                            std::span(publicKey).subspan<33, 32>()),
              0);
    const struct {
        const char* message;
        const char* r;
        const char* s;
    } cases[] = {
        {"sample", "00EFD48B2AACB6A8FD1140DD9CD45E81D69D2C877B56AAF991C34D0EA84EAF3716",
         "00F7CB1C942D657C41D436C7A1B6E29F65F3E900DBB9AFF4064DC4AB2F843ACDA8"},
        {"test", "00F1ABB023518351CD71D881567B1EA663ED3EFCF6C5132B354F28D3B0B7D38367",
         "019F4113742A2B14BD25926B49C649155F267E60D3814B4C0CC84250E46F0083"},
    };
    for (const auto& c : cases) {
        const Bytes message = fromText(c.message);
        const Bytes digest = sha256Of(message);
        Bytes signature(ES256_SIGNATURE_MAX_LENGTH);
        size_t length = 0;
        ASSERT_EQ(signEcdsaP256(d, std::span<const uint8_t, SHA256_LENGTH>(digest.data(), 32),
                                signature, length),
                  0);
        signature.resize(length);
        EXPECT_EQ(signature, test::derSignature(fromHex(c.r), fromHex(c.s))) << c.message;
        EXPECT_EQ(verifyEcdsaP256(signature, message, publicKey), 0) << c.message;
    }
    Bytes tooShort(60);
    size_t length = 0;
    EXPECT_EQ(signEcdsaP256(d, std::span<const uint8_t, SHA256_LENGTH>(sha256Of({}).data(), 32),
                            tooShort, length),
              CRYPTO_BAD_LENGTH);
}

// --- ECDSA P-256 verification ---

class EcdsaVerify : public ::testing::Test {
  protected:
    int verify(const Bytes& signature, const Bytes& message) {
        return verifyEcdsaP256(signature, message, publicKey);
    }

    test::P256TestKey key{42};
    std::array<uint8_t, 65> publicKey = key.publicKey();
    Bytes message = fromText("authenticator data followed by client data hash");
};

TEST_F(EcdsaVerify, ValidSignatureVerifies) {
    EXPECT_EQ(verify(key.sign(message), message), 0);
}

TEST_F(EcdsaVerify, ChangedMessageByteFails) {
    Bytes signature = key.sign(message);
    for (size_t i : {size_t{0}, message.size() / 2, message.size() - 1}) {
        Bytes changed = message;
        changed[i] ^= 0x01;
        EXPECT_NE(verify(signature, changed), 0) << "byte " << i;
    }
}

TEST_F(EcdsaVerify, OtherKeyFails) {
    test::P256TestKey other(43);
    EXPECT_NE(verify(other.sign(message), message), 0);
}

TEST_F(EcdsaVerify, PaddedIntegersOf33BytesVerify) {
    // r and s written as 0x00 followed by all 32 bytes, whatever their top bit.
    test::RawSignature raw = key.signRaw(message.data(), message.size());
    for (auto* integer : {&raw.r, &raw.s}) {
        integer->insert(integer->begin(), 33 - integer->size(), 0x00);
    }
    Bytes signature = test::derSignature(raw.r, raw.s);
    ASSERT_EQ(signature[3], 0x21);
    EXPECT_EQ(verify(signature, message), 0);
}

TEST_F(EcdsaVerify, ShortIntegersVerify) {
    // About one signature in 512 has an r (or s) below 2^247, whose DER INTEGER is 31
    // bytes or shorter. Signatures are deterministic, so each attempt signs another
    // message; the search is the same on every run.
    bool shortR = false;
    bool shortS = false;
    for (int attempt = 0; attempt < 6000 && !(shortR && shortS); ++attempt) {
        Bytes numbered = message;
        numbered.push_back(static_cast<uint8_t>(attempt));
        numbered.push_back(static_cast<uint8_t>(attempt >> 8));
        Bytes signature = key.sign(numbered);
        size_t rLength = signature[3];
        size_t sLength = signature[4 + rLength + 1];
        if (rLength < 32 && !shortR) {
            shortR = true;
            EXPECT_EQ(verify(signature, numbered), 0) << "r of " << rLength << " bytes";
        }
        if (sLength < 32 && !shortS) {
            shortS = true;
            EXPECT_EQ(verify(signature, numbered), 0) << "s of " << sLength << " bytes";
        }
    }
    EXPECT_TRUE(shortR);
    EXPECT_TRUE(shortS);
}

TEST_F(EcdsaVerify, EveryTruncationFailsCleanly) {
    Bytes signature = key.sign(message);
    for (size_t length = 0; length < signature.size(); ++length) {
        Bytes truncated(signature.begin(), signature.begin() + length);
        EXPECT_NE(verify(truncated, message), 0) << "length " << length;
    }
    // The declared length is honoured even when more bytes follow in memory.
    EXPECT_NE(verifyEcdsaP256(std::span(signature).first(signature.size() - 1), message, publicKey),
              0);
}

TEST_F(EcdsaVerify, TrailingBytesFail) {
    Bytes signature = key.sign(message);
    signature.push_back(0x00);
    EXPECT_EQ(verify(signature, message), SIGNATURE_TRAILING_BYTES);

    // Bytes after s inside the sequence.
    test::RawSignature raw = key.signRaw(message.data(), message.size());
    Bytes inner = test::derSignature(raw.r, raw.s);
    inner[1] += 2;
    inner.push_back(0x05);
    inner.push_back(0x00);
    EXPECT_EQ(verify(inner, message), SIGNATURE_TRAILING_BYTES);
}

TEST_F(EcdsaVerify, UnreadableIntegersGiveTheirCodes) {
    Bytes signature = key.sign(message);
    Bytes badR = signature;
    badR[2] = 0x04;  // r is no INTEGER
    EXPECT_EQ(verify(badR, message), SIGNATURE_R_UNREADABLE);

    Bytes badS = signature;
    badS[4 + signature[3]] = 0x04;  // s is no INTEGER
    EXPECT_EQ(verify(badS, message), SIGNATURE_S_UNREADABLE);

    Bytes longS = signature;
    longS[4 + signature[3] + 1] += 1;  // s runs past the sequence
    EXPECT_EQ(verify(longS, message), SIGNATURE_S_UNREADABLE);

    Bytes longR = signature;
    longR[3] = 0x7f;  // r runs past the buffer
    EXPECT_EQ(verify(longR, message), SIGNATURE_R_UNREADABLE);
}

TEST_F(EcdsaVerify, GarbageFails) {
    EXPECT_NE(verify(fromText("certainly not a DER signature"), message), 0);
    EXPECT_NE(verify(Bytes(72, 0xff), message), 0);
    EXPECT_NE(verify(Bytes{0x30, 0x84, 0xff, 0xff, 0xff, 0xff}, message), 0);
    EXPECT_NE(verify(Bytes{0x30, 0x00}, message), 0);
    EXPECT_NE(verifyEcdsaP256({}, message, publicKey), 0);
    // r = 0 and s = 0 are outside [1, n-1].
    EXPECT_NE(verify(test::derSignature({0x00}, {0x00}), message), 0);
}

TEST_F(EcdsaVerify, KeyOffTheCurveFails) {
    Bytes signature = key.sign(message);
    std::array<uint8_t, 65> bent = publicKey;
    bent[64] ^= 0x01;
    EXPECT_NE(verifyEcdsaP256(signature, message, bent), 0);
}

}  // namespace
}  // namespace orvanta
