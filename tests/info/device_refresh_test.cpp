#include "info/device_refresh.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>

#include "info/getinfo_rows.h"
#include "support/transport_fixture.h"

namespace orvanta::test {
namespace {

class Refresh : public TransportFixture {
  protected:
    HardInfoPage hardware;
    Fido2CertPage fido2;
    U2fCertPage u2f;
    Pages pages{hardware, fido2, u2f};

    static std::vector<std::string> labels(const PageModel& page) {
        std::vector<std::string> out;
        for (const Row& r : page.rows()) {
            out.push_back(r.label);
        }
        return out;
    }
    static bool exists(const std::string& path) {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0;
    }
    static std::string makeFile(const char* name) {
        std::string path = ::testing::TempDir() + name;
        std::ofstream(path) << "x";
        return path;
    }
};

TEST_F(Refresh, NoKeyLeavesThreeEmptyListsAndDeletesRememberedFiles) {
    backend->add(0x046D, 0xC077, 0x0001, "Mouse");
    fido2.AppendRow("old");
    fido2.certificateFileName = makeFile("fido2.cer");
    u2f.certificateFileName = makeFile("u2f.cer");
    AuthenticatorInfo earlier;  // what the refresh of an earlier key learned
    earlier.options.push_back({"clientPin", true});
    devices.setAuthenticatorInfo(earlier);
    ASSERT_TRUE(devices.clientPinSet());
    ShowDeviceInfo(devices, pages, "", "");
    EXPECT_EQ(hardware.rowCount(), 0);
    EXPECT_EQ(fido2.rowCount(), 0);
    EXPECT_EQ(u2f.rowCount(), 0);
    EXPECT_FALSE(exists(fido2.certificateFileName));
    EXPECT_FALSE(exists(u2f.certificateFileName));
    EXPECT_FALSE(fido2.certificateFileName.empty());  // the name is kept
    EXPECT_FALSE(devices.clientPinSet());
    EXPECT_FALSE(devices.facts().info.has_value());
    // The session is left without a key: an exchange fails at once for want of a device,
    // not on a handle of an earlier key.
    EXPECT_FALSE(session().present());
    const uint8_t ping[1] = {0};
    Result<Bytes> reply = exchange(session(), CTAPHID_PING, ping);
    ASSERT_FALSE(reply.ok());
    EXPECT_TRUE(reply.error().isTransport());
    EXPECT_EQ(reply.error().cause, TransportCause::NoDevice);
}

TEST_F(Refresh, KeyAnsweringOnlyInitShowsExactlyEightRows) {
    auto key = backend->add(0x1209, 0xBEEF, 0xF1D0, "Quiet Key", 0x0100);
    key->onMessage = [](FakeDevice& dev, uint8_t command, const Bytes&) {
        if (command == 0x90) {
            dev.reply(0x90, {0x01});  // invalid command
        } else {
            dev.reply(0x83, {0x6D, 0x00});
        }
    };
    ShowDeviceInfo(devices, pages, "", "");
    ASSERT_EQ(hardware.rowCount(), 8);
    EXPECT_EQ(labels(hardware),
              (std::vector<std::string>{"Device name", "VID", "PID", "Firmware Version", "    ",
                                        "CTAPHID protocol", "Device version", "Capabilities"}));
    EXPECT_EQ(hardware.valueAt(0), "Quiet Key");
    EXPECT_EQ(hardware.valueAt(1), "1209");
    EXPECT_EQ(hardware.valueAt(2), "BEEF");
    EXPECT_EQ(hardware.valueAt(3), "0100");
    EXPECT_FALSE(hardware.rows()[4].value.has_value());
    // What the INIT reply said: protocol 2, version 1.0.0, capabilities 0x05.
    EXPECT_EQ(hardware.valueAt(5), "2");
    EXPECT_EQ(hardware.valueAt(6), "1.0.0");
    EXPECT_EQ(hardware.valueAt(7), "WINK  CBOR  ");
    EXPECT_EQ(labels(fido2), (std::vector<std::string>{"Tips"}));
    EXPECT_EQ(labels(u2f), (std::vector<std::string>{"Tips", " "}));
    EXPECT_EQ(u2f.valueAt(1), " ");
}

TEST_F(Refresh, U2fAppletAndCtap2RowsInOrder) {
    auto key = backend->add(0x1209, 0x0002, 0xF1D0);
    key->onMessage = [](FakeDevice& dev, uint8_t command, const Bytes& apdu) {
        if (command == 0x90) {
            dev.reply(0x90, hex("00 A1 01 81 68 4649444F5F325F30"));  // {1: ["FIDO_2_0"]}
        } else if (apdu == hex("00A40400 08 A0000006472F0001 00")) {
            dev.reply(0x83, {0x90, 0x00});
        } else if (apdu[1] == 0xE2) {
            Bytes v(16, 0);
            v[8] = 0x01;
            v[9] = 0x02;
            v.push_back(0x90);
            v.push_back(0x00);
            dev.reply(0x83, v);
        } else {
            dev.reply(0x83, {0x6A, 0x82});
        }
    };
    ShowDeviceInfo(devices, pages, "", "");
    EXPECT_EQ(labels(hardware),
              (std::vector<std::string>{"Device name", "VID", "PID", "Firmware Version", "    ",
                                        "U2F Version", "authenticatorGetInfo", "CTAPHID protocol",
                                        "Device version", "Capabilities"}));
    EXPECT_EQ(hardware.valueAt(5), "0102");
    EXPECT_EQ(hardware.valueAt(6), "1: FIDO_2_0  ");
    // The exchanges reach the key in the order of the rows.
    auto requests = key->requests();
    ASSERT_EQ(requests.size(), 10u);
    EXPECT_EQ(requests[0].second, hex("00A40400 09 A00000016741300 0FF"));
    EXPECT_EQ(requests[1].second, hex("80E3000000"));
    EXPECT_EQ(requests.back().first, 0x90);
    EXPECT_EQ(requests.back().second, hex("04"));
}

TEST_F(Refresh, DeviceEventsSelectByIdAndFallBackToTheFirstKey) {
    auto first = backend->add(0x1050, 0x0407, 0xF1D0, "First");
    auto second = backend->add(0x1209, 0x0001, 0xF1D0, "Second");
    ShowDeviceInfo(devices, pages, "1209", "0001");
    EXPECT_EQ(hardware.valueAt(0), "Second");
    // vidText without pidText counts as no IDs at all.
    ShowDeviceInfo(devices, pages, "1209", "");
    EXPECT_EQ(hardware.valueAt(0), "First");
    // Another USB device was plugged in: the first key stays shown.
    ShowDeviceInfo(devices, pages, "046D", "C077");
    EXPECT_EQ(hardware.valueAt(0), "First");
    // The shown key went away while the other stays.
    backend->entries.erase(backend->entries.begin());
    ShowDeviceInfo(devices, pages, "1050", "0407");
    EXPECT_EQ(hardware.valueAt(0), "Second");
    (void)first;
    (void)second;
}

}  // namespace
}  // namespace orvanta::test
