#include "report/page_data.h"

#include <cstdio>
#include <string>
#include <utility>

#include "cert/certificate_details.h"
#include "common/hex_text.h"
#include "transport/ctaphid_protocol.h"

namespace orvanta::report {

namespace {

nlohmann::json optionalText(const std::optional<std::string>& text) {
    return text ? nlohmann::json(*text) : nlohmann::json(nullptr);
}

// A getInfo member's value as JSON, by its kind: numbers unsigned, byte strings as hex, a
// value of the wrong kind in a list or map null.
template <typename T>
nlohmann::json memberJson(const std::optional<T>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}
nlohmann::json memberJson(const InfoBytes& bytes) {
    return hexText(*bytes);
}
nlohmann::json memberJson(const InfoTexts& texts) {
    return texts;
}
nlohmann::json memberJson(const InfoUnsignedList& list) {
    return list;
}
// A text-keyed map: the first of a repeated name counts, as on the page.
template <typename T>
nlohmann::json memberJson(const std::vector<NamedValue<T>>& entries) {
    nlohmann::json map = nlohmann::json::object();
    for (const NamedValue<T>& entry : entries) {
        if (!map.contains(entry.name)) {
            map[entry.name] = memberJson(entry.value);
        }
    }
    return map;
}
nlohmann::json memberJson(const InfoAlgorithms& algorithms) {
    nlohmann::json list = nlohmann::json::array();
    for (const AuthenticatorAlgorithm& algorithm : algorithms) {
        list.push_back({{"type", algorithm.type}, {"alg", memberJson(algorithm.alg)}});
    }
    return list;
}

// The hardware page's health rows as numbers; what the key was not asked, or did not
// answer, is null.
nlohmann::json healthJson(const AuthenticatorInfo& info, const KeyHealth& health) {
    const std::optional<PinRetries>& pin = health.pin;
    return {
        {"pinRetries", pin ? nlohmann::json(pin->retries) : nlohmann::json(nullptr)},
        {"powerCycleState", pin ? memberJson(pin->powerCycleState) : nlohmann::json(nullptr)},
        {"uvRetries", memberJson(health.uvRetries)},
        {"remainingDiscoverableCredentials", memberJson(info.remainingDiscoverableCredentials)}};
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
    for (const InfoMember& member : INFO_MEMBERS) {
        visitMember(member, info, [&](const auto& value) {
            if (member.required || hasValue(value)) {
                out[std::string(member.name)] = memberJson(value);
            }
        });
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
    data["health"] = facts.info ? healthJson(*facts.info, facts.health) : nlohmann::json(nullptr);
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
