#include "transport/ctaphid.h"

#include <cstring>
#include <random>

#include "transport/clock.h"

namespace orvanta {

int transportReady = 0;

namespace {

constexpr uint32_t INIT_DATA = 57;   // message bytes in an initialisation packet
constexpr uint32_t CONT_DATA = 59;   // message bytes in a continuation packet
constexpr uint32_t MIN_REPORT = 65;  // report ID + one 64-byte packet
const uint8_t BROADCAST_CID[4] = {0xFF, 0xFF, 0xFF, 0xFF};

// Holds the advisory device lock for the length of one exchange.
class ExchangeLock {
  public:
    explicit ExchangeLock(HidHandle& handle) : handle_(handle), locked_(handle.lockExclusive()) {}
    ~ExchangeLock() {
        if (locked_) {
            handle_.unlock();
        }
    }
    bool locked() const { return locked_; }
    ExchangeLock(const ExchangeLock&) = delete;
    ExchangeLock& operator=(const ExchangeLock&) = delete;

  private:
    HidHandle& handle_;
    bool locked_;
};

// Reads input reports of one channel within the bounded waits: each report must come
// within REPORT_WAIT_MS (a keepalive starts the wait again when the caller says so) and
// the whole exchange ends at EXCHANGE_LIMIT_MS.
class ReportReader {
  public:
    ReportReader(HidHandle& handle, size_t inputLength)
        : handle_(handle), inputLength_(inputLength), start_(clock().tickCount()) {
        restartWait();
    }

    void restartWait() { waitStart_ = clock().tickCount(); }

    // Next report on channel cid (reports of other channels are skipped). False when the
    // device fails, or stays silent beyond the wait.
    bool next(const uint8_t cid[4], uint8_t* report) {
        for (;;) {
            uint32_t now = clock().tickCount();
            uint32_t waited = now - waitStart_;
            uint32_t total = now - start_;
            if (waited >= REPORT_WAIT_MS || total >= EXCHANGE_LIMIT_MS) {
                return false;
            }
            uint32_t timeout = REPORT_WAIT_MS - waited;
            if (EXCHANGE_LIMIT_MS - total < timeout) {
                timeout = EXCHANGE_LIMIT_MS - total;
            }
            std::memset(report, 0, REPORT_BUFFER_SIZE);
            int got = handle_.read(report, inputLength_, timeout);
            if (got < 0) {
                return false;
            }
            if (got == 0) {
                continue;  // the loop head decides whether the wait is over
            }
            if (std::memcmp(report + 1, cid, 4) == 0) {
                return true;
            }
        }
    }

