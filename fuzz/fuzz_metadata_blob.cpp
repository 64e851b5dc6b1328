// The metadata BLOB as a downloaded file holds it: first byte bit 0 clear, the rest is the
// file, checked as loading checks it (the header's size, nesting and chain against the
// virtual key's root, then the signature); bit 0 set, the rest is the payload of a BLOB
// whose signature held, decoded and looked up.

#include <array>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "mds/metadata_blob.h"
#include "sim/attestation.h"
#include "sim/profile.h"

using namespace orvanta;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    static const Bytes& root =
        VirtualAttestation::forProfile(profileByName("full")).caCertificate();
    const std::span<const uint8_t> rest(data + 1, size - 1);
    if ((data[0] & 1) == 0) {
        const MetadataLoad load = loadMetadataBlob(
            std::string_view(reinterpret_cast<const char*>(rest.data()), rest.size()), root,
            1767225600);  // 2026-01-01
        // Nothing unsigned is believed.
        if (load.blob) {
            std::abort();
        }
        return 0;
    }
    const std::optional<MetadataBlob> blob = decodeMetadataPayload(rest);
    if (blob) {
        for (const MetadataEntry& entry : blob->entries) {
            if (entry.aaguid && blob->findByAaguid(*entry.aaguid) == nullptr) {
                std::abort();
            }
            isCompromiseStatus(entry.latestStatus ? entry.latestStatus->status : "");
        }
        std::array<uint8_t, 20> identifier{};
        blob->findByKeyIdentifier(identifier);
    }
    return 0;
}
