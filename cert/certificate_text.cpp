#include "cert/certificate_text.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

#include "ctap/openssl_handles.h"

namespace orvanta {

namespace {

using Bio = std::unique_ptr<BIO, openssl::Deleter<BIO, BIO_free_all>>;

// The certificate when the bytes are exactly one DER certificate.
openssl::X509Cert decode(std::span<const uint8_t> der) {
    const unsigned char* next = der.data();
    openssl::X509Cert certificate(d2i_X509(nullptr, &next, static_cast<long>(der.size())));
    if (!certificate || next != der.data() + der.size()) {
        return nullptr;
    }
    return certificate;
}

// What the writer put into the memory BIO.
std::string contents(BIO* bio) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return length > 0 ? std::string(data, static_cast<size_t>(length)) : std::string();
}

}  // namespace

std::optional<std::string> certificateText(std::span<const uint8_t> der) {
    openssl::X509Cert certificate = decode(der);
    Bio out(BIO_new(BIO_s_mem()));
    // The name form the openssl command prints unless told otherwise ("C = US, O = ...").
    if (!certificate || !out ||
        X509_print_ex(out.get(), certificate.get(), XN_FLAG_ONELINE, 0) != 1) {
        return std::nullopt;
    }
    return contents(out.get());
}

std::optional<std::string> certificatePem(std::span<const uint8_t> der) {
    openssl::X509Cert certificate = decode(der);
    Bio out(BIO_new(BIO_s_mem()));
    if (!certificate || !out || PEM_write_bio_X509(out.get(), certificate.get()) != 1) {
        return std::nullopt;
    }
    return contents(out.get());
}

}  // namespace orvanta
