#include "getinfo_replies.h"

#include <string>

#include "ctap/cbor.h"
#include "info/getinfo_rows.h"
#include "sim/get_info.h"

namespace orvanta::bench {

std::vector<uint8_t> fullGetInfo() {
    Profile profile = profileByName("full");
    std::vector<uint8_t> reply = buildGetInfo(profile, true);
    return std::vector<uint8_t>(reply.begin() + 1, reply.end());
}

namespace {

// Builds the large reply with `extensions` extension names and `algorithms` entries.
std::vector<uint8_t> buildLarge(uint32_t extensions, uint32_t algorithms) {
    std::vector<uint8_t> buffer(8192);
    CborWriter w{buffer.data(), 0, static_cast<uint32_t>(buffer.size()), false};
    beginMap(w, 21);
    putUnsigned(w, 1);
    beginArray(w, 4);
    for (const char* v : {"U2F_V2", "FIDO_2_0", "FIDO_2_1_PRE", "FIDO_2_1"}) {
        putText(w, v);
    }
    putUnsigned(w, 2);
    beginArray(w, extensions);
    for (uint32_t i = 0; i < extensions; ++i) {
        putText(w, "vendor-extension-" + std::to_string(i));
    }
    putUnsigned(w, 3);
    const uint8_t aaguid[16] = {0x4F, 0x52, 0x56, 0x41, 0x4E, 0x54, 0x41, 0x2D,
                                0x56, 0x49, 0x52, 0x54, 0x55, 0x41, 0x4C, 0x31};
    putBytes(w, aaguid, sizeof aaguid);
    putUnsigned(w, 4);
    beginMap(w, 19);
    for (std::string_view o : GETINFO_OPTION_NAMES) {
        putText(w, o);
        putBool(w, true);
    }
    putUnsigned(w, 5);
    putUnsigned(w, 4096);
    putUnsigned(w, 6);
    beginArray(w, 2);
    putUnsigned(w, 2);
    putUnsigned(w, 1);
    putUnsigned(w, 7);
    putUnsigned(w, 20);
    putUnsigned(w, 8);
    putUnsigned(w, 256);
    putUnsigned(w, 9);
    beginArray(w, 4);
    for (const char* t : {"usb", "nfc", "ble", "internal"}) {
        putText(w, t);
    }
    putUnsigned(w, 10);
    beginArray(w, algorithms);
    for (uint32_t i = 0; i < algorithms; ++i) {
        beginMap(w, 2);
        putText(w, "alg");
        putNegative(w, -7 - static_cast<int32_t>(i));
        putText(w, "type");
        putText(w, "public-key");
    }
    putUnsigned(w, 11);
    putUnsigned(w, 2048);
    putUnsigned(w, 12);
    putBool(w, false);
    for (uint32_t key = 13; key <= 18; ++key) {
        putUnsigned(w, key);
        putUnsigned(w, key == 14 ? 0x050403 : key * 3);
    }
    putUnsigned(w, 19);
    beginMap(w, 2);
    putText(w, "FIDO");
    putUnsigned(w, 2);
    putText(w, "FIPS-CMVP-2");
    putUnsigned(w, 2);
    putUnsigned(w, 20);
    putUnsigned(w, 25);
    putUnsigned(w, 21);
    putUnsigned(w, 4);
    buffer.resize(w.failed ? 0 : w.length);
    return buffer;
}

}  // namespace

std::vector<uint8_t> largeGetInfo() {
    // The most extensions and algorithms that still fit a 4095-byte reply (status byte
    // aside), in equal parts of text.
    std::vector<uint8_t> best = buildLarge(0, 0);
    for (uint32_t n = 1; n < 200; ++n) {
        std::vector<uint8_t> next = buildLarge(n, n);
        if (next.empty() || next.size() > 4095) {
            break;
        }
        best = std::move(next);
    }
    return best;
}

}  // namespace orvanta::bench
