#include "mds/metadata_blob.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>

#include "common/base64.h"
#include "common/bounded_read.h"
#include "common/hex_text.h"
#include "ctap/openssl_handles.h"

namespace orvanta {

namespace {

using json = nlohmann::json;

using openssl::Deleter;
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using StorePtr = std::unique_ptr<X509_STORE, Deleter<X509_STORE, X509_STORE_free>>;
using StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX, X509_STORE_CTX_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using MdCtxPtr = openssl::MdCtx;
using SigPtr = openssl::EcdsaSig;
using BnPtr = openssl::Bignum;

void freeX509Stack(STACK_OF(X509) * stack) {
    sk_X509_pop_free(stack, X509_free);
}
using X509StackPtr = std::unique_ptr<STACK_OF(X509), Deleter<STACK_OF(X509), freeX509Stack>>;

// A real BLOB is a few megabytes; anything far beyond is not one.
constexpr size_t MAX_FILE_SIZE = 64 * 1024 * 1024;
// The header holds the algorithm and a chain of two or three certificates: a few kilobytes.
constexpr size_t MAX_HEADER_SIZE = 64 * 1024;
constexpr size_t MAX_CHAIN_LENGTH = 8;
// An RSA-8192 signature in base64url; the curves' are far shorter.
constexpr size_t MAX_SIGNATURE_TEXT = 1366;
// The deepest nesting of a real BLOB's entries is under ten; a text nested far deeper is
// there to exhaust the parser.
constexpr size_t MAX_JSON_DEPTH = 32;

// Whether the arrays and objects of the JSON text nest no deeper than `limit`. Brackets in
// strings do not count; whether the text is JSON at all is the parser's to judge.
bool nestingWithin(std::span<const uint8_t> text, size_t limit) {
    size_t depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const uint8_t c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) {
                return false;
            }
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return true;
}

// A JSON object, parsed only when it nests within the limit; anything else is null.
json parseObject(std::span<const uint8_t> text) {
    if (!nestingWithin(text, MAX_JSON_DEPTH)) {
        return nullptr;
    }
    json parsed = json::parse(text.begin(), text.end(), nullptr, false);
    if (!parsed.is_object()) {
        return nullptr;
    }
    return parsed;
}

// The certificate chain of a header as this program checks it: one to MAX_CHAIN_LENGTH
// certificates, each a string.
bool chainShapeKnown(const json& header) {
    const auto x5c = header.find("x5c");
    return x5c != header.end() && x5c->is_array() && !x5c->empty() &&
           x5c->size() <= MAX_CHAIN_LENGTH &&
           std::all_of(x5c->begin(), x5c->end(), [](const json& c) { return c.is_string(); });
}

X509Ptr certificateFromDer(std::span<const uint8_t> der) {
    const unsigned char* p = der.data();
    X509Ptr certificate(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    if (certificate && p != der.data() + der.size()) {
        return nullptr;  // bytes after the certificate
    }
    return certificate;
}

// One certificate in PEM (text around the block allowed) or DER.
X509Ptr certificateFromFile(std::span<const uint8_t> bytes) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (text.find("-----BEGIN CERTIFICATE-----") != std::string_view::npos) {
        BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
        return X509Ptr(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    }
    return certificateFromDer(bytes);
}

std::string today(std::time_t now) {
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &parts);
    return text;
}

// JWS parts are base64url without padding, x5c entries standard Base64: the strict decoder
// takes either.
std::optional<std::vector<uint8_t>> base64Field(const json& value) {
    if (!value.is_string()) {
        return std::nullopt;
    }
    return base64DecodeStrict(value.get_ref<const std::string&>());
}

// A JWS ES256/ES384 signature is r and s side by side; libcrypto wants them in DER.
std::optional<std::vector<uint8_t>> rawToDerSignature(std::span<const uint8_t> raw) {
    if (raw.empty() || raw.size() % 2 != 0) {
        return std::nullopt;
    }
    const size_t half = raw.size() / 2;
    BnPtr r(BN_bin2bn(raw.data(), static_cast<int>(half), nullptr));
    BnPtr s(BN_bin2bn(raw.data() + half, static_cast<int>(half), nullptr));
    SigPtr sig(ECDSA_SIG_new());
    if (!r || !s || !sig || ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1) {
        return std::nullopt;
    }
    r.release();
    s.release();
    unsigned char* der = nullptr;
    const int length = i2d_ECDSA_SIG(sig.get(), &der);
    if (length <= 0) {
        return std::nullopt;
    }
    std::vector<uint8_t> out(der, der + length);
    OPENSSL_free(der);
    return out;
}

bool verifyJws(std::string_view alg, EVP_PKEY* key, std::string_view signingInput,
               std::span<const uint8_t> signature) {
    const EVP_MD* md = nullptr;
    std::vector<uint8_t> encoded(signature.begin(), signature.end());
    const int type = EVP_PKEY_get_base_id(key);
    if (alg == "ES256" || alg == "ES384") {
        if (type != EVP_PKEY_EC) {
            return false;
        }
        md = alg == "ES256" ? EVP_sha256() : EVP_sha384();
        std::optional<std::vector<uint8_t>> der = rawToDerSignature(signature);
        if (!der) {
            return false;
        }
        encoded = std::move(*der);
    } else if (alg == "RS256") {
        if (type != EVP_PKEY_RSA) {
            return false;
        }
        md = EVP_sha256();
    } else if (alg == "EdDSA") {
        if (type != EVP_PKEY_ED25519) {
            return false;
        }
    } else {
        return false;
    }
    MdCtxPtr ctx(EVP_MD_CTX_new());
    return ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, md, nullptr, key) == 1 &&
           EVP_DigestVerify(ctx.get(), encoded.data(), encoded.size(),
                            reinterpret_cast<const unsigned char*>(signingInput.data()),
                            signingInput.size()) == 1;
}

