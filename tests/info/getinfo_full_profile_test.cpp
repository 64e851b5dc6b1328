// The authenticatorGetInfo rows of a virtual key that reports every member 1 to 31,
// checked member by member against the row formats, with the expected values taken from
// the key's profile.

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "info/getinfo_rows.h"
#include "sim/get_info.h"
#include "sim/profile.h"
#include "support/virtual_key_fixture.h"

namespace orvanta::test {
namespace {

using Row = std::pair<std::string, std::string>;

constexpr size_t OPTIONS_ROW_WIDTH = 85;

std::string hexOf(const uint8_t* data, size_t length) {
    std::string text;
    char digits[3];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", data[i]);
        text += digits;
    }
    return text;
}

// The CTAP key of each row: the number before the colon that starts its value; a row
// without one continues the member of the row before it (the options rows).
std::vector<int> keysOf(const std::vector<Row>& rows) {
    std::vector<int> keys;
    int key = 0;
    for (const Row& row : rows) {
        const std::string& v = row.second;
        const size_t colon = v.find(": ");
        if (colon != std::string::npos && colon > 0 && colon <= 2 &&
            v.find_first_not_of("0123456789") == colon) {
            key = std::stoi(v.substr(0, colon));
        }
        keys.push_back(key);
    }
    return keys;
}

std::vector<Row> rowsOfMember(const std::vector<Row>& rows, int key) {
    const std::vector<int> keys = keysOf(rows);
    std::vector<Row> out;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (keys[i] == key) {
            out.push_back(rows[i]);
        }
    }
    return out;
}

// What the full getInfo of the profile must give, row by row. The members the profile does
// not choose are the full reply's fixed values.
std::vector<Row> expectedRows(const Profile& p, bool pinSet) {
    std::vector<Row> rows;
    rows.emplace_back("authenticatorGetInfo", std::string("1: ") + (p.u2f ? "U2F_V2  " : "") +
                                                  "FIDO_2_0  FIDO_2_1_PRE  FIDO_2_1  ");
    rows.emplace_back(" ", "2: credBlob  credProtect  hmac-secret  largeBlobKey  minPinLength  ");
    rows.emplace_back(" ", "3: " + hexOf(p.aaguid.data(), p.aaguid.size()));

    // The options in the inspector's fixed order, cut into rows of 85 characters.
    const std::string options =
        std::string("4: ep=false  rk=true  up=true  uv=false  plat=false  uvAcfg=false  ") +
        "alwaysUv=false  credMgmt=true  authnrCfg=true  bioEnroll=false  " +
        (pinSet ? "clientPin=true  " : "clientPin=false  ") +
        "largeBlobs=true  uvBioEnroll=false  pinUvAuthToken=true  setMinPINLength=true  "
        "makeCredUvNotRqd=true  credentialMgmtPreview=true  "
        "userVerificationMgmtPreview=false  noMcGaPermissionsWithClientPin=false  ";
    for (size_t at = 0; at < options.size(); at += OPTIONS_ROW_WIDTH) {
        rows.emplace_back(" ", options.substr(at, OPTIONS_ROW_WIDTH));
    }

    rows.emplace_back(" ", "5: " + std::to_string(VIRTUAL_MAX_MSG_SIZE));
    rows.emplace_back(" ", "6: 1  ");
    rows.emplace_back(" ", "7: 8  ");
    rows.emplace_back(" ", "8: 128  ");
    rows.emplace_back(" ", "9: nfc  usb  ");
    rows.emplace_back(" ", "10: alg=-7  type=public-keyalg=-8  type=public-key");
    rows.emplace_back(" ", "11: 1024  ");
    rows.emplace_back(" ", "12: false  ");
    rows.emplace_back(" ", "13: 4  ");
    const uint32_t firmware = static_cast<uint32_t>(p.firmwareMajor) << 16 |
                              static_cast<uint32_t>(p.firmwareMinor) << 8 | p.firmwareBuild;
    rows.emplace_back(" ", "14: " + std::to_string(firmware) + "  ");
    rows.emplace_back(" ", "15: 32  ");
    rows.emplace_back(" ", "16: 1  ");
    rows.emplace_back(" ", "17: 3  ");
    rows.emplace_back(" ", "18: 2  ");
    rows.emplace_back(" ", "19: FIDO = 2  ");
    rows.emplace_back(" ", "19: CC-EAL = 5  ");
    rows.emplace_back(" ", "20: 25  ");
    // 21 is an array in CTAP 2.1: only a single unsigned integer is shown.
    rows.emplace_back(" ", "22: packed  none  ");
    rows.emplace_back(" ", "23: 0  ");
    rows.emplace_back(" ", "24: false  ");
    rows.emplace_back(" ", "25: 454E432D49442D4F5256414E54410001");
    rows.emplace_back(" ", "26: usb  ");
    rows.emplace_back(" ", "27: false  ");
    const std::string policyUrl = "https://example.org/pin-policy";
    rows.emplace_back(
        " ", "28: " + hexOf(reinterpret_cast<const uint8_t*>(policyUrl.data()), policyUrl.size()));
    rows.emplace_back(" ", "29: 63  ");
    rows.emplace_back(" ", "30: 00000019");
    rows.emplace_back(" ", "31: 1  2  3  ");
    return rows;
}

