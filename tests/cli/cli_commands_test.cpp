// orvanta-cli commands in-process against the virtual key: text and JSON of each command,
// the same rows as the page models, exit codes, confirmations and the PIN.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "cert/fido2_fetch.h"
#include "cert/u2f_fetch.h"
#include "cli/page_output.h"
#include "cli/private_temp_dir.h"
#include "cli_harness.h"
#include "info/device_context.h"
#include "info/device_refresh.h"
#include "orvanta_version.h"
#include "support/scripted_prompts.h"
#include "support/virtual_key_setup.h"
#include "transport/clock.h"

namespace orvanta::test {
namespace {

using nlohmann::json;

// Every run happens on a manual clock, with TMPDIR pointing at a directory that must be
// empty again afterwards (the certificate copies of the pages do not outlive a run).
class CliCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* previous = std::getenv("TMPDIR");
        if (previous != nullptr) {
            savedTmp_ = previous;
        }
        setenv("TMPDIR", tmp.path().c_str(), 1);
    }
    void TearDown() override {
        if (savedTmp_) {
            setenv("TMPDIR", savedTmp_->c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
        EXPECT_TRUE(tmp.entries().empty()) << "temporary files left behind";
    }

    // The rows the window would show for a key of this profile.
    struct Reference {
        HardInfoPage hardware;
        Fido2CertPage fido2;
        U2fCertPage u2f;
    };
    void fillReference(Reference& reference, const std::string& profile,
                       const std::string& pin = "") {
        cli::PrivateTempDir scratch;  // the reference pages' certificate copies go here
        reference.fido2.fileDirectory = scratch.path();
        reference.u2f.fileDirectory = scratch.path();
        VirtualKeySetup setup = makeVirtualKey(profile, clock);
        DeviceContext devices(setup.backend, clock);
        Pages pages{reference.hardware, reference.fido2, reference.u2f};
        ShowDeviceInfo(devices, pages, "", "");
        ScriptedPrompts prompts;
        prompts.okCancelAnswers = {true, true};
        if (!pin.empty()) {
            prompts.enterPin(pin);
        }
        EXPECT_EQ(fetchFido2Certificates(devices.session(), devices.clientPinSet(), reference.fido2,
                                         prompts)
                      .outcome,
                  FetchOutcome::Shown);
        EXPECT_EQ(fetchU2fCertificate(devices.session(), reference.u2f, prompts).outcome,
                  FetchOutcome::Shown);
    }

    static std::vector<Row> rowsOf(const json& page) {
        std::vector<Row> rows;
        for (const json& row : page["rows"]) {
            Row r{row["item"].get<std::string>(), std::nullopt};
            if (!row["value"].is_null()) {
                r.value = row["value"].get<std::string>();
            }
            rows.push_back(r);
        }
        return rows;
    }
    static bool sameRows(const std::vector<Row>& a, const std::vector<Row>& b) {
        if (a.size() != b.size()) {
            return false;
        }
        for (size_t i = 0; i < a.size(); ++i) {
            if (a[i].label != b[i].label || a[i].value != b[i].value) {
                return false;
            }
        }
        return true;
    }

    ManualClock clock{1000};
    TempDir tmp;

  private:
    std::optional<std::string> savedTmp_;
};

TEST_F(CliCommands, InfoTextShowsTheHardwarePage) {
    CliResult r = runCli({"--virtual", "info"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("hardware info\nItem ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\nDevice name                 Orvanta Virtual Key\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\nVID                         1209\n"), std::string::npos);
    EXPECT_NE(r.out.find("\nauthenticatorGetInfo        1: "), std::string::npos);
    EXPECT_EQ(r.out.find("FIDO2 Certification"), std::string::npos);
    EXPECT_EQ(r.err, "");
}

TEST_F(CliCommands, JsonRowsAreThoseOfThePageModels) {
    Reference reference;
    fillReference(reference, "default");
    CliResult r = runCli({"--json", "--virtual", "--yes", "all"});
    ASSERT_EQ(r.status, 0) << r.err;
    json doc = json::parse(r.out);
    ASSERT_EQ(doc["pages"].size(), 3u);
    EXPECT_EQ(doc["pages"][0]["page"], "hardware info");
    EXPECT_EQ(doc["pages"][1]["page"], "FIDO2 Certification");
    EXPECT_EQ(doc["pages"][2]["page"], "U2F Certification");
    EXPECT_TRUE(sameRows(rowsOf(doc["pages"][0]), reference.hardware.rows()));
    EXPECT_TRUE(sameRows(rowsOf(doc["pages"][1]), reference.fido2.rows()));
    EXPECT_TRUE(sameRows(rowsOf(doc["pages"][2]), reference.u2f.rows()));
    // The spacer row of the hardware page has no value.
    bool spacer = false;
    for (const json& row : doc["pages"][0]["rows"]) {
        spacer = spacer || (row["item"] == "    " && row["value"].is_null());
    }
    EXPECT_TRUE(spacer);
    // The health rows as numbers; what the key has no means to tell is null.
    const json& health = doc["pages"][0]["data"]["health"];
    EXPECT_EQ(health["pinRetries"], 8);
    EXPECT_TRUE(health["uvRetries"].is_null());
    EXPECT_TRUE(health["remainingDiscoverableCredentials"].is_null());
    EXPECT_EQ(r.err, "Touch your security key...\nTouch your security key...\n");
}

TEST_F(CliCommands, Fido2AndU2fEachPrintTheirPage) {
    CliResult fido2 = runCli({"--virtual", "--yes", "fido2"});
    ASSERT_EQ(fido2.status, 0) << fido2.err;
    EXPECT_EQ(fido2.out.rfind("FIDO2 Certification\nItem ", 0), 0u);
    EXPECT_NE(fido2.out.find("\nVerify Result    YES\n"), std::string::npos) << fido2.out;
    EXPECT_NE(fido2.out.find("\nExtentions       03 02 05 20 ( USB )\n"), std::string::npos);
    EXPECT_EQ(fido2.out.find("hardware info"), std::string::npos);

    CliResult u2f = runCli({"--json", "--virtual", "--yes", "u2f"});
    ASSERT_EQ(u2f.status, 0) << u2f.err;
    json doc = json::parse(u2f.out);
    ASSERT_EQ(doc["pages"].size(), 1u);
    auto rows = rowsOf(doc["pages"][0]);
    ASSERT_GE(rows.size(), 3u);
    EXPECT_EQ(rows[0].label, "Tips");
    EXPECT_EQ(rows[rows.size() - 2].label, "Verify Result");
    EXPECT_EQ(rows[rows.size() - 2].value, "YES");
    EXPECT_EQ(rows.back().label, "Chain Result");
    EXPECT_EQ(rows.back().value, "NO");  // no metadata names a root for the certificate
}

TEST_F(CliCommands, ConfirmationIsAskedOnTheTerminal) {
    ScriptedTerminal terminal;
    terminal.present = true;
    terminal.answers = {"c"};
    CliResult cancelled = runCli({"--virtual", "fido2"}, "", &terminal);
    EXPECT_EQ(cancelled.status, 1);
    ASSERT_EQ(terminal.asked.size(), 1u);
    EXPECT_EQ(terminal.asked[0].first, std::string(TIPS_TEXT) + " [OK/Cancel] (o/c): ");
    EXPECT_NE(cancelled.err.find("cancelled"), std::string::npos);
    EXPECT_EQ(cancelled.out.find("Verify Result"), std::string::npos);

    terminal.answers = {"o"};
    CliResult confirmed = runCli({"--virtual", "u2f"}, "", &terminal);
    EXPECT_EQ(confirmed.status, 0) << confirmed.err;
    EXPECT_NE(confirmed.out.find("Verify Result"), std::string::npos);

    // Without a terminal and without --yes nothing waits for an answer.
    CliResult noTerminal = runCli({"--virtual", "fido2"});
    EXPECT_EQ(noTerminal.status, 1);
    EXPECT_NE(noTerminal.err.find("--yes"), std::string::npos);
}

TEST_F(CliCommands, PinFromStandardInputIsNeverEchoed) {
    const std::string pin = "1234";
    Reference reference;
    fillReference(reference, "pin", pin);
    CliResult r = runCli({"--json", "--virtual=pin", "--yes", "--pin-stdin", "fido2"}, pin + "\n");
    ASSERT_EQ(r.status, 0) << r.err;
    json doc = json::parse(r.out);
    EXPECT_TRUE(sameRows(rowsOf(doc["pages"][0]), reference.fido2.rows()));
    EXPECT_EQ(r.out.find(pin), std::string::npos);
    EXPECT_EQ(r.err.find(pin), std::string::npos);

    // A wrong PIN: the key's refusal as the window words it, status 1, and still no echo.
    const std::string wrong = "987654";
    CliResult refused = runCli({"--virtual=pin", "--yes", "--pin-stdin", "fido2"}, wrong + "\n");
    EXPECT_EQ(refused.status, 1);
    EXPECT_FALSE(refused.err.empty());
    EXPECT_EQ(refused.out.find(wrong), std::string::npos);
    EXPECT_EQ(refused.err.find(wrong), std::string::npos);

    // Keys that give 16-byte tokens, and keys that speak only PIN/UV auth protocol 2.
    for (const char* profile : {"--virtual=pin-token16", "--virtual=pin-protocol2"}) {
        CliResult other = runCli({profile, "--yes", "--pin-stdin", "fido2"}, pin + "\n");
        EXPECT_EQ(other.status, 0) << profile << other.err;
        EXPECT_NE(other.out.find("Verify Result    YES"), std::string::npos) << profile;
        CliResult otherWrong = runCli({profile, "--yes", "--pin-stdin", "fido2"}, wrong + "\n");
        EXPECT_EQ(otherWrong.status, 1) << profile;
        EXPECT_NE(otherWrong.err.find("PIN Invalid."), std::string::npos) << profile;
    }

    // Another program holds the key during the PIN steps: the key's code, as the window
    // words it.
    CliResult busy = runCli({"--virtual=pin-busy", "--yes", "--pin-stdin", "fido2"}, pin + "\n");
    EXPECT_EQ(busy.status, 1);
    EXPECT_NE(busy.err.find("Channel busy.\n"), std::string::npos) << busy.err;

    // No PIN given at all.
    CliResult missing = runCli({"--virtual=pin", "--yes", "--pin-stdin", "fido2"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("No PIN on standard input."), std::string::npos);
}

TEST_F(CliCommands, PinOnTheTerminalIsReadWithoutEcho) {
    ScriptedTerminal terminal;
    terminal.present = true;
    terminal.answers = {"1234"};
    CliResult r = runCli({"--virtual=pin", "--yes", "fido2"}, "", &terminal);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(terminal.asked.size(), 1u);
    EXPECT_EQ(terminal.asked[0].first, "PIN: ");
    EXPECT_FALSE(terminal.asked[0].second);
    EXPECT_EQ(r.out.find("1234"), std::string::npos);
    EXPECT_EQ(r.err.find("1234"), std::string::npos);

    terminal.present = false;
    CliResult noTerminal = runCli({"--virtual=pin", "--yes", "fido2"});
    EXPECT_EQ(noTerminal.status, 1);
    EXPECT_NE(noTerminal.err.find("--pin-stdin"), std::string::npos);
}

TEST_F(CliCommands, ExitCodes) {
    // No such key: 3, without touching the pages.
    CliResult none = runCli({"--virtual", "--device", "1050:0407", "info"});
    EXPECT_EQ(none.status, 3);
    EXPECT_EQ(none.err, "No security key 1050:0407 found.\n");
    EXPECT_EQ(none.out, "");
    // The right one is found by its IDs.
    EXPECT_EQ(runCli({"--virtual", "--device", "1209:0001", "info"}).status, 0);

    // A key that does not answer: 1, and quickly (one ping instead of every query).
    uint32_t before = clock.tickCount();
    CliResult silent = runCli({"--virtual=silent", "info"}, "", nullptr, &clock);
    EXPECT_EQ(silent.status, 1);
    EXPECT_NE(silent.err.find("does not answer"), std::string::npos);
    EXPECT_LT(clock.tickCount() - before, 10000u);

    // A fetch that ends with a message: 1.
    CliResult u2fOnly = runCli({"--virtual=ctap2-only", "--yes", "u2f"});
    EXPECT_EQ(u2fOnly.status, 1);
    EXPECT_FALSE(u2fOnly.err.empty());

    // Usage errors: 2.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {},
             {"frobnicate"},
             {"--virtual=nosuch", "info"},
             {"--virtual", "--udp", "info"},
             {"--device", "xyz", "info"},
             {"--udp", "example.org:1", "info"},
             {"info", "--json"},  // global options go before the command
             {"export", "fido2"},
             {"export", "tpm", "x.der"},
             {"decode", "cert"},
             {"decode", "makecred"},
             {"decode", "makecred", "-", "--client-data-hash", "00"},
             {"decode", "u2f", "-", "--challenge", "zz", "--application", "00"},
         }) {
        CliResult r = runCli(args, "00");
        EXPECT_EQ(r.status, 2) << testing::PrintToString(args) << r.err;
        EXPECT_FALSE(r.err.empty());
    }
}

TEST_F(CliCommands, HelpDescribesCommandsJsonAndExitCodes) {
    CliResult r = runCli({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* text :
         {"list", "info", "fido2", "u2f", "all", "export", "decode", "--virtual", "--udp", "--any",
          "--pin-stdin", "--json", "--version", "\"pages\"", "Exit status", "3 no key found"}) {
        EXPECT_NE(r.out.find(text), std::string::npos) << text;
    }
    CliResult decodeHelp = runCli({"decode", "--help"});
    EXPECT_EQ(decodeHelp.status, 0);
    EXPECT_NE(decodeHelp.out.find("makecred"), std::string::npos);

    // A command's help: its own options and where the program's go, not the common footer.
    for (const auto& [args, own] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"info", "--help"}, "orvanta-cli info [OPTIONS]"},
             {{"export", "--help"}, "--index"},
             {{"decode", "makecred", "--help"}, "--client-data-hash"}}) {
        CliResult help = runCli(args);
        EXPECT_EQ(help.status, 0);
        EXPECT_NE(help.out.find(own), std::string::npos) << help.out;
        EXPECT_NE(help.out.find("go before the command"), std::string::npos) << help.out;
        EXPECT_EQ(help.out.find("Exit status"), std::string::npos) << help.out;
    }
}