std::optional<std::array<uint8_t, 16>> parseAaguid(const json& value) {
    if (!value.is_string()) {
        return std::nullopt;
    }
    std::string digits;
    for (char c : value.get_ref<const std::string&>()) {
        if (c != '-') {
            digits.push_back(c);
        }
    }
    const std::optional<std::vector<uint8_t>> bytes = hexBytes(digits);
    if (!bytes || bytes->size() != 16) {
        return std::nullopt;
    }
    std::array<uint8_t, 16> out{};
    std::copy(bytes->begin(), bytes->end(), out.begin());
    return out;
}

std::string text(const json& object, const char* name) {
    if (!object.is_object()) {
        return {};
    }
    const auto it = object.find(name);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

MetadataEntry decodeEntry(const json& entry) {
    MetadataEntry out;
    if (const auto it = entry.find("aaguid"); it != entry.end()) {
        out.aaguid = parseAaguid(*it);
    }
    if (const auto it = entry.find("attestationCertificateKeyIdentifiers");
        it != entry.end() && it->is_array()) {
        for (const json& id : *it) {
            if (id.is_string()) {
                std::string lower = id.get<std::string>();
                std::transform(lower.begin(), lower.end(), lower.begin(),
                               [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
                out.keyIdentifiers.push_back(std::move(lower));
            }
        }
    }
    if (const auto it = entry.find("metadataStatement"); it != entry.end() && it->is_object()) {
        out.description = text(*it, "description");
        if (out.aaguid == std::nullopt) {
            if (const auto a = it->find("aaguid"); a != it->end()) {
                out.aaguid = parseAaguid(*a);
            }
        }
        if (const auto roots = it->find("attestationRootCertificates");
            roots != it->end() && roots->is_array()) {
            for (const json& root : *roots) {
                if (std::optional<std::vector<uint8_t>> der = base64Field(root)) {
                    out.attestationRoots.push_back(std::move(*der));
                }
            }
        }
    }
    if (const auto reports = entry.find("statusReports");
        reports != entry.end() && reports->is_array()) {
        for (const json& report : *reports) {
            StatusReport r{text(report, "status"), text(report, "effectiveDate")};
            if (r.status.empty()) {
                continue;
            }
            if (!out.latestStatus || r.effectiveDate >= out.latestStatus->effectiveDate) {
                out.latestStatus = std::move(r);
            }
        }
    }
    return out;
}

MetadataLoad refuse(std::string message) {
    MetadataLoad load;
    load.error = std::move(message);
    return load;
}

}  // namespace

bool isCompromiseStatus(std::string_view status) {
    constexpr std::string_view suffix = "_COMPROMISE";
    return status == "REVOKED" || (status.size() >= suffix.size() &&
                                   status.substr(status.size() - suffix.size()) == suffix);
}

const MetadataEntry* MetadataBlob::findByAaguid(std::span<const uint8_t> aaguid) const {
    if (aaguid.size() != 16) {
        return nullptr;
    }
    for (const MetadataEntry& entry : entries) {
        if (entry.aaguid && std::equal(aaguid.begin(), aaguid.end(), entry.aaguid->begin())) {
            return &entry;
        }
    }
    return nullptr;
}

const MetadataEntry* MetadataBlob::findByKeyIdentifier(
    std::span<const uint8_t, 20> identifier) const {
    const std::string hex = hexText(identifier, "", HexCase::Lower);
    for (const MetadataEntry& entry : entries) {
        if (std::find(entry.keyIdentifiers.begin(), entry.keyIdentifiers.end(), hex) !=
            entry.keyIdentifiers.end()) {
            return &entry;
        }
    }
    return nullptr;
}

MetadataLoad loadMetadataBlob(std::string_view jwt, std::span<const uint8_t> trustedRoot,
                              std::time_t now) {
    while (!jwt.empty() && std::isspace(static_cast<unsigned char>(jwt.back()))) {
        jwt.remove_suffix(1);
    }
    while (!jwt.empty() && std::isspace(static_cast<unsigned char>(jwt.front()))) {
        jwt.remove_prefix(1);
    }
    const size_t firstDot = jwt.find('.');
    const size_t secondDot =
        firstDot == std::string_view::npos ? firstDot : jwt.find('.', firstDot + 1);
    if (secondDot == std::string_view::npos ||
        jwt.find('.', secondDot + 1) != std::string_view::npos) {
        return refuse("The metadata BLOB is no signed JWT (three dot-separated parts).");
    }
    // Nothing of the payload is decoded before the header has its shape and the signature
    // holds: an unsigned file costs no more than its header.
    const std::string_view headerText = jwt.substr(0, firstDot);
    if (headerText.size() > MAX_HEADER_SIZE) {
        return refuse("The metadata BLOB's header cannot be read.");
    }
    const std::string_view signatureText = jwt.substr(secondDot + 1);
    if (signatureText.size() > MAX_SIGNATURE_TEXT) {
        return refuse("The metadata BLOB's signature does not verify.");
    }
    const std::optional<std::vector<uint8_t>> headerBytes = base64DecodeStrict(headerText);
    const std::optional<std::vector<uint8_t>> signature = base64DecodeStrict(signatureText);
    if (!headerBytes || !signature) {
        return refuse("The metadata BLOB is no signed JWT (a part is not base64url).");
    }
    const json header = parseObject(*headerBytes);
    if (!header.is_object()) {
        return refuse("The metadata BLOB's header cannot be read.");
    }
    if (!chainShapeKnown(header)) {
        return refuse("The metadata BLOB's header has no certificate chain (x5c).");
    }
    const std::string alg = text(header, "alg");
    const json& x5c = header.at("x5c");

    X509Ptr root = certificateFromFile(trustedRoot);
    if (!root) {
        return refuse("The trusted root certificate cannot be read.");
    }
    X509Ptr leaf;
    X509StackPtr intermediates(sk_X509_new_null());
    for (size_t i = 0; i < x5c.size(); ++i) {
        const std::optional<std::vector<uint8_t>> der = base64Field(x5c[i]);
        X509Ptr certificate = der ? certificateFromDer(*der) : nullptr;
        if (!certificate) {
            return refuse("The metadata BLOB's certificate " + std::to_string(i + 1) +
                          " cannot be read.");
        }
        if (i == 0) {
            leaf = std::move(certificate);
        } else if (!intermediates || sk_X509_push(intermediates.get(), certificate.get()) == 0) {
            return refuse("The metadata BLOB's certificate chain cannot be read.");
        } else {
            certificate.release();  // owned by the stack
        }
    }

    StorePtr store(X509_STORE_new());
    StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!store || !ctx || X509_STORE_add_cert(store.get(), root.get()) != 1 ||
        X509_STORE_CTX_init(ctx.get(), store.get(), leaf.get(), intermediates.get()) != 1) {
        return refuse("The metadata BLOB's certificate chain cannot be checked.");
    }
    X509_VERIFY_PARAM_set_time(X509_STORE_CTX_get0_param(ctx.get()), now);
    if (X509_verify_cert(ctx.get()) != 1) {
        return refuse(std::string("The metadata BLOB's certificate chain does not lead to the "
                                  "trusted root: ") +
                      X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx.get())) + ".");
    }
    EVP_PKEY* key = X509_get0_pubkey(leaf.get());
    if (key == nullptr || !verifyJws(alg, key, jwt.substr(0, secondDot), *signature)) {
        return refuse("The metadata BLOB's signature does not verify.");
    }

    const std::optional<std::vector<uint8_t>> payloadBytes =
        base64DecodeStrict(jwt.substr(firstDot + 1, secondDot - firstDot - 1));
    if (!payloadBytes) {
        return refuse("The metadata BLOB is no signed JWT (a part is not base64url).");
    }
    std::optional<MetadataBlob> blob = decodeMetadataPayload(*payloadBytes);
    if (!blob) {
        return refuse("The metadata BLOB's content cannot be read.");
    }
    MetadataLoad load;
    if (!blob->nextUpdate.empty() && blob->nextUpdate < today(now)) {
        load.warning = "The metadata BLOB is out of date: its next update was due on " +
                       blob->nextUpdate + ".";
    }
    load.blob = std::move(blob);
    return load;
}

