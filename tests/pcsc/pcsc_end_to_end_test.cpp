// Through a real pcscd: orvanta-vicc puts the virtual key into the vpcd reader, and
// orvanta-cli --pcsc finds it, lists it with its ATR and shows its pages; a card taken
// away in the middle of a fetch ends the fetch as any lost key does; the card watcher hears
// the card come and go. Each test skips, saying why, only where no pcscd can be had.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/nfc_card.h"
#include "support/virtual_reader.h"
#include "transport/card_watcher.h"
#include "transport/pcsc_backend.h"

namespace orvanta::test {
namespace {

using nlohmann::json;

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

class PcscEndToEnd : public VirtualReaderTest {
  protected:
    void insert(const std::string& profile) {
        std::string error;
        ASSERT_TRUE(reader->insertCard(profile, &error)) << error;
    }

    // orvanta-cli with the arguments, to its end (at most a minute).
    CliRun cli(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {ORVANTA_CLI_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        ChildProcess process(argv, reader->file("cli.out"), reader->file("cli.err"));
        CliRun run;
        run.status = process.wait(60000).value_or(-2);
        run.out = readFile(reader->file("cli.out"));
        run.err = readFile(reader->file("cli.err"));
        return run;
    }
};

// The value of the page's row with this label; "(missing)" when there is none.
json rowValue(const json& page, const std::string& label) {
    for (const json& row : page["rows"]) {
        if (row["item"] == label) {
            return row["value"];
        }
    }
    return "(missing)";
}

TEST_F(PcscEndToEnd, ListNamesTheVpcdReaderAndTheCardsAtr) {
    insert("full");
    const CliRun text = cli({"--pcsc", "list"});
    ASSERT_EQ(text.status, 0) << text.err;
    const std::string atr = atrText(NfcCard::atr());
    EXPECT_NE(text.out.find(reader->cardReader() + "  " + atr), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("FIDO (U2F_V2, CTAP2)"), std::string::npos) << text.out;

    const CliRun doc = cli({"--json", "--pcsc", "list"});
    ASSERT_EQ(doc.status, 0) << doc.err;
    bool found = false;
    const json document = json::parse(doc.out);
    for (const json& r : document["readers"]) {
        if (r["reader"] == reader->cardReader()) {
            found = true;
            EXPECT_EQ(r["atr"], atr);
            EXPECT_EQ(r["fido"], true);
            EXPECT_EQ(r["ctap2"], true);
        }
    }
    EXPECT_TRUE(found) << doc.out;
}

TEST_F(PcscEndToEnd, AllShowsTheThreePagesWithBothCertificatesVerified) {
    insert("full");
    const CliRun run = cli({"--json", "--pcsc", "--yes", "all"});
    ASSERT_EQ(run.status, 0) << run.err;
    const json pages = json::parse(run.out)["pages"];
    ASSERT_EQ(pages.size(), 3u) << run.out;
    EXPECT_EQ(pages[0]["page"], "hardware info");
    EXPECT_EQ(rowValue(pages[0], "Device name"), reader->cardReader());
    EXPECT_EQ(rowValue(pages[0], "VID"), nullptr);
    const json& device = pages[0]["data"]["device"];
    EXPECT_EQ(device["product"], reader->cardReader());
    for (const char* usbOnly : {"vendorId", "productId", "releaseNumber"}) {
        EXPECT_EQ(device[usbOnly], nullptr) << usbOnly;
    }
    EXPECT_EQ(rowValue(pages[0], "U2F Version"), "010A");
    EXPECT_NE(rowValue(pages[0], "authenticatorGetInfo"), "(missing)");
    EXPECT_EQ(pages[1]["page"], "FIDO2 Certification");
    EXPECT_EQ(rowValue(pages[1], "Verify Result"), "YES");
    EXPECT_EQ(pages[2]["page"], "U2F Certification");
    EXPECT_EQ(rowValue(pages[2], "Verify Result"), "YES");
}

TEST_F(PcscEndToEnd, AReaderIsChosenByNameAndAnEmptyOneSaysSo) {
    insert("ctap2-only");
    const CliRun named = cli({"--pcsc", reader->cardReader(), "info"});
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_NE(named.out.find("Device name"), std::string::npos);

    const std::string empty = reader->emptyReader();
    if (!empty.empty()) {
        const CliRun none = cli({"--pcsc", empty, "info"});
        EXPECT_EQ(none.status, 3);
        EXPECT_EQ(none.err, "No card in the reader \"" + empty + "\".\n");
    }
    const CliRun unknown = cli({"--pcsc=No Such Reader", "info"});
    EXPECT_EQ(unknown.status, 3);
    EXPECT_EQ(unknown.err, "No PC/SC reader named \"No Such Reader\".\n");
}

TEST_F(PcscEndToEnd, ACardTakenAwayMidFetchEndsTheFetchCleanly) {
    insert("slow-touch");  // the key waits 1.5 s for its touch
    ChildProcess fetch({ORVANTA_CLI_PATH, "--pcsc", "--yes", "fido2"}, reader->file("cli.out"),
                       reader->file("cli.err"));
    const auto waiting = [&] {
        return readFile(reader->file("cli.err")).find("Touch your security key") !=
               std::string::npos;
    };
    for (int i = 0; i < 500 && !waiting(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(waiting()) << readFile(reader->file("cli.err"));
    const auto removedAt = std::chrono::steady_clock::now();
    reader->removeCard();
    const std::optional<int> status = fetch.wait(10000);
    ASSERT_TRUE(status.has_value()) << "the fetch went on without its card";
    EXPECT_LT(std::chrono::steady_clock::now() - removedAt, std::chrono::seconds(5));
    EXPECT_EQ(*status, 1);
    EXPECT_NE(readFile(reader->file("cli.err")).find("The FIDO2 fetch ended without certificates."),
              std::string::npos);
    EXPECT_EQ(readFile(reader->file("cli.out")).find("Verify Result"), std::string::npos);
}

// Needs no service: the choice of a card excludes the other ways to a key.
TEST(PcscCommandLine, OtherWaysToAKeyCannotBeCombinedWithIt) {
    char directory[] = "/tmp/orvanta-pcsc-cli-XXXXXX";
    ASSERT_NE(::mkdtemp(directory), nullptr);
    const std::string out = std::string(directory) + "/out";
    const std::string err = std::string(directory) + "/err";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--pcsc", "--device", "1209:0001", "info"},
          std::vector<std::string>{"--pcsc", "--virtual", "info"},
          std::vector<std::string>{"--udp", "--pcsc", "list"}}) {
        std::vector<std::string> argv = {ORVANTA_CLI_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        ChildProcess cli(argv, out, err);
        EXPECT_EQ(cli.wait(30000), 2) << args[1] << ": " << readFile(err);
    }
    ::unlink(out.c_str());
    ::unlink(err.c_str());
    ::rmdir(directory);
}

// Events as the watcher's thread reports them.
class EventLog {
  public:
    void add(const CardEvent& event) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(event);
        changed_.notify_all();
    }
    // Waits (real time, bounded) for an event of the kind on the reader.
    std::optional<CardEvent> waitFor(CardEvent::Kind kind, const std::string& reader) {
        std::unique_lock<std::mutex> lock(mutex_);
        std::optional<CardEvent> found;
        changed_.wait_for(lock, std::chrono::seconds(10), [&] {
            for (const CardEvent& e : events_) {
                if (e.kind == kind && e.reader == reader) {
                    found = e;
                    return true;
                }
            }
            return false;
        });
        return found;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.clear();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<CardEvent> events_;
};

TEST_F(PcscEndToEnd, TheCardWatcherHearsTheCardComeAndGoAndStopsAtOnce) {
    insert("full");
    const std::string name = reader->cardReader();
    EventLog log;
    CardWatcher watcher([&log](const CardEvent& e) { log.add(e); });
    watcher.start();
    // A card already in its reader comes first, as an insertion.
    std::optional<CardEvent> present = log.waitFor(CardEvent::Kind::Inserted, name);
    ASSERT_TRUE(present.has_value());
    EXPECT_EQ(present->atr, NfcCard::atr());

    log.clear();
    reader->removeCard();
    EXPECT_TRUE(log.waitFor(CardEvent::Kind::Removed, name).has_value());
    insert("u2f-only");
    EXPECT_TRUE(log.waitFor(CardEvent::Kind::Inserted, name).has_value());

    // The thread waits in the service without a time limit: stop() must end that wait.
    const auto before = std::chrono::steady_clock::now();
    watcher.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
    EXPECT_FALSE(watcher.running());
}

}  // namespace
}  // namespace orvanta::test
