#include "x509_check.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

#include "ctap/openssl_handles.h"

namespace orvanta::test {

namespace {

using openssl::Deleter;
using openssl::MdCtx;
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

// The certificate when the bytes are exactly one.
X509Ptr parse(const std::vector<uint8_t>& der) {
    const unsigned char* p = der.data();
    X509Ptr certificate(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    if (certificate && p != der.data() + der.size()) {
        certificate.reset();
    }
    return certificate;
}

}  // namespace

bool signatureVerifies(const std::vector<uint8_t>& certificate, const std::vector<uint8_t>& message,
                       const std::vector<uint8_t>& signature) {
    X509Ptr crt = parse(certificate);
    EVP_PKEY* key = crt ? X509_get0_pubkey(crt.get()) : nullptr;
    if (key == nullptr) {
        return false;
    }
    const EVP_MD* digest = EVP_PKEY_get_base_id(key) == EVP_PKEY_ED25519 ? nullptr : EVP_sha256();
    MdCtx context(EVP_MD_CTX_new());
    return context && EVP_DigestVerifyInit(context.get(), nullptr, digest, nullptr, key) == 1 &&
           EVP_DigestVerify(context.get(), signature.data(), signature.size(), message.data(),
                            message.size()) == 1;
}

bool issuedBy(const std::vector<uint8_t>& leaf, const std::vector<uint8_t>& issuer) {
    X509Ptr l = parse(leaf);
    X509Ptr ca = parse(issuer);
    // Validity times are not judged here: only names, key identifiers and the signature.
    return l && ca && X509_check_issued(ca.get(), l.get()) == X509_V_OK &&
           X509_verify(l.get(), X509_get0_pubkey(ca.get())) == 1;
}

std::string subjectOf(const std::vector<uint8_t>& certificate) {
    X509Ptr crt = parse(certificate);
    Bio out(BIO_new(BIO_s_mem()));
    if (!crt || !out ||
        X509_NAME_print_ex(out.get(), X509_get_subject_name(crt.get()), 0,
                           XN_FLAG_SEP_CPLUS_SPC | XN_FLAG_FN_SN | ASN1_STRFLGS_RFC2253) < 0) {
        return {};
    }
    char* text = nullptr;
    const long length = BIO_get_mem_data(out.get(), &text);
    return length > 0 ? std::string(text, static_cast<size_t>(length)) : std::string();
}

bool decodes(const std::vector<uint8_t>& certificate) {
    return parse(certificate) != nullptr;
}

}  // namespace orvanta::test