TEST_F(CliCommands, SlipsOnTheCommandLineAreNamed) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--virtual", "infos"},
         "A command is required: list, info, fido2, u2f, all, check, export or decode. \"infos\" "
         "was "
         "taken as the value of --virtual; did you mean the command \"info\"?"},
        {{"--virtual=pin", "ifno"}, "Unknown command \"ifno\"; did you mean \"info\"?"},
        {{"decode", "makecrd", "x"}, "Unknown command \"makecrd\"; did you mean \"makecred\"?"},
        {{"bogus-command"},
         "Unknown command \"bogus-command\"; the commands are list, info, fido2, u2f, all, check, "
         "export or decode."},
        {{"--virtual", "info", "--json"},
         "--json goes before the command: orvanta-cli --json info ..."},
        {{"decode", "cert", "x", "--virtual=pin"},
         "--virtual goes before the command: orvanta-cli --virtual decode cert ..."},
    };
    for (const auto& [args, hint] : cases) {
        CliResult r = runCli(args);
        EXPECT_EQ(r.status, 2) << testing::PrintToString(args);
        EXPECT_EQ(r.err, hint + "\nRun with --help for more information.\n");
    }
}

TEST_F(CliCommands, VersionNeedsNoCommandAndIsPlainTextEvenWithJson) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--version"}, {"--json", "--version"}}) {
        CliResult r = runCli(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "orvanta-cli " ORVANTA_VERSION "\n");
        EXPECT_EQ(r.err, "");
    }
}

