#pragma once
// The CTAP2 vocabulary, shared by the inspector, the virtual key and the tests: command
// bytes, authenticatorClientPIN parameters, COSE key values and CTAP status codes.

#include <cstdint>

namespace orvanta {

// CTAP2 command bytes.
inline constexpr uint8_t AUTHENTICATOR_MAKE_CREDENTIAL = 0x01;
inline constexpr uint8_t AUTHENTICATOR_GET_ASSERTION = 0x02;
inline constexpr uint8_t AUTHENTICATOR_GET_INFO = 0x04;
inline constexpr uint8_t AUTHENTICATOR_CLIENT_PIN = 0x06;
inline constexpr uint8_t AUTHENTICATOR_RESET = 0x07;
inline constexpr uint8_t AUTHENTICATOR_SELECTION = 0x0B;

// authenticatorClientPIN: subcommands, request keys and reply keys.
namespace client_pin {
inline constexpr uint32_t GET_RETRIES = 1;
inline constexpr uint32_t GET_KEY_AGREEMENT = 2;
inline constexpr uint32_t SET_PIN = 3;
inline constexpr uint32_t CHANGE_PIN = 4;
inline constexpr uint32_t GET_PIN_TOKEN = 5;
inline constexpr uint32_t GET_UV_RETRIES = 7;
inline constexpr int32_t KEY_PIN_PROTOCOL = 1;
inline constexpr int32_t KEY_SUBCOMMAND = 2;
inline constexpr int32_t KEY_KEY_AGREEMENT = 3;
inline constexpr int32_t KEY_PIN_AUTH = 4;
inline constexpr int32_t KEY_NEW_PIN_ENC = 5;
inline constexpr int32_t KEY_PIN_HASH_ENC = 6;
inline constexpr int32_t REPLY_KEY_AGREEMENT = 1;
inline constexpr int32_t REPLY_PIN_TOKEN = 2;
inline constexpr int32_t REPLY_RETRIES = 3;
inline constexpr int32_t REPLY_POWER_CYCLE_STATE = 4;
inline constexpr int32_t REPLY_UV_RETRIES = 5;
}  // namespace client_pin

// COSE_Key members and values (in a namespace: peer libraries define COSE_* macros).
namespace cose {
inline constexpr int32_t KTY = 1;
inline constexpr int32_t ALG = 3;
inline constexpr int32_t CRV = -1;
inline constexpr int32_t X = -2;
inline constexpr int32_t Y = -3;
inline constexpr uint32_t KTY_EC2 = 2;
inline constexpr uint32_t CRV_P256 = 1;
inline constexpr int32_t ALG_ECDH_ES_HKDF_256 = -25;
}  // namespace cose

// CTAP status codes.
namespace ctap_status {
inline constexpr uint8_t OK = 0x00;
inline constexpr uint8_t INVALID_COMMAND = 0x01;
inline constexpr uint8_t INVALID_PARAMETER = 0x02;
inline constexpr uint8_t INVALID_LENGTH = 0x03;
inline constexpr uint8_t CBOR_UNEXPECTED_TYPE = 0x11;
inline constexpr uint8_t INVALID_CBOR = 0x12;
inline constexpr uint8_t MISSING_PARAMETER = 0x14;
inline constexpr uint8_t UNSUPPORTED_ALGORITHM = 0x26;
inline constexpr uint8_t UNSUPPORTED_OPTION = 0x2B;
inline constexpr uint8_t KEEPALIVE_CANCEL = 0x2D;
inline constexpr uint8_t NO_CREDENTIALS = 0x2E;
inline constexpr uint8_t USER_ACTION_TIMEOUT = 0x2F;
inline constexpr uint8_t PIN_INVALID = 0x31;
inline constexpr uint8_t PIN_BLOCKED = 0x32;
inline constexpr uint8_t PIN_AUTH_INVALID = 0x33;
inline constexpr uint8_t PIN_AUTH_BLOCKED = 0x34;
inline constexpr uint8_t PIN_NOT_SET = 0x35;
inline constexpr uint8_t PIN_REQUIRED = 0x36;
inline constexpr uint8_t PIN_POLICY_VIOLATION = 0x37;
inline constexpr uint8_t INVALID_SUBCOMMAND = 0x3E;
inline constexpr uint8_t OTHER = 0x7F;
}  // namespace ctap_status

}  // namespace orvanta
