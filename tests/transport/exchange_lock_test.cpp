// The advisory device lock held for one exchange: two processes that exchange with the same
// key never interleave their packets, and an exchange that cannot get the lock sends
// nothing.

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "info/vendor_queries.h"
#include "support/transport_fixture.h"

namespace orvanta::test {
namespace {

// One logged packet: who sent or received it, during which of its exchanges.
struct LogEntry {
    int32_t pid;
    uint32_t exchange;
    uint8_t direction;  // 'w' written, 'r' read
    uint8_t report[65];
};

// Pipes that make the two processes meet inside every exchange: the holder, once it has
// the lock and has sent its first packet, says so and waits until the contender is about
// to take the lock for its own exchange. So every exchange of the contender starts while
// the holder is in the middle of one, however the processes are scheduled. The holder
// begins its next exchange only after the contender has ended its own (the lock is not
// fair: the holder could otherwise take it again at once and wait for a contender that
// still waits for the lock).
struct Handshake {
    enum Role { None, Holder, Contender };
    Role role = None;
    int insideWrite = -1;  // holder -> contender: "I am inside an exchange"
    int insideRead = -1;
    int lockingWrite = -1;  // contender -> holder: "taking the lock now", then "done"
    int lockingRead = -1;
};

void sendToken(int fd) {
    const char token = 't';
    if (::write(fd, &token, 1) != 1) {
        std::abort();
    }
}

void awaitToken(int fd) {
    char token = 0;
    if (::read(fd, &token, 1) != 1) {
        std::abort();
    }
}

// Wraps a fake key's handle: takes an flock on a shared lock file for the length of each
// exchange (as the hidapi backend does on the hidraw node) and appends every packet to a
// shared log with one write each.
class LockingHandle final : public HidHandle {
  public:
    LockingHandle(std::unique_ptr<HidHandle> inner, std::string lockPath, int logFd, bool useLock,
                  uint32_t* exchange, Handshake handshake)
        : inner_(std::move(inner)),
          lockPath_(std::move(lockPath)),
          logFd_(logFd),
          useLock_(useLock),
          exchange_(exchange),
          handshake_(handshake) {}
    ~LockingHandle() override {
        if (lockFd_ >= 0) {
            ::close(lockFd_);
        }
    }

    int write(const uint8_t* report, size_t length) override {
        log('w', report, length);
        if (handshake_.role == Handshake::Holder && firstWrite_) {
            firstWrite_ = false;
            sendToken(handshake_.insideWrite);
            awaitToken(handshake_.lockingRead);
        }
        sched_yield();  // give the other process every chance to cut in
        return inner_->write(report, length);
    }
    int read(uint8_t* report, size_t capacity, uint32_t timeoutMs) override {
        int got = inner_->read(report, capacity, timeoutMs);
        if (got > 0) {
            log('r', report, static_cast<size_t>(got));
        }
        sched_yield();
        return got;
    }
    void flush() override { inner_->flush(); }
    size_t inputReportLength() const override { return inner_->inputReportLength(); }
    size_t outputReportLength() const override { return inner_->outputReportLength(); }

    bool lockExclusive() override {
        if (handshake_.role == Handshake::Holder && locks > 0) {
            awaitToken(handshake_.lockingRead);  // the contender's exchange has ended
        }
        ++locks;
        firstWrite_ = true;
        if (handshake_.role == Handshake::Contender) {
            sendToken(handshake_.lockingWrite);
        }
        if (!useLock_) {
            return true;
        }
        if (lockFd_ < 0) {
            lockFd_ = ::open(lockPath_.c_str(), O_RDONLY | O_CLOEXEC);
        }
        // Blocks until the other process ends its exchange.
        return lockFd_ >= 0 && ::flock(lockFd_, LOCK_EX) == 0;
    }
    void unlock() override {
        ++unlocks;
        if (useLock_ && lockFd_ >= 0) {
            ::flock(lockFd_, LOCK_UN);
        }
        if (handshake_.role == Handshake::Contender) {
            sendToken(handshake_.lockingWrite);
        }
    }

    int locks = 0;
    int unlocks = 0;

