// The window program's options.

#include "app/command_line.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace orvanta {
namespace {

AppOptions parse(std::vector<const char*> args) {
    args.insert(args.begin(), "orvanta");
    return parseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(CommandLine, NoOptionsMeansRealKeys) {
    const AppOptions options = parse({});
    EXPECT_EQ(options.device.choice.kind, DeviceChoice::Kind::Hid);
    EXPECT_FALSE(options.probe);
    EXPECT_EQ(options.error, "");
}

TEST(CommandLine, VirtualWithAndWithoutProfile) {
    EXPECT_EQ(deviceChoice(parse({"--virtual"})).profile, "default");
    const AppOptions options = parse({"--virtual=full"});
    EXPECT_EQ(options.error, "");
    EXPECT_EQ(options.device.choice.kind, DeviceChoice::Kind::Virtual);
    EXPECT_EQ(options.device.choice.profile, "full");
}

TEST(CommandLine, SeveralVirtualKeysUdpAndDeviceAsTheCommandLineTakesThem) {
    AppOptions options = parse({"--virtual=full,pin", "--device", "1209:1"});
    EXPECT_EQ(options.error, "");
    DeviceChoice choice = deviceChoice(options);
    EXPECT_EQ(choice.kind, DeviceChoice::Kind::Virtual);
    EXPECT_EQ(choice.profile, "full,pin");
    EXPECT_EQ(choice.vidText, "1209");
    EXPECT_EQ(choice.pidText, "0001");

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
    EXPECT_EQ(options.device.choice.udp.host, "10.0.0.2");
    EXPECT_EQ(options.device.choice.udp.simulatorPort, 9000);
}

TEST(CommandLine, PcscNamesAReaderAndCardsOtherwiseComeWithTheUsbKeys) {
    DeviceChoice choice = deviceChoice(parse({}));
    EXPECT_EQ(choice.kind, DeviceChoice::Kind::Hid);
    EXPECT_TRUE(listsCards(choice));

    AppOptions options = parse({"--pcsc", "Virtual PCD 00 01"});
    EXPECT_EQ(options.error, "");
    choice = deviceChoice(options);
    EXPECT_EQ(choice.kind, DeviceChoice::Kind::Pcsc);
    EXPECT_EQ(choice.pcscReader, "Virtual PCD 00 01");
    EXPECT_TRUE(listsCards(choice));
    options = parse({"--pcsc", "--probe"});  // an option after it is no reader
    EXPECT_TRUE(options.probe);
    EXPECT_EQ(options.device.choice.pcscReader, "");
    EXPECT_FALSE(listsCards(deviceChoice(parse({"--virtual"}))));
}

// The messages are the command line's, word for word.
TEST(CommandLine, WrongDeviceOptionsSayWhatIsWrongAsTheCommandLineDoes) {
    const std::pair<std::vector<const char*>, std::string> cases[] = {
        {{"--virtual=full,nonsense"}, "Unknown virtual key profile \"nonsense\"; profiles: "},
        {{"--udp=nohost:0"},
         "--udp needs HOST:PORT with an IPv4 host, for example 127.0.0.1:8111."},
        {{"--udp", "--udp-reply-port", "0"},
         "--udp-reply-port needs a port number from 1 to 65535."},
        {{"--device", "12:zz"},
         "--device needs VID:PID as hexadecimal IDs, for example 1209:0001."},
        {{"--device"}, "--device needs VID:PID as hexadecimal IDs, for example 1209:0001."},
        {{"--mds"}, "--mds needs the metadata BLOB's file."},
        {{"--virtual", "--udp"}, "--virtual excludes --udp."},
        {{"--pcsc", "--virtual"}, "--virtual excludes --pcsc."},
        {{"--udp", "--pcsc"}, "--udp excludes --pcsc."},
        {{"--pcsc", "--device", "1209:0001"},
         "--device names a USB key; with --pcsc name the reader instead."},
        {{"--frobnicate"}, "unknown option \"--frobnicate\""},
    };
    for (const auto& [args, message] : cases) {
        EXPECT_EQ(parse(args).error.substr(0, message.size()), message) << args[0];
    }
}

TEST(CommandLine, ProbeHelpAndQtOptions) {
    EXPECT_TRUE(parse({"--probe"}).probe);
    EXPECT_TRUE(parse({"-h"}).help);
    EXPECT_TRUE(parse({"--version"}).version);
    EXPECT_EQ(parse({"--version"}).error, "");
    const AppOptions qt = parse({"-platform", "offscreen", "--virtual"});
    EXPECT_EQ(qt.error, "");
    EXPECT_EQ(qt.device.choice.kind, DeviceChoice::Kind::Virtual);
}

TEST(CommandLine, UsageListsTheProfiles) {
    const std::string usage = usageText();
    EXPECT_NE(usage.find("--virtual[=PROFILE]"), std::string::npos);
    EXPECT_NE(usage.find(" full"), std::string::npos);
    EXPECT_NE(usage.find("--version"), std::string::npos);
}

}  // namespace
}  // namespace orvanta
