#pragma once
// The key's application versions, read with vendor APDUs over CTAPHID_MSG. Each query
// writes an upper-case hexadecimal text into a 100-byte buffer the caller zeroes and
// returns 0 (text produced), 1 (first exchange failed) or 2 (second step failed).

#include <cstdint>
#include <optional>
#include <string>

#include "transport/device_session.h"

namespace orvanta {

inline constexpr uint32_t QUERY_TEXT_SIZE = 100;

// The applet versions of one key, each when its query produced a text.
struct VendorVersions {
    std::optional<std::string> identify;
    std::optional<std::string> fingerprintModule;
    std::optional<std::string> winHello;
    std::optional<std::string> otp;
    std::optional<std::string> piv;
    std::optional<std::string> gids;  // may be empty text
    bool ndef = false;
    std::optional<std::string> u2f;
};

// All eight queries, in the order the hardware page shows them.
VendorVersions queryVendorVersions(DeviceSession& session);

int queryIdentify(DeviceSession& session, char* text);
int queryFingerprintVersion(DeviceSession& session, char* text);
int queryWinHelloVersion(DeviceSession& session, char* text);
int queryOtpVersion(DeviceSession& session, char* text);
int queryPivVersion(DeviceSession& session, char* text);
int queryGidsVersion(DeviceSession& session, char* text);
int queryNdefPresent(DeviceSession& session);
int queryU2fVersion(DeviceSession& session, char* text);

}  // namespace orvanta