  private:
    void log(uint8_t direction, const uint8_t* report, size_t length) {
        if (logFd_ < 0) {
            return;
        }
        LogEntry e{};
        e.pid = static_cast<int32_t>(::getpid());
        e.exchange = *exchange_;
        e.direction = direction;
        std::memcpy(e.report, report, length < sizeof e.report ? length : sizeof e.report);
        if (::write(logFd_, &e, sizeof e) != static_cast<ssize_t>(sizeof e)) {
            std::abort();
        }
    }

    std::unique_ptr<HidHandle> inner_;
    std::string lockPath_;
    int logFd_;
    bool useLock_;
    uint32_t* exchange_;
    Handshake handshake_;
    bool firstWrite_ = true;
    int lockFd_ = -1;
};

class LockingBackend final : public HidBackend {
  public:
    LockingBackend(std::shared_ptr<FakeHidBackend> inner, std::string lockPath, int logFd,
                   bool useLock, Handshake handshake = {})
        : inner_(std::move(inner)),
          lockPath_(std::move(lockPath)),
          logFd_(logFd),
          useLock_(useLock),
          handshake_(handshake) {}
    std::vector<HidInterfaceInfo> enumerate() override { return inner_->enumerate(); }
    std::unique_ptr<HidHandle> open(const std::string& path, std::string* error) override {
        auto handle = std::make_unique<LockingHandle>(inner_->open(path, error), lockPath_, logFd_,
                                                      useLock_, &exchange, handshake_);
        last = handle.get();
        return handle;
    }
    uint32_t exchange = 0;
    LockingHandle* last = nullptr;

  private:
    std::shared_ptr<FakeHidBackend> inner_;
    std::string lockPath_;
    int logFd_;
    bool useLock_;
    Handshake handshake_;
};

constexpr uint32_t EXCHANGES = 150;
constexpr size_t REQUEST_BYTES = 200;  // 4 output reports
constexpr size_t REPLY_BYTES = 300;    // 6 input reports

// The body of one child process: EXCHANGES exchanges, each reply checked against its
// request. Returns the exit status (0: every reply was the key's answer to our request).
int exchangeMany(const std::string& lockPath, int logFd, bool useLock, Handshake handshake) {
    ::alarm(30);  // a process stuck on the other's token ends instead of hanging the test
    ManualClock manual;
    auto fake = std::make_shared<FakeHidBackend>(manual);
    auto device = fake->add(0x1209, 0x0001, 0xF1D0);
    // The key answers each message with its first bytes followed by a pattern.
    device->onMessage = [](FakeDevice& d, uint8_t command, const Bytes& payload) {
        Bytes reply(REPLY_BYTES);
        for (size_t i = 0; i < reply.size(); ++i) {
            reply[i] = static_cast<uint8_t>(i < 8 ? payload[i] : i * 7);
        }
        d.reply(command, reply);
    };
    auto backend = std::make_shared<LockingBackend>(fake, lockPath, logFd, useLock, handshake);
    DeviceList list = enumerateDevices(*backend);
    const Selection selection = selectDevice(list, 0, 0);
    if (!selection.index) {
        return 3;
    }
    std::unique_ptr<DeviceSession> session = openSession(list, *selection.index, manual);
    if (!session) {
        return 3;
    }
    for (uint32_t n = 0; n < EXCHANGES; ++n) {
        if (handshake.role == Handshake::Contender) {
            awaitToken(handshake.insideRead);  // the holder is inside an exchange now
        }
        backend->exchange = n;
        Bytes request(REQUEST_BYTES, 0x5A);
        std::memcpy(request.data(), &n, sizeof n);
        const int32_t pid = static_cast<int32_t>(::getpid());
        std::memcpy(request.data() + 4, &pid, sizeof pid);
        Result<Bytes> reply = exchange(*session, CTAPHID_MSG, request);
        if (!reply || reply->size() != REPLY_BYTES ||
            !std::equal(request.begin(), request.begin() + 8, reply->begin())) {
            return 1;
        }
    }
    const bool balanced = backend->last != nullptr && backend->last->locks == int(EXCHANGES) &&
                          backend->last->unlocks == int(EXCHANGES);
    return balanced ? 0 : 2;
}

std::vector<LogEntry> readLog(const std::string& path) {
    std::vector<LogEntry> entries;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return entries;
    }
    LogEntry e;
    while (std::fread(&e, sizeof e, 1, f) == 1) {
        entries.push_back(e);
    }
    std::fclose(f);
    return entries;
}

// Runs of one (pid, exchange) that are broken by another process's packets.
int interleavedExchanges(const std::vector<LogEntry>& log) {
    std::map<std::pair<int32_t, uint32_t>, size_t> lastIndex;
    int broken = 0;
    for (size_t i = 0; i < log.size(); ++i) {
        auto key = std::make_pair(log[i].pid, log[i].exchange);
        auto it = lastIndex.find(key);
        if (it != lastIndex.end() && it->second + 1 != i) {
            ++broken;
        }
        lastIndex[key] = i;
    }
    return broken;
}

class ExchangeLock : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/orvanta-lockXXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        dir_ = dir;
        lockPath_ = dir_ + "/hidraw-node";
        logPath_ = dir_ + "/packets.log";
        int fd = ::open(lockPath_.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    void TearDown() override {
        ::unlink(lockPath_.c_str());
        ::unlink(logPath_.c_str());
        ::rmdir(dir_.c_str());
    }

    // Forks two processes that each run exchangeMany; returns both exit statuses.
    std::vector<int> runTwo(bool useLock) {
        int logFd =
            ::open(logPath_.c_str(), O_CREAT | O_WRONLY | O_APPEND | O_TRUNC | O_CLOEXEC, 0600);
        EXPECT_GE(logFd, 0);
        int inside[2];
        int locking[2];
        EXPECT_EQ(::pipe(inside), 0);
        EXPECT_EQ(::pipe(locking), 0);
        Handshake holder{Handshake::Holder, inside[1], -1, -1, locking[0]};
        Handshake contender{Handshake::Contender, -1, inside[0], locking[1], -1};
        std::vector<pid_t> children;
        for (const Handshake& role : {holder, contender}) {
            pid_t pid = ::fork();
            if (pid == 0) {
                ::_exit(exchangeMany(lockPath_, logFd, useLock, role));
            }
            children.push_back(pid);
        }
        std::vector<int> statuses;
        for (pid_t pid : children) {
            int status = -1;
            ::waitpid(pid, &status, 0);
            statuses.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : 100 + status);
        }
        for (int fd : {inside[0], inside[1], locking[0], locking[1], logFd}) {
            ::close(fd);
        }
        return statuses;
    }

