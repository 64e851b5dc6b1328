#pragma once
// The virtual key's attestation material: a root CA and an attestation certificate issued
// by it, both made from keys of a fixed-seed generator, so every run makes the same
// certificates. The attestation certificate carries the FIDO transports extension (USB)
// and the AAGUID extension of the key's model. Both kinds, P-256 and Ed25519, are written
// with libcrypto and signed deterministically, so the bytes never change between runs.

#include <array>
#include <cstdint>
#include <memory>

#include "sim/profile.h"
#include "sim/sim_crypto.h"

namespace orvanta {

inline constexpr const char* ATTESTATION_SUBJECT =
    "C=US,O=Orvanta Virtual,OU=Authenticator Attestation,CN=Orvanta Virtual Key Attestation";
inline constexpr const char* ROOT_CA_SUBJECT = "C=US,O=Orvanta Virtual,CN=Orvanta Virtual Root CA";

class VirtualAttestation {
  public:
    // The material of one AAGUID and key type, made on first use and kept for the process.
    static const VirtualAttestation& forAaguid(const std::array<uint8_t, 16>& aaguid,
                                               AttestationKeyType type = AttestationKeyType::P256);
    static const VirtualAttestation& forProfile(const Profile& profile) {
        return forAaguid(profile.aaguid, profile.attestationKey);
    }

    const Bytes& certificate() const { return certificate_; }      // DER
    const Bytes& caCertificate() const { return caCertificate_; }  // DER
    AttestationKeyType type() const { return type_; }
    // The COSE algorithm of the attestation signatures: -7 (ES256) or -8 (EdDSA).
    int32_t algorithm() const;
    // The attestation key's signature of the data: DER ECDSA over SHA-256 (the nonce from
    // `drbg`) or Ed25519 over the data itself. Empty on failure.
    Bytes sign(const uint8_t* data, size_t length, SeededDrbg& drbg) const;
    // The P-256 keys (not generated for Ed25519 material).
    const SimKeyPair& key() const { return key_; }
    const SimKeyPair& caKey() const { return caKey_; }

    VirtualAttestation(const VirtualAttestation&) = delete;
    VirtualAttestation& operator=(const VirtualAttestation&) = delete;

  private:
    VirtualAttestation(const std::array<uint8_t, 16>& aaguid, AttestationKeyType type);
    AttestationKeyType type_;
    SimKeyPair caKey_;
    SimKeyPair key_;
    SimEd25519Key edCaKey_;
    SimEd25519Key edKey_;
    Bytes caCertificate_;
    Bytes certificate_;
};

// DER bytes that start like a certificate but do not decode as one.
Bytes undecodableCertificate();

}  // namespace orvanta
