#pragma once
// State shared by the parts of one virtual key: its profile, its random generator, its
// user presence, its counters and its attestation material.

#include <cstdint>
#include <string>
#include <utility>

#include "sim/attestation.h"
#include "sim/presence.h"
#include "sim/profile.h"
#include "sim/sim_crypto.h"

namespace orvanta {

// What a virtual key has seen, for tests that count exchanges.
struct VirtualKeyCounters {
    uint32_t reportsWritten = 0;
    uint32_t reportsRead = 0;
    uint32_t keepalives = 0;
    uint32_t ctaphidErrors = 0;
    uint32_t initRequests = 0;
    uint32_t msgRequests = 0;
    uint32_t cborRequests = 0;
    uint32_t cancels = 0;
    uint32_t selectApdus = 0;
    uint32_t versionApdus = 0;
    uint32_t u2fRegisterApdus = 0;
    uint32_t u2fRegistrations = 0;
    uint32_t getResponseApdus = 0;
    uint32_t getInfoRequests = 0;
    uint32_t clientPinRequests = 0;
    uint32_t makeCredentialRequests = 0;
    uint32_t credentialsMade = 0;
};

struct VirtualKeyState {
    VirtualKeyState(Profile p, uint32_t serial, Clock& clock)
        : profile(std::move(p)),
          drbg("orvanta-virtual-key-" + std::to_string(serial)),
          presence(clock, profile.touch) {}

    const VirtualAttestation& attestation() const {
        return VirtualAttestation::forProfile(profile);
    }
    FaultMode fault() const { return profile.fault; }
    bool breaks(RuleBreak family) const { return profile.breaks == family; }

    Profile profile;
    SeededDrbg drbg;
    TouchState presence;
    VirtualKeyCounters counters;
    uint32_t signCount = 0;
};

}  // namespace orvanta
