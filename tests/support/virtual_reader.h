#pragma once
// A real pcscd with the vpcd virtual reader, and orvanta-vicc putting a virtual key into it,
// for the tests that go through the PC/SC service end to end. As root (CI) the tests start
// a pcscd of their own (in the foreground, reading only a reader file of theirs); a user
// who cannot start one may let the system's pcscd run with vsmartcard-vpcd installed, and
// the tests use that one. Every process a test starts ends with it (and with the test
// program, should that die first).

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "transport/pcsc_backend.h"

namespace orvanta::test {

// A child process whose standard output and error go to files.
class ChildProcess {
  public:
    ChildProcess(const std::vector<std::string>& argv, const std::string& outPath,
                 const std::string& errPath);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    // Waits up to ms for the process to end: its exit status, or nothing while it runs
    // (-1 when a signal ended it).
    std::optional<int> wait(uint32_t ms);
    // SIGTERM, and SIGKILL when it has not ended after a few seconds.
    void stop();
    // Sends the signal to the running process.
    void signal(int number);

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

std::string readFile(const std::string& path);

class VirtualReader {
  public:
    // Finds or starts the service with the vpcd reader; null with the reason why the tests
    // must skip when there is neither.
    static std::unique_ptr<VirtualReader> open(std::string* skipReason);
    ~VirtualReader();
    VirtualReader(const VirtualReader&) = delete;
    VirtualReader& operator=(const VirtualReader&) = delete;

    // vpcd offers two slots, each a reader with a card of its own.
    static constexpr size_t SLOTS = 2;

    // Starts orvanta-vicc with the profile (and further options of its own, such as
    // "--hang-after=3") in the slot and waits until a reader holds its card; false (with what
    // vicc said) when no card came.
    bool insertCard(const std::string& profile, std::string* error,
                    const std::vector<std::string>& cardOptions = {}, size_t slot = 0);
    // Ends the slot's orvanta-vicc and waits until its card is gone.
    void removeCard(size_t slot = 0);
    // The reader that holds (or last held) the slot's card.
    const std::string& cardReader(size_t slot = 0) const { return cardReader_[slot]; }
    // A reader of the service that holds no card (vpcd offers two slots); empty if none.
    std::string emptyReader();
    std::vector<PcscReader> readers();
    // A file in the test's own directory.
    std::string file(const std::string& name) const { return directory_ + "/" + name; }

  private:
    VirtualReader() = default;

    std::string directory_;
    int lockFd_ = -1;
    uint16_t port_ = 0;
    std::unique_ptr<ChildProcess> pcscd_;
    std::unique_ptr<ChildProcess> vicc_[SLOTS];
    std::string cardReader_[SLOTS];
};

// A test on the vpcd reader: skipped, with the reason, where there is no service to start.
class VirtualReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string reason;
        reader = VirtualReader::open(&reason);
        if (!reader) {
            GTEST_SKIP() << reason;
        }
    }

    std::unique_ptr<VirtualReader> reader;
};

}  // namespace orvanta::test
