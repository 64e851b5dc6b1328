#include "fuzz_hid.h"

#include <algorithm>
#include <cstring>

#include "transport/clock.h"
#include "transport/device_list.h"
#include "transport/exchange.h"

namespace orvanta::fuzz {

namespace {

constexpr size_t REPORT = PACKET + 1;
const uint8_t BROADCAST[4] = {0xFF, 0xFF, 0xFF, 0xFF};

class FuzzHandle final : public HidHandle {
  public:
    FuzzHandle(std::shared_ptr<FuzzDevice> device, Clock& clock)
        : device_(std::move(device)), clock_(clock) {}

    int write(const uint8_t* report, size_t length) override {
        device_->onWrite(report, length);
        clock_.sleep(device_->msPerReport);
        return static_cast<int>(length);
    }

    int read(uint8_t* report, size_t capacity, uint32_t timeoutMs) override {
        if (device_->input.empty()) {
            clock_.sleep(timeoutMs);
            return 0;
        }
        Bytes next = std::move(device_->input.front());
        device_->input.pop_front();
        clock_.sleep(device_->msPerReport);
        const size_t n = std::min(capacity, next.size());
        std::memcpy(report, next.data(), n);
        return static_cast<int>(n);
    }

    void flush() override {}
    size_t inputReportLength() const override { return REPORT; }
    size_t outputReportLength() const override { return REPORT; }

  private:
    std::shared_ptr<FuzzDevice> device_;
    Clock& clock_;
};

Bytes packetReport(const uint8_t* cid, const uint8_t* data, size_t size) {
    Bytes report(REPORT, 0);
    size_t offset = 1;
    if (cid != nullptr) {
        std::memcpy(report.data() + 1, cid, 4);
        offset = 5;
    }
    std::memcpy(report.data() + offset, data, std::min(size, REPORT - offset));
    return report;
}

}  // namespace

void FuzzDevice::load(const uint8_t* data, size_t size) {
    switch (playback) {
        case Playback::RawPackets:
        case Playback::ChannelPackets: {
            const bool channel = playback == Playback::ChannelPackets;
            const size_t step = channel ? PACKET - 4 : PACKET;
            for (size_t at = 0; at < size; at += step) {
                input.push_back(packetReport(channel ? FUZZ_CID : nullptr, data + at,
                                             std::min(step, size - at)));
            }
            break;
        }
        case Playback::Messages: {
            size_t at = 0;
            while (at + 2 <= size) {
                size_t length = (static_cast<size_t>(data[at]) << 8) | data[at + 1];
                at += 2;
                length = std::min(length, size - at);
                messages.emplace_back(data + at, data + at + length);
                at += length;
            }
            break;
        }
    }
}

void FuzzDevice::queueMessage(const uint8_t cid[4], uint8_t command, const Bytes& payload) {
    const size_t length = std::min<size_t>(payload.size(), 0xFFFF);
    uint8_t first[PACKET] = {};
    first[0] = command;
    first[1] = static_cast<uint8_t>(length >> 8);
    first[2] = static_cast<uint8_t>(length);
    size_t sent = std::min<size_t>(length, PACKET - 7);
    if (sent != 0) {
        std::memcpy(first + 3, payload.data(), sent);
    }
    input.push_back(packetReport(cid, first, PACKET - 4));
    for (uint8_t sequence = 0; sent < length && sequence < 0x80; ++sequence) {
        uint8_t cont[PACKET] = {};
        cont[0] = sequence;
        const size_t chunk = std::min<size_t>(length - sent, PACKET - 5);
        std::memcpy(cont + 1, payload.data() + sent, chunk);
        sent += chunk;
        input.push_back(packetReport(cid, cont, PACKET - 4));
    }
}

void FuzzDevice::onWrite(const uint8_t* report, size_t length) {
    written.emplace_back(report, report + length);
    if (length < 8) {
        return;
    }
    const uint8_t* packet = report + 1;  // after the report ID
    const uint8_t command = packet[4];
    if ((command & 0x80) != 0) {
        if (command == CTAPHID_INIT && std::memcmp(packet, BROADCAST, 4) == 0) {
            if (autoInit && length >= 16) {
                Bytes reply(17, 0);
                std::memcpy(reply.data(), packet + 7, 8);  // the nonce
                std::memcpy(reply.data() + 8, FUZZ_CID, 4);
                reply[12] = 2;     // CTAPHID protocol version
                reply[16] = 0x05;  // capabilities: wink, CBOR
                // The INIT reply goes ahead of whatever the input still holds.
                std::deque<Bytes> rest;
                rest.swap(input);
                queueMessage(BROADCAST, CTAPHID_INIT, reply);
                for (Bytes& r : rest) {
                    input.push_back(std::move(r));
                }
            }
            return;
        }
        pendingCommand = command;
        pendingLength = (static_cast<uint32_t>(packet[5]) << 8) | packet[6];
        pendingHave = std::min<uint32_t>(pendingLength, PACKET - 7);
    } else {
        pendingHave = std::min<uint32_t>(pendingLength, pendingHave + PACKET - 5);
    }
    if (playback == Playback::Messages && pendingHave == pendingLength && pendingLength != 0) {
        pendingLength = 0;
        if (!messages.empty()) {
            queueMessage(FUZZ_CID, pendingCommand, messages.front());
            messages.pop_front();
        }
    }
}

FuzzHidBackend::FuzzHidBackend(Playback playback, const uint8_t* data, size_t size, Clock& clock,
                               bool autoInit)
    : device_(std::make_shared<FuzzDevice>()), clock_(clock) {
    device_->playback = playback;
    device_->autoInit = autoInit;
    device_->load(data, size);
}

std::vector<HidInterfaceInfo> FuzzHidBackend::enumerate() {
    HidInterfaceInfo info;
    info.path = "fuzz:0";
    info.vendorId = 0x1209;
    info.productId = 0x0001;
    info.releaseNumber = 0x0100;
    info.productString = "Fuzz Key";
    info.usagePage = FIDO_USAGE_PAGE;
    info.usage = 1;
    return {info};
}

std::unique_ptr<HidHandle> FuzzHidBackend::open(const std::string&, std::string*) {
    return std::make_unique<FuzzHandle>(device_, clock_);
}

std::pair<Bytes, Bytes> splitInput(const uint8_t* data, size_t size) {
    static const uint8_t SEPARATOR[4] = {'F', 'U', 'Z', 'Z'};
    const uint8_t* end = data + size;
    const uint8_t* at = std::search(data, end, SEPARATOR, SEPARATOR + 4);
    if (at == end) {
        return {Bytes(data, end), Bytes()};
    }
    return {Bytes(data, at), Bytes(at + 4, end)};
}

}  // namespace orvanta::fuzz
