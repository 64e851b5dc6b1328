// orvanta-cli check: text and JSON, exit status by the verdicts, a silent key, every key.

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli_harness.h"

namespace orvanta::test {
namespace {

std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

TEST(CliCheck, ConformingKeyPassesAndRuleBreakerFailsWithTheAnswer) {
    const CliResult full = runCli({"--virtual=full", "check"});
    EXPECT_EQ(full.status, 0) << full.out << full.err;
    EXPECT_EQ(firstLine(full.out),
              "Conformance of Orvanta Virtual Key (virtual:0:0): 28 passed, 0 failed, 2 skipped.");
    EXPECT_NE(full.out.find("  SKIP  makeCredential (not discoverable)"), std::string::npos);
    EXPECT_NE(full.out.find("        needs a touch (run with --touch)"), std::string::npos);

    const CliResult broken = runCli({"--virtual=nonconform-u2f", "check"});
    EXPECT_EQ(broken.status, 1);
    EXPECT_NE(broken.out.find("  FAIL  A wrong CLA gives 6E00 [U2F raw messages §3.3]\n"
                              "        status word 6D00; status word 6E00 expected"),
              std::string::npos)
        << broken.out;
}

TEST(CliCheck, SilentKeySaysSoFirstAndEndsInTime) {
    ManualClock clock(1000);
    const CliResult silent = runCli({"--virtual=silent", "check"}, "", nullptr, &clock);
    EXPECT_EQ(silent.status, 1);
    EXPECT_EQ(firstLine(silent.out),
              "The key Orvanta Virtual Key (virtual:0:0) does not answer: every check is skipped.");
    EXPECT_EQ(silent.out.find("PASS"), std::string::npos);
    EXPECT_EQ(silent.out.find("FAIL"), std::string::npos);
    EXPECT_LT(clock.tickCount() - 1000, 10000u);
}

TEST(CliCheck, JsonOnEveryKeyGivesOneLinePerKey) {
    const CliResult r =
        runCli({"--json", "--all-keys", "--virtual=default,nonconform-errors", "check"});
    EXPECT_EQ(r.status, 1);
    std::istringstream lines(r.out);
    std::map<std::string, nlohmann::json> byPath;
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json document = nlohmann::json::parse(line);
        byPath[document.at("path")] = document;
    }
    ASSERT_EQ(byPath.size(), 2u) << r.out;
    const nlohmann::json& good = byPath.at("virtual:0:0");
    EXPECT_TRUE(good.at("error").is_null());
    EXPECT_EQ(good.at("check").at("summary").at("fail"), 0);
    const nlohmann::json& bad = byPath.at("virtual:1:0");
    EXPECT_EQ(bad.at("check").at("summary").at("fail"), 8);
    for (const nlohmann::json& c : bad.at("check").at("checks")) {
        EXPECT_EQ(c.at("result") == "FAIL", c.at("family") == "CTAP2 errors") << c.dump();
    }
}

}  // namespace
}  // namespace orvanta::test
