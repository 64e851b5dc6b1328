#include "sim_client.h"

#include <algorithm>

#include "transport/ctaphid_protocol.h"

namespace orvanta::test {

Bytes cidBytes(uint32_t cid) {
    return {static_cast<uint8_t>(cid >> 24), static_cast<uint8_t>(cid >> 16),
            static_cast<uint8_t>(cid >> 8), static_cast<uint8_t>(cid)};
}

uint16_t statusWord(const Bytes& reply) {
    if (reply.size() < 2) {
        return 0;
    }
    return static_cast<uint16_t>(reply[reply.size() - 2] << 8 | reply[reply.size() - 1]);
}

SimClient::SimClient(VirtualBackend& backend, const std::string& path)
    : handle_(backend.open(path, nullptr)) {}

void SimClient::packet(const Bytes& packet64) {
    Bytes report(65, 0);
    std::copy_n(packet64.begin(), std::min<size_t>(packet64.size(), 64), report.begin() + 1);
    handle_->write(report.data(), report.size());
}

void SimClient::send(uint32_t channel, uint8_t command, const Bytes& payload) {
    Bytes p = cidBytes(channel);
    p.push_back(command);
    p.push_back(static_cast<uint8_t>(payload.size() >> 8));
    p.push_back(static_cast<uint8_t>(payload.size()));
    size_t offset = std::min<size_t>(payload.size(), CTAPHID_INIT_DATA);
    p.insert(p.end(), payload.begin(), payload.begin() + static_cast<ptrdiff_t>(offset));
    packet(p);
    uint8_t sequence = 0;
    while (offset < payload.size()) {
        Bytes c = cidBytes(channel);
        c.push_back(sequence++);
        const size_t take = std::min<size_t>(payload.size() - offset, CTAPHID_CONT_DATA);
        c.insert(c.end(), payload.begin() + static_cast<ptrdiff_t>(offset),
                 payload.begin() + static_cast<ptrdiff_t>(offset + take));
        packet(c);
        offset += take;
    }
}

std::optional<Message> SimClient::receive(uint32_t timeoutMs) {
    uint8_t report[65];
    Message m;
    for (;;) {
        if (handle_->read(report, sizeof(report), timeoutMs) != 65) {
            return std::nullopt;
        }
        if (report[5] == CTAPHID_KEEPALIVE) {
            ++m.keepalives;
            continue;
        }
        break;
    }
    m.cid = static_cast<uint32_t>(report[1]) << 24 | static_cast<uint32_t>(report[2]) << 16 |
            static_cast<uint32_t>(report[3]) << 8 | report[4];
    m.command = report[5];
    const size_t length = static_cast<size_t>(report[6] << 8 | report[7]);
    const size_t first = std::min<size_t>(length, CTAPHID_INIT_DATA);
    m.payload.assign(report + 8, report + 8 + first);
    while (m.payload.size() < length) {
        if (handle_->read(report, sizeof(report), timeoutMs) != 65) {
            return std::nullopt;
        }
        const size_t take = std::min<size_t>(length - m.payload.size(), CTAPHID_CONT_DATA);
        m.payload.insert(m.payload.end(), report + 6, report + 6 + take);
    }
    lastKeepalives = m.keepalives;
    return m;
}

uint32_t SimClient::init() {
    const Bytes nonce = {1, 2, 3, 4, 5, 6, 7, 8};
    send(CTAPHID_BROADCAST_CID, CTAPHID_INIT, nonce);
    const auto m = receive();
    if (!m || m->command != CTAPHID_INIT || m->payload.size() < CTAPHID_INIT_REPLY_LENGTH) {
        return 0;
    }
    cid = static_cast<uint32_t>(m->payload[8]) << 24 | static_cast<uint32_t>(m->payload[9]) << 16 |
          static_cast<uint32_t>(m->payload[10]) << 8 | m->payload[11];
    return cid;
}

Bytes SimClient::request(uint8_t command, const Bytes& payload) {
    send(cid, command, payload);
    const auto m = receive();
    if (!m || m->command != command) {
        return {};
    }
    return m->payload;
}

Bytes SimClient::cbor(const Bytes& commandAndParameters) {
    return request(CTAPHID_CBOR, commandAndParameters);
}

Bytes SimClient::apdu(const Bytes& bytes) {
    return request(CTAPHID_MSG, bytes);
}

}  // namespace orvanta::test
