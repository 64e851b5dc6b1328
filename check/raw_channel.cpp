#include "check/raw_channel.h"

#include <algorithm>

#include "ctap/crypto.h"

namespace orvanta::check {

namespace {

constexpr uint32_t READ_SLICE_MS = 100;

void putChannel(Packet& packet, uint32_t channel) {
    for (size_t i = 0; i < 4; ++i) {
        packet[i] = static_cast<uint8_t>(channel >> (24 - 8 * i));
    }
}

}  // namespace

uint32_t channelOf(std::span<const uint8_t> bytes) {
    return bytes.size() < 4 ? 0
                            : (uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 |
                               uint32_t{bytes[2]} << 8 | bytes[3]);
}

Packet initPacket(uint32_t channel, uint8_t command, uint16_t length,
                  std::span<const uint8_t> data) {
    Packet packet{};
    putChannel(packet, channel);
    packet[4] = command;
    packet[5] = static_cast<uint8_t>(length >> 8);
    packet[6] = static_cast<uint8_t>(length);
    std::copy_n(data.begin(), std::min<size_t>(data.size(), CTAPHID_INIT_DATA), packet.begin() + 7);
    return packet;
}

Packet continuationPacket(uint32_t channel, uint8_t sequence, std::span<const uint8_t> data) {
    Packet packet{};
    putChannel(packet, channel);
    packet[4] = sequence;
    std::copy_n(data.begin(), std::min<size_t>(data.size(), CTAPHID_CONT_DATA), packet.begin() + 5);
    return packet;
}

bool RawPackets::send(uint32_t channel, uint8_t command, std::span<const uint8_t> data) {
    if (data.size() > CTAPHID_MAX_MESSAGE) {
        return false;
    }
    if (!write(initPacket(channel, command, static_cast<uint16_t>(data.size()), data))) {
        return false;
    }
    size_t offset = std::min<size_t>(data.size(), CTAPHID_INIT_DATA);
    for (uint8_t sequence = 0; offset < data.size(); ++sequence) {
        if (!write(continuationPacket(channel, sequence, data.subspan(offset)))) {
            return false;
        }
        offset += CTAPHID_CONT_DATA;
    }
    return true;
}

std::optional<RawMessage> RawPackets::receive(uint32_t channel, uint32_t waitMs) {
    const uint32_t start = clock_.tickCount();
    std::optional<RawMessage> message;
    size_t expected = 0;
    uint8_t sequence = 0;
    Packet packet{};
    for (;;) {
        const uint32_t waited = clock_.tickCount() - start;
        if (waited >= waitMs) {
            return std::nullopt;
        }
        const int got = port_.read(packet, std::min(waitMs - waited, READ_SLICE_MS));
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0 || channelOf(packet) != channel) {
            continue;
        }
        CtaphidPacket view(packet);
        if (view.isInit()) {
            if (view.command() == CTAPHID_KEEPALIVE) {
                ++keepalives_;
                continue;
            }
            // A new message starts (one that breaks off an earlier one replaces it).
            message = RawMessage{view.command(), {}};
            expected = std::min<size_t>(view.length(), CTAPHID_MAX_MESSAGE);
            sequence = 0;
            const size_t take = std::min<size_t>(expected, CTAPHID_INIT_DATA);
            const auto first = view.initData().first(take);
            message->data.assign(first.begin(), first.end());
        } else {
            if (!message || view.sequence() != sequence) {
                continue;
            }
            ++sequence;
            const size_t take =
                std::min<size_t>(expected - message->data.size(), CTAPHID_CONT_DATA);
            message->data.insert(message->data.end(), view.contData().begin(),
                                 view.contData().begin() + static_cast<std::ptrdiff_t>(take));
        }
        if (message->data.size() >= expected) {
            return message;
        }
    }
}

std::optional<RawMessage> RawPackets::init(
    std::span<const uint8_t, CTAPHID_INIT_NONCE_LENGTH> nonce, uint32_t waitMs) {
    if (!write(initPacket(CTAPHID_BROADCAST_CID, CTAPHID_INIT, CTAPHID_INIT_NONCE_LENGTH, nonce))) {
        return std::nullopt;
    }
    const uint32_t start = clock_.tickCount();
    for (;;) {
        const uint32_t waited = clock_.tickCount() - start;
        if (waited >= waitMs) {
            return std::nullopt;
        }
        std::optional<RawMessage> reply = receive(CTAPHID_BROADCAST_CID, waitMs - waited);
        if (!reply) {
            return std::nullopt;
        }
        // Another program's INIT reply carries its own nonce; an error is ours.
        if (reply->command != CTAPHID_INIT ||
            (reply->data.size() >= nonce.size() &&
             std::equal(nonce.begin(), nonce.end(), reply->data.begin()))) {
            return reply;
        }
    }
}

std::optional<RawInit> RawPackets::allocate(uint32_t waitMs) {
    std::array<uint8_t, CTAPHID_INIT_NONCE_LENGTH> nonce{};
    if (randomBytes(nonce) != 0) {
        return std::nullopt;
    }
    std::optional<RawMessage> reply = init(nonce, waitMs);
    if (!reply || reply->command != CTAPHID_INIT ||
        reply->data.size() < CTAPHID_INIT_REPLY_LENGTH) {
        return std::nullopt;
    }
    const uint32_t channel = channelOf(std::span(reply->data).subspan(CTAPHID_INIT_NONCE_LENGTH));
    if (channel == 0 || channel == CTAPHID_BROADCAST_CID) {
        return std::nullopt;
    }
    return RawInit{channel, reply->data[16]};
}

}  // namespace orvanta::check
