#include "transport/hid_link.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <random>

namespace orvanta {

namespace {

constexpr size_t MIN_REPORT = 1 + CTAPHID_PACKET_SIZE;  // report ID + one packet
constexpr uint32_t CANCEL_POLL_MS = 100;

// A report buffer with the packet view after the report ID byte.
struct Report {
    std::array<uint8_t, REPORT_BUFFER_SIZE> bytes{};
    CtaphidPacket packet() {
        return CtaphidPacket(std::span(bytes).subspan<1, CTAPHID_PACKET_SIZE>());
    }
    void clear() { bytes.fill(0); }
};

// Holds the advisory device lock for the length of one exchange; under a hold (the lock is
// taken already) it leaves the lock to the hold.
class ExchangeLock {
  public:
    ExchangeLock(HidHandle& handle, bool held)
        : handle_(handle), owned_(!held && handle.lockExclusive()), locked_(held || owned_) {}
    ~ExchangeLock() {
        if (owned_) {
            handle_.unlock();
        }
    }
    bool locked() const { return locked_; }
    ExchangeLock(const ExchangeLock&) = delete;
    ExchangeLock& operator=(const ExchangeLock&) = delete;

  private:
    HidHandle& handle_;
    bool owned_;
    bool locked_;
};

// Reads input reports of one channel within the bounded waits: each report must come
// within REPORT_WAIT_MS (a keepalive starts the wait again when the caller says so) and
// the whole exchange ends at EXCHANGE_LIMIT_MS.
class ReportReader {
  public:
    ReportReader(HidHandle& handle, const CallOptions& options, size_t inputLength)
        : handle_(handle),
          options_(options),
          clock_(options.clock),
          inputLength_(inputLength),
          limitMs_(options.limitMs),
          start_(options.clock.tickCount()) {
        restartWait();
    }

    void restartWait() { waitStart_ = clock_.tickCount(); }

    // Next report on channel cid (reports of other channels are skipped); the error says
    // why none came.
    TransportCause next(std::span<const uint8_t, 4> cid, Report& report) {
        for (;;) {
            uint32_t now = clock_.tickCount();
            uint32_t waited = now - waitStart_;
            uint32_t total = now - start_;
            if (waited >= REPORT_WAIT_MS || total >= limitMs_) {
                return TransportCause::Timeout;
            }
            uint32_t timeout = REPORT_WAIT_MS - waited;
            if (limitMs_ - total < timeout) {
                timeout = limitMs_ - total;
            }
            // Short reads, so that a cancel is noticed within a slice also where a signal
            // does not interrupt the read.
            timeout = std::min(timeout, CANCEL_POLL_MS);
            if (options_.cancelRequested()) {
                return TransportCause::Cancelled;
            }
            report.clear();
            int got = handle_.read(report.bytes.data(), inputLength_, timeout);
            if (got < 0) {
                return options_.cancelRequested() ? TransportCause::Cancelled
                                                  : TransportCause::Read;
            }
            if (got == 0) {
                continue;  // the loop head decides whether the wait is over
            }
            if (std::equal(cid.begin(), cid.end(), report.packet().cid().begin())) {
                return TransportCause::None;
            }
        }
    }

  private:
    HidHandle& handle_;
    const CallOptions& options_;
    Clock& clock_;
    size_t inputLength_;
    uint32_t limitMs_;
    uint32_t start_;
    uint32_t waitStart_ = 0;
};

bool writeReport(HidHandle& handle, const Report& report, size_t length) {
    return handle.write(report.bytes.data(), length) == static_cast<int>(length);
}

}  // namespace

TransportCause HidLink::allocateChannel(size_t outLength, size_t inLength,
                                        const CallOptions& options) {
    HidHandle& handle = *handle_;
    std::array<uint8_t, CTAPHID_INIT_NONCE_LENGTH> nonce;
    std::random_device random;
    for (uint8_t& b : nonce) {
        b = static_cast<uint8_t>(random());
    }
    Report report;
    std::memcpy(report.packet().cid().data(), CTAPHID_BROADCAST, 4);
    report.packet().setCommand(CTAPHID_INIT, CTAPHID_INIT_NONCE_LENGTH);
    std::copy(nonce.begin(), nonce.end(), report.packet().initData().begin());
    if (!writeReport(handle, report, outLength)) {
        return TransportCause::Write;
    }
    ReportReader reader(handle, options, inLength);
    for (;;) {
        TransportCause cause = reader.next(std::span<const uint8_t, 4>(CTAPHID_BROADCAST), report);
        if (cause != TransportCause::None) {
            return cause == TransportCause::Timeout ? TransportCause::NoChannel : cause;
        }
        CtaphidPacket packet = report.packet();
        auto data = packet.initData();
        // Only our own INIT reply counts: a reply to another program's INIT on the
        // broadcast channel carries another nonce.
        if (packet.command() == CTAPHID_INIT && packet.length() >= CTAPHID_INIT_REPLY_LENGTH &&
            std::equal(nonce.begin(), nonce.end(), data.begin())) {
            std::array<uint8_t, 4> channel;
            std::copy_n(data.begin() + CTAPHID_INIT_NONCE_LENGTH, 4, channel.begin());
            // The broadcast and the zero channel belong to no one: a key that hands them
            // out has given us no channel of our own.
            const bool reserved =
                std::all_of(channel.begin(), channel.end(), [](uint8_t b) { return b == 0xFF; }) ||
                std::all_of(channel.begin(), channel.end(), [](uint8_t b) { return b == 0x00; });
            if (reserved) {
                return TransportCause::NoChannel;
            }
            channel_ = channel;
            channelPending_ = false;
            // After nonce and channel: protocol version, device version, capabilities.
            const auto at = [&](size_t offset) { return data[CTAPHID_INIT_NONCE_LENGTH + offset]; };
            initFacts_ = InitFacts{at(4), at(5), at(6), at(7), at(8)};
            return TransportCause::None;
        }
    }
}

namespace {

// WINK and PING may carry nothing; every other command has data.
bool mayBeEmpty(uint8_t command) {
    return command == CTAPHID_WINK || command == CTAPHID_PING;
}

// One request and its reply on a channel: the request's packets written, the reply's
// initialisation packet awaited (keepalives heard, other answers skipped), then its
// continuations collected in sequence.
class MessageExchange {
  public:
    MessageExchange(HidHandle& handle, const CallOptions& options, std::array<uint8_t, 4> channel,
                    uint8_t command)
        : handle_(handle),
          options_(options),
          channel_(channel),
          command_(command),
          outLength_(handle.outputReportLength()) {}

