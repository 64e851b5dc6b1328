#include "sim/profile.h"

#include <algorithm>
#include <functional>
#include <utility>

namespace orvanta {

const char* faultModeName(FaultMode mode) {
    switch (mode) {
        case FaultMode::None:
            return "none";
        case FaultMode::Silence:
            return "silence";
        case FaultMode::OversizedBcnt:
            return "oversized-bcnt";
        case FaultMode::WrongChannel:
            return "wrong-channel";
        case FaultMode::TruncatedCbor:
            return "truncated-cbor";
        case FaultMode::MalformedCbor:
            return "malformed-cbor";
        case FaultMode::ShortPinToken:
            return "short-pin-token";
        case FaultMode::ShortU2fResponse:
            return "short-u2f-response";
        case FaultMode::BadCertificate:
            return "bad-certificate";
        case FaultMode::EndlessKeepalive:
            return "endless-keepalive";
        case FaultMode::ChannelBusy:
            return "channel-busy";
        case FaultMode::ClientPinBusy:
            return "client-pin-busy";
    }
    return "unknown";
}

namespace {

// Distinct version bytes per applet, so a page that mixes two up shows it.
Profile baseProfile() {
    Profile p;
    p.applet(Applet::Fingerprint) = {true, 0x02, 0x05};
    p.applet(Applet::WinHello) = {true, 0x01, 0x02};
    p.applet(Applet::Otp) = {true, 0x04, 0x03};
    p.applet(Applet::Piv) = {true, 0x05, 0x04};
    p.applet(Applet::Gids) = {true, 0x01, 0x00};
    p.applet(Applet::U2f) = {true, 0x01, 0x0A};
    return p;
}

using Maker = std::function<void(Profile&)>;

// The PIN of every profile that has one.
void setPin(Profile& p) {
    p.pinSet = true;
    p.pin = "1234";
}

const std::vector<std::pair<std::string, Maker>>& makers() {
    static const std::vector<std::pair<std::string, Maker>> list = {
        {"default", [](Profile&) {}},
        {"full",
         [](Profile& p) {
             p.getInfo = GetInfoKind::Full;
             p.builtInUv = true;
         }},
        {"pin", setPin},
        {"pin-token16",
         [](Profile& p) {
             setPin(p);
             p.pinTokenLength = 16;
         }},
        {"pin-protocol2",
         [](Profile& p) {
             setPin(p);
             p.pinProtocols = {2};
         }},
        {"eddsa", [](Profile& p) { p.attestationKey = AttestationKeyType::Ed25519; }},
        {"u2f-only",
         [](Profile& p) {
             p.ctap2 = false;
             p.getInfo = GetInfoKind::Minimal;
         }},
        {"ctap2-only",
         [](Profile& p) {
             p.u2f = false;
             p.applet(Applet::U2f).present = false;
         }},
        {"no-applets",
         [](Profile& p) {
             for (auto& a : p.applets) {
                 a.present = false;
             }
         }},
        {"silent", [](Profile& p) { p.fault = FaultMode::Silence; }},
        {"busy", [](Profile& p) { p.fault = FaultMode::ChannelBusy; }},
        {"pin-busy",
         [](Profile& p) {
             setPin(p);
             p.fault = FaultMode::ClientPinBusy;
         }},
        {"ctap20", [](Profile& p) { p.getInfo = GetInfoKind::Minimal; }},
        {"keyboard",
         [](Profile& p) {
             p.extraCollections = {CollectionShape{}};
             p.fidoPosition = 1;  // the keyboard is listed first
         }},
        {"u2f-chained", [](Profile& p) { p.u2fChaining = true; }},
        {"u2f-short-form", [](Profile& p) { p.u2fExtendedWrongLength = true; }},
        {"slow-touch", [](Profile& p) { p.touch = TouchPolicy::afterMs(1500); }},
        {"nonconform-cbor", [](Profile& p) { p.breaks = RuleBreak::Cbor; }},
        {"nonconform-hid", [](Profile& p) { p.breaks = RuleBreak::Hid; }},
        {"nonconform-u2f", [](Profile& p) { p.breaks = RuleBreak::U2f; }},
        {"nonconform-errors", [](Profile& p) { p.breaks = RuleBreak::Errors; }},
    };
    return list;
}

}  // namespace

Profile profileByName(const std::string& name) {
    Profile p = baseProfile();
    for (const auto& [n, make] : makers()) {
        if (n == name) {
            make(p);
            p.name = n;
            return p;
        }
    }
    return p;
}

std::vector<std::string> profileNames() {
    std::vector<std::string> names;
    for (const auto& entry : makers()) {
        names.push_back(entry.first);
    }
    return names;
}

bool isProfileName(const std::string& name) {
    const auto& list = makers();
    return std::any_of(list.begin(), list.end(),
                       [&](const auto& entry) { return entry.first == name; });
}

}  // namespace orvanta
