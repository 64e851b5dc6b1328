#include "support/virtual_reader.h"

#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "sim/nfc_card.h"
#include "transport/clock.h"
#include "transport/unique_fd.h"
#include "vicc/vpcd_link.h"

namespace orvanta::test {

namespace {

using Steady = std::chrono::steady_clock;

const char* const LOCK_FILE = "/tmp/orvanta-pcsc-tests.lock";
const char* const DEFAULT_DRIVER = "/usr/lib/pcsc/drivers/serial/libifdvpcd.so";
const char* const SYSTEM_READER_FILE = "/etc/reader.conf.d/vpcd";
const char* const READER_PREFIX = "Virtual PCD";
constexpr auto START_LIMIT = std::chrono::seconds(10);
constexpr auto POLL_PAUSE = std::chrono::milliseconds(20);

// Runs `done` until it is true or the limit has passed; its last answer.
template <typename Done>
bool within(Steady::duration limit, Done done) {
    const Steady::time_point end = Steady::now() + limit;
    for (;;) {
        if (done()) {
            return true;
        }
        if (Steady::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(POLL_PAUSE);
    }
}

// What a failed pcscd said first, without its time stamp and source position.
std::string firstMessage(const std::string& log) {
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        const size_t at = line.find("() ");
        if (!line.empty()) {
            return at == std::string::npos ? line : line.substr(at + 3);
        }
    }
    return {};
}

// Where the vpcd reader driver is: as the package's own reader file says, else its usual place.
std::string driverPath() {
    std::ifstream conf(SYSTEM_READER_FILE);
    for (std::string line; std::getline(conf, line);) {
        std::istringstream words(line);
        std::string key;
        std::string value;
        if (words >> key >> value && key == "LIBPATH") {
            return value;
        }
    }
    return DEFAULT_DRIVER;
}

bool portFree(uint16_t port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    return fd.valid() &&
           ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

// Two free ports in a row: vpcd listens on the one its reader file names and the next.
uint16_t freePortPair() {
    for (int attempt = 0; attempt < 20; ++attempt) {
        UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        socklen_t length = sizeof address;
        if (!fd.valid() ||
            ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            continue;
        }
        const uint16_t port = ntohs(address.sin_port);
        fd.close();
        if (port < 65535 && portFree(port) && portFree(static_cast<uint16_t>(port + 1))) {
            return port;
        }
    }
    return vicc::VPCD_DEFAULT_PORT;
}

bool startsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

}  // namespace

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& outPath,
                           const std::string& errPath) {
    // Everything the child needs is made before the fork: another thread of the test (the
    // card watcher's) may hold the allocator's lock at that moment.
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ != 0) {
        return;
    }
    // Ends with the test program, however that ends.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) {
        ::_exit(127);
    }
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) {
        ::_exit(127);
    }
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execv(args[0], args.data());
    ::_exit(127);
}

ChildProcess::~ChildProcess() {
    stop();
}

std::optional<int> ChildProcess::wait(uint32_t ms) {
    if (pid_ <= 0 || status_) {
        return status_;
    }
    within(std::chrono::milliseconds(ms), [this] {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        return status_.has_value();
    });
    return status_;
}

void ChildProcess::stop() {
    if (pid_ <= 0 || wait(0)) {
        return;
    }
    ::kill(pid_, SIGTERM);
    if (!wait(5000)) {
        ::kill(pid_, SIGKILL);
        wait(5000);
    }
}

void ChildProcess::signal(int number) {
    if (pid_ > 0 && !wait(0)) {
        ::kill(pid_, number);
    }
}

