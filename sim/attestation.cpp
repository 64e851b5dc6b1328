#include "sim/attestation.h"

#include <mbedtls/bignum.h>
#include <mbedtls/x509.h>
#include <mbedtls/x509_crt.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <utility>

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
constexpr const char* FIDO_TRANSPORTS_OID_TEXT = "1.3.6.1.4.1.45724.2.1.1";
constexpr const char* FIDO_AAGUID_OID_TEXT = "1.3.6.1.4.1.45724.1.1.4";
constexpr const char* NOT_BEFORE = "20240101000000Z";
constexpr const char* NOT_AFTER = "20491231235959Z";

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

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using ExtensionPtr = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;
using ObjectPtr = std::unique_ptr<ASN1_OBJECT, Deleter<ASN1_OBJECT, ASN1_OBJECT_free>>;
using OctetsPtr =
    std::unique_ptr<ASN1_OCTET_STRING, Deleter<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>>;

// Adds "C=US,O=...,CN=..." to the name, attribute by attribute, in that order.
bool addName(X509_NAME* name, const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string attribute = text.substr(start, end - start);
        const size_t equals = attribute.find('=');
        if (equals == std::string::npos) {
            return false;
        }
        const std::string value = attribute.substr(equals + 1);
        if (X509_NAME_add_entry_by_txt(name, attribute.substr(0, equals).c_str(), MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>(value.c_str()), -1,
                                       -1, 0) != 1) {
            return false;
        }
        start = end + 1;
    }
    return true;
}

bool addExtension(X509* certificate, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

bool addRawExtension(X509* certificate, const char* oid, const unsigned char* value,
                     size_t length) {
    ObjectPtr object(OBJ_txt2obj(oid, 1));
    OctetsPtr octets(ASN1_OCTET_STRING_new());
    if (!object || !octets ||
        ASN1_OCTET_STRING_set(octets.get(), value, static_cast<int>(length)) != 1) {
        return false;
    }
    ExtensionPtr extension(X509_EXTENSION_create_by_OBJ(nullptr, object.get(), 0, octets.get()));
    return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

struct Ed25519Shape {
    const SimEd25519Key* subjectKey;
    const SimEd25519Key* issuerKey;
    X509* issuerCertificate;  // null for the CA, which issues itself
    const char* subject;
    const char* issuer;
    long serial;
    const std::array<uint8_t, 16>* aaguid;  // null for the CA
};

// The same layout as the P-256 material, signed with Ed25519 (no separate digest).
X509Ptr writeEd25519Certificate(const Ed25519Shape& shape) {
    X509Ptr certificate(X509_new());
    if (!certificate || shape.subjectKey->pkey() == nullptr || shape.issuerKey->pkey() == nullptr) {
        return nullptr;
    }
    X509* x = certificate.get();
    X509* issuer = shape.issuerCertificate != nullptr ? shape.issuerCertificate : x;
    const bool ca = shape.aaguid == nullptr;
    bool ok =
        X509_set_version(x, X509_VERSION_3) == 1 &&
        ASN1_INTEGER_set(X509_get_serialNumber(x), shape.serial) == 1 &&
        addName(X509_get_subject_name(x), shape.subject) &&
        addName(X509_get_issuer_name(x), shape.issuer) &&
        ASN1_TIME_set_string_X509(X509_getm_notBefore(x), NOT_BEFORE) == 1 &&
        ASN1_TIME_set_string_X509(X509_getm_notAfter(x), NOT_AFTER) == 1 &&
        X509_set_pubkey(x, shape.subjectKey->pkey()) == 1 &&
        addExtension(x, issuer, NID_basic_constraints, ca ? "critical,CA:TRUE" : "CA:FALSE") &&
        addExtension(x, issuer, NID_subject_key_identifier, "hash") &&
        addExtension(x, issuer, NID_authority_key_identifier, "keyid:always");
    if (ca) {
        ok = ok && addExtension(x, issuer, NID_key_usage, "keyCertSign,cRLSign");
    } else {
        unsigned char aaguidValue[18] = {0x04, 0x10};
        std::copy(shape.aaguid->begin(), shape.aaguid->end(), aaguidValue + 2);
        ok = ok &&
             addRawExtension(x, FIDO_TRANSPORTS_OID_TEXT, TRANSPORTS_USB, sizeof TRANSPORTS_USB) &&
             addRawExtension(x, FIDO_AAGUID_OID_TEXT, aaguidValue, sizeof aaguidValue);
    }
    if (!ok || X509_sign(x, shape.issuerKey->pkey(), nullptr) <= 0) {
        return nullptr;
    }
    return certificate;
}

Bytes derOf(const X509* certificate) {
    if (certificate == nullptr) {
        return {};
    }
    unsigned char* der = nullptr;
    const int length = i2d_X509(certificate, &der);
    if (length <= 0) {
        return {};
    }
    Bytes out(der, der + length);
    OPENSSL_free(der);
    return out;
}

}  // namespace

VirtualAttestation::VirtualAttestation(const std::array<uint8_t, 16>& aaguid,
                                       AttestationKeyType type)
    : type_(type) {
    if (type == AttestationKeyType::Ed25519) {
        SeededDrbg drbg("orvanta-virtual-attestation-ed25519");
        edCaKey_.generate(drbg);
        edKey_.generate(drbg);
        X509Ptr ca = writeEd25519Certificate(
            {&edCaKey_, &edCaKey_, nullptr, ROOT_CA_SUBJECT, ROOT_CA_SUBJECT, 1, nullptr});
        X509Ptr leaf =
            ca ? writeEd25519Certificate({&edKey_, &edCaKey_, ca.get(), ATTESTATION_SUBJECT,
                                          ROOT_CA_SUBJECT, 2, &aaguid})
               : nullptr;
        caCertificate_ = derOf(ca.get());
        certificate_ = derOf(leaf.get());
        return;
    }
    // The keys come from a fixed seed, so every run and every AAGUID shares them.
    SeededDrbg drbg("orvanta-virtual-attestation");
    caKey_.generate(drbg);
    key_.generate(drbg);
    caCertificate_ = writeCertificate(
        {&caKey_, &caKey_, ROOT_CA_SUBJECT, ROOT_CA_SUBJECT, 1, true, nullptr}, drbg);
    certificate_ = writeCertificate(
        {&key_, &caKey_, ATTESTATION_SUBJECT, ROOT_CA_SUBJECT, 2, false, &aaguid}, drbg);
}

int32_t VirtualAttestation::algorithm() const {
    return type_ == AttestationKeyType::Ed25519 ? -8 : -7;
}

Bytes VirtualAttestation::sign(const uint8_t* data, size_t length, SeededDrbg& drbg) const {
    if (type_ == AttestationKeyType::Ed25519) {
        return edKey_.sign(data, length);
    }
    return key_.signSha256(data, length, drbg);
}

const VirtualAttestation& VirtualAttestation::forAaguid(const std::array<uint8_t, 16>& aaguid,
                                                        AttestationKeyType type) {
    static std::mutex lock;
    static std::map<std::pair<std::array<uint8_t, 16>, AttestationKeyType>,
                    std::unique_ptr<VirtualAttestation>>
        cache;
    std::lock_guard<std::mutex> guard(lock);
    auto& slot = cache[{aaguid, type}];
    if (!slot) {
        slot.reset(new VirtualAttestation(aaguid, type));
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
