#include "test_certificates.h"

#include <mbedtls/ecp.h>
#include <mbedtls/sha256.h>
#include <mbedtls/x509_crt.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <stdexcept>

#include "cert/der.h"
#include "cert/u2f_fetch.h"

namespace orvanta::test {

namespace {

void check(int result, const char* what) {
    if (result != 0) {
        throw std::runtime_error(std::string(what) + " failed: " + std::to_string(result));
    }
}

}  // namespace

TestKey::TestKey(uint64_t seed, bool p384) : entropy_{seed} {
    mbedtls_pk_init(&pk_);
    check(mbedtls_ctr_drbg_seed(drbg_.get(), SeededEntropy::fill, &entropy_, nullptr, 0),
          "drbg seed");
    check(mbedtls_pk_setup(&pk_, mbedtls_pk_info_from_type(MBEDTLS_PK_ECKEY)), "pk setup");
    check(mbedtls_ecp_gen_key(p384 ? MBEDTLS_ECP_DP_SECP384R1 : MBEDTLS_ECP_DP_SECP256R1,
                              mbedtls_pk_ec(pk_), mbedtls_ctr_drbg_random, drbg_.get()),
          "key generation");
}

TestKey::~TestKey() {
    mbedtls_pk_free(&pk_);
}

std::vector<uint8_t> TestKey::publicPoint() {
    mbedtls_ecp_keypair* key = mbedtls_pk_ec(pk_);
    unsigned char point[133];
    size_t length = 0;
    check(mbedtls_ecp_point_write_binary(&key->grp, &key->Q, MBEDTLS_ECP_PF_UNCOMPRESSED, &length,
                                         point, sizeof point),
          "point write");
    return std::vector<uint8_t>(point, point + length);
}

std::vector<uint8_t> TestKey::sign(const std::vector<uint8_t>& message) {
    unsigned char hash[32];
    check(mbedtls_sha256_ret(message.data(), message.size(), hash, 0), "sha256");
    unsigned char signature[MBEDTLS_PK_SIGNATURE_MAX_SIZE];
    size_t length = 0;
    check(mbedtls_pk_sign(&pk_, MBEDTLS_MD_SHA256, hash, sizeof hash, signature, &length,
                          mbedtls_ctr_drbg_random, drbg_.get()),
          "sign");
    return std::vector<uint8_t>(signature, signature + length);
}

std::vector<uint8_t> makeCertificate(const CertificateShape& shape, TestKey& subjectKey,
                                     TestKey& issuerKey) {
    mbedtls_x509write_cert writer;
    mbedtls_x509write_crt_init(&writer);
    Mpi serial;
    std::vector<uint8_t> der;
    try {
        mbedtls_x509write_crt_set_version(
            &writer, shape.version == 1 ? MBEDTLS_X509_CRT_VERSION_1 : MBEDTLS_X509_CRT_VERSION_3);
        check(mbedtls_mpi_read_binary(serial.get(), shape.serial.data(), shape.serial.size()),
              "serial");
        check(mbedtls_x509write_crt_set_serial(&writer, serial.get()), "set serial");
        check(mbedtls_x509write_crt_set_validity(&writer, shape.notBefore.c_str(),
                                                 shape.notAfter.c_str()),
              "validity");
        check(mbedtls_x509write_crt_set_subject_name(&writer, shape.subject.c_str()), "subject");
        check(mbedtls_x509write_crt_set_issuer_name(&writer, shape.issuer.c_str()), "issuer");
        mbedtls_x509write_crt_set_subject_key(&writer, subjectKey.pk());
        mbedtls_x509write_crt_set_issuer_key(&writer, issuerKey.pk());
        mbedtls_x509write_crt_set_md_alg(&writer, MBEDTLS_MD_SHA256);
        if (shape.transports) {
            static const char OID[] = "\x2B\x06\x01\x04\x01\x82\xE5\x1C\x02\x01\x01";
            check(mbedtls_x509write_crt_set_extension(&writer, OID, sizeof OID - 1, 0,
                                                      shape.transports->data(),
                                                      shape.transports->size()),
                  "extension");
        }
        unsigned char buffer[4096];
        // The writer fills the buffer from its end.
        int length = mbedtls_x509write_crt_der(&writer, buffer, sizeof buffer,
                                               mbedtls_ctr_drbg_random, issuerKey.drbg());
        if (length <= 0) {
            check(length == 0 ? -1 : length, "certificate write");
        }
        der.assign(buffer + sizeof buffer - length, buffer + sizeof buffer);
    } catch (...) {
        mbedtls_x509write_crt_free(&writer);
        throw;
    }
    mbedtls_x509write_crt_free(&writer);
    return der;
}

U2fTestRegistration makeU2fRegistration(TestKey& attestationKey, TestKey& userKey, TestKey& caKey,
                                        size_t keyHandleLength, const uint8_t* challenge,
                                        const uint8_t* application) {
    CertificateShape shape;
    shape.subject = "C=US,O=Orvanta Test,CN=Test U2F Attestation";
    shape.transports = std::vector<uint8_t>{0x03, 0x02, 0x04, 0x30};
    std::vector<uint8_t> certificate = makeCertificate(shape, attestationKey, caKey);
    std::vector<uint8_t> userPoint = userKey.publicPoint();
    std::vector<uint8_t> keyHandle(keyHandleLength);
    for (size_t i = 0; i < keyHandleLength; ++i) {
        keyHandle[i] = static_cast<uint8_t>(0xA0 + i);
    }
    const uint8_t* c = challenge != nullptr ? challenge : U2F_CHALLENGE_PARAMETER;
    const uint8_t* a = application != nullptr ? application : U2F_APPLICATION_PARAMETER;
    std::vector<uint8_t> signedMessage{0x00};
    signedMessage.insert(signedMessage.end(), a, a + 32);
    signedMessage.insert(signedMessage.end(), c, c + 32);
    signedMessage.insert(signedMessage.end(), keyHandle.begin(), keyHandle.end());
    signedMessage.insert(signedMessage.end(), userPoint.begin(), userPoint.end());
    std::vector<uint8_t> signature = attestationKey.sign(signedMessage);

    std::vector<uint8_t> response{0x05};
    response.insert(response.end(), userPoint.begin(), userPoint.end());
    response.push_back(static_cast<uint8_t>(keyHandleLength));
    response.insert(response.end(), keyHandle.begin(), keyHandle.end());
    response.insert(response.end(), certificate.begin(), certificate.end());
    response.insert(response.end(), signature.begin(), signature.end());
    return {response, certificate, keyHandleLength};
}

std::vector<uint8_t> withSignatureUnusedBits(std::vector<uint8_t> der, uint8_t bits) {
    DerCursor outer(der);
    std::optional<DerElement> certificate = outer.next(der_tag::SEQUENCE);
    if (!certificate) {
        throw std::runtime_error("no certificate");
    }
    DerCursor inner(certificate->content);
    inner.next(der_tag::SEQUENCE);  // tbsCertificate
    inner.next(der_tag::SEQUENCE);  // signatureAlgorithm
    std::optional<DerElement> signature = inner.next(der_tag::BIT_STRING);
    if (!signature || signature->content.empty()) {
        throw std::runtime_error("no signature");
    }
    der[static_cast<size_t>(signature->content.data() - der.data())] = bits;
    return der;
}

namespace {

struct FreeContext {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

}  // namespace

LibcryptoKey LibcryptoKey::ed25519(uint8_t seed) {
    uint8_t privateKey[32];
    for (size_t i = 0; i < sizeof privateKey; ++i) {
        privateKey[i] = static_cast<uint8_t>(seed + 7 * i);
    }
    EVP_PKEY* key =
        EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, privateKey, sizeof privateKey);
    if (key == nullptr) {
        throw std::runtime_error("Ed25519 key");
    }
    return LibcryptoKey(key);
}

LibcryptoKey LibcryptoKey::rsa2048() {
    EVP_PKEY* key = EVP_RSA_gen(2048);
    if (key == nullptr) {
        throw std::runtime_error("RSA key");
    }
    return LibcryptoKey(key);
}

LibcryptoKey LibcryptoKey::p384() {
    EVP_PKEY* key = EVP_EC_gen("P-384");
    if (key == nullptr) {
        throw std::runtime_error("P-384 key");
    }
    return LibcryptoKey(key);
}

std::vector<uint8_t> LibcryptoKey::subjectPublicKeyInfo() const {
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(key_.get(), &der);
    if (length <= 0) {
        throw std::runtime_error("public key");
    }
    std::vector<uint8_t> out(der, der + length);
    OPENSSL_free(der);
    return out;
}

std::vector<uint8_t> LibcryptoKey::sign(const std::vector<uint8_t>& message) const {
    const int type = EVP_PKEY_get_base_id(key_.get());
    const EVP_MD* digest = type == EVP_PKEY_ED25519 ? nullptr
                           : type == EVP_PKEY_RSA   ? EVP_sha256()
                                                    : EVP_sha384();
    std::unique_ptr<EVP_MD_CTX, FreeContext> context(EVP_MD_CTX_new());
    size_t length = 0;
    if (!context || EVP_DigestSignInit(context.get(), nullptr, digest, nullptr, key_.get()) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &length, message.data(), message.size()) != 1) {
        throw std::runtime_error("sign");
    }
    std::vector<uint8_t> signature(length);
    if (EVP_DigestSign(context.get(), signature.data(), &length, message.data(), message.size()) !=
        1) {
        throw std::runtime_error("sign");
    }
    signature.resize(length);
    return signature;
}

