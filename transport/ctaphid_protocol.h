#pragma once
// The CTAPHID vocabulary, shared by the inspector, the virtual key and the tests: command
// and error codes, packet sizes and a view of one packet.

#include <cstdint>
#include <span>

namespace orvanta {

inline constexpr uint8_t CTAPHID_PING = 0x81;
inline constexpr uint8_t CTAPHID_MSG = 0x83;
inline constexpr uint8_t CTAPHID_LOCK = 0x84;
inline constexpr uint8_t CTAPHID_INIT = 0x86;
inline constexpr uint8_t CTAPHID_WINK = 0x88;
inline constexpr uint8_t CTAPHID_CBOR = 0x90;
inline constexpr uint8_t CTAPHID_CANCEL = 0x91;
inline constexpr uint8_t CTAPHID_KEEPALIVE = 0xBB;
inline constexpr uint8_t CTAPHID_ERROR = 0xBF;

// The code a CTAPHID_ERROR reply carries.
enum class CtaphidError : uint8_t {
    InvalidCommand = 0x01,
    InvalidParameter = 0x02,
    InvalidLength = 0x03,
    InvalidSequence = 0x04,
    MessageTimeout = 0x05,
    ChannelBusy = 0x06,
    InvalidChannel = 0x0B,
};

// Status of a keepalive: the key waits for the user's touch.
inline constexpr uint8_t CTAPHID_KEEPALIVE_PROCESSING = 0x01;
inline constexpr uint8_t CTAPHID_KEEPALIVE_UPNEEDED = 0x02;

// Capability flags of the INIT reply.
inline constexpr uint8_t CTAPHID_CAPABILITY_WINK = 0x01;
inline constexpr uint8_t CTAPHID_CAPABILITY_CBOR = 0x04;
inline constexpr uint8_t CTAPHID_CAPABILITY_NMSG = 0x08;

inline constexpr uint32_t CTAPHID_BROADCAST_CID = 0xFFFFFFFF;
inline constexpr uint8_t CTAPHID_BROADCAST[4] = {0xFF, 0xFF, 0xFF, 0xFF};
inline constexpr uint32_t CTAPHID_PACKET_SIZE = 64;
inline constexpr uint32_t CTAPHID_INIT_DATA = 57;  // message bytes in an initialisation packet
inline constexpr uint32_t CTAPHID_CONT_DATA = 59;  // message bytes in a continuation packet
inline constexpr uint32_t CTAPHID_MAX_MESSAGE = CTAPHID_INIT_DATA + 128 * CTAPHID_CONT_DATA;
inline constexpr uint32_t CTAPHID_INIT_NONCE_LENGTH = 8;
inline constexpr uint32_t CTAPHID_INIT_REPLY_LENGTH = 17;

// One CTAPHID packet (64 bytes, without the report ID byte): channel, then either the
// command (bit 7 set), the two-byte length and data, or the sequence number and data.
class CtaphidPacket {
  public:
    explicit CtaphidPacket(std::span<uint8_t, CTAPHID_PACKET_SIZE> bytes) : bytes_(bytes) {}

    std::span<uint8_t, 4> cid() const { return bytes_.subspan<0, 4>(); }
    uint32_t cidValue() const {
        return (uint32_t{bytes_[0]} << 24) | (uint32_t{bytes_[1]} << 16) |
               (uint32_t{bytes_[2]} << 8) | bytes_[3];
    }
    bool isInit() const { return (bytes_[4] & 0x80) != 0; }
    uint8_t command() const { return bytes_[4]; }
    uint8_t sequence() const { return bytes_[4]; }
    uint16_t length() const { return static_cast<uint16_t>((bytes_[5] << 8) | bytes_[6]); }
    std::span<uint8_t, CTAPHID_INIT_DATA> initData() const {
        return bytes_.subspan<7, CTAPHID_INIT_DATA>();
    }
    std::span<uint8_t, CTAPHID_CONT_DATA> contData() const {
        return bytes_.subspan<5, CTAPHID_CONT_DATA>();
    }

    void setCommand(uint8_t command, uint16_t length) {
        bytes_[4] = command;
        bytes_[5] = static_cast<uint8_t>(length >> 8);
        bytes_[6] = static_cast<uint8_t>(length);
    }
    void setSequence(uint8_t sequence) { bytes_[4] = sequence; }

  private:
    std::span<uint8_t, CTAPHID_PACKET_SIZE> bytes_;
};

}  // namespace orvanta
