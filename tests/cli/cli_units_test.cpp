// The building blocks of orvanta-cli: input files, the CBOR check, the text and JSON pages,
// device choice texts and the terminal prompts.

#include <gtest/gtest.h>

#include <sstream>

#include "cli/cbor_check.h"
#include "cli/device_choice.h"
#include "cli/device_commands.h"
#include "cli/input_file.h"
#include "cli/page_output.h"
#include "cli/terminal_prompts.h"
#include "cli_harness.h"
#include "info/page_model.h"
#include "report/pages.h"
#include "support/fake_hid.h"

namespace orvanta::test {
namespace {

using cli::Bytes;

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

TEST(CliInput, TextFormsDecodeToTheSameBytes) {
    const Bytes expected{0xA1, 0x01, 0x63, 0x66, 0x6F, 0xFF};
    EXPECT_EQ(cli::decodeInput(expected), expected);  // binary stays as it is
    EXPECT_EQ(cli::decodeInput(text("a101 63666f ff\n")), expected);
    EXPECT_EQ(cli::decodeInput(text("A1:01:63:66:6F:FF")), expected);
    EXPECT_EQ(cli::decodeInput(text("0xa10163666fff")), expected);
    EXPECT_EQ(cli::decodeInput(text("oQFjZm//")), expected);  // Base64
    EXPECT_EQ(cli::decodeInput(text("oQFjZm__")), expected);  // Base64url
    EXPECT_EQ(cli::decodeInput(text("oQFjZm8=\n")), (Bytes{0xA1, 0x01, 0x63, 0x66, 0x6F}));
    EXPECT_EQ(cli::decodeInput(text("-----BEGIN CERTIFICATE-----\noQFjZm//\n"
                                    "-----END CERTIFICATE-----\n")),
              expected);
    // Text that is neither stays as it is (and then fails as the wrong kind of data).
    EXPECT_EQ(cli::decodeInput(text("not base64!")), text("not base64!"));
    EXPECT_EQ(cli::decodeInput(text("abcde")), text("abcde"));  // odd hex, a lone Base64 symbol
}

TEST(CliInput, StrictParsers) {
    EXPECT_EQ(cli::parseHex("00ff"), (Bytes{0x00, 0xFF}));
    EXPECT_FALSE(cli::parseHex("0ff"));
    EXPECT_FALSE(cli::parseHex("zz"));
    EXPECT_EQ(cli::parseBase64("AAE"), (Bytes{0x00, 0x01}));
    EXPECT_FALSE(cli::parseBase64("A"));
    EXPECT_FALSE(cli::parseBase64("AA==AA"));
    EXPECT_FALSE(cli::parseBase64("AA*A"));
}

TEST(CliInput, FilesAndStandardInput) {
    TempDir dir;
    std::istringstream none;
    writeText(dir.file("hex.txt"), "0102");
    EXPECT_EQ(cli::readInput(dir.file("hex.txt"), none).bytes, (Bytes{1, 2}));
    std::istringstream in("AQI=");
    EXPECT_EQ(cli::readInput("-", in).bytes, (Bytes{1, 2}));

    auto missing = cli::readInput(dir.file("missing"), none);
    EXPECT_NE(missing.error.find("cannot read"), std::string::npos);
    writeText(dir.file("empty"), "");
    EXPECT_NE(cli::readInput(dir.file("empty"), none).error.find("is empty"), std::string::npos);
    std::istringstream huge(std::string(cli::MAX_INPUT_BYTES + 1, 'A'));
    EXPECT_NE(cli::readInput("-", huge).error.find("1 MiB"), std::string::npos);
}

TEST(CliCborCheck, WellFormedItems) {
    struct Case {
        Bytes bytes;
        size_t length;
    };
    for (const Case& c : {
             Case{{0x00}, 1}, Case{{0xA1, 0x01, 0x02, 0xFF}, 3},   // trailing byte not counted
             Case{{0x9F, 0x01, 0x5F, 0x41, 0x00, 0xFF, 0xFF}, 7},  // indefinite array, string
             Case{{0xBF, 0x01, 0x02, 0xFF}, 4}, Case{{0xC2, 0x41, 0x00}, 3},  // tagged
             Case{{0x1B, 1, 2, 3, 4, 5, 6, 7, 8}, 9},                         // 8-byte integer
             Case{{0xF9, 0x3C, 0x00}, 3},                                     // half float
         }) {
        auto check = cli::checkCborItem(c.bytes.data(), c.bytes.size());
        EXPECT_TRUE(check.ok) << check.error;
        EXPECT_EQ(check.itemLength, c.length);
    }
}

TEST(CliCborCheck, MalformedItemsAreRefusedWithAReason) {
    Bytes deep(40, 0x81);
    deep.push_back(0x00);
    for (const Bytes& bytes : {
             Bytes{},
             Bytes{0xA2, 0x01, 0x02},              // a member short
             Bytes{0x59, 0x01},                    // header cut
             Bytes{0x58, 0x05, 0x00},              // string runs past the end
             Bytes{0x9A, 0xFF, 0xFF, 0xFF, 0xFF},  // more elements than bytes
             Bytes{0x1C},                          // reserved
             Bytes{0xFF},                          // lone break
             Bytes{0x1F},                          // indefinite integer
             Bytes{0x5F, 0x61, 0x00, 0xFF},        // text chunk in a byte string
             Bytes{0xBF, 0x01, 0xFF},              // key without value
             Bytes{0x9F, 0x01},                    // no break
             Bytes{0xF8, 0x10},                    // simple value in two bytes below 32
             deep,
         }) {
        auto check = cli::checkCborItem(bytes.data(), bytes.size());
        EXPECT_FALSE(check.ok);
        EXPECT_FALSE(check.error.empty());
    }
}

TEST(CliPageOutput, AlignedColumnsUnderTitleAndHeader) {
    std::ostringstream out;
    cli::printPagesText(
        out, {{"hardware info",
               {Row{"VID", std::string("1209")}, Row{"    ", std::nullopt},
                Row{"Größe", std::string("x")}, Row{"Serial number", std::string("02 ")}}},
              {"U2F Certification", {Row{" ", std::string(" ")}}}});
    EXPECT_EQ(out.str(),
              "hardware info\n"
              "Item           Value\n"
              "VID            1209\n"
              "\n"
              "Größe          x\n"
              "Serial number  02\n"
              "\n"
              "U2F Certification\n"
              "Item  Value\n"
              "\n");
}

TEST(CliPageOutput, JsonKeepsValuesExactlyAndNullForNoValue) {
    auto json =
        cli::pagesJson({{"FIDO2 Certification",
                         {Row{"Serial number", std::string("02 ")}, Row{"    ", std::nullopt}}}});
    ASSERT_EQ(json["pages"].size(), 1u);
    EXPECT_EQ(json["pages"][0]["page"], "FIDO2 Certification");
    EXPECT_EQ(json["pages"][0]["rows"][0]["item"], "Serial number");
    EXPECT_EQ(json["pages"][0]["rows"][0]["value"], "02 ");
    EXPECT_TRUE(json["pages"][0]["rows"][1]["value"].is_null());
    // A device may send invalid UTF-8: the output stays JSON.
    std::string dumped = cli::dumpJson(cli::pagesJson({{"t", {Row{"x", std::string("\xFF")}}}}));
    EXPECT_NE(dumped.find("\xEF\xBF\xBD"), std::string::npos);  // U+FFFD
}

TEST(CliPageOutput, CommandsChooseFromThePageListInTabOrder) {
    auto titles = [](const report::PageSelection& selection) {
        std::vector<std::string> shown;
        for (const report::PageDefinition* page : selection) {
            shown.emplace_back(page->title);
        }
        return shown;
    };
    EXPECT_EQ(
        titles(report::pagesFor("all")),
        (std::vector<std::string>{"hardware info", "FIDO2 Certification", "U2F Certification"}));
    EXPECT_EQ(titles(report::pagesFor("u2f")), std::vector<std::string>{"U2F Certification"});
    EXPECT_TRUE(report::pagesFor("export").empty());
    EXPECT_EQ(report::findPage("nfc"), nullptr);
    // Only the hardware page is built by the refresh; the others each have a fetch.
    for (const report::PageDefinition& page : report::pageList()) {
        EXPECT_EQ(page.fetch == nullptr, page.name == "info") << page.name;
    }
}

TEST(CliDeviceChoice, VidPidTexts) {
    EXPECT_EQ(cli::parseVidPid("1209:1"), std::make_pair(std::string("1209"), std::string("0001")));
    EXPECT_EQ(cli::parseVidPid("0x1050:0x0407"),
              std::make_pair(std::string("1050"), std::string("0407")));
    EXPECT_EQ(cli::parseVidPid("a:b"), std::make_pair(std::string("000A"), std::string("000B")));
    for (const char* bad : {"1209", "1209:", ":1", "12345:1", "0:1", "1209:g"}) {
        EXPECT_FALSE(cli::parseVidPid(bad)) << bad;
    }
}

TEST(CliDeviceChoice, OpenFailureTextsNameTheUdevFixForRefusedAccess) {
    HidInterfaceInfo info;
    info.path = "/dev/hidraw3";
    info.productString = "Some Key";
    EXPECT_EQ(
        cli::openFailureText(info, "permission denied"),
        std::string("Cannot open Some Key (/dev/hidraw3): permission denied - ") + cli::UDEV_FIX);
    EXPECT_EQ(cli::openFailureText(info, "No such device"),
              "Cannot open Some Key (/dev/hidraw3): No such device");
}

TEST(CliExport, PemHasLinesOf64) {
    Bytes der(100, 0x30);
    std::string pem = cli::pemCertificate(der.data(), der.size());
    EXPECT_EQ(pem.rfind("-----BEGIN CERTIFICATE-----\n", 0), 0u);
    EXPECT_NE(pem.find("\n-----END CERTIFICATE-----\n"), std::string::npos);
    std::istringstream lines(pem);
    std::string line;
    std::getline(lines, line);
    std::getline(lines, line);
    EXPECT_EQ(line.size(), 64u);
    EXPECT_EQ(cli::decodeInput(Bytes(pem.begin(), pem.end())), der);
}

class CliPrompts : public ::testing::Test {
  protected:
    std::istringstream in;
    std::ostringstream err;
    ScriptedTerminal terminal;
};

TEST_F(CliPrompts, MessagesGoToStandardErrorUnchanged) {
    cli::TerminalPrompts prompts({}, in, err, terminal);
    prompts.show({MessageCode::NoCertificate});
    prompts.touchNeeded();
    EXPECT_EQ(err.str(), "No certificate information returned!\nTouch your security key...\n");
    EXPECT_TRUE(prompts.failureShown());
    prompts.reset();
    prompts.showMessage("note", MessageIcon::Information);
    EXPECT_FALSE(prompts.failureShown());
}

TEST_F(CliPrompts, ConfirmationOnTheTerminalOrByYes) {
    cli::TerminalPrompts yes({true, false}, in, err, terminal);
    constexpr Question go = Question::StartRegistration;
    EXPECT_TRUE(yes.confirm(go));
    EXPECT_TRUE(terminal.asked.empty());

    cli::TerminalPrompts ask({}, in, err, terminal);
    EXPECT_FALSE(ask.confirm(go));  // no terminal
    EXPECT_TRUE(ask.cancelled());
    EXPECT_NE(err.str().find("--yes"), std::string::npos);

    terminal.present = true;
    terminal.answers = {"OK", "c", "y"};
    EXPECT_TRUE(ask.confirm(go));
    EXPECT_EQ(terminal.asked.back().first, std::string(TIPS_TEXT) + " [OK/Cancel] (o/c): ");
    EXPECT_TRUE(terminal.asked.back().second);
    EXPECT_FALSE(ask.confirm(go));
    EXPECT_TRUE(ask.confirm(go));
    EXPECT_FALSE(ask.confirm(go));  // end of input
}

TEST_F(CliPrompts, PinFromTheTerminalWithoutEchoOrFromStandardInput) {
    terminal.present = true;
    terminal.answers = {"4321"};
    cli::TerminalPrompts onTerminal({}, in, err, terminal);
    std::string pin = "old";
    EXPECT_TRUE(onTerminal.askPin(pin));
    EXPECT_EQ(pin, "4321");
    ASSERT_EQ(terminal.asked.size(), 1u);
    EXPECT_EQ(terminal.asked[0].first, "PIN: ");
    EXPECT_FALSE(terminal.asked[0].second);  // no echo
    EXPECT_FALSE(onTerminal.askPin(pin));    // end of input: cancelled
    EXPECT_TRUE(pin.empty());

    std::istringstream lines("1234\r\n\n");
    cli::TerminalPrompts fromStdin({false, true}, lines, err, terminal);
    EXPECT_TRUE(fromStdin.askPin(pin));
    EXPECT_EQ(pin, "1234");
    EXPECT_TRUE(fromStdin.askPin(pin));  // an empty line is an empty PIN
    EXPECT_EQ(pin, "");
    EXPECT_FALSE(fromStdin.askPin(pin));  // nothing left
    EXPECT_EQ(err.str().find("1234"), std::string::npos);

    terminal.present = false;
    cli::TerminalPrompts noTerminal({}, in, err, terminal);
    EXPECT_FALSE(noTerminal.askPin(pin));
    EXPECT_NE(err.str().find("--pin-stdin"), std::string::npos);
}

}  // namespace
}  // namespace orvanta::test