std::vector<uint8_t> p256SubjectPublicKeyInfo(const std::vector<uint8_t>& point) {
    // SEQUENCE { SEQUENCE { id-ecPublicKey, prime256v1 }, BIT STRING }
    static const std::vector<uint8_t> ALGORITHM = {0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48,
                                                   0xCE, 0x3D, 0x02, 0x01, 0x06, 0x08, 0x2A,
                                                   0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
    std::vector<uint8_t> key{0x00};
    key.insert(key.end(), point.begin(), point.end());
    std::vector<uint8_t> content = ALGORITHM;
    appendDer(content, der_tag::BIT_STRING, key);
    std::vector<uint8_t> spki;
    appendDer(spki, der_tag::SEQUENCE, content);
    return spki;
}

std::vector<uint8_t> derName(const std::vector<std::vector<NameValue>>& rdns) {
    std::vector<uint8_t> sets;
    for (const std::vector<NameValue>& rdn : rdns) {
        std::vector<uint8_t> members;
        for (const NameValue& value : rdn) {
            std::vector<uint8_t> pair;
            appendDer(pair, der_tag::OID, value.type);
            appendDer(pair, value.tag, value.value);
            appendDer(members, der_tag::SEQUENCE, pair);
        }
        appendDer(sets, der_tag::SET, members);
    }
    std::vector<uint8_t> name;
    appendDer(name, der_tag::SEQUENCE, sets);
    return name;
}

std::vector<uint8_t> derExtension(const std::vector<uint8_t>& oid, bool critical,
                                  const std::vector<uint8_t>& value) {
    std::vector<uint8_t> content;
    appendDer(content, der_tag::OID, oid);
    if (critical) {
        appendDer(content, der_tag::BOOLEAN, std::vector<uint8_t>{0xFF});
    }
    appendDer(content, der_tag::OCTET_STRING, value);
    std::vector<uint8_t> extension;
    appendDer(extension, der_tag::SEQUENCE, content);
    return extension;
}

std::vector<uint8_t> assemble(const HandmadeCertificate& c) {
    // ecdsa-with-SHA256
    static const std::vector<uint8_t> ALGORITHM = {0x30, 0x0A, 0x06, 0x08, 0x2A, 0x86,
                                                   0x48, 0xCE, 0x3D, 0x04, 0x03, 0x02};
    std::vector<uint8_t> tbs = c.version;
    appendDer(tbs, der_tag::INTEGER, c.serial);
    tbs.insert(tbs.end(), ALGORITHM.begin(), ALGORITHM.end());
    tbs.insert(tbs.end(), c.issuer.begin(), c.issuer.end());
    std::vector<uint8_t> validity;
    appendDer(validity, 0x17, textBytes(c.notBefore));
    appendDer(validity, 0x17, textBytes(c.notAfter));
    appendDer(tbs, der_tag::SEQUENCE, validity);
    tbs.insert(tbs.end(), c.subject.begin(), c.subject.end());
    tbs.insert(tbs.end(), c.subjectPublicKeyInfo.begin(), c.subjectPublicKeyInfo.end());
    if (!c.extensions.empty()) {
        std::vector<uint8_t> list;
        for (const std::vector<uint8_t>& extension : c.extensions) {
            list.insert(list.end(), extension.begin(), extension.end());
        }
        std::vector<uint8_t> sequence;
        appendDer(sequence, der_tag::SEQUENCE, list);
        appendDer(tbs, 0xA3, sequence);
    }
    std::vector<uint8_t> content;
    appendDer(content, der_tag::SEQUENCE, tbs);
    content.insert(content.end(), ALGORITHM.begin(), ALGORITHM.end());
    appendDer(content, der_tag::BIT_STRING,
              std::vector<uint8_t>{0x00, 0x30, 0x06, 0x02, 0x01, 0x01, 0x02, 0x01, 0x01});
    std::vector<uint8_t> der;
    appendDer(der, der_tag::SEQUENCE, content);
    return der;
}

}  // namespace orvanta::test
