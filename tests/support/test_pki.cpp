#include "support/test_pki.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <stdexcept>

#include "common/base64.h"

namespace orvanta::test {

namespace {

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};

void check(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string("libcrypto refused: ") + what);
    }
}

void addExtension(X509* certificate, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    check(extension != nullptr && X509_add_ext(certificate, extension, -1) == 1, "extension");
    X509_EXTENSION_free(extension);
}

}  // namespace

Pkey makeKey(KeyKind kind) {
    switch (kind) {
        case KeyKind::P256:
            return Pkey(EVP_EC_gen("P-256"));
        case KeyKind::Rsa2048:
            return Pkey(EVP_RSA_gen(2048));
        case KeyKind::Ed25519:
            return Pkey(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    }
    return nullptr;
}

std::vector<uint8_t> makeCertificate(const CertificateRequest& request, EVP_PKEY* subjectKey,
                                     EVP_PKEY* issuerKey) {
    std::unique_ptr<X509, X509Free> certificate(X509_new());
    check(certificate != nullptr, "X509_new");
    X509* x = certificate.get();
    check(X509_set_version(x, 2) == 1, "version");
    check(ASN1_INTEGER_set(X509_get_serialNumber(x), request.serial) == 1, "serial");
    check(X509_gmtime_adj(X509_getm_notBefore(x), request.notBeforeDays * 86400) != nullptr,
          "notBefore");
    check(X509_gmtime_adj(X509_getm_notAfter(x), request.notAfterDays * 86400) != nullptr,
          "notAfter");
    auto name = [](const std::string& cn) {
        X509_NAME* n = X509_NAME_new();
        X509_NAME_add_entry_by_txt(n, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
        return n;
    };
    X509_NAME* subject = name(request.subjectCommonName);
    if (!request.subject.empty()) {
        X509_NAME_free(subject);
        subject = X509_NAME_new();
        for (const auto& [field, value] : request.subject) {
            X509_NAME_add_entry_by_txt(subject, field.c_str(), MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>(value.c_str()), -1,
                                       -1, 0);
        }
    }
    X509_NAME* issuer = name(request.issuerCommonName);
    X509_set_subject_name(x, subject);
    X509_set_issuer_name(x, issuer);
    X509_NAME_free(subject);
    X509_NAME_free(issuer);
    check(X509_set_pubkey(x, subjectKey) == 1, "pubkey");
    addExtension(x, x, NID_basic_constraints, request.ca ? "critical,CA:TRUE" : "CA:FALSE");
    if (request.ca) {
        addExtension(x, x, NID_key_usage, "critical,keyCertSign,cRLSign");
    }
    if (request.aaguidExtension) {
        ASN1_OCTET_STRING* inner = ASN1_OCTET_STRING_new();
        ASN1_OCTET_STRING_set(inner, request.aaguidExtension->data(),
                              static_cast<int>(request.aaguidExtension->size()));
        unsigned char* innerDer = nullptr;
        const int innerLength = i2d_ASN1_OCTET_STRING(inner, &innerDer);
        ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
        ASN1_OCTET_STRING_set(value, innerDer, innerLength);
        ASN1_OBJECT* oid = OBJ_txt2obj("1.3.6.1.4.1.45724.1.1.4", 1);
        X509_EXTENSION* extension =
            X509_EXTENSION_create_by_OBJ(nullptr, oid, request.aaguidCritical ? 1 : 0, value);
        check(extension != nullptr && X509_add_ext(x, extension, -1) == 1, "aaguid extension");
        X509_EXTENSION_free(extension);
        ASN1_OBJECT_free(oid);
        ASN1_OCTET_STRING_free(value);
        OPENSSL_free(innerDer);
        ASN1_OCTET_STRING_free(inner);
    }
    const bool edwards = EVP_PKEY_get_base_id(issuerKey) == EVP_PKEY_ED25519;
    check(X509_sign(x, issuerKey, edwards ? nullptr : EVP_sha256()) > 0, "sign");
    unsigned char* der = nullptr;
    const int length = i2d_X509(x, &der);
    check(length > 0, "i2d");
    std::vector<uint8_t> out(der, der + length);
    OPENSSL_free(der);
    return out;
}

std::string toPem(const std::vector<uint8_t>& der) {
    std::string text = "-----BEGIN CERTIFICATE-----\n";
    const std::string b64 = base64Encode(der);
    for (size_t i = 0; i < b64.size(); i += 64) {
        text += b64.substr(i, 64) + "\n";
    }
    return text + "-----END CERTIFICATE-----\n";
}

std::string base64Standard(const std::vector<uint8_t>& bytes) {
    return base64Encode(bytes);
}

std::string base64Url(std::string_view bytes) {
    std::string text =
        base64Encode(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    for (char& c : text) {
        c = c == '+' ? '-' : c == '/' ? '_' : c;
    }
    while (!text.empty() && text.back() == '=') {
        text.pop_back();
    }
    return text;
}

std::string signJwt(std::string_view payload, std::string_view alg, EVP_PKEY* key,
                    const std::vector<std::vector<uint8_t>>& chain) {
    std::string header = "{\"alg\":\"" + std::string(alg) + "\",\"typ\":\"JWT\",\"x5c\":[";
    for (size_t i = 0; i < chain.size(); ++i) {
        header += (i ? ",\"" : "\"") + base64Standard(chain[i]) + "\"";
    }
    header += "]}";
    const std::string input = base64Url(header) + "." + base64Url(payload);
    const bool edwards = alg == "EdDSA";
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    size_t length = 0;
    check(EVP_DigestSignInit(ctx, nullptr, edwards ? nullptr : EVP_sha256(), nullptr, key) == 1,
          "sign init");
    check(EVP_DigestSign(ctx, nullptr, &length,
                         reinterpret_cast<const unsigned char*>(input.data()), input.size()) == 1,
          "sign length");
    std::vector<uint8_t> signature(length);
    check(EVP_DigestSign(ctx, signature.data(), &length,
                         reinterpret_cast<const unsigned char*>(input.data()), input.size()) == 1,
          "sign");
    EVP_MD_CTX_free(ctx);
    signature.resize(length);
    if (alg == "ES256") {  // DER to r || s, as JWS has it
        const unsigned char* p = signature.data();
        ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(signature.size()));
        check(sig != nullptr, "ecdsa der");
        std::vector<uint8_t> raw(64);
        BN_bn2binpad(ECDSA_SIG_get0_r(sig), raw.data(), 32);
        BN_bn2binpad(ECDSA_SIG_get0_s(sig), raw.data() + 32, 32);
        ECDSA_SIG_free(sig);
        signature = raw;
    }
    return input + "." +
           base64Url(
               std::string_view(reinterpret_cast<const char*>(signature.data()), signature.size()));
}

}  // namespace orvanta::test
