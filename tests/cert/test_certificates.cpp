#include "test_certificates.h"

#include <mbedtls/asn1.h>
#include <mbedtls/ecp.h>
#include <mbedtls/sha256.h>
#include <mbedtls/x509_crt.h>

#include <stdexcept>

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
    unsigned char* p = der.data();
    const unsigned char* end = der.data() + der.size();
    size_t len = 0;
    const int sequence = MBEDTLS_ASN1_CONSTRUCTED | MBEDTLS_ASN1_SEQUENCE;
    check(mbedtls_asn1_get_tag(&p, end, &len, sequence), "outer sequence");
    for (int i = 0; i < 2; ++i) {
        check(mbedtls_asn1_get_tag(&p, end, &len, sequence), "inner sequence");
        p += len;
    }
    check(mbedtls_asn1_get_tag(&p, end, &len, MBEDTLS_ASN1_BIT_STRING), "bit string");
    *p = bits;
    return der;
}

}  // namespace orvanta::test