TEST_F(CliCommands, ListMarksAcceptedFidoCollections) {
    CliResult r = runCli({"--virtual=keyboard", "list"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("1209:0001  F1D0:0001  Orvanta Virtual Key  FIDO, accepted"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("0001:0006"), std::string::npos) << r.out;  // the keyboard

    CliResult j = runCli({"--json", "--virtual=keyboard", "list"});
    json doc = json::parse(j.out);
    ASSERT_EQ(doc["interfaces"].size(), 2u);
    int fido = 0;
    for (const json& entry : doc["interfaces"]) {
        EXPECT_EQ(entry["vendorId"], "1209");
        EXPECT_TRUE(entry["accepted"]);
        EXPECT_TRUE(entry["opened"]);
        EXPECT_TRUE(entry["error"].is_null());
        fido += entry["fido"].get<bool>() ? 1 : 0;
    }
    EXPECT_EQ(fido, 1);
}

TEST_F(CliCommands, ExportWritesTheShownCertificate) {
    std::string der = tmp.file("attestation.der");
    CliResult r = runCli({"--virtual", "--yes", "export", "fido2", der});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Certificate 1 written to " + der + " (DER, "), std::string::npos)
        << r.err;
    std::string bytes = readText(der);
    ASSERT_GT(bytes.size(), 100u);
    EXPECT_EQ(static_cast<uint8_t>(bytes[0]), 0x30);

    // The file decodes to the rows the page showed for it.
    CliResult decoded = runCli({"--json", "decode", "cert", der});
    ASSERT_EQ(decoded.status, 0) << decoded.err;
    json rows = json::parse(decoded.out)["pages"][0]["rows"];
    EXPECT_NE(r.out.find(rows[6]["value"].get<std::string>()), std::string::npos);
    EXPECT_EQ(rows[6]["item"], "Base64 encode");

    // The second certificate of the chain as PEM, chosen by the file name.
    std::string pem = tmp.file("ca.pem");
    CliResult second =
        runCli({"--json", "--virtual", "--yes", "export", "fido2", pem, "--index", "2"});
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(readText(pem).rfind("-----BEGIN CERTIFICATE-----\n", 0), 0u);
    json doc = json::parse(second.out);
    EXPECT_EQ(doc["export"]["format"], "pem");
    EXPECT_EQ(doc["export"]["index"], 2);

    // There is no third one.
    CliResult third =
        runCli({"--virtual", "--yes", "export", "fido2", tmp.file("x.der"), "--index", "3"});
    EXPECT_EQ(third.status, 1);
    EXPECT_NE(third.err.find("no certificate 3"), std::string::npos);

    // U2F, forced DER.
    std::string u2f = tmp.file("u2f.pem");
    EXPECT_EQ(runCli({"--virtual", "--yes", "export", "u2f", u2f, "--format", "der"}).status, 0);
    EXPECT_EQ(static_cast<uint8_t>(readText(u2f)[0]), 0x30);

    // A path that cannot be written.
    CliResult unwritable =
        runCli({"--virtual", "--yes", "export", "u2f", tmp.file("no/such/dir.der")});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.err.find("Cannot write"), std::string::npos);

    for (const char* name : {"attestation.der", "ca.pem", "u2f.pem"}) {
        unlink(tmp.file(name).c_str());
    }
}

TEST_F(CliCommands, ExportReplacesOnlyRegularFilesAndWritesTheRestInPlace) {
    // An existing regular file is replaced and keeps its permissions.
    const std::string regular = tmp.file("kept.der");
    writeText(regular, "old");
    ASSERT_EQ(chmod(regular.c_str(), 0640), 0);
    ASSERT_EQ(runCli({"--virtual", "--yes", "export", "u2f", regular}).status, 0);
    struct stat status {};
    ASSERT_EQ(stat(regular.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(static_cast<uint8_t>(readText(regular)[0]), 0x30);

    // A link stays a link, and the file it names gets the certificate.
    const std::string link = tmp.file("link.der");
    ASSERT_EQ(symlink(regular.c_str(), link.c_str()), 0);
    ASSERT_EQ(runCli({"--virtual", "--yes", "export", "u2f", link, "--format", "pem"}).status, 0);
    ASSERT_EQ(lstat(link.c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_EQ(readText(regular).rfind("-----BEGIN CERTIFICATE-----\n", 0), 0u);

    // A FIFO stays a FIFO; its reader gets the certificate.
    const std::string fifo = tmp.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    CliResult piped = runCli({"--virtual", "--yes", "export", "u2f", fifo, "--format", "pem"});
    EXPECT_EQ(piped.status, 0) << piped.err;
    char buffer[64] = {};
    EXPECT_GT(read(reader, buffer, sizeof buffer - 1), 0);
    close(reader);
    EXPECT_EQ(std::string(buffer).rfind("-----BEGIN CERTIFICATE-----\n", 0), 0u);
    ASSERT_EQ(lstat(fifo.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));

    // "-": the certificate alone on standard output; with --json there would be two things.
    CliResult out = runCli({"--virtual", "--yes", "export", "u2f", "-"});
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(static_cast<uint8_t>(out.out.at(0)), 0x30);
    EXPECT_EQ(out.out.find("U2F Certification"), std::string::npos);
    EXPECT_NE(out.err.find("Certificate 1 written to standard output (DER, "), std::string::npos)
        << out.err;
    EXPECT_EQ(runCli({"--json", "--virtual", "--yes", "export", "u2f", "-"}).status, 2);

    for (const std::string& path : {regular, link, fifo}) {
        unlink(path.c_str());
    }
}

}  // namespace
}  // namespace orvanta::test
