#include "sim/attestation.h"

#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "ctap/openssl_handles.h"

namespace orvanta {

namespace {

using openssl::X509Cert;

// BIT STRING, 5 unused bits, bit 2 set: USB.
const unsigned char TRANSPORTS_USB[] = {0x03, 0x02, 0x05, 0x20};
// 1.3.6.1.4.1.45724.2.1.1: FIDO U2F transports, a BIT STRING.
constexpr const char* FIDO_TRANSPORTS_OID_TEXT = "1.3.6.1.4.1.45724.2.1.1";
// 1.3.6.1.4.1.45724.1.1.4: AAGUID of the authenticator model, an OCTET STRING.
constexpr const char* FIDO_AAGUID_OID_TEXT = "1.3.6.1.4.1.45724.1.1.4";
constexpr const char* NOT_BEFORE = "20240101000000Z";
constexpr const char* NOT_AFTER = "20491231235959Z";
// AlgorithmIdentifier ecdsa-with-SHA256 with NULL parameters, as the P-256 certificates of
// the virtual key have always carried it.
const unsigned char ECDSA_SHA256_WITH_NULL[] = {0x30, 0x0C, 0x06, 0x08, 0x2A, 0x86, 0x48,
                                                0xCE, 0x3D, 0x04, 0x03, 0x02, 0x05, 0x00};

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
    openssl::X509Ext extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

bool addRawExtension(X509* certificate, const char* oid, const unsigned char* value,
                     size_t length) {
    openssl::Asn1Object object(OBJ_txt2obj(oid, 1));
    openssl::Asn1Octets octets(ASN1_OCTET_STRING_new());
    if (!object || !octets ||
        ASN1_OCTET_STRING_set(octets.get(), value, static_cast<int>(length)) != 1) {
        return false;
    }
    openssl::X509Ext extension(
        X509_EXTENSION_create_by_OBJ(nullptr, object.get(), 0, octets.get()));
    return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

// One certificate of the material. Exactly one of the issuer keys is given: the P-256 one
// or the Ed25519 one.
struct CertificateShape {
    EVP_PKEY* subjectKey;
    const SimKeyPair* p256Issuer;
    const SimEd25519Key* ed25519Issuer;
    X509* issuerCertificate;  // null for the CA, which issues itself
    const char* subject;
    const char* issuer;
    long serial;
    const std::array<uint8_t, 16>* aaguid;  // null for the CA
};

// The to-be-signed part: names, validity, key and the extensions (the CA's basic
// constraints and key usage, the attestation certificate's FIDO transports and AAGUID).
X509Cert unsignedCertificate(const CertificateShape& shape) {
    X509Cert certificate(X509_new());
    if (!certificate || shape.subjectKey == nullptr) {
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
        X509_set_pubkey(x, shape.subjectKey) == 1 &&
        addExtension(x, issuer, NID_basic_constraints, ca ? "critical,CA:TRUE" : "CA:FALSE") &&
        addExtension(x, issuer, NID_subject_key_identifier, "hash") &&
        addExtension(x, issuer, NID_authority_key_identifier, "keyid:always");
    if (ca) {
        // The P-256 root marks its key usage critical, the Ed25519 root does not.
        ok = ok && addExtension(x, issuer, NID_key_usage,
                                shape.p256Issuer != nullptr ? "critical,keyCertSign,cRLSign"
                                                            : "keyCertSign,cRLSign");
    } else {
        unsigned char aaguidValue[18] = {0x04, 0x10};
        std::copy(shape.aaguid->begin(), shape.aaguid->end(), aaguidValue + 2);
        ok = ok &&
             addRawExtension(x, FIDO_TRANSPORTS_OID_TEXT, TRANSPORTS_USB, sizeof TRANSPORTS_USB) &&
             addRawExtension(x, FIDO_AAGUID_OID_TEXT, aaguidValue, sizeof aaguidValue);
    }
    return ok ? std::move(certificate) : nullptr;
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

// A DER element of the tag around the contents (under 64 KiB).
Bytes derElement(uint8_t tag, const Bytes& contents) {
    Bytes out{tag};
    if (contents.size() < 0x80) {
        out.push_back(static_cast<uint8_t>(contents.size()));
    } else if (contents.size() <= 0xFF) {
        out.insert(out.end(), {0x81, static_cast<uint8_t>(contents.size())});
    } else {
        out.insert(out.end(), {0x82, static_cast<uint8_t>(contents.size() >> 8),
                               static_cast<uint8_t>(contents.size())});
    }
    out.insert(out.end(), contents.begin(), contents.end());
    return out;
}

// Signs the certificate with the issuer's P-256 key. OpenSSL writes ECDSA algorithm
// identifiers without parameters and draws a random nonce; these certificates carry NULL
// parameters and a deterministic signature, so the signed form is put together here.
Bytes signP256(X509* certificate, const SimKeyPair& issuerKey) {
    // The TBSCertificate's own signature field: X509_get0_tbs_sigalg points into the
    // certificate this function was handed to change.
    auto* tbsAlgorithm = const_cast<X509_ALGOR*>(X509_get0_tbs_sigalg(certificate));
    if (X509_ALGOR_set0(tbsAlgorithm, OBJ_nid2obj(NID_ecdsa_with_SHA256), V_ASN1_NULL, nullptr) !=
        1) {
        return {};
    }
    unsigned char* tbsDer = nullptr;
    const int tbsLength = i2d_re_X509_tbs(certificate, &tbsDer);
    if (tbsLength <= 0) {
        return {};
    }
    const openssl::Bytes tbsOwner(tbsDer);
    Bytes body(tbsDer, tbsDer + tbsLength);
    const Bytes signature = issuerKey.signDigest(sha256Of(body));
    if (signature.empty()) {
        return {};
    }
    body.insert(body.end(), std::begin(ECDSA_SHA256_WITH_NULL), std::end(ECDSA_SHA256_WITH_NULL));
    Bytes bits{0x00};  // no unused bits
    bits.insert(bits.end(), signature.begin(), signature.end());
    const Bytes bitString = derElement(0x03, bits);
    body.insert(body.end(), bitString.begin(), bitString.end());
    return derElement(0x30, body);
}

// The certificate of the shape as DER, with the X509 object kept for issuing under it.
Bytes writeCertificate(const CertificateShape& shape, X509Cert& certificate) {
    certificate = unsignedCertificate(shape);
    if (!certificate) {
        return {};
    }
    if (shape.p256Issuer != nullptr) {
        return signP256(certificate.get(), *shape.p256Issuer);
    }
    if (shape.ed25519Issuer == nullptr || shape.ed25519Issuer->pkey() == nullptr ||
        X509_sign(certificate.get(), shape.ed25519Issuer->pkey(), nullptr) <= 0) {
        return {};
    }
    return derOf(certificate.get());
}

}  // namespace

VirtualAttestation::VirtualAttestation(const std::array<uint8_t, 16>& aaguid,
                                       AttestationKeyType type)
    : type_(type) {
    // The keys come from a fixed seed, so every run and every AAGUID shares them.
    X509Cert ca;
    X509Cert leaf;
    if (type == AttestationKeyType::Ed25519) {
        SeededDrbg drbg("orvanta-virtual-attestation-ed25519");
        edCaKey_.generate(drbg);
        edKey_.generate(drbg);
        caCertificate_ = writeCertificate({edCaKey_.pkey(), nullptr, &edCaKey_, nullptr,
                                           ROOT_CA_SUBJECT, ROOT_CA_SUBJECT, 1, nullptr},
                                          ca);
        certificate_ = writeCertificate({edKey_.pkey(), nullptr, &edCaKey_, ca.get(),
                                         ATTESTATION_SUBJECT, ROOT_CA_SUBJECT, 2, &aaguid},
                                        leaf);
    } else {
        SeededDrbg drbg("orvanta-virtual-attestation");
        caKey_.generate(drbg);
        key_.generate(drbg);
        caCertificate_ = writeCertificate({caKey_.pkey(), &caKey_, nullptr, nullptr,
                                           ROOT_CA_SUBJECT, ROOT_CA_SUBJECT, 1, nullptr},
                                          ca);
        certificate_ = writeCertificate({key_.pkey(), &caKey_, nullptr, ca.get(),
                                         ATTESTATION_SUBJECT, ROOT_CA_SUBJECT, 2, &aaguid},
                                        leaf);
    }
    if (caCertificate_.empty()) {
        certificate_.clear();
    }
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
