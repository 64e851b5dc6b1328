#include "cert/x509_lenient.h"

#include <openssl/err.h>

#include <vector>

#include "cert/der.h"

namespace orvanta {

namespace {

X509Ptr decode(std::span<const uint8_t> der) {
    // A refusal leaves nothing behind in the thread's error queue.
    ERR_set_mark();
    const unsigned char* p = der.data();
    X509Ptr certificate(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    ERR_pop_to_mark();
    return certificate;
}

// The three elements of the outer certificate SEQUENCE.
struct CertificateLayout {
    DerElement tbs;
    DerElement signatureAlgorithm;
    DerElement signature;
};

std::optional<CertificateLayout> certificateLayout(std::span<const uint8_t> der) {
    DerCursor outer(der);
    std::optional<DerElement> certificate = outer.next(der_tag::SEQUENCE);
    if (!certificate) {
        return std::nullopt;
    }
    DerCursor inner(certificate->content);
    std::optional<DerElement> tbs = inner.next(der_tag::SEQUENCE);
    std::optional<DerElement> algorithm =
        tbs ? inner.next(der_tag::SEQUENCE) : std::optional<DerElement>();
    std::optional<DerElement> signature =
        algorithm ? inner.next(der_tag::BIT_STRING) : std::optional<DerElement>();
    if (!signature || !inner.atEnd()) {
        return std::nullopt;
    }
    return CertificateLayout{*tbs, *algorithm, *signature};
}

// The tbsCertificate fields up to the subject, with what follows it.
struct TbsLayout {
    std::optional<DerElement> version;
    DerElement serial;
    DerElement signature;
    DerElement issuer;
    DerElement validity;
    DerElement subject;
    std::span<const uint8_t> rest;  // subjectPublicKeyInfo and later fields
};

std::optional<TbsLayout> tbsLayout(std::span<const uint8_t> tbsContent) {
    DerCursor cursor(tbsContent);
    TbsLayout layout;
    layout.version = cursor.next(der_tag::CONTEXT_0);
    std::optional<DerElement> fields[5];
    const uint8_t tags[5] = {der_tag::INTEGER, der_tag::SEQUENCE, der_tag::SEQUENCE,
                             der_tag::SEQUENCE, der_tag::SEQUENCE};
    for (size_t i = 0; i < 5; ++i) {
        fields[i] = cursor.next(tags[i]);
        if (!fields[i]) {
            return std::nullopt;
        }
    }
    layout.serial = *fields[0];
    layout.signature = *fields[1];
    layout.issuer = *fields[2];
    layout.validity = *fields[3];
    layout.subject = *fields[4];
    layout.rest = cursor.rest();
    return layout;
}

// The copy the library gets when it refuses the original: see parseCertificateLenient.
std::optional<std::vector<uint8_t>> plainCopy(std::span<const uint8_t> der) {
    std::optional<CertificateLayout> certificate = certificateLayout(der);
    std::optional<TbsLayout> tbs =
        certificate ? tbsLayout(certificate->tbs.content) : std::optional<TbsLayout>();
    if (!tbs || certificate->signature.content.empty()) {
        return std::nullopt;
    }
    static constexpr uint8_t SERIAL_ONE[] = {0x02, 0x01, 0x01};
    static constexpr uint8_t EMPTY_NAME[] = {0x30, 0x00};
    std::vector<uint8_t> tbsContent;
    if (tbs->version) {
        tbsContent.insert(tbsContent.end(), tbs->version->whole.begin(), tbs->version->whole.end());
    }
    tbsContent.insert(tbsContent.end(), std::begin(SERIAL_ONE), std::end(SERIAL_ONE));
    tbsContent.insert(tbsContent.end(), tbs->signature.whole.begin(), tbs->signature.whole.end());
    tbsContent.insert(tbsContent.end(), std::begin(EMPTY_NAME), std::end(EMPTY_NAME));
    tbsContent.insert(tbsContent.end(), tbs->validity.whole.begin(), tbs->validity.whole.end());
    tbsContent.insert(tbsContent.end(), std::begin(EMPTY_NAME), std::end(EMPTY_NAME));
    tbsContent.insert(tbsContent.end(), tbs->rest.begin(), tbs->rest.end());

    std::vector<uint8_t> signature(certificate->signature.content.begin(),
                                   certificate->signature.content.end());
    signature[0] = 0;
    std::vector<uint8_t> content;
    appendDer(content, der_tag::SEQUENCE, tbsContent);
    content.insert(content.end(), certificate->signatureAlgorithm.whole.begin(),
                   certificate->signatureAlgorithm.whole.end());
    appendDer(content, der_tag::BIT_STRING, signature);
    std::vector<uint8_t> copy;
    appendDer(copy, der_tag::SEQUENCE, content);
    return copy;
}

}  // namespace

std::optional<CertificateFields> certificateFields(std::span<const uint8_t> der) {
    std::optional<CertificateLayout> certificate = certificateLayout(der);
    if (!certificate) {
        return std::nullopt;
    }
    std::optional<TbsLayout> tbs = tbsLayout(certificate->tbs.content);
    if (!tbs) {
        return std::nullopt;
    }
    DerCursor rest(tbs->rest);
    std::optional<DerElement> publicKeyInfo = rest.next(der_tag::SEQUENCE);
    if (!publicKeyInfo) {
        return std::nullopt;
    }
    return CertificateFields{tbs->serial.content, tbs->issuer.whole, tbs->subject.whole,
                             publicKeyInfo->whole};
}

std::optional<size_t> nonZeroSignatureUnusedBits(const uint8_t* der, size_t length) {
    if (der == nullptr) {
        return std::nullopt;
    }
    std::optional<CertificateLayout> certificate = certificateLayout({der, length});
    if (!certificate || certificate->signature.content.empty() ||
        certificate->signature.content[0] == 0) {
        return std::nullopt;
    }
    return static_cast<size_t>(certificate->signature.content.data() - der);
}

X509Ptr parseCertificateLenient(std::span<const uint8_t> der) {
    if (der.empty()) {
        return nullptr;
    }
    X509Ptr certificate = decode(der);
    if (certificate) {
        return certificate;
    }
    std::optional<std::vector<uint8_t>> copy = plainCopy(der);
    return copy ? decode(*copy) : nullptr;
}

}  // namespace orvanta
