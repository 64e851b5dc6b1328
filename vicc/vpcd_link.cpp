#include "vicc/vpcd_link.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "common/iso_status.h"
#include "sim/apdu_handler.h"

namespace orvanta::vicc {

namespace {

enum class Io { Done, Closed, Failed, Stopped };

Io readExactly(int fd, uint8_t* buffer, size_t length, const std::atomic<bool>& stop) {
    size_t done = 0;
    while (done < length) {
        if (stop.load()) {
            return Io::Stopped;
        }
        const ssize_t got = ::recv(fd, buffer + done, length - done, 0);
        if (got == 0) {
            return Io::Closed;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Io::Failed;
        }
        done += static_cast<size_t>(got);
    }
    return Io::Done;
}

bool writeAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        done += static_cast<size_t>(sent);
    }
    return true;
}

}  // namespace

std::optional<std::vector<uint8_t>> answerVpcd(NfcCard& card, std::span<const uint8_t> message) {
    if (message.empty()) {
        return std::nullopt;
    }
    if (message.size() == 1) {
        switch (message[0]) {
            case VPCD_GET_ATR:
                return NfcCard::atr();
            case VPCD_POWER_OFF:
            case VPCD_RESET:
                card.powerCycle();
                return std::nullopt;
            default:  // power on, and codes this card does not know: nothing to answer
                return std::nullopt;
        }
    }
    std::vector<uint8_t> reply = card.transmit(message);
    if (reply.size() > 0xFFFF) {
        // The length field cannot carry it; no answer of this card is that long.
        reply = statusReply(SW_NO_PRECISE_DIAGNOSIS);
    }
    return reply;
}

std::string serveVpcd(int fd, NfcCard& card, const std::atomic<bool>& stop) {
    return serveVpcd(fd, card, stop, std::nullopt);
}

std::string serveVpcd(int fd, NfcCard& card, const std::atomic<bool>& stop,
                      const std::optional<Hang>& hang) {
    std::vector<uint8_t> message;
    uint32_t commands = 0;
    for (;;) {
        uint8_t header[2];
        Io io = readExactly(fd, header, sizeof header, stop);
        if (io == Io::Done) {
            message.resize(static_cast<size_t>((header[0] << 8) | header[1]));
            io = readExactly(fd, message.data(), message.size(), stop);
        }
        switch (io) {
            case Io::Done:
                break;
            case Io::Closed:
                return "the reader closed the connection";
            case Io::Stopped:
                return "stopped";
            case Io::Failed:
                return std::string("cannot read from the reader: ") + std::strerror(errno);
        }
        if (message.size() > 1 && hang && commands++ >= hang->answerLimit) {
            if (commands == hang->answerLimit + 1 && hang->onHang) {
                hang->onHang();
            }
            continue;  // the reader waits for an answer that never comes
        }
        const std::optional<std::vector<uint8_t>> reply = answerVpcd(card, message);
        if (!reply) {
            continue;
        }
        std::vector<uint8_t> framed = {static_cast<uint8_t>(reply->size() >> 8),
                                       static_cast<uint8_t>(reply->size())};
        framed.insert(framed.end(), reply->begin(), reply->end());
        if (!writeAll(fd, framed)) {
            return std::string("cannot write to the reader: ") + std::strerror(errno);
        }
    }
}

}  // namespace orvanta::vicc
