#include "getinfo_replies.h"

#include <string>

#include "ctap/authenticator_info.h"
#include "sim/get_info.h"

namespace orvanta::bench {

std::vector<uint8_t> fullGetInfo() {
    Profile profile = profileByName("full");
    std::vector<uint8_t> reply = buildGetInfo(profile, true);
    return std::vector<uint8_t>(reply.begin() + 1, reply.end());
}

namespace {

// The full reply with `more` extension names and as many algorithms added; empty when it
// does not fit the writer.
std::vector<uint8_t> withLongerLists(const AuthenticatorInfo& full, uint32_t more) {
    AuthenticatorInfo info = full;
    for (uint32_t i = 0; i < more; ++i) {
        info.extensions.push_back("vendor-extension-" + std::to_string(i));
        info.algorithms.push_back({-9 - int64_t{i}, "public-key"});
    }
    std::vector<uint8_t> buffer(8192);
    CborWriter w{buffer.data(), 0, static_cast<uint32_t>(buffer.size()), false};
    encodeAuthenticatorInfo(info, w);
    buffer.resize(w.failed ? 0 : w.length);
    return buffer;
}

}  // namespace

std::vector<uint8_t> largeGetInfo() {
    // The most extensions and algorithms that still fit a 4095-byte reply (status byte
    // aside), in equal numbers.
    const std::vector<uint8_t> reply = fullGetInfo();
    const AuthenticatorInfo full =
        decodeAuthenticatorInfo(CborSpan{reply.data(), static_cast<uint32_t>(reply.size())});
    std::vector<uint8_t> best = withLongerLists(full, 0);
    for (uint32_t n = 1; n < 200; ++n) {
        std::vector<uint8_t> next = withLongerLists(full, n);
        if (next.empty() || next.size() > 4095) {
            break;
        }
        best = std::move(next);
    }
    return best;
}

}  // namespace orvanta::bench
