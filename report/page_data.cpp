#include "report/page_data.h"

#include <cstdio>
#include <string>
#include <utility>

#include "cert/certificate_details.h"
#include "transport/ctaphid_protocol.h"
#include "transport/hex_text.h"

namespace orvanta::report {

namespace {

template <typename T>
void put(nlohmann::json& object, std::string_view name, const std::optional<T>& value) {
    if (value) {
        object[std::string(name)] = *value;
    }
}

nlohmann::json optionalText(const std::optional<std::string>& text) {
    return text ? nlohmann::json(*text) : nlohmann::json(nullptr);
}

nlohmann::json textArray(const TextList& texts) {
    nlohmann::json array = nlohmann::json::array();
    for (const std::string_view text : texts) {
        array.push_back(text);
    }
    return array;
}

std::string isoTime(const CertificateTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return text;
}

}  // namespace

nlohmann::json authenticatorInfoJson(const AuthenticatorInfo& info) {
    nlohmann::json out = nlohmann::json::object();
    auto name = [](uint64_t key) { return std::string(authenticatorInfoMemberName(key)); };
    out[name(1)] = textArray(info.versions);
    if (!info.extensions.empty()) {
        out[name(2)] = textArray(info.extensions);
    }
    if (info.aaguid) {
        out[name(3)] = hexText(*info.aaguid);
    }
    if (!info.options.empty()) {
        // The first of a repeated name counts, as on the page.
        nlohmann::json options = nlohmann::json::object();
        for (const NamedValue<bool, OptionName>& option : info.options) {
            const std::string optionName(option.name.text());
            if (!options.contains(optionName)) {
                options[optionName] =
                    option.value ? nlohmann::json(*option.value) : nlohmann::json(nullptr);
            }
        }
        out[name(4)] = options;
    }
    put(out, name(5), info.maxMsgSize);
    if (!info.pinUvAuthProtocols.empty()) {
        out[name(6)] = info.pinUvAuthProtocols;
    }
    put(out, name(7), info.maxCredentialCountInList);
    put(out, name(8), info.maxCredentialIdLength);
    if (!info.transports.empty()) {
        out[name(9)] = textArray(info.transports);
    }
    if (!info.algorithms.empty()) {
        nlohmann::json algorithms = nlohmann::json::array();
        for (const AuthenticatorAlgorithm& algorithm : info.algorithms) {
            nlohmann::json entry = {{"type", algorithm.type}};
            entry["alg"] = algorithm.alg ? nlohmann::json(*algorithm.alg) : nlohmann::json(nullptr);
            algorithms.push_back(entry);
        }
        out[name(10)] = algorithms;
    }
    put(out, name(11), info.maxSerializedLargeBlobArray);
    put(out, name(12), info.forcePinChange);
    put(out, name(13), info.minPINLength);
    put(out, name(14), info.firmwareVersion);
    put(out, name(15), info.maxCredBlobLength);
    put(out, name(16), info.maxRPIDsForSetMinPINLength);
    put(out, name(17), info.preferredPlatformUvAttempts);
    put(out, name(18), info.uvModality);
    if (!info.certifications.empty()) {
        nlohmann::json certifications = nlohmann::json::object();
        for (const NamedValue<uint64_t>& entry : info.certifications) {
            if (!certifications.contains(entry.name)) {
                certifications[entry.name] =
                    entry.value ? nlohmann::json(*entry.value) : nlohmann::json(nullptr);
            }
        }
        out[name(19)] = certifications;
    }
    put(out, name(20), info.remainingDiscoverableCredentials);
    put(out, name(21), info.vendorPrototypeConfigCommands);
    if (!info.attestationFormats.empty()) {
        out[name(22)] = textArray(info.attestationFormats);
    }
    put(out, name(23), info.uvCountSinceLastPinEntry);
    put(out, name(24), info.longTouchForReset);
    if (info.encIdentifier) {
        out[name(25)] = hexText(*info.encIdentifier);
    }
    if (!info.transportsForReset.empty()) {
        out[name(26)] = textArray(info.transportsForReset);
    }
    put(out, name(27), info.pinComplexityPolicy);
    if (info.pinComplexityPolicyURL) {
        out[name(28)] = hexText(*info.pinComplexityPolicyURL);
    }
    put(out, name(29), info.maxPINLength);
    if (info.encCredStoreState) {
        out[name(30)] = hexText(*info.encCredStoreState);
    }
    if (!info.authenticatorConfigCommands.empty()) {
        out[name(31)] = info.authenticatorConfigCommands;
    }
    if (!info.otherMembers.empty()) {
        // Members without a name here: the key and the CBOR item as hex.
        nlohmann::json others = nlohmann::json::array();
        for (const auto& [key, item] : info.otherMembers) {
            others.push_back({{"key", key}, {"cbor", hexText(item)}});
        }
        out["otherMembers"] = others;
    }
    return out;
}

nlohmann::json metadataData(const PageModel& page) {
    if (!page.metadata) {
        return nullptr;
    }
    const MetadataFacts& m = *page.metadata;
    nlohmann::json data = {{"listed", m.listed}};
    data["description"] = m.listed ? nlohmann::json(m.description) : nlohmann::json(nullptr);
    data["status"] = m.status.empty() ? nlohmann::json(nullptr) : nlohmann::json(m.status);
    data["effectiveDate"] =
        m.effectiveDate.empty() ? nlohmann::json(nullptr) : nlohmann::json(m.effectiveDate);
    data["compromised"] = m.compromised();
    return data;
}

nlohmann::json hardwareData(const DeviceRecord& device, const DeviceContext::Facts& facts,
                            const PageModel* page) {
    nlohmann::json data;
    // A key without USB identity (a card in a reader): its IDs and release are null.
    auto usb = [&device](const std::string& text) {
        return device.hasUsbIdentity() ? nlohmann::json(text) : nlohmann::json(nullptr);
    };
    data["device"] = {{"product", device.productName},
                      {"vendorId", usb(hex4(device.vendorId))},
                      {"productId", usb(hex4(device.productId))},
                      {"releaseNumber", usb(device.versionText)},
                      {"path", device.path}};
    const VendorVersions& v = facts.versions;
    data["appletVersions"] = {{"identify", optionalText(v.identify)},
                              {"fingerprintModule", optionalText(v.fingerprintModule)},
                              {"winHello", optionalText(v.winHello)},
                              {"otp", optionalText(v.otp)},
                              {"piv", optionalText(v.piv)},
                              {"gids", optionalText(v.gids)},
                              {"ndef", v.ndef},
                              {"u2f", optionalText(v.u2f)}};
    data["authenticatorGetInfo"] =
        facts.info ? authenticatorInfoJson(*facts.info) : nlohmann::json(nullptr);
    if (facts.init) {
        nlohmann::json capabilities = nlohmann::json::array();
        for (const auto& [flag, name] : {std::pair{CTAPHID_CAPABILITY_WINK, "WINK"},
                                         std::pair{CTAPHID_CAPABILITY_CBOR, "CBOR"},
                                         std::pair{CTAPHID_CAPABILITY_NMSG, "NMSG"}}) {
            if (facts.init->capabilities & flag) {
                capabilities.push_back(name);
            }
        }
        data["ctaphid"] = {
            {"protocol", facts.init->protocolVersion},
            {"deviceVersion", {facts.init->major, facts.init->minor, facts.init->build}},
            {"capabilities", capabilities},
            {"capabilityFlags", facts.init->capabilities}};
    } else {
        data["ctaphid"] = nullptr;
    }
    if (page != nullptr && page->metadata) {
        data["metadata"] = metadataData(*page);
    }
    return data;
}

nlohmann::json certificatePageData(const CertificatePage& page) {
    nlohmann::json certificates = nlohmann::json::array();
    for (const PageCertificate& shown : page.certificates) {
        std::optional<CertificateDetails> details = describeCertificate(shown.der);
        if (!details) {
            continue;  // the page shows only certificates that decoded
        }
        certificates.push_back(
            {{"version", details->version},
             {"serialNumber", hexText(details->serialNumber)},
             {"subject", details->subject},
             {"issuer", details->issuer},
             {"notBefore", isoTime(details->notBefore)},
             {"notAfter", isoTime(details->notAfter)},
             {"publicKey", hexText(details->publicKey)},
             {"transports", details->transports ? nlohmann::json(hexText(*details->transports))
                                                : nlohmann::json(nullptr)},
             {"verified",
              shown.verified ? nlohmann::json(*shown.verified) : nlohmann::json(nullptr)}});
        nlohmann::json& entry = certificates.back();
        if (shown.chainOk) {
            entry["chain"] = {
                {"result", *shown.chainOk},
                {"reason", shown.chainReason.empty() ? nlohmann::json(nullptr)
                                                     : nlohmann::json(shown.chainReason)}};
        }
        if (shown.unmetRequirements) {
            entry["requirementsUnmet"] = *shown.unmetRequirements;
        }
    }
    nlohmann::json data = {{"certificates", certificates}};
    if (page.metadata) {
        data["metadata"] = metadataData(page);
    }
    return data;
}

}  // namespace orvanta::report
