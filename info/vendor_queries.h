#pragma once
// The key's application versions, read with vendor APDUs over CTAPHID_MSG. Each query
// writes an upper-case hexadecimal text into a 100-byte buffer the caller zeroes and
// returns 0 (text produced), 1 (first exchange failed) or 2 (second step failed).

#include <cstdint>

namespace orvanta {

// Registered application provider identifier of the vendor applets (Windows Hello, OTP).
inline constexpr uint8_t VENDOR_RID[5] = {0xF0, 0x4F, 0x52, 0x56, 0x41};
inline constexpr uint32_t QUERY_TEXT_SIZE = 100;

int queryIdentify(char* text);
int queryFingerprintVersion(char* text);
int queryWinHelloVersion(char* text);
int queryOtpVersion(char* text);
int queryPivVersion(char* text);
int queryGidsVersion(char* text);
int queryNdefPresent();
int queryU2fVersion(char* text);

}  // namespace orvanta
