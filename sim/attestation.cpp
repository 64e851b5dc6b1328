#include "sim/attestation.h"

#include <mbedtls/bignum.h>
#include <mbedtls/x509.h>
#include <mbedtls/x509_crt.h>

#include <map>
#include <mutex>

namespace orvanta {

namespace {

// 1.3.6.1.4.1.45724.2.1.1: FIDO U2F transports, a BIT STRING.
const unsigned char OID_FIDO_TRANSPORTS[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82,
                                             0xE5, 0x1C, 0x02, 0x01, 0x01};
// 1.3.6.1.4.1.45724.1.1.4: AAGUID of the authenticator model, an OCTET STRING.
const unsigned char OID_FIDO_AAGUID[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82,
                                         0xE5, 0x1C, 0x01, 0x01, 0x04};
// BIT STRING, 5 unused bits, bit 2 set: USB.
const unsigned char TRANSPORTS_USB[] = {0x03, 0x02, 0x05, 0x20};

struct CertWriter {
    CertWriter() {
        mbedtls_x509write_crt_init(&crt);
        mbedtls_mpi_init(&serial);
    }
    ~CertWriter() {
        mbedtls_x509write_crt_free(&crt);
        mbedtls_mpi_free(&serial);
    }
    CertWriter(const CertWriter&) = delete;
    CertWriter& operator=(const CertWriter&) = delete;
    mbedtls_x509write_cert crt;
    mbedtls_mpi serial;
};

struct CertificateShape {
    const SimKeyPair* subjectKey;
    const SimKeyPair* issuerKey;
    const char* subject;
    const char* issuer;
    int serial;
    bool ca;
    const std::array<uint8_t, 16>* aaguid;  // null for the CA
};

Bytes writeCertificate(const CertificateShape& shape, SeededDrbg& drbg) {
    CertWriter w;
    mbedtls_x509write_crt_set_version(&w.crt, MBEDTLS_X509_CRT_VERSION_3);
    mbedtls_x509write_crt_set_md_alg(&w.crt, MBEDTLS_MD_SHA256);
    mbedtls_x509write_crt_set_subject_key(&w.crt, shape.subjectKey->pk());
    mbedtls_x509write_crt_set_issuer_key(&w.crt, shape.issuerKey->pk());
    int rc = mbedtls_x509write_crt_set_subject_name(&w.crt, shape.subject);
    rc = rc ? rc : mbedtls_x509write_crt_set_issuer_name(&w.crt, shape.issuer);
    rc = rc ? rc : mbedtls_mpi_lset(&w.serial, shape.serial);
    rc = rc ? rc : mbedtls_x509write_crt_set_serial(&w.crt, &w.serial);
    rc = rc ? rc : mbedtls_x509write_crt_set_validity(&w.crt, "20240101000000", "20491231235959");
    rc = rc ? rc : mbedtls_x509write_crt_set_basic_constraints(&w.crt, shape.ca ? 1 : 0, -1);
    rc = rc ? rc : mbedtls_x509write_crt_set_subject_key_identifier(&w.crt);
    rc = rc ? rc : mbedtls_x509write_crt_set_authority_key_identifier(&w.crt);
    if (shape.ca) {
        rc = rc ? rc
                : mbedtls_x509write_crt_set_key_usage(
                      &w.crt, MBEDTLS_X509_KU_KEY_CERT_SIGN | MBEDTLS_X509_KU_CRL_SIGN);
    } else {
        rc = rc ? rc
                : mbedtls_x509write_crt_set_extension(
                      &w.crt, reinterpret_cast<const char*>(OID_FIDO_TRANSPORTS),
                      sizeof(OID_FIDO_TRANSPORTS), 0, TRANSPORTS_USB, sizeof(TRANSPORTS_USB));
        unsigned char aaguidValue[18] = {0x04, 0x10};
        for (size_t i = 0; i < 16; ++i) {
            aaguidValue[2 + i] = (*shape.aaguid)[i];
        }
        rc = rc ? rc
                : mbedtls_x509write_crt_set_extension(
                      &w.crt, reinterpret_cast<const char*>(OID_FIDO_AAGUID),
                      sizeof(OID_FIDO_AAGUID), 0, aaguidValue, sizeof(aaguidValue));
    }
    if (rc != 0) {
        return {};
    }
    unsigned char buffer[2048];
    const int n =
        mbedtls_x509write_crt_der(&w.crt, buffer, sizeof(buffer), &SeededDrbg::callback, &drbg);
    if (n <= 0) {
        return {};
    }
    // The writer fills the buffer from its end.
    return Bytes(buffer + sizeof(buffer) - n, buffer + sizeof(buffer));
}

}  // namespace

VirtualAttestation::VirtualAttestation(const std::array<uint8_t, 16>& aaguid) {
    // The keys come from a fixed seed, so every run and every AAGUID shares them.
    SeededDrbg drbg("orvanta-virtual-attestation");
    caKey_.generate(drbg);
    key_.generate(drbg);
    caCertificate_ = writeCertificate(
        {&caKey_, &caKey_, ROOT_CA_SUBJECT, ROOT_CA_SUBJECT, 1, true, nullptr}, drbg);
    certificate_ = writeCertificate(
        {&key_, &caKey_, ATTESTATION_SUBJECT, ROOT_CA_SUBJECT, 2, false, &aaguid}, drbg);
}

const VirtualAttestation& VirtualAttestation::forAaguid(const std::array<uint8_t, 16>& aaguid) {
    static std::mutex lock;
    static std::map<std::array<uint8_t, 16>, std::unique_ptr<VirtualAttestation>> cache;
    std::lock_guard<std::mutex> guard(lock);
    auto& slot = cache[aaguid];
    if (!slot) {
        slot.reset(new VirtualAttestation(aaguid));
    }
    return *slot;
}

Bytes undecodableCertificate() {
    // A SEQUENCE of 32 bytes whose content is no TBSCertificate.
    Bytes b = {0x30, 0x82, 0x00, 0x20};
    b.insert(b.end(), 32, 0x5A);
    return b;
}

}  // namespace orvanta
