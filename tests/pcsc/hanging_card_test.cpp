// A card that stops answering, through a real pcscd: orvanta-vicc --hang-after=N answers N
// commands and then none, as a hanging card does, while it stays in the reader. Every wait
// for it ends within the reply limit (injected short here), an interrupt ends orvanta-cli at
// once, and beside a good card it holds up only its own inspection.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli.h"
#include "support/virtual_reader.h"
#include "transport/clock.h"

namespace orvanta::test {
namespace {

using Steady = std::chrono::steady_clock;

constexpr uint32_t REPLY_LIMIT_MS = 800;
// Well beyond a run that is bounded, well within one that hangs.
constexpr auto RUN_LIMIT = std::chrono::seconds(20);

class NoTerminal final : public cli::Terminal {
  public:
    bool available() override { return false; }
    std::optional<std::string> readLine(const std::string&, bool) override { return std::nullopt; }
};

struct InProcessRun {
    bool ended = false;
    int status = -1;
    std::string out;
    std::string err;
    Steady::duration took{};
};

// cli::run on a thread of its own with the short reply limit; a run that does not end within
// RUN_LIMIT is left to its thread and reported as not ended.
InProcessRun runCli(const std::vector<std::string>& args) {
    struct State {
        std::mutex mutex;
        std::condition_variable done;
        InProcessRun run;
    };
    auto state = std::make_shared<State>();
    const Steady::time_point start = Steady::now();
    std::thread([state, args, start] {
        std::vector<const char*> argv = {"orvanta-cli"};
        for (const std::string& a : args) {
            argv.push_back(a.c_str());
        }
        NoTerminal terminal;
        SystemClock clock;
        std::atomic<bool> interrupted{false};
        std::istringstream in;
        std::ostringstream out;
        std::ostringstream err;
        cli::Environment environment{terminal, clock, -1, &interrupted, {}, REPLY_LIMIT_MS};
        const int status =
            cli::run(static_cast<int>(argv.size()), argv.data(), in, out, err, environment);
        std::lock_guard<std::mutex> lock(state->mutex);
        state->run = {true, status, out.str(), err.str(), Steady::now() - start};
        state->done.notify_all();
    }).detach();
    std::unique_lock<std::mutex> lock(state->mutex);
    state->done.wait_for(lock, RUN_LIMIT, [&] { return state->run.ended; });
    return state->run;
}

class HangingCard : public VirtualReaderTest {
  protected:
    void insert(const std::vector<std::string>& cardOptions, size_t slot = 0) {
        std::string error;
        ASSERT_TRUE(reader->insertCard("full", &error, cardOptions, slot)) << error;
    }
};

TEST_F(HangingCard, EveryWaitForTheCardEndsWithinTheReplyLimit) {
    struct Case {
        const char* hangAfter;
        int status;
        const char* says;
    };
    // Silent from the first command (it cannot be opened), and silent in mid-inspection.
    for (const Case& c : {Case{"--hang-after=0", 3, "the card does not answer"},
                          Case{"--hang-after=12", 1, "stopped answering"}}) {
        insert({c.hangAfter});
        const InProcessRun run = runCli({"--pcsc", reader->cardReader(), "info"});
        ASSERT_TRUE(run.ended) << c.hangAfter << ": the run waits for the card without end";
        EXPECT_LT(run.took, std::chrono::milliseconds(4 * REPLY_LIMIT_MS)) << c.hangAfter;
        EXPECT_EQ(run.status, c.status) << c.hangAfter << ": " << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << c.hangAfter << ": " << run.err;
        reader->removeCard();
    }
}

TEST_F(HangingCard, SigintOrSigtermEndsTheCliWithinASecond) {
    for (int number : {SIGINT, SIGTERM}) {
        insert({"--hang-after=0"});
        ChildProcess cli({ORVANTA_CLI_PATH, "--pcsc", reader->cardReader(), "info"},
                         reader->file("cli.out"), reader->file("cli.err"));
        const auto hangs = [&] {
            return readFile(reader->file("vicc.err")).find("the card hangs") != std::string::npos;
        };
        for (int i = 0; i < 500 && !hangs(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(hangs()) << readFile(reader->file("cli.err"));
        cli.signal(number);
        EXPECT_TRUE(cli.wait(1000).has_value()) << "signal " << number << " did not end it";
        reader->removeCard();
    }
}

TEST_F(HangingCard, ASilentCardHoldsUpOnlyItsOwnInspection) {
    insert({"--hang-after=12"}, 0);  // listed, then silent in mid-inspection
    insert({}, 1);
    const std::string silent = "pcsc:" + reader->cardReader(0) + ": ";
    const std::string good = "pcsc:" + reader->cardReader(1) + ": ";
    const InProcessRun run = runCli({"--pcsc", "--all-keys", "info"});
    ASSERT_TRUE(run.ended) << "the run waits for the silent card without end";
    EXPECT_EQ(run.status, 1) << run.err;
    // The good card is inspected in full; the silent one fails on its own limit.
    EXPECT_NE(run.err.find(good + "done"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(silent + "failed: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("stopped answering"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("Device name"), std::string::npos);
}

}  // namespace
}  // namespace orvanta::test
