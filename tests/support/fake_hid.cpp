#include "support/fake_hid.h"

#include <cstring>

#include "transport/clock.h"

namespace orvanta::test {

namespace {

class FakeHandle : public HidHandle {
  public:
    FakeHandle(std::shared_ptr<FakeDevice> device, Clock& clock)
        : device_(std::move(device)), clock_(clock) {
        ++device_->opens;
    }
    ~FakeHandle() override { ++device_->closes; }

    int write(const uint8_t* report, size_t length) override {
        FakeDevice& d = *device_;
        Bytes r(report, report + length);
        d.written.push_back(r);
        if (d.writeResult != -2) {
            return d.writeResult;
        }
        if (length >= 8) {
            handlePacket(d, r);
        }
        return static_cast<int>(length);
    }

    int read(uint8_t* report, size_t capacity, uint32_t timeoutMs) override {
        FakeDevice& d = *device_;
        if (d.readFails) {
            return -1;
        }
        if (d.input.empty()) {
            clock_.sleep(timeoutMs);
            return 0;
        }
        clock_.sleep(d.delayPerReport);
        Bytes r = d.input.front();
        d.input.pop_front();
        size_t n = r.size() < capacity ? r.size() : capacity;
        std::memcpy(report, r.data(), n);
        return static_cast<int>(n);
    }

    void flush() override {}
    size_t inputReportLength() const override { return device_->inputLength; }
    size_t outputReportLength() const override { return device_->outputLength; }

  private:
    static void handlePacket(FakeDevice& d, const Bytes& r) {
        const uint8_t broadcast[4] = {0xFF, 0xFF, 0xFF, 0xFF};
        if (r[5] == 0x86 && std::memcmp(&r[1], broadcast, 4) == 0) {
            if (d.autoInit) {
                Bytes payload(r.begin() + 8, r.begin() + 16);
                payload.insert(payload.end(), d.channel, d.channel + 4);
                payload.insert(payload.end(), {2, 1, 0, 0, 0x05});
                d.reply(0x86, payload, broadcast);
            }
            return;
        }
        if (r[5] & 0x80) {
            d.pendingCommand = r[5];
            d.pendingLength = (r[6] << 8) | r[7];
            d.pending.assign(r.begin() + 8, r.begin() + 8 + std::min<size_t>(57, d.pendingLength));
        } else {
            size_t need = d.pendingLength - d.pending.size();
            d.pending.insert(d.pending.end(), r.begin() + 6,
                             r.begin() + 6 + std::min<size_t>(59, need));
        }
        if (d.pending.size() == d.pendingLength && d.onMessage) {
            d.onMessage(d, d.pendingCommand, d.pending);
        }
    }

    std::shared_ptr<FakeDevice> device_;
    Clock& clock_;
};

}  // namespace

void FakeDevice::reply(uint8_t command, const Bytes& payload, const uint8_t* cid) {
    const uint8_t* c = cid ? cid : channel;
    Bytes r(65, 0);
    std::memcpy(&r[1], c, 4);
    r[5] = command;
    r[6] = static_cast<uint8_t>(payload.size() >> 8);
    r[7] = static_cast<uint8_t>(payload.size());
    size_t off = std::min<size_t>(57, payload.size());
    std::memcpy(&r[8], payload.data(), off);
    input.push_back(r);
    uint8_t seq = 0;
    while (off < payload.size()) {
        Bytes c2(65, 0);
        std::memcpy(&c2[1], c, 4);
        c2[5] = seq++;
        size_t n = std::min<size_t>(59, payload.size() - off);
        std::memcpy(&c2[6], payload.data() + off, n);
        off += n;
        input.push_back(c2);
    }
}

void FakeDevice::raw(const uint8_t cid[4], const Bytes& fromOffset5) {
    Bytes r(65, 0);
    std::memcpy(&r[1], cid, 4);
    std::memcpy(&r[5], fromOffset5.data(), std::min<size_t>(60, fromOffset5.size()));
    input.push_back(r);
}

void FakeDevice::keepalive() {
    raw(channel, {0xBB, 0x00, 0x01, 0x02});
}

std::vector<std::pair<uint8_t, Bytes>> FakeDevice::requests() const {
    std::vector<std::pair<uint8_t, Bytes>> out;
    uint32_t length = 0;
    for (const Bytes& r : written) {
        if (r.size() < 8) {
            continue;
        }
        if (r[5] == 0x86 && r[1] == 0xFF && r[2] == 0xFF && r[3] == 0xFF && r[4] == 0xFF) {
            continue;
        }
        if (r[5] & 0x80) {
            length = (r[6] << 8) | r[7];
            out.push_back(
                {r[5], Bytes(r.begin() + 8, r.begin() + 8 + std::min<size_t>(57, length))});
        } else if (!out.empty()) {
            Bytes& p = out.back().second;
            size_t need = length - p.size();
            p.insert(p.end(), r.begin() + 6, r.begin() + 6 + std::min<size_t>(59, need));
        }
    }
    return out;
}

int FakeDevice::initCount() const {
    int n = 0;
    for (const Bytes& r : written) {
        if (r.size() > 5 && r[5] == 0x86 && r[1] == 0xFF) {
            ++n;
        }
    }
    return n;
}

std::shared_ptr<FakeDevice> FakeHidBackend::add(uint16_t vendorId, uint16_t productId,
                                                uint16_t usagePage, const std::string& product,
                                                uint16_t release) {
    Entry e;
    e.info.path = "fake:" + std::to_string(entries.size());
    e.info.vendorId = vendorId;
    e.info.productId = productId;
    e.info.releaseNumber = release;
    e.info.productString = product;
    e.info.usagePage = usagePage;
    e.info.usage = usagePage == 0xF1D0 ? 1 : 6;
    e.device = std::make_shared<FakeDevice>();
    entries.push_back(e);
    return e.device;
}

std::vector<HidInterfaceInfo> FakeHidBackend::enumerate() {
    std::vector<HidInterfaceInfo> out;
    for (const Entry& e : entries) {
        out.push_back(e.info);
    }
    return out;
}

std::unique_ptr<HidHandle> FakeHidBackend::open(const std::string& path, std::string* error) {
    for (const Entry& e : entries) {
        if (e.info.path == path) {
            if (!e.openError.empty()) {
                if (error) {
                    *error = e.openError;
                }
                return nullptr;
            }
            return std::make_unique<FakeHandle>(e.device, clock_);
        }
    }
    if (error) {
        *error = "no such device";
    }
    return nullptr;
}

Bytes hex(const std::string& text) {
    Bytes out;
    int nibble = -1;
    for (char ch : text) {
        int v;
        if (ch >= '0' && ch <= '9') {
            v = ch - '0';
        } else if (ch >= 'a' && ch <= 'f') {
            v = ch - 'a' + 10;
        } else if (ch >= 'A' && ch <= 'F') {
            v = ch - 'A' + 10;
        } else {
            continue;
        }
        if (nibble < 0) {
            nibble = v;
        } else {
            out.push_back(static_cast<uint8_t>(nibble * 16 + v));
            nibble = -1;
        }
    }
    return out;
}

}  // namespace orvanta::test