    std::string dir_;
    std::string lockPath_;
    std::string logPath_;
};

TEST_F(ExchangeLock, TwoProcessesNeverInterleaveTheirMessages) {
    EXPECT_EQ(runTwo(true), (std::vector<int>{0, 0}));
    std::vector<LogEntry> log = readLog(logPath_);
    // Per process: one INIT and its reply, then 4 written and 6 read per exchange.
    ASSERT_EQ(log.size(), 2 * (2 + EXCHANGES * 10));
    EXPECT_EQ(interleavedExchanges(log), 0);
    // Every exchange of the contender began while the holder was inside one, so the log
    // switches process at least once per exchange.
    int switches = 0;
    for (size_t i = 1; i < log.size(); ++i) {
        switches += log[i].pid != log[i - 1].pid;
    }
    EXPECT_GE(switches, static_cast<int>(EXCHANGES));
}

TEST_F(ExchangeLock, InterleavingIsDetectedInALogOfBrokenRuns) {
    // The checker itself: a run of process 1 broken by process 2, and a clean log.
    auto entry = [](int32_t pid, uint32_t exchange) { return LogEntry{pid, exchange, 'w', {}}; };
    EXPECT_EQ(interleavedExchanges({entry(1, 0), entry(2, 0), entry(1, 0)}), 1);
    EXPECT_EQ(interleavedExchanges({entry(1, 0), entry(1, 0), entry(2, 0), entry(1, 1)}), 0);
}

using ExchangeLockRefused = TransportFixture;