std::unique_ptr<VirtualReader> VirtualReader::open(std::string* skipReason) {
    auto skip = [skipReason](const std::string& reason) -> std::unique_ptr<VirtualReader> {
        *skipReason = reason;
        return nullptr;
    };
    std::unique_ptr<VirtualReader> reader(new VirtualReader());
    char directory[] = "/tmp/orvanta-pcsc-XXXXXX";
    if (::mkdtemp(directory) == nullptr) {
        return skip("cannot make a temporary directory");
    }
    reader->directory_ = directory;

    // One pcscd per machine: test programs running side by side take turns. (A read-only
    // descriptor takes the lock too, so any user can share the file.)
    reader->lockFd_ = ::open(LOCK_FILE, O_CREAT | O_RDONLY | O_CLOEXEC, 0666);
    if (reader->lockFd_ >= 0) {
        ::fchmod(reader->lockFd_, 0666);
        if (!within(std::chrono::seconds(120),
                    [&] { return ::flock(reader->lockFd_, LOCK_EX | LOCK_NB) == 0; })) {
            return skip("another test run has held the PC/SC service for two minutes");
        }
    }

    // A service that already runs (the system's, for a user) is used as it is.
    const std::vector<PcscReader> running = reader->readers();
    if (!running.empty()) {
        if (std::none_of(running.begin(), running.end(),
                         [](const PcscReader& r) { return startsWith(r.name, READER_PREFIX); })) {
            return skip(
                "a pcscd without the vpcd reader is running: install vsmartcard-vpcd and "
                "restart pcscd, or stop it so that the tests can start their own");
        }
        reader->port_ = vicc::VPCD_DEFAULT_PORT;
        return reader;
    }

    const std::string pcscd = ::access("/usr/sbin/pcscd", X_OK) == 0 ? "/usr/sbin/pcscd" : "";
    if (pcscd.empty()) {
        return skip("pcscd cannot start: it is not installed (apt install pcscd)");
    }
    const std::string driver = driverPath();
    if (::access(driver.c_str(), R_OK) != 0) {
        return skip("pcscd cannot start with the vpcd reader: " + driver +
                    " is missing (apt install vsmartcard-vpcd)");
    }
    reader->port_ = freePortPair();
    char conf[512];
    std::snprintf(conf, sizeof conf,
                  "FRIENDLYNAME \"%s\"\nDEVICENAME /dev/null:0x%04X\nLIBPATH %s\n"
                  "CHANNELID 0x%04X\n",
                  READER_PREFIX, reader->port_, driver.c_str(), reader->port_);
    const std::string confPath = reader->file("reader.conf");
    std::ofstream(confPath) << conf;
    // --auto-exit: should everything else fail, it still ends a minute after its last client.
    reader->pcscd_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{pcscd, "--foreground", "--auto-exit", "-c", confPath},
        reader->file("pcscd.out"), reader->file("pcscd.log"));
    bool exited = false;
    const bool ready = within(START_LIMIT, [&] {
        exited = reader->pcscd_->wait(0).has_value();
        return exited || !reader->readers().empty();
    });
    if (!ready || exited) {
        const std::string log =
            firstMessage(readFile(reader->file("pcscd.out")) + readFile(reader->file("pcscd.log")));
        return skip("pcscd cannot start: " +
                    (log.empty() ? std::string("no reader within 10 s") : log));
    }
    return reader;
}

VirtualReader::~VirtualReader() {
    for (size_t slot = 0; slot < SLOTS; ++slot) {
        if (vicc_[slot]) {
            removeCard(
                slot);  // a service that stays (the system's) must not show it to the next test
        }
    }
    pcscd_.reset();
    if (lockFd_ >= 0) {
        ::close(lockFd_);
    }
    if (!directory_.empty()) {
        if (DIR* dir = ::opendir(directory_.c_str())) {
            while (dirent* entry = ::readdir(dir)) {
                const std::string name = entry->d_name;
                if (name != "." && name != "..") {
                    ::unlink(file(name).c_str());
                }
            }
            ::closedir(dir);
        }
        ::rmdir(directory_.c_str());
    }
}

std::vector<PcscReader> VirtualReader::readers() {
    PcscBackend backend;
    std::string error;
    return backend.readers(&error);
}

bool VirtualReader::insertCard(const std::string& profile, std::string* error,
                               const std::vector<std::string>& cardOptions, size_t slot) {
    // Readers that hold one of our cards: the other slot's, and a card of an earlier test
    // that may still be on its way out.
    const auto holding = [this] {
        std::vector<std::string> names;
        for (const PcscReader& r : readers()) {
            if (r.cardPresent && r.atr == NfcCard::atr()) {
                names.push_back(r.name);
            }
        }
        return names;
    };
    const size_t other = 1 - slot;
    const std::string kept = vicc_[other] ? cardReader_[other] : std::string();
    within(START_LIMIT, [&] {
        const std::vector<std::string> names = holding();
        return std::all_of(names.begin(), names.end(),
                           [&](const std::string& name) { return name == kept; });
    });
    cardReader_[slot].clear();
    const std::string name = slot == 0 ? "vicc" : "vicc" + std::to_string(slot);
    std::vector<std::string> argv = {ORVANTA_VICC_PATH, "--port=" + std::to_string(port_ + slot),
                                     "--profile=" + profile};
    argv.insert(argv.end(), cardOptions.begin(), cardOptions.end());
    vicc_[slot] = std::make_unique<ChildProcess>(argv, file(name + ".out"), file(name + ".err"));
    const bool inserted = within(START_LIMIT, [&] {
        for (const std::string& reader : holding()) {
            if (reader != kept) {
                cardReader_[slot] = reader;
                return true;
            }
        }
        return vicc_[slot]->wait(0).has_value();
    });
    if (!inserted || cardReader_[slot].empty()) {
        *error = "no card in any reader: " + readFile(file(name + ".err"));
        return false;
    }
    return true;
}

void VirtualReader::removeCard(size_t slot) {
    vicc_[slot].reset();
    within(START_LIMIT, [&] {
        for (const PcscReader& r : readers()) {
            if (r.name == cardReader_[slot] && r.cardPresent) {
                return false;
            }
        }
        return true;
    });
}

std::string VirtualReader::emptyReader() {
    for (const PcscReader& r : readers()) {
        if (!r.cardPresent) {
            return r.name;
        }
    }
    return {};
}

}  // namespace orvanta::test