class GetInfoFullProfileTest : public VirtualKeyFixture {
  protected:
    // The rows of the key's getInfo, and the decoded reply when asked.
    std::vector<Row> fetchRows(std::optional<AuthenticatorInfo>* info = nullptr) {
        std::vector<Row> rows;
        std::optional<AuthenticatorInfo> got =
            appendGetInfoRows(session(), [&](const std::string& label, const std::string& value) {
                rows.emplace_back(label, value);
            });
        if (info != nullptr) {
            *info = std::move(got);
        }
        return rows;
    }

    // Compares the rows of each member 1..31 separately, so a failure names its member,
    // and checks the PIN flag the decoded reply gives.
    void expectRowsOf(const Profile& profile, bool pinSet) {
        plug(profile);
        std::optional<AuthenticatorInfo> info;
        const std::vector<Row> actual = fetchRows(&info);
        const std::vector<Row> expected = expectedRows(profile, pinSet);
        for (int key = 1; key <= 31; ++key) {
            SCOPED_TRACE("member " + std::to_string(key));
            EXPECT_EQ(rowsOfMember(actual, key), rowsOfMember(expected, key));
        }
        // Nothing besides the members, and the members in key order.
        EXPECT_EQ(actual, expected);
        ASSERT_TRUE(info.has_value());
        EXPECT_EQ(info->clientPin(), std::optional<bool>(pinSet));
    }
};

TEST_F(GetInfoFullProfileTest, EveryMemberOfTheFullProfileMatchesItsRowFormat) {
    const Profile profile = profileByName("full");
    ASSERT_EQ(profile.getInfo, GetInfoKind::Full);
    expectRowsOf(profile, false);
}

TEST_F(GetInfoFullProfileTest, ValuesFollowTheProfile) {
    Profile profile = profileByName("full");
    profile.pinSet = true;
    profile.pin = "1234";
    profile.u2f = false;
    profile.firmwareMajor = 0x12;
    profile.firmwareMinor = 0x34;
    profile.firmwareBuild = 0x56;
    for (size_t i = 0; i < profile.aaguid.size(); ++i) {
        profile.aaguid[i] = static_cast<uint8_t>(i);
    }
    expectRowsOf(profile, true);
}

TEST_F(GetInfoFullProfileTest, OptionsAreCutAt85CharactersAcrossNames) {
    plug("full");
    // 351 characters: four rows of 85, the last of 11; the cuts fall inside names.
    const std::vector<Row> expected = {
        {" ",
         "4: ep=false  rk=true  up=true  uv=false  plat=false  uvAcfg=false  alwaysUv=false  cr"},
        {" ",
         "edMgmt=true  authnrCfg=true  bioEnroll=false  clientPin=false  largeBlobs=true  uvBio"},
        {" ",
         "Enroll=false  pinUvAuthToken=true  setMinPINLength=true  makeCredUvNotRqd=true  crede"},
        {" ",
         "ntialMgmtPreview=true  userVerificationMgmtPreview=false  noMcGaPermissionsWithClient"},
        {" ", "Pin=false  "},
    };
    EXPECT_EQ(rowsOfMember(fetchRows(), 4), expected);
}

}  // namespace
}  // namespace orvanta::test
