#pragma once
// The FIDO metadata BLOB as users download it: a JWS in compact form whose header carries
// the signing certificate chain (x5c) and whose payload lists an entry per authenticator
// model. Loading verifies the signature and the chain to a trusted root before anything in
// it is believed; entries are then looked up by AAGUID (FIDO2) or by attestation
// certificate key identifier (U2F).

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvanta {

struct StatusReport {
    std::string status;         // e.g. "FIDO_CERTIFIED_L1", "REVOKED"
    std::string effectiveDate;  // "YYYY-MM-DD", may be empty
};

struct MetadataEntry {
    std::optional<std::array<uint8_t, 16>> aaguid;
    std::vector<std::string> keyIdentifiers;  // lower-case hex of SHA-1, as the BLOB has them
    std::string description;
    std::vector<std::vector<uint8_t>> attestationRoots;  // DER
    // The report with the latest effective date (the last of equal dates).
    std::optional<StatusReport> latestStatus;
};

// Statuses that say the model's keys must not be trusted.
bool isCompromiseStatus(std::string_view status);

struct MetadataBlob {
    uint64_t serial = 0;     // "no"
    std::string nextUpdate;  // "YYYY-MM-DD"
    std::vector<MetadataEntry> entries;

    const MetadataEntry* findByAaguid(std::span<const uint8_t> aaguid) const;
    const MetadataEntry* findByKeyIdentifier(std::span<const uint8_t, 20> identifier) const;
};

struct MetadataLoad {
    std::optional<MetadataBlob> blob;  // set when the BLOB verified and decoded
    std::string error;                 // why it was refused
    std::string warning;               // a usable BLOB past its next update
};

// Verifies and decodes a BLOB: the header's size, nesting and shape are checked first, the
// payload is decoded only once the chain and the signature hold. `trustedRoot`: one
// certificate, PEM or DER. `now`: the time the chain is checked at and the next update is
// compared with.
MetadataLoad loadMetadataBlob(std::string_view jwt, std::span<const uint8_t> trustedRoot,
                              std::time_t now);

// The payload of a BLOB whose signature held: the JSON text of its entries. Nothing when it
// is no such object or nests deeper than any real BLOB does.
std::optional<MetadataBlob> decodeMetadataPayload(std::span<const uint8_t> payload);

// Reads the BLOB and the root from regular files of at most 64 MB each (an empty root path:
// the system's copy of the root that signs the published BLOB) and loads it. Anything else
// (a FIFO, a device) is refused without being opened for long.
MetadataLoad loadMetadataBlobFiles(const std::string& blobPath, const std::string& rootPath,
                                   std::time_t now);

// Where the system keeps the root certificate of the published BLOB's chain.
inline constexpr const char* DEFAULT_METADATA_ROOT = "/etc/ssl/certs/GlobalSign_Root_CA_-_R3.pem";

// The attestation certificate key identifier of U2F entries: SHA-1 of the certificate's
// subjectPublicKey bits. Nothing when the certificate does not decode.
std::optional<std::array<uint8_t, 20>> attestationKeyIdentifier(std::span<const uint8_t> der);

}  // namespace orvanta
