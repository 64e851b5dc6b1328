#include "support/test_pki.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <stdexcept>

#include "cert/base64.h"
#include "cert/der.h"
#include "cert/u2f_fetch.h"

namespace orvanta::test {

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string("libcrypto refused: ") + what);
    }
}

void addExtension(X509* certificate, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, certificate, certificate, nullptr, nullptr, 0);
    const openssl::X509Ext extension(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
    check(extension != nullptr && X509_add_ext(certificate, extension.get(), -1) == 1, "extension");
}

void addRawExtension(X509* certificate, const char* oid, const std::vector<uint8_t>& value,
                     bool critical) {
    const openssl::Asn1Object object(OBJ_txt2obj(oid, 1));
    const openssl::Asn1Octets octets(ASN1_OCTET_STRING_new());
    check(
        object && octets &&
            ASN1_OCTET_STRING_set(octets.get(), value.data(), static_cast<int>(value.size())) == 1,
        "extension value");
    const openssl::X509Ext extension(
        X509_EXTENSION_create_by_OBJ(nullptr, object.get(), critical ? 1 : 0, octets.get()));
    check(extension != nullptr && X509_add_ext(certificate, extension.get(), -1) == 1, "extension");
}

// The country as a PrintableString, everything else as UTF8String, written as given: no
// length limits, so tests can make names longer than the upper bounds of X.520.
void setName(X509_NAME* name, const NameEntries& entries) {
    for (const auto& [field, value] : entries) {
        check(X509_NAME_add_entry_by_txt(name, field.c_str(),
                                         field == "C" ? V_ASN1_PRINTABLESTRING : V_ASN1_UTF8STRING,
                                         reinterpret_cast<const unsigned char*>(value.data()),
                                         static_cast<int>(value.size()), -1, 0) == 1,
              "name entry");
    }
}

}  // namespace

Pkey makeKey(KeyKind kind) {
    Pkey key;
    switch (kind) {
        case KeyKind::P256:
            key.reset(EVP_EC_gen("P-256"));
            break;
        case KeyKind::P384:
            key.reset(EVP_EC_gen("P-384"));
            break;
        case KeyKind::Rsa2048:
            key.reset(EVP_RSA_gen(2048));
            break;
        case KeyKind::Ed25519:
            key.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
            break;
    }
    check(key != nullptr, "key generation");
    return key;
}

std::vector<uint8_t> makeCertificate(const CertificateRequest& request, EVP_PKEY* subjectKey,
                                     EVP_PKEY* issuerKey) {
    const openssl::X509Cert certificate(X509_new());
    check(certificate != nullptr, "X509_new");
    X509* x = certificate.get();
    check(X509_set_version(x, request.version == 1 ? X509_VERSION_1 : X509_VERSION_3) == 1,
          "version");
    const openssl::Bignum serial(
        BN_bin2bn(request.serial.data(), static_cast<int>(request.serial.size()), nullptr));
    check(serial && BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(x)) != nullptr,
          "serial");
    check(
        ASN1_TIME_set_string_X509(X509_getm_notBefore(x), (request.notBefore + "Z").c_str()) == 1 &&
            ASN1_TIME_set_string_X509(X509_getm_notAfter(x), (request.notAfter + "Z").c_str()) == 1,
        "validity");
    setName(X509_get_subject_name(x), request.subject);
    setName(X509_get_issuer_name(x), request.issuer);
    check(X509_set_pubkey(x, subjectKey) == 1, "pubkey");
    if (request.ca) {
        addExtension(x, NID_basic_constraints, *request.ca ? "critical,CA:TRUE" : "CA:FALSE");
        if (*request.ca) {
            addExtension(x, NID_key_usage, "critical,keyCertSign,cRLSign");
        }
    }
    if (request.transports) {
        addRawExtension(x, "1.3.6.1.4.1.45724.2.1.1", *request.transports, false);
    }
    if (request.aaguidExtension) {
        std::vector<uint8_t> value;
        appendDer(value, der_tag::OCTET_STRING, *request.aaguidExtension);
        addRawExtension(x, "1.3.6.1.4.1.45724.1.1.4", value, request.aaguidCritical);
    }
    const bool edwards = EVP_PKEY_get_base_id(issuerKey) == EVP_PKEY_ED25519;
    check(X509_sign(x, issuerKey, edwards ? nullptr : EVP_sha256()) > 0, "sign");
    unsigned char* der = nullptr;
    const int length = i2d_X509(x, &der);
    check(length > 0, "i2d");
    const openssl::Bytes owner(der);
    return std::vector<uint8_t>(der, der + length);
}

U2fTestRegistration makeU2fRegistration(const P256TestKey& attestationKey,
                                        const P256TestKey& userKey, const P256TestKey& caKey,
                                        size_t keyHandleLength, const uint8_t* challenge,
                                        const uint8_t* application) {
    CertificateRequest request;
    request.subject = {{"C", "US"}, {"O", "Orvanta Test"}, {"CN", "Test U2F Attestation"}};
    request.transports = std::vector<uint8_t>{0x03, 0x02, 0x04, 0x30};
    std::vector<uint8_t> certificate = makeCertificate(request, attestationKey, caKey);
    const auto userPoint = userKey.publicKey();
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

LibcryptoKey LibcryptoKey::ed25519(uint8_t seed) {
    uint8_t privateKey[32];
    for (size_t i = 0; i < sizeof privateKey; ++i) {
        privateKey[i] = static_cast<uint8_t>(seed + 7 * i);
    }
    Pkey key(
        EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, privateKey, sizeof privateKey));
    check(key != nullptr, "Ed25519 key");
    return LibcryptoKey(std::move(key));
}

LibcryptoKey LibcryptoKey::rsa2048() {
    return LibcryptoKey(makeKey(KeyKind::Rsa2048));
}

LibcryptoKey LibcryptoKey::p384() {
    return LibcryptoKey(makeKey(KeyKind::P384));
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
    openssl::MdCtx context(EVP_MD_CTX_new());
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

std::vector<uint8_t> p256SubjectPublicKeyInfo(std::span<const uint8_t> point) {
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
    const openssl::MdCtx ctx(EVP_MD_CTX_new());
    size_t length = 0;
    check(ctx && EVP_DigestSignInit(ctx.get(), nullptr, edwards ? nullptr : EVP_sha256(), nullptr,
                                    key) == 1,
          "sign init");
    check(EVP_DigestSign(ctx.get(), nullptr, &length,
                         reinterpret_cast<const unsigned char*>(input.data()), input.size()) == 1,
          "sign length");
    std::vector<uint8_t> signature(length);
    check(EVP_DigestSign(ctx.get(), signature.data(), &length,
                         reinterpret_cast<const unsigned char*>(input.data()), input.size()) == 1,
          "sign");
    signature.resize(length);
    if (alg == "ES256") {  // DER to r || s, as JWS has it
        const unsigned char* p = signature.data();
        const openssl::EcdsaSig sig(
            d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(signature.size())));
        check(sig != nullptr, "ecdsa der");
        std::vector<uint8_t> raw(64);
        BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), raw.data(), 32);
        BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), raw.data() + 32, 32);
        signature = raw;
    }
    return input + "." +
           base64Url(
               std::string_view(reinterpret_cast<const char*>(signature.data()), signature.size()));
}

}  // namespace orvanta::test
