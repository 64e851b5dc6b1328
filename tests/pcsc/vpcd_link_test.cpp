// orvanta-vicc's side of the vpcd socket protocol, without a pcscd: the control codes, the
// APDUs, and the length-prefixed messages on a socket.

#include "vicc/vpcd_link.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <string>
#include <thread>

#include "sim/profile.h"
#include "transport/unique_fd.h"

namespace orvanta::test {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes SELECT_FIDO = {0x00, 0xA4, 0x04, 0x00, 0x08, 0xA0, 0x00,
                           0x00, 0x06, 0x47, 0x2F, 0x00, 0x01, 0x00};
const Bytes GET_INFO = {0x80, 0x10, 0x80, 0x00, 0x01, 0x04, 0x00};

uint16_t statusOf(const Bytes& reply) {
    return static_cast<uint16_t>(reply[reply.size() - 2] << 8 | reply.back());
}

class VpcdLink : public ::testing::Test {
  protected:
    ManualClock clock{1000};
    VirtualKey key{profileByName("full"), 0, clock};
    NfcCard card{key, clock};
};

TEST_F(VpcdLink, ControlCodesAndApdus) {
    EXPECT_EQ(vicc::answerVpcd(card, Bytes{vicc::VPCD_GET_ATR}), NfcCard::atr());
    EXPECT_FALSE(vicc::answerVpcd(card, Bytes{vicc::VPCD_POWER_ON}).has_value());
    EXPECT_FALSE(vicc::answerVpcd(card, Bytes{}).has_value());

    ASSERT_EQ(statusOf(*vicc::answerVpcd(card, SELECT_FIDO)), 0x9000);
    EXPECT_EQ(statusOf(*vicc::answerVpcd(card, GET_INFO)) & 0xFF00, 0x6100);  // more to come
    // Power off and reset: the card leaves the field, nothing stays selected.
    for (uint8_t code : {vicc::VPCD_POWER_OFF, vicc::VPCD_RESET}) {
        ASSERT_EQ(statusOf(*vicc::answerVpcd(card, SELECT_FIDO)), 0x9000);
        EXPECT_FALSE(vicc::answerVpcd(card, Bytes{code}).has_value());
        EXPECT_EQ(statusOf(*vicc::answerVpcd(card, GET_INFO)), 0x6D00);
    }
}

TEST_F(VpcdLink, MessagesOnTheSocketCarryTheirLength) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    UniqueFd reader(fds[0]);
    UniqueFd cardSide(fds[1]);
    std::atomic<bool> stop{false};
    std::string ended;
    std::thread served([&] { ended = vicc::serveVpcd(cardSide.get(), card, stop); });

    auto send = [&](const Bytes& payload) {
        Bytes framed = {static_cast<uint8_t>(payload.size() >> 8),
                        static_cast<uint8_t>(payload.size())};
        framed.insert(framed.end(), payload.begin(), payload.end());
        ASSERT_EQ(::send(reader.get(), framed.data(), framed.size(), 0),
                  static_cast<ssize_t>(framed.size()));
    };
    auto receive = [&] {
        uint8_t header[2] = {};
        EXPECT_EQ(::recv(reader.get(), header, 2, MSG_WAITALL), 2);
        Bytes payload(static_cast<size_t>(header[0] << 8 | header[1]));
        EXPECT_EQ(::recv(reader.get(), payload.data(), payload.size(), MSG_WAITALL),
                  static_cast<ssize_t>(payload.size()));
        return payload;
    };
    send({vicc::VPCD_POWER_ON});  // no answer: the next message read is the ATR's
    send({vicc::VPCD_GET_ATR});
    EXPECT_EQ(receive(), NfcCard::atr());
    send(SELECT_FIDO);
    EXPECT_EQ(receive(), Bytes({'U', '2', 'F', '_', 'V', '2', 0x90, 0x00}));
    reader.close();
    served.join();
    EXPECT_EQ(ended, "the reader closed the connection");
}

}  // namespace
}  // namespace orvanta::test