// A handle whose lock another program keeps: the exchange fails and writes nothing.
class RefusingHandle final : public HidHandle {
  public:
    int write(const uint8_t*, size_t length) override {
        ++writes;
        return static_cast<int>(length);
    }
    int read(uint8_t*, size_t, uint32_t) override { return 0; }
    void flush() override {}
    size_t inputReportLength() const override { return 65; }
    size_t outputReportLength() const override { return 65; }
    bool lockExclusive() override { return false; }
    void unlock() override { ++unlocks; }
    int writes = 0;
    int unlocks = 0;
};

TEST_F(ExchangeLockRefused, ExchangeWithoutTheLockFailsAndSendsNothing) {
    auto owned = std::make_unique<RefusingHandle>();
    RefusingHandle& handle = *owned;
    DeviceRecord record;
    record.vendorId = 0x1209;
    record.productId = 0x0001;
    DeviceSession refused(record, std::make_unique<HidLink>(std::move(owned)), clock);
    ASSERT_TRUE(refused.present());
    const uint8_t request[] = {0x04};
    Result<Bytes> reply = exchange(refused, CTAPHID_CBOR, request);
    ASSERT_FALSE(reply.ok());
    EXPECT_EQ(reply.error().kind, ErrorKind::Transport);
    EXPECT_EQ(reply.error().cause, TransportCause::Lock);
    EXPECT_EQ(handle.writes, 0);
    EXPECT_EQ(handle.unlocks, 0);  // never taken, so never released
}

TEST_F(ExchangeLockRefused, LockIsHeldOncePerExchangeAndReleasedOnFailure) {
    auto fake = std::make_shared<FakeHidBackend>(clock);
    auto device = fake->add(0x1209, 0x0001, 0xF1D0);
    auto locking = std::make_shared<LockingBackend>(fake, "", -1, false);
    DeviceContext lockingDevices(locking, clock);
    lockingDevices.enumerate();
    ASSERT_EQ(lockingDevices.select(0, 0), 1);
    ASSERT_NE(locking->last, nullptr);
    DeviceSession& session = lockingDevices.session();
    const uint8_t request[] = {0x04};

    // A silent key: the exchange fails after its bounded wait, the lock is given back.
    Result<Bytes> reply = exchange(session, CTAPHID_CBOR, request);
    ASSERT_FALSE(reply.ok());
    EXPECT_EQ(reply.error().cause, TransportCause::Timeout);
    EXPECT_EQ(locking->last->locks, 1);
    EXPECT_EQ(locking->last->unlocks, 1);

    // An answering key: one lock and one release per exchange.
    device->onMessage = [](FakeDevice& d, uint8_t command, const Bytes&) { d.reply(command, {0}); };
    session.link()->reset();
    for (int i = 0; i < 3; ++i) {
        reply = exchange(session, CTAPHID_CBOR, request);
        ASSERT_TRUE(reply.ok()) << i;
        EXPECT_EQ(*reply, Bytes{0});
    }
    EXPECT_EQ(locking->last->locks, 4);
    EXPECT_EQ(locking->last->unlocks, 4);
}

TEST_F(ExchangeLockRefused, AnAppletQueryHoldsTheLockFromSelectionToQuestion) {
    // Another program could otherwise select another applet between our two exchanges.
    auto fake = std::make_shared<FakeHidBackend>(clock);
    auto device = fake->add(0x1209, 0x0001, 0xF1D0);
    device->onMessage = [](FakeDevice& d, uint8_t command, const Bytes&) {
        Bytes reply(16, 0x01);
        reply.push_back(0x90);
        reply.push_back(0x00);
        d.reply(command, reply);
    };
    auto locking = std::make_shared<LockingBackend>(fake, "", -1, false);
    DeviceContext lockingDevices(locking, clock);
    lockingDevices.enumerate();
    ASSERT_EQ(lockingDevices.select(0, 0), 1);
    char text[QUERY_TEXT_SIZE] = {};
    ASSERT_EQ(queryWinHelloVersion(lockingDevices.session(), text), 0);
    EXPECT_EQ(locking->last->locks, 1);
    EXPECT_EQ(locking->last->unlocks, 1);
}

}  // namespace
}  // namespace orvanta::test