  private:
    HidHandle& handle_;
    size_t inputLength_;
    uint32_t start_;
    uint32_t waitStart_ = 0;
};

bool writeReport(HidHandle& handle, const uint8_t* report, size_t length) {
    return handle.write(report, length) == static_cast<int>(length);
}

bool allocateChannel(DeviceManager& manager, HidHandle& handle, size_t outLength, size_t inLength) {
    uint8_t nonce[8];
    std::random_device random;
    for (uint8_t& b : nonce) {
        b = static_cast<uint8_t>(random());
    }
    uint8_t report[REPORT_BUFFER_SIZE] = {};
    std::memcpy(report + 1, BROADCAST_CID, 4);
    report[5] = CTAPHID_INIT;
    report[6] = 0;
    report[7] = 8;
    std::memcpy(report + 8, nonce, 8);
    if (!writeReport(handle, report, outLength)) {
        return false;
    }
    ReportReader reader(handle, inLength);
    for (;;) {
        if (!reader.next(BROADCAST_CID, report)) {
            return false;
        }
        uint32_t length = (static_cast<uint32_t>(report[6]) << 8) | report[7];
        // Only our own INIT reply counts: a reply to another program's INIT on the
        // broadcast channel carries another nonce.
        if (report[5] == CTAPHID_INIT && length >= 17 && std::memcmp(report + 8, nonce, 8) == 0) {
            std::memcpy(manager.channelId, report + 16, 4);
            return true;
        }
    }
}

int exchangeLocked(DeviceManager& manager, HidHandle& handle, const uint8_t* request,
                   uint32_t requestLength, uint8_t command, uint8_t* reply, uint32_t* replyLength) {
    const size_t outLength = handle.outputReportLength();
    const size_t inLength = handle.inputReportLength();
    // The framing is for one 64-byte packet per report; anything else is refused rather
    // than written past the report buffer.
    if (outLength < MIN_REPORT || outLength > REPORT_BUFFER_SIZE || inLength < MIN_REPORT ||
        inLength > REPORT_BUFFER_SIZE) {
        return -1;
    }
    if (request == nullptr || requestLength == 0 || requestLength > MAX_REQUEST_LENGTH) {
        return -1;
    }

    if (manager.initPending) {
        manager.initPending = false;
        if (!allocateChannel(manager, handle, outLength, inLength)) {
            return -1;
        }
    }

    uint8_t report[REPORT_BUFFER_SIZE];
    uint32_t remaining = requestLength;
    uint32_t offset = 0;
    uint8_t sequence = 0;
    bool first = true;
    while (remaining > 0) {
        std::memset(report, 0, sizeof report);
        std::memcpy(report + 1, manager.channelId, 4);
        uint32_t chunk;
        if (first) {
            report[5] = command;
            report[6] = static_cast<uint8_t>(requestLength >> 8);
            report[7] = static_cast<uint8_t>(requestLength);
            chunk = remaining < INIT_DATA ? remaining : INIT_DATA;
            std::memcpy(report + 8, request + offset, chunk);
            first = false;
        } else {
            report[5] = sequence++;
            chunk = remaining < CONT_DATA ? remaining : CONT_DATA;
            std::memcpy(report + 6, request + offset, chunk);
        }
        if (!writeReport(handle, report, outLength)) {
            return -1;
        }
        offset += chunk;
        remaining -= chunk;
    }

    ReportReader reader(handle, inLength);
    uint32_t length = 0;
    for (;;) {
        if (!reader.next(manager.channelId, report)) {
            return -1;
        }
        if (report[5] == CTAPHID_KEEPALIVE) {
            reader.restartWait();
            continue;
        }
        if ((report[5] & 0x80) == 0) {
            continue;  // a stray continuation of an earlier message
        }
        length = (static_cast<uint32_t>(report[6]) << 8) | report[7];
        if (length == 0) {
            continue;
        }
        break;
    }
    if (length > REPLY_BUFFER_SIZE) {
        return -1;
    }
    uint32_t copied = length < INIT_DATA ? length : INIT_DATA;
    std::memcpy(reply, report + 8, copied);
    uint8_t expected = 0;
    while (copied < length) {
        reader.restartWait();
        if (!reader.next(manager.channelId, report)) {
            return -1;
        }
        if (report[5] != expected) {
            return -1;  // out of sequence, or a new message in the middle of this one
        }
        ++expected;
        uint32_t chunk = length - copied < CONT_DATA ? length - copied : CONT_DATA;
        std::memcpy(reply + copied, report + 6, chunk);
        copied += chunk;
    }
    *replyLength = length;
    return 0;
}

}  // namespace

int ctaphidExchange(DeviceManager& manager, const uint8_t* request, uint32_t requestLength,
                    uint8_t command, uint8_t* reply, uint32_t* replyLength) {
    HidHandle* handle = manager.selected.writeHandle;
    if (handle == nullptr || manager.selected.readHandle == nullptr || reply == nullptr ||
        replyLength == nullptr) {
        return -1;
    }
    ExchangeLock lock(*handle);
    if (!lock.locked()) {
        return -1;
    }
    handle->flush();
    return exchangeLocked(manager, *handle, request, requestLength, command, reply, replyLength);
}

uint16_t sendApdu(const uint8_t* request, int32_t requestLength, uint8_t* reply,
                  uint32_t* replyLength, uint8_t command) {
    uint8_t buffer[REPLY_BUFFER_SIZE] = {};
    if (transportReady != 1 || requestLength <= 0) {
        return TRANSPORT_FAILED;
    }
    uint32_t length = 0;
    if (ctaphidExchange(deviceManager(), request, static_cast<uint32_t>(requestLength), command,
                        buffer, &length) != 0) {
        return TRANSPORT_FAILED;
    }
    // A reply without a status word (a one-byte CTAPHID_ERROR) is a failed exchange.
    if (length < 2) {
        return TRANSPORT_FAILED;
    }
    uint16_t status = static_cast<uint16_t>((buffer[length - 2] << 8) | buffer[length - 1]);
    uint32_t data = length - 2;
    if (replyLength == nullptr) {
        return status;
    }
    if (reply == nullptr) {
        *replyLength = data;
        return status;
    }
    if (*replyLength < data) {
        *replyLength = data;
        return TRANSPORT_FAILED;
    }
    std::memcpy(reply, buffer, data);
    *replyLength = data;
    return status;
}

uint16_t sendCbor(const uint8_t* request, int32_t requestLength, uint8_t* reply,
                  uint32_t* replyLength) {
    uint8_t buffer[REPLY_BUFFER_SIZE] = {};
    if (transportReady != 1 || requestLength <= 0) {
        return TRANSPORT_FAILED;
    }
    uint32_t length = 0;
    if (ctaphidExchange(deviceManager(), request, static_cast<uint32_t>(requestLength),
                        CTAPHID_CBOR, buffer, &length) != 0) {
        return TRANSPORT_FAILED;
    }
    uint16_t status = buffer[0];
    if (replyLength == nullptr || *replyLength == 0) {
        return NO_LENGTH;
    }
    if (length > 1 && reply != nullptr && length - 1 <= *replyLength) {
        std::memcpy(reply, buffer + 1, length - 1);
        *replyLength = length - 1;
    }
    return status;
}

}  // namespace orvanta
