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

TEST(CommandLine, UnknownProfileAndUnknownOptionAreErrors) {
    EXPECT_NE(parse({"--virtual=nonsense"}).error.find("nonsense"), std::string::npos);
    EXPECT_NE(parse({"--frobnicate"}).error.find("--frobnicate"), std::string::npos);
}

TEST(CommandLine, ProbeHelpAndQtOptions) {
    EXPECT_TRUE(parse({"--probe"}).probe);
    EXPECT_TRUE(parse({"-h"}).help);
    const AppOptions qt = parse({"-platform", "offscreen", "--virtual"});
    EXPECT_EQ(qt.error, "");
    EXPECT_TRUE(qt.virtualKey);
}

TEST(CommandLine, UsageListsTheProfiles) {
    const std::string usage = usageText();
    EXPECT_NE(usage.find("--virtual[=PROFILE]"), std::string::npos);
    EXPECT_NE(usage.find(" full"), std::string::npos);
}

}  // namespace
}  // namespace orvanta