std::optional<MetadataBlob> decodeMetadataPayload(std::span<const uint8_t> payload) {
    const json parsed = parseObject(payload);
    const auto entries = parsed.is_object() ? parsed.find("entries") : parsed.end();
    if (!parsed.is_object() || entries == parsed.end() || !entries->is_array()) {
        return std::nullopt;
    }
    MetadataBlob blob;
    if (const auto no = parsed.find("no"); no != parsed.end() && no->is_number_unsigned()) {
        blob.serial = no->get<uint64_t>();
    }
    blob.nextUpdate = text(parsed, "nextUpdate");
    for (const json& entry : *entries) {
        if (entry.is_object()) {
            blob.entries.push_back(decodeEntry(entry));
        }
    }
    return blob;
}

namespace {

std::string readProblemText(FileReadProblem problem) {
    switch (problem) {
        case FileReadProblem::CannotOpen:
        case FileReadProblem::ReadFailed:
            break;
        case FileReadProblem::NotRegular:
            return " (not a regular file)";
        case FileReadProblem::TooLarge:
            return " (larger than 64 MB)";
    }
    return "";
}

}  // namespace

MetadataLoad loadMetadataBlobFiles(const std::string& blobPath, const std::string& rootPath,
                                   std::time_t now) {
    const FileRead blob = readRegularFile(blobPath, MAX_FILE_SIZE);
    if (blob.problem) {
        return refuse("Cannot read the metadata BLOB " + blobPath + readProblemText(*blob.problem) +
                      ".");
    }
    const std::string root = rootPath.empty() ? DEFAULT_METADATA_ROOT : rootPath;
    const FileRead rootBytes = readRegularFile(root, MAX_FILE_SIZE);
    if (rootBytes.problem) {
        return refuse("Cannot read the trusted root certificate " + root +
                      readProblemText(*rootBytes.problem) + ".");
    }
    return loadMetadataBlob(
        std::string_view(reinterpret_cast<const char*>(blob.bytes.data()), blob.bytes.size()),
        rootBytes.bytes, now);
}

std::optional<std::array<uint8_t, 20>> attestationKeyIdentifier(std::span<const uint8_t> der) {
    const unsigned char* p = der.data();
    X509Ptr certificate(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    if (!certificate) {
        return std::nullopt;
    }
    const ASN1_BIT_STRING* bits = X509_get0_pubkey_bitstr(certificate.get());
    if (bits == nullptr) {
        return std::nullopt;
    }
    std::array<uint8_t, 20> id{};
    SHA1(ASN1_STRING_get0_data(bits), static_cast<size_t>(ASN1_STRING_length(bits)), id.data());
    return id;
}

}  // namespace orvanta