    TransportCause writeRequest(std::span<const uint8_t> request) {
        Report report;
        size_t offset = 0;
        uint8_t sequence = 0;
        do {  // one initialisation packet at least, so an empty request goes out too
            report.clear();
            CtaphidPacket packet = report.packet();
            std::copy(channel_.begin(), channel_.end(), packet.cid().begin());
            size_t chunk;
            if (offset == 0) {
                packet.setCommand(command_, static_cast<uint16_t>(request.size()));
                chunk = std::min<size_t>(request.size(), CTAPHID_INIT_DATA);
                std::copy_n(request.begin(), chunk, packet.initData().begin());
            } else {
                packet.setSequence(sequence++);
                chunk = std::min<size_t>(request.size() - offset, CTAPHID_CONT_DATA);
                std::copy_n(request.subspan(offset).begin(), chunk, packet.contData().begin());
            }
            if (!writeReport(handle_, report, outLength_)) {
                return TransportCause::Write;
            }
            offset += chunk;
        } while (offset < request.size());
        return TransportCause::None;
    }

    Result<Bytes> readReply() {
        // The reply's waits start once the request is out.
        reader_.emplace(handle_, options_, handle_.inputReportLength());
        Result<uint32_t> length = awaitStart();
        if (!length) {
            return length.error();
        }
        if (*length > REPLY_BUFFER_SIZE) {
            return Error::transport(TransportCause::Framing);
        }
        return collect(*length);
    }

  private:
    // The reply's length, once its initialisation packet is in report_.
    Result<uint32_t> awaitStart() {
        for (;;) {
            TransportCause cause = reader_->next(channel_, report_);
            if (cause == TransportCause::Cancelled) {
                sendCancel();
            }
            if (cause != TransportCause::None) {
                return Error::transport(cause);
            }
            CtaphidPacket packet = report_.packet();
            if (packet.command() == CTAPHID_KEEPALIVE) {
                reader_->restartWait();
                if (options_.keepalive && packet.length() > 0) {
                    options_.keepalive(packet.initData()[0]);
                }
                continue;
            }
            if (!packet.isInit()) {
                continue;  // a stray continuation of an earlier message
            }
            if (packet.command() == CTAPHID_ERROR) {
                // The key refused the request at the transport level; its code is no CTAP
                // status and no status word.
                const uint16_t code = packet.length() > 0 ? packet.initData()[0] : 0;
                return Error::transport(TransportCause::KeyError, code);
            }
            // Only the answer to our request is the reply; an empty one only where the
            // request may be empty (WINK's answer, and PING's to an empty ping).
            if (packet.command() == command_ && (packet.length() > 0 || mayBeEmpty(command_))) {
                return uint32_t{packet.length()};
            }
        }
    }

    Result<Bytes> collect(uint32_t length) {
        Bytes reply(length);
        size_t copied = std::min<size_t>(length, CTAPHID_INIT_DATA);
        std::copy_n(report_.packet().initData().begin(), copied, reply.begin());
        uint8_t expected = 0;
        while (copied < length) {
            reader_->restartWait();
            TransportCause cause = reader_->next(channel_, report_);
            if (cause != TransportCause::None) {
                return Error::transport(cause);
            }
            CtaphidPacket packet = report_.packet();
            if (packet.sequence() != expected) {
                // out of sequence, or a new message in the middle of this one
                return Error::transport(TransportCause::Framing);
            }
            ++expected;
            size_t chunk = std::min<size_t>(length - copied, CTAPHID_CONT_DATA);
            std::copy_n(packet.contData().begin(), chunk,
                        reply.begin() + static_cast<std::ptrdiff_t>(copied));
            copied += chunk;
        }
        return reply;
    }

