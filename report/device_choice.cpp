#include "report/device_choice.h"

#include "common/hex_text.h"
#include "sim/virtual_backend.h"
#include "transport/hidapi_backend.h"
#include "transport/pcsc_backend.h"

namespace orvanta {

namespace {

std::optional<uint16_t> parseHexId(const std::string& text) {
    if (text.empty() || text.size() > 4) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (char c : text) {
        uint32_t digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint32_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<uint32_t>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<uint32_t>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        value = value * 16 + digit;
    }
    if (value == 0) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(value);
}

}  // namespace

std::optional<std::pair<std::string, std::string>> parseVidPid(const std::string& text) {
    size_t colon = text.find(':');
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    std::string vidPart = text.substr(0, colon);
    std::string pidPart = text.substr(colon + 1);
    if (vidPart.compare(0, 2, "0x") == 0 || vidPart.compare(0, 2, "0X") == 0) {
        vidPart.erase(0, 2);
    }
    if (pidPart.compare(0, 2, "0x") == 0 || pidPart.compare(0, 2, "0X") == 0) {
        pidPart.erase(0, 2);
    }
    std::optional<uint16_t> vid = parseHexId(vidPart);
    std::optional<uint16_t> pid = parseHexId(pidPart);
    if (!vid || !pid) {
        return std::nullopt;
    }
    return std::make_pair(hex4(*vid), hex4(*pid));
}

std::shared_ptr<KeySource> makeKeySource(const DeviceChoice& choice, Clock& clock,
                                         std::string* error) {
    if (choice.backend) {
        return hidKeys(choice.backend);
    }
    switch (choice.kind) {
        case DeviceChoice::Kind::Virtual: {
            std::string unknown;
            std::shared_ptr<HidBackend> backend =
                makeVirtualBackend(choice.profile, clock, &unknown);
            if (!backend) {
                if (error != nullptr) {
                    *error = "unknown virtual key profile \"" + unknown + "\"";
                }
                return nullptr;
            }
            return hidKeys(std::move(backend));
        }
        case DeviceChoice::Kind::Udp:
            return hidKeys(std::make_shared<UdpBackend>(choice.udp));
        case DeviceChoice::Kind::Pcsc:
            return std::make_shared<PcscBackend>(choice.pcscReader, choice.cardReplyLimitMs,
                                                 choice.cardStop);
        case DeviceChoice::Kind::Hid:
            break;
    }
    std::shared_ptr<KeySource> keys = hidKeys(std::make_shared<HidapiBackend>(clock));
    if (choice.withCards) {
        return std::make_shared<CombinedKeySource>(std::vector<std::shared_ptr<KeySource>>{
            std::move(keys), std::make_shared<PcscBackend>(std::string(), choice.cardReplyLimitMs,
                                                           choice.cardStop)});
    }
    return keys;
}

bool listsCards(const DeviceChoice& choice) {
    if (choice.backend) {
        return false;
    }
    return choice.kind == DeviceChoice::Kind::Pcsc ||
           (choice.kind == DeviceChoice::Kind::Hid && choice.withCards);
}

}  // namespace orvanta
