// --all-keys: every key at once, one report per key, the worst status, and a key that does
// not answer costing only its own wait.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/private_temp_dir.h"
#include "cli_harness.h"
#include "transport/clock.h"

namespace orvanta::test {
namespace {

using nlohmann::json;

std::vector<json> jsonLines(const std::string& out) {
    std::vector<json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(json::parse(line));  // each line valid on its own
    }
    return lines;
}

std::vector<std::string> pathsOf(const std::vector<json>& lines) {
    std::vector<std::string> paths;
    for (const json& line : lines) {
        paths.push_back(line.at("path").get<std::string>());
    }
    return paths;
}

// Clock time one single-key run of the profile takes.
uint32_t singleRunMs(const std::string& profile) {
    ManualClock clock(1000);
    runCli({"--virtual=" + profile, "info"}, "", nullptr, &clock);
    return clock.tickCount() - 1000;
}

TEST(CliAllKeys, JsonLinesOnePerKeyAsTheSingleKeyDocument) {
    CliResult r = runCli({"--virtual=full,pin,u2f-only", "--all-keys", "--json", "info"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<json> lines = jsonLines(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    std::vector<std::string> paths = pathsOf(lines);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{"virtual:0:0", "virtual:1:0", "virtual:2:0"}));

    CliResult single = runCli({"--virtual=pin", "--json", "info"});
    json expected = json::parse(single.out);
    expected["path"] = "virtual:0:0";  // the pin key is the only one of its run
    for (const json& line : lines) {
        EXPECT_TRUE(line.at("error").is_null());
        if (line["path"] == "virtual:1:0") {
            json pages = line["pages"];
            pages[0]["data"]["device"]["path"] = "virtual:0:0";
            EXPECT_EQ(pages, expected["pages"]);
        }
    }
}

TEST(CliAllKeys, TextBlocksInPathOrderHeadedByTheKey) {
    CliResult r = runCli({"--virtual=full,pin,u2f-only", "--all-keys", "info"});
    ASSERT_EQ(r.status, 0) << r.err;
    size_t previous = 0;
    for (const char* path : {"virtual:0:0", "virtual:1:0", "virtual:2:0"}) {
        // "<product>, 1209:xxxx, <path>" underlined, then the key's pages.
        const size_t heading = r.out.find(std::string(path) + "\n===", previous);
        ASSERT_NE(heading, std::string::npos) << path << r.out;
        const size_t lineStart = r.out.rfind('\n', heading) + 1;
        EXPECT_NE(r.out.substr(lineStart, heading - lineStart).find(", 1209:"), std::string::npos);
        const size_t pages = r.out.find("hardware info\n", heading);
        ASSERT_NE(pages, std::string::npos);
        previous = pages;
    }
    EXPECT_NE(r.err.find("virtual:2:0: done"), std::string::npos) << r.err;
}

TEST(CliAllKeys, SilentKeysCostOnlyTheirOwnWaitAndSetTheStatus) {
    const uint32_t silent = singleRunMs("silent");
    const uint32_t full = singleRunMs("full");
    ASSERT_GT(silent, 0u);

    ManualClock clock(1000);
    CliResult r = runCli({"--virtual=silent,full,silent", "--all-keys", "--json", "info"}, "",
                         nullptr, &clock);
    EXPECT_EQ(r.status, 1);  // the worst of failed, done, failed
    std::vector<json> lines = jsonLines(r.out);
    ASSERT_EQ(lines.size(), 3u);
    for (const json& line : lines) {
        EXPECT_EQ(line["error"].is_null(), line["path"] == "virtual:1:0") << line.dump();
    }
    // Side by side: the run lasts as long as its slowest key, not the sum of the keys' waits.
    const uint32_t elapsed = clock.tickCount() - 1000;
    EXPECT_EQ(elapsed, std::max(silent, full));
}

TEST(CliAllKeys, SilentKeyDoesNotHoldBackTheOthersLines) {
    // The real program on the machine's clock: the answering key's line comes first.
    CliResult r = runBinary({"--virtual=silent,full", "--all-keys", "--json", "info"});
    EXPECT_EQ(r.status, 1);
    std::vector<json> lines = jsonLines(r.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(pathsOf(lines), (std::vector<std::string>{"virtual:1:0", "virtual:0:0"}));
}

TEST(CliAllKeys, OnePinAndOneTouchPromptForAllKeys) {
    const std::string pin = "1234";
    CliResult r = runCli({"--virtual=pin,pin,full", "--all-keys", "--yes", "--pin-stdin", "fido2"},
                         pin + "\n");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string touch = "Touch each security key...\n";
    const size_t first = r.err.find(touch);
    ASSERT_NE(first, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(touch, first + 1), std::string::npos);
    EXPECT_EQ(r.out.find(pin), std::string::npos);
    EXPECT_EQ(r.err.find(pin), std::string::npos);

    // Without a PIN every key that needs one fails; the one without still gives its page.
    CliResult noPin =
        runCli({"--virtual=pin,full", "--all-keys", "--yes", "--pin-stdin", "--json", "fido2"});
    EXPECT_EQ(noPin.status, 1);
    for (const json& line : jsonLines(noPin.out)) {
        EXPECT_EQ(line["error"].is_null(), line["path"] == "virtual:1:0") << line.dump();
    }
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

TEST(CliAllKeys, EachKeysOutcomeIsToldOnceWithWhatWentWrong) {
    CliResult r =
        runCli({"--virtual=silent,u2f-only,pin", "--all-keys", "--yes", "--pin-stdin", "all"});
    EXPECT_EQ(r.status, 1);
    const std::string silent = "The key Orvanta Virtual Key (virtual:0:0) does not answer.";
    const std::string noFido2 = "The FIDO2 fetch ended without certificates.";
    EXPECT_NE(r.err.find("virtual:0:0: failed: " + silent + "\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("virtual:1:0: failed: " + noFido2 + "\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("virtual:2:0: failed: The FIDO2 fetch was cancelled.\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(count(r.err, silent), 1u) << r.err;
    EXPECT_EQ(count(r.err, noFido2), 1u) << r.err;
    EXPECT_EQ(count(r.err, "No PIN on standard input."), 1u) << r.err;
}

TEST(CliAllKeys, CertificateCopiesStayInPrivateDirectoriesAndTheEnvironmentIsLeftAlone) {
    ScopedTmpdir base;
    {
        // The keys' threads make these: TMPDIR is read, never rewritten.
        cli::PrivateTempDir dir;
        EXPECT_EQ(std::string(std::getenv("TMPDIR")), base.path());
        EXPECT_EQ(dir.path().rfind(base.path() + "/orvanta-cli-", 0), 0u) << dir.path();
    }
    CliResult r = runCli({"--virtual=full,full,full,full", "--all-keys", "--yes", "all"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count(r.out, "FIDO2 Certification\n"), 4u);
    EXPECT_TRUE(base.entries().empty()) << "left behind: " << base.entries().front();
}

TEST(CliAllKeys, NoKeyAndMisuse) {
    CliResult none = runCli({"--virtual", "--device", "1234:5678", "--all-keys", "--json", "info"});
    EXPECT_EQ(none.status, 3);
    ASSERT_EQ(jsonLines(none.out).size(), 1u);
    EXPECT_EQ(runCli({"--virtual", "--all-keys", "list"}).status, 2);
}

}  // namespace
}  // namespace orvanta::test
