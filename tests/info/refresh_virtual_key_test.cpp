// The refresh through the inspector's own transport and queries, end to end against the
// virtual key.

#include <algorithm>

#include "info/device_refresh.h"
#include "info/getinfo_rows.h"
#include "support/virtual_key_fixture.h"
#include "transport/hid_link.h"

namespace orvanta::test {
namespace {

class RefreshVirtualKey : public VirtualKeyFixture {
  protected:
    HardInfoPage hardware;
    Fido2CertPage fido2;
    U2fCertPage u2f;
    Pages pages{hardware, fido2, u2f};

    std::vector<std::string> labels() const {
        std::vector<std::string> out;
        for (const Row& r : hardware.rows()) {
            out.push_back(r.label);
        }
        return out;
    }
};

TEST_F(RefreshVirtualKey, FullKeyShowsEveryRowInOrder) {
    Profile profile = profileByName("full");
    profile.pinSet = true;
    profile.pin = "1234";
    profile.pinRetries = 6;
    profile.uvRetries = 2;
    VirtualKey& key = plug(profile);
    ShowDeviceInfo(*devices, pages, "", "");
    std::vector<std::string> got = labels();
    ASSERT_GE(got.size(), 21u);
    std::vector<std::string> head(got.begin(), got.begin() + 14);
    EXPECT_EQ(head, (std::vector<std::string>{
                        "Device name", "VID", "PID", "Firmware Version", "IDentify",
                        "Fingerprint Module Version", "    ", "Win Hello Version", "OTP Version",
                        "PIV Version", "GIDS", "NDEF", "U2F Version", "authenticatorGetInfo"}));
    // The key's health follows the getInfo block, the facts of the INIT reply close the page.
    const size_t getInfoEnd = got.size() - 6;
    for (size_t i = 14; i < getInfoEnd; ++i) {
        EXPECT_EQ(got[i], " ") << i;
    }
    EXPECT_EQ(
        std::vector<std::string>(got.begin() + static_cast<std::ptrdiff_t>(getInfoEnd), got.end()),
        (std::vector<std::string>{"PIN retries", "UV retries", "Credential slots left",
                                  "CTAPHID protocol", "Device version", "Capabilities"}));
    const int health = static_cast<int>(getInfoEnd);
    EXPECT_EQ(hardware.valueAt(health), "6");
    EXPECT_EQ(hardware.valueAt(health + 1), "2");
    EXPECT_EQ(hardware.valueAt(health + 2), "25");
    EXPECT_EQ(key.pinRetries(), 6);  // counted, not spent
    EXPECT_EQ(hardware.valueAt(health + 3), "2");
    EXPECT_EQ(hardware.valueAt(health + 4), std::to_string(profile.firmwareMajor) + "." +
                                                std::to_string(profile.firmwareMinor) + "." +
                                                std::to_string(profile.firmwareBuild));
    EXPECT_EQ(hardware.valueAt(health + 5), "WINK  CBOR  ");
    EXPECT_EQ(hardware.valueAt(0), "Orvanta Virtual Key");
    EXPECT_EQ(hardware.valueAt(1), "1209");
    EXPECT_EQ(hardware.valueAt(2), "0001");
    EXPECT_EQ(hardware.valueAt(11), "yes");
    EXPECT_EQ(hardware.valueAt(13).rfind("1: ", 0), 0u);
    EXPECT_NE(hardware.valueAt(13).find("FIDO_2_1"), std::string::npos);
    // The getInfo block carries the members in key order (options continuation rows, cut
    // at 85 characters, carry no key).
    int lastKey = 1;
    for (size_t i = 14; i < getInfoEnd; ++i) {
        std::string value = hardware.valueAt(static_cast<int>(i));
        if (value.empty() || value[0] < '0' || value[0] > '9') {
            EXPECT_EQ(lastKey, 4) << value;
            continue;
        }
        int key = std::stoi(value);
        EXPECT_GE(key, lastKey) << value;
        lastKey = key;
    }
    EXPECT_TRUE(devices->clientPinSet());
    EXPECT_EQ(fido2.rowCount(), 1);
    EXPECT_EQ(u2f.rowCount(), 2);
}

TEST_F(RefreshVirtualKey, HealthRowsAreThoseTheKeysGetInfoAnnounces) {
    // A key with a PIN protocol and no sensor or credential count: the PIN tries alone, also
    // for a CTAP 2.0 key and one that speaks PIN protocol 2 only.
    for (const char* name : {"default", "ctap20", "pin-protocol2"}) {
        Profile profile = profileByName(name);
        profile.pinRetries = 3;
        profile.pinSet = true;
        plug(profile);
        ShowDeviceInfo(*devices, pages, "", "");
        const std::vector<std::string> got = labels();
        const auto pinRow = std::find(got.begin(), got.end(), "PIN retries");
        ASSERT_NE(pinRow, got.end()) << name;
        EXPECT_EQ(*(pinRow + 1), "CTAPHID protocol") << name;
        EXPECT_EQ(hardware.valueAt(static_cast<int>(pinRow - got.begin())), "3") << name;
        EXPECT_EQ(std::count(got.begin(), got.end(), "UV retries"), 0) << name;
        EXPECT_EQ(std::count(got.begin(), got.end(), "Credential slots left"), 0) << name;
    }
}

TEST_F(RefreshVirtualKey, SilentKeyShowsTheHidRowsAndTheSpacerOnly) {
    VirtualKey& key = plug("silent");
    uint32_t start = clock.tickCount();
    ShowDeviceInfo(*devices, pages, "", "");
    EXPECT_EQ(labels(),
              (std::vector<std::string>{"Device name", "VID", "PID", "Firmware Version", "    "}));
    // One bounded wait: once the first exchange found no channel the rest are skipped.
    EXPECT_LE(clock.tickCount() - start, REPORT_WAIT_MS + 200);
    EXPECT_EQ(key.counters().reportsWritten, 1u);  // the INIT alone
}

TEST_F(RefreshVirtualKey, U2fOnlyKeyWithoutAppletsShowsU2fVersionButNoGetInfo) {
    Profile profile = profileByName("u2f-only");
    for (auto& applet : profile.applets) {
        applet.present = false;
    }
    profile.applet(Applet::U2f).present = true;
    plug(profile);
    ShowDeviceInfo(*devices, pages, "", "");
    EXPECT_EQ(labels(), (std::vector<std::string>{"Device name", "VID", "PID", "Firmware Version",
                                                  "    ", "U2F Version", "CTAPHID protocol",
                                                  "Device version", "Capabilities"}));
    // A key without CTAP2 does not claim CBOR.
    EXPECT_EQ(hardware.valueAt(8), "WINK  ");
    EXPECT_FALSE(devices->clientPinSet());
}

TEST_F(RefreshVirtualKey, KeyboardCollectionListedFirstIsNeverSelected) {
    plug("keyboard");
    ShowDeviceInfo(*devices, pages, "", "");
    ASSERT_GT(hardware.rowCount(), 5);
    EXPECT_EQ(session().device().usagePage, FIDO_USAGE_PAGE);
    EXPECT_EQ(devices->devices().records.size(), 2u);
}

}  // namespace
}  // namespace orvanta::test
