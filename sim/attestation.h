#pragma once
// The virtual key's attestation material: a root CA and an attestation certificate issued
// by it, both written with mbed TLS from keys of a fixed-seed generator, so every run makes
// the same certificates. The attestation certificate carries the FIDO transports
// extension (USB) and the AAGUID extension of the key's model.

#include <array>
#include <cstdint>
#include <memory>

#include "sim/sim_crypto.h"

namespace orvanta {

inline constexpr const char* ATTESTATION_SUBJECT =
    "C=US,O=Orvanta Virtual,OU=Authenticator Attestation,CN=Orvanta Virtual Key Attestation";
inline constexpr const char* ROOT_CA_SUBJECT = "C=US,O=Orvanta Virtual,CN=Orvanta Virtual Root CA";

class VirtualAttestation {
  public:
    // The material of one AAGUID, made on first use and kept for the process.
    static const VirtualAttestation& forAaguid(const std::array<uint8_t, 16>& aaguid);

    const Bytes& certificate() const { return certificate_; }      // DER
    const Bytes& caCertificate() const { return caCertificate_; }  // DER
    const SimKeyPair& key() const { return key_; }
    const SimKeyPair& caKey() const { return caKey_; }

    VirtualAttestation(const VirtualAttestation&) = delete;
    VirtualAttestation& operator=(const VirtualAttestation&) = delete;

  private:
    explicit VirtualAttestation(const std::array<uint8_t, 16>& aaguid);
    SimKeyPair caKey_;
    SimKeyPair key_;
    Bytes caCertificate_;
    Bytes certificate_;
};

// DER bytes that start like a certificate but do not decode as one.
Bytes undecodableCertificate();

}  // namespace orvanta