    // The key may be waiting for a touch and blinking: tell it we stopped waiting.
    void sendCancel() {
        Report cancel;
        std::copy(channel_.begin(), channel_.end(), cancel.packet().cid().begin());
        cancel.packet().setCommand(CTAPHID_CANCEL, 0);
        writeReport(handle_, cancel, outLength_);
    }

    HidHandle& handle_;
    const CallOptions& options_;
    std::array<uint8_t, 4> channel_;
    uint8_t command_;
    size_t outLength_;
    std::optional<ReportReader> reader_;
    Report report_;
};

}  // namespace

Result<Bytes> HidLink::exchange(uint8_t command, std::span<const uint8_t> request,
                                const CallOptions& options) {
    HidHandle& handle = *handle_;
    const size_t outLength = handle.outputReportLength();
    const size_t inLength = handle.inputReportLength();
    // The framing is for one 64-byte packet per report; anything else is refused rather
    // than written past the report buffer.
    if (outLength < MIN_REPORT || outLength > REPORT_BUFFER_SIZE || inLength < MIN_REPORT ||
        inLength > REPORT_BUFFER_SIZE) {
        return Error::transport(TransportCause::Framing);
    }
    if ((request.empty() && !mayBeEmpty(command)) || request.size() > MAX_REQUEST_LENGTH) {
        return Error::transport(TransportCause::BadRequest);
    }
    if (options.cancelRequested()) {
        return Error::transport(TransportCause::Cancelled);
    }
    if (channelPending_) {
        // One attempt per allocation: a failed INIT is not repeated by this exchange.
        channel_ = {0, 0, 0, 0};
        channelPending_ = false;
        TransportCause cause = allocateChannel(outLength, inLength, options);
        if (cause != TransportCause::None) {
            return Error::transport(cause);
        }
    }
    MessageExchange message(handle, options, channel_, command);
    if (TransportCause cause = message.writeRequest(request); cause != TransportCause::None) {
        return Error::transport(cause);
    }
    return message.readReply();
}

namespace {

// Packets in reports of the handle's lengths (report ID 0 first).
class HandlePackets final : public PacketPort {
  public:
    explicit HandlePackets(HidHandle& handle) : handle_(handle) {}

    bool write(std::span<const uint8_t, CTAPHID_PACKET_SIZE> packet) override {
        Report report;
        std::copy(packet.begin(), packet.end(), report.bytes.begin() + 1);
        return writeReport(handle_, report, handle_.outputReportLength());
    }

    int read(std::span<uint8_t, CTAPHID_PACKET_SIZE> packet, uint32_t timeoutMs) override {
        Report report;
        const int got = handle_.read(report.bytes.data(), handle_.inputReportLength(), timeoutMs);
        if (got <= 0) {
            return got < 0 ? -1 : 0;
        }
        std::copy_n(report.bytes.begin() + 1, CTAPHID_PACKET_SIZE, packet.begin());
        return 1;
    }

  private:
    HidHandle& handle_;
};

}  // namespace

bool HidLink::withPackets(const std::function<void(PacketPort&)>& work) {
    if (!handle_) {
        return false;
    }
    const size_t outLength = handle_->outputReportLength();
    const size_t inLength = handle_->inputReportLength();
    if (outLength < MIN_REPORT || outLength > REPORT_BUFFER_SIZE || inLength < MIN_REPORT ||
        inLength > REPORT_BUFFER_SIZE) {
        return false;
    }
    ExchangeLock lock(*handle_, holds_ > 0);
    if (!lock.locked()) {
        return false;
    }
    handle_->flush();
    HandlePackets port(*handle_);
    work(port);
    // Whatever the work left unread belongs to no later call.
    handle_->flush();
    return true;
}

Result<Bytes> HidLink::call(uint8_t command, std::span<const uint8_t> payload,
                            const CallOptions& options) {
    if (!handle_) {
        return Error::transport(TransportCause::NoDevice);
    }
    ExchangeLock lock(*handle_, holds_ > 0);
    if (!lock.locked()) {
        return Error::transport(TransportCause::Lock);
    }
    handle_->flush();
    return exchange(command, payload, options);
}

bool HidLink::hold() {
    if (!handle_ || (holds_ == 0 && !handle_->lockExclusive())) {
        return false;
    }
    ++holds_;
    return true;
}

void HidLink::release() {
    if (holds_ > 0 && --holds_ == 0) {
        handle_->unlock();
    }
}

}  // namespace orvanta
