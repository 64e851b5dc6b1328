// Device choice of the command line over a scripted HID backend: keys beyond the accepted
// table with --any, and interfaces that cannot be opened named with the reason and the fix.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/device_commands.h"
#include "cli/exit_codes.h"
#include "cli_harness.h"
#include "support/fake_hid.h"
#include "transport/clock.h"

namespace orvanta::test {
namespace {

class CliDevices : public ::testing::Test {
  protected:
    void SetUp() override {
        other = backend->add(0x20A0, 0x4287, 0xF1D0, "Other Key");
        // Answers a ping and refuses everything else, as a key without extras would.
        other->onMessage = [](FakeDevice& d, uint8_t command, const Bytes& payload) {
            if (command == 0x81) {
                d.reply(0x81, payload);
            } else if (command == 0x90) {
                d.reply(0x90, {0x01});
            } else {
                d.reply(command, {0x6D, 0x00});
            }
        };
        backend->add(0x1050, 0x0407, 0xF1D0, "Denied Key");
        backend->entries.back().openError = "permission denied";
        backend->add(0x046D, 0xC31C, 0x0001, "Keyboard");
        backend->entries.back().openError = "permission denied";
        backend->add(0x046D, 0xC077, 0x0001, "Mouse");
        choice.backend = backend;
    }

    CliResult run(bool list, bool json = false) {
        std::istringstream in;
        std::ostringstream out;
        std::ostringstream err;
        ScriptedTerminal terminal;
        nlohmann::json document = nullptr;
        cli::Context context{in, out, err, terminal, json, {}, clock, document};
        CliResult result;
        result.status = list ? cli::runList(context, choice)
                             : cli::runPages(context, choice, report::pagesFor("info"));
        // The command leaves its JSON document for the caller to print.
        result.out = json ? document.dump() : out.str();
        result.err = err.str();
        return result;
    }

    ManualClock clock{1000};
    std::shared_ptr<FakeHidBackend> backend = std::make_shared<FakeHidBackend>(clock);
    std::shared_ptr<FakeDevice> other;
    cli::DeviceChoice choice;
};

TEST_F(CliDevices, ListNamesWhatCannotBeOpenedWithTheFix) {
    CliResult r = run(true);
    EXPECT_EQ(r.status, cli::EXIT_NO_KEY);  // the only accepted key cannot be opened
    const std::string fix = std::string("  fix: ") + cli::UDEV_FIX + "\n";
    EXPECT_NE(r.out.find("20A0:4287  F1D0:0001  Other Key   FIDO\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1050:0407  F1D0:0001  Denied Key  FIDO, accepted, cannot open: "
                         "permission denied\n" +
                         fix),
              std::string::npos)
        << r.out;
    EXPECT_NE(
        r.out.find("046D:C31C  0001:0006  Keyboard    cannot open: permission denied\nfake:3"),
        std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("046D:C077  0001:0006  Mouse       -\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "No security key found.\n");

    CliResult j = run(true, true);
    auto doc = nlohmann::json::parse(j.out);
    ASSERT_EQ(doc["interfaces"].size(), 4u);
    EXPECT_EQ(doc["interfaces"][1]["error"], "permission denied");
    EXPECT_EQ(doc["interfaces"][1]["fix"], cli::UDEV_FIX);
    EXPECT_FALSE(doc["interfaces"][1]["opened"]);
    EXPECT_EQ(doc["interfaces"][2]["error"], "permission denied");
    EXPECT_TRUE(doc["interfaces"][2]["fix"].is_null());  // not a FIDO collection
    EXPECT_TRUE(doc["interfaces"][3]["error"].is_null());
}

TEST_F(CliDevices, AnyAcceptsOtherFidoCollections) {
    CliResult without = run(false);
    EXPECT_EQ(without.status, cli::EXIT_NO_KEY);
    EXPECT_EQ(without.err,
              "No security key found.\nCannot open Denied Key (fake:1): permission "
              "denied - " +
                  std::string(cli::UDEV_FIX) + "\n");
    EXPECT_EQ(without.out, "");

    choice.acceptAny = true;
    CliResult list = run(true);
    EXPECT_EQ(list.status, cli::EXIT_DONE);
    EXPECT_NE(list.out.find("Other Key   FIDO, accepted\n"), std::string::npos) << list.out;

    CliResult info = run(false);
    ASSERT_EQ(info.status, cli::EXIT_DONE) << info.err;
    EXPECT_NE(info.out.find("\nDevice name       Other Key\nVID               20A0\n"),
              std::string::npos)
        << info.out;
}

TEST_F(CliDevices, AKeyThatStopsAnsweringOrRefusesEveryRequestFailsInfo) {
    choice.acceptAny = true;
    backend->entries[0].info.productString = "Other\x1b]0;owned\x07 Key\r\nVerify Result  YES";
    // Answers the ping, then nothing: the refresh stops after its first query.
    other->onMessage = [](FakeDevice& d, uint8_t command, const Bytes& payload) {
        if (command == 0x81) {
            d.reply(0x81, payload);
        }
    };
    CliResult info = run(false);
    EXPECT_EQ(info.status, cli::EXIT_FAILED);
    EXPECT_NE(info.err.find("stopped answering; the page is incomplete."), std::string::npos)
        << info.err;
    EXPECT_NE(info.out.find("Other\\x1b]0;owned\\x07 Key\\x0d\\x0aVerify Result  YES\n"),
              std::string::npos)
        << info.out;
    EXPECT_EQ(info.out.find('\x1b'), std::string::npos);
    // The requests after the first that failed were never sent.
    EXPECT_EQ(other->requests().size(), 2u);  // the ping and the first query

    // Answers the ping, then refuses every request with CTAPHID_ERROR: an empty page too.
    other->onMessage = [](FakeDevice& d, uint8_t command, const Bytes& payload) {
        d.reply(command == 0x81 ? 0x81 : 0xBF, command == 0x81 ? payload : Bytes{0x06});
    };
    CliResult refused = run(false);
    EXPECT_EQ(refused.status, cli::EXIT_FAILED);
    EXPECT_NE(refused.err.find(") answered every request with an error; the page is incomplete.\n"),
              std::string::npos)
        << refused.err;
}

}  // namespace
}  // namespace orvanta::test
