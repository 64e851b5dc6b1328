// The window program's options.

#include "app/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvanta {
namespace {

AppOptions parse(std::vector<const char*> args) {
    args.insert(args.begin(), "orvanta");
    return parseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(CommandLine, NoOptionsMeansRealKeys) {
    const AppOptions options = parse({});
    EXPECT_FALSE(options.virtualKey);
    EXPECT_FALSE(options.probe);
    EXPECT_EQ(options.error, "");
}

TEST(CommandLine, VirtualWithAndWithoutProfile) {
    AppOptions options = parse({"--virtual"});
    EXPECT_TRUE(options.virtualKey);
    EXPECT_EQ(options.profile, "default");
    options = parse({"--virtual=full"});
    EXPECT_TRUE(options.virtualKey);
    EXPECT_EQ(options.profile, "full");
    EXPECT_EQ(options.error, "");
}

TEST(CommandLine, SeveralVirtualKeysUdpAndDeviceAsTheCommandLineTakesThem) {
    AppOptions options = parse({"--virtual=full,pin", "--device", "1209:1"});
    EXPECT_EQ(options.error, "");
    DeviceChoice choice = deviceChoice(options);
    EXPECT_EQ(choice.kind, DeviceChoice::Kind::Virtual);
    EXPECT_EQ(choice.profile, "full,pin");
    EXPECT_EQ(choice.vidText, "1209");
    EXPECT_EQ(choice.pidText, "0001");
    EXPECT_NE(parse({"--virtual=full,nonsense"}).error.find("\"nonsense\""), std::string::npos);

    options = parse({"--udp", "--udp-reply-port=7200"});
    EXPECT_EQ(options.error, "");
    choice = deviceChoice(options);
    EXPECT_EQ(choice.kind, DeviceChoice::Kind::Udp);
    EXPECT_EQ(choice.udp.host, "127.0.0.1");
    EXPECT_EQ(choice.udp.simulatorPort, 8111);
    EXPECT_EQ(choice.udp.replyPort, 7200);
    options = parse({"--udp", "10.0.0.2:9000", "--probe"});
    EXPECT_EQ(options.error, "");
    EXPECT_TRUE(options.probe);
    EXPECT_EQ(options.udpEndpoints.host, "10.0.0.2");
    EXPECT_EQ(options.udpEndpoints.simulatorPort, 9000);

    EXPECT_NE(parse({"--udp=nohost:0"}).error, "");
    EXPECT_NE(parse({"--device", "12:zz"}).error.find("VID:PID"), std::string::npos);
    EXPECT_NE(parse({"--device"}).error, "");
    EXPECT_NE(parse({"--virtual", "--udp"}).error, "");
}

TEST(CommandLine, PcscNamesAReaderAndCardsOtherwiseComeWithTheUsbKeys) {
    DeviceChoice choice = deviceChoice(parse({}));
    EXPECT_EQ(choice.kind, DeviceChoice::Kind::Hid);
    EXPECT_TRUE(listsCards(choice));

    AppOptions options = parse({"--pcsc", "Virtual PCD 00 01", "--device", "1209:0001"});
    EXPECT_EQ(options.error, "");
    choice = deviceChoice(options);
    EXPECT_EQ(choice.kind, DeviceChoice::Kind::Pcsc);
    EXPECT_EQ(choice.pcscReader, "Virtual PCD 00 01");
    EXPECT_TRUE(listsCards(choice));
    options = parse({"--pcsc", "--probe"});  // an option after it is no reader
    EXPECT_TRUE(options.probe);
    EXPECT_EQ(options.pcscReader, "");

    EXPECT_FALSE(listsCards(deviceChoice(parse({"--virtual"}))));
    EXPECT_NE(parse({"--pcsc", "--virtual"}).error, "");
    EXPECT_NE(parse({"--udp", "--pcsc"}).error, "");
}

TEST(CommandLine, UnknownProfileAndUnknownOptionAreErrors) {
    EXPECT_NE(parse({"--virtual=nonsense"}).error.find("nonsense"), std::string::npos);
    EXPECT_NE(parse({"--frobnicate"}).error.find("--frobnicate"), std::string::npos);
}

TEST(CommandLine, ProbeHelpAndQtOptions) {
    EXPECT_TRUE(parse({"--probe"}).probe);
    EXPECT_TRUE(parse({"-h"}).help);
    EXPECT_TRUE(parse({"--version"}).version);
    EXPECT_EQ(parse({"--version"}).error, "");
    const AppOptions qt = parse({"-platform", "offscreen", "--virtual"});
    EXPECT_EQ(qt.error, "");
    EXPECT_TRUE(qt.virtualKey);
}

TEST(CommandLine, UsageListsTheProfiles) {
    const std::string usage = usageText();
    EXPECT_NE(usage.find("--virtual[=PROFILE]"), std::string::npos);
    EXPECT_NE(usage.find(" full"), std::string::npos);
    EXPECT_NE(usage.find("--version"), std::string::npos);
}

}  // namespace
}  // namespace orvanta
