#include "info/key_health.h"

#include <string>

namespace orvanta {

bool hasPinProtocol(const AuthenticatorInfo& info) {
    return info.clientPin().has_value() || !info.pinUvAuthProtocols.empty();
}

bool hasBuiltInUv(const AuthenticatorInfo& info) {
    return info.option("uv").has_value();
}

KeyHealth readKeyHealth(DeviceSession& session, const AuthenticatorInfo& info) {
    KeyHealth health;
    const PinProtocol protocol = choosePinProtocol(info.pinUvAuthProtocols);
    if (hasPinProtocol(info)) {
        if (Result<PinRetries> pin = readPinRetries(session, protocol)) {
            health.pin = *pin;
        }
    }
    if (hasBuiltInUv(info)) {
        if (Result<uint64_t> uv = readUvRetries(session, protocol)) {
            health.uvRetries = *uv;
        }
    }
    return health;
}

void appendHealthRows(const AuthenticatorInfo& info, const KeyHealth& health, HardInfoPage& page) {
    if (health.pin) {
        std::string value = std::to_string(health.pin->retries);
        if (health.pin->powerCycleState.value_or(false)) {
            value += " (plug the key in again before the next PIN)";
        }
        page.AppendRow(PIN_RETRIES_LABEL, std::move(value));
    }
    if (health.uvRetries) {
        page.AppendRow(UV_RETRIES_LABEL, std::to_string(*health.uvRetries));
    }
    if (info.remainingDiscoverableCredentials) {
        page.AppendRow(CREDENTIAL_SLOTS_LABEL,
                       std::to_string(*info.remainingDiscoverableCredentials));
    }
}

}  // namespace orvanta
