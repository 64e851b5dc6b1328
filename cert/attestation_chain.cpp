#include "cert/attestation_chain.h"

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <memory>

#include "cert/x509_lenient.h"

namespace orvanta {

namespace {

// Strictly: a signature is checked over the bytes as they are.
X509Ptr decode(std::span<const uint8_t> der) {
    const unsigned char* p = der.data();
    X509Ptr certificate(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    ERR_clear_error();
    return certificate;
}

bool signedBy(X509* certificate, X509* issuer) {
    EVP_PKEY* key = X509_get0_pubkey(issuer);
    const bool ok = key != nullptr && X509_verify(certificate, key) == 1;
    ERR_clear_error();
    return ok;
}

// The text of the first entry of `nid` in the subject, when there is one.
std::optional<std::string> subjectEntry(X509* certificate, int nid) {
    const X509_NAME* name = X509_get_subject_name(certificate);
    const int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0) {
        return std::nullopt;
    }
    const ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, data);
    if (length < 0) {
        return std::string();
    }
    std::string text(reinterpret_cast<char*>(utf8), static_cast<size_t>(length));
    OPENSSL_free(utf8);
    return text;
}

constexpr const char* AAGUID_EXTENSION_OID = "1.3.6.1.4.1.45724.1.1.4";

}  // namespace

std::vector<ChainCheck> checkAttestationChain(std::span<const std::vector<uint8_t>> chain,
                                              std::span<const std::vector<uint8_t>> roots) {
    std::vector<X509Ptr> certificates;
    for (const std::vector<uint8_t>& der : chain) {
        certificates.push_back(decode(der));
    }
    std::vector<X509Ptr> rootCertificates;
    for (const std::vector<uint8_t>& der : roots) {
        if (X509Ptr root = decode(der)) {
            rootCertificates.push_back(std::move(root));
        }
    }
    std::vector<ChainCheck> results;
    for (size_t i = 0; i < certificates.size(); ++i) {
        X509* certificate = certificates[i].get();
        ChainCheck check;
        if (certificate == nullptr) {
            check.reason = "The certificate does not decode.";
        } else if (i + 1 < certificates.size()) {
            X509* next = certificates[i + 1].get();
            if (next == nullptr) {
                check.reason = "The next certificate does not decode.";
            } else if (!signedBy(certificate, next)) {
                check.reason = "Not signed by the next certificate of the chain.";
            } else {
                check.ok = true;
            }
        } else if (roots.empty()) {
            check.reason = "No metadata root to check the last certificate against.";
        } else {
            const bool isRoot =
                std::any_of(roots.begin(), roots.end(),
                            [&](const std::vector<uint8_t>& root) { return root == chain[i]; });
            const bool underRoot =
                std::any_of(rootCertificates.begin(), rootCertificates.end(),
                            [&](const X509Ptr& root) { return signedBy(certificate, root.get()); });
            check.ok = isRoot || underRoot;
            if (!check.ok) {
                check.reason = "Not signed by a root of the key's metadata.";
            }
        }
        results.push_back(std::move(check));
    }
    return results;
}

void appendChainRow(CertificatePage& page, const ChainCheck& check) {
    Row row{"Chain Result", std::string(check.ok ? "YES" : "NO")};
    row.tip = check.reason;
    page.AppendRow(std::move(row));
    if (!page.certificates.empty()) {
        page.certificates.back().chainOk = check.ok;
        page.certificates.back().chainReason = check.reason;
    }
}

void appendRequirementsRow(CertificatePage& page, std::vector<std::string> unmet) {
    std::string text;
    for (const std::string& rule : unmet) {
        text += (text.empty() ? "" : ", ") + rule;
    }
    Row row{"Requirements", unmet.empty() ? std::string("OK") : "Not met: " + text};
    if (!unmet.empty()) {
        row.tip = "The attestation certificate does not meet these rules of packed attestation.";
    }
    page.AppendRow(std::move(row));
    if (!page.certificates.empty()) {
        page.certificates.back().unmetRequirements = std::move(unmet);
    }
}

std::vector<std::string> packedAttestationRequirements(
    std::span<const uint8_t> der, std::optional<std::span<const uint8_t>> aaguid) {
    X509Ptr certificate = decode(der);
    if (!certificate) {
        return {"the certificate does not decode"};
    }
    X509* x = certificate.get();
    std::vector<std::string> unmet;
    if (X509_get_version(x) != 2) {
        unmet.emplace_back("version 3");
    }
    const std::optional<std::string> country = subjectEntry(x, NID_countryName);
    if (!country || country->size() != 2 ||
        !std::all_of(country->begin(), country->end(),
                     [](char c) { return c >= 'A' && c <= 'Z'; })) {
        unmet.emplace_back("subject C (country code)");
    }
    const std::optional<std::string> organisation = subjectEntry(x, NID_organizationName);
    if (!organisation || organisation->empty()) {
        unmet.emplace_back("subject O");
    }
    if (subjectEntry(x, NID_organizationalUnitName) != "Authenticator Attestation") {
        unmet.emplace_back("subject OU \"Authenticator Attestation\"");
    }
    const std::optional<std::string> commonName = subjectEntry(x, NID_commonName);
    if (!commonName || commonName->empty()) {
        unmet.emplace_back("subject CN");
    }
    int critical = 0;
    auto* constraints = static_cast<BASIC_CONSTRAINTS*>(
        X509_get_ext_d2i(x, NID_basic_constraints, &critical, nullptr));
    if (constraints != nullptr && constraints->ca) {
        unmet.emplace_back("basic constraints CA false");
    }
    BASIC_CONSTRAINTS_free(constraints);

    ASN1_OBJECT* oid = OBJ_txt2obj(AAGUID_EXTENSION_OID, 1);
    const int index = oid != nullptr ? X509_get_ext_by_OBJ(x, oid, -1) : -1;
    ASN1_OBJECT_free(oid);
    if (index >= 0) {
        X509_EXTENSION* extension = X509_get_ext(x, index);
        if (X509_EXTENSION_get_critical(extension)) {
            unmet.emplace_back("AAGUID extension not critical");
        }
        // The extension's value is an OCTET STRING holding the 16 bytes.
        const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(extension);
        const unsigned char* p = ASN1_STRING_get0_data(value);
        ASN1_OCTET_STRING* inner = d2i_ASN1_OCTET_STRING(nullptr, &p, ASN1_STRING_length(value));
        const bool same = inner != nullptr && aaguid &&
                          static_cast<size_t>(ASN1_STRING_length(inner)) == aaguid->size() &&
                          std::equal(aaguid->begin(), aaguid->end(), ASN1_STRING_get0_data(inner));
        if (inner == nullptr || (aaguid && !same)) {
            unmet.emplace_back("AAGUID extension equal to the authenticator data's");
        }
        ASN1_OCTET_STRING_free(inner);
    }
    ERR_clear_error();
    return unmet;
}

}  // namespace orvanta
