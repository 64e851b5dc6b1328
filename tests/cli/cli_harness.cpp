#include "cli_harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <sstream>

#include "cli/cli.h"

namespace orvanta::test {

CliResult runCli(const std::vector<std::string>& args, const std::string& input,
                 ScriptedTerminal* terminal, ManualClock* clock) {
    std::vector<const char*> argv{"orvanta-cli"};
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
    }
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    ScriptedTerminal absent;
    ManualClock fresh;
    ManualClock& runClock = clock != nullptr ? *clock : fresh;
    // Keys side by side each get a timeline of their own from the run's time; the run then
    // lasts as long as the longest, as it would on the machine's clock.
    const uint32_t start = runClock.tickCount();
    std::mutex keyClocksMutex;
    std::vector<std::shared_ptr<ManualClock>> keyClocks;
    cli::Environment environment{terminal != nullptr ? *terminal : absent, runClock};
    environment.keyClock = [&]() -> std::shared_ptr<Clock> {
        std::lock_guard lock(keyClocksMutex);
        return keyClocks.emplace_back(std::make_shared<ManualClock>(start));
    };
    CliResult result;
    result.status = cli::run(static_cast<int>(argv.size()), argv.data(), in, out, err, environment);
    uint32_t longest = runClock.tickCount() - start;
    for (const auto& key : keyClocks) {
        longest = std::max(longest, key->tickCount() - start);
    }
    runClock.advance(longest - (runClock.tickCount() - start));
    result.out = out.str();
    result.err = err.str();
    return result;
}

CliResult runBinary(const std::vector<std::string>& args, const std::string& input) {
    CliResult result;
    int inPipe[2];
    int outPipe[2];
    int errPipe[2];
    if (pipe(inPipe) != 0 || pipe(outPipe) != 0 || pipe(errPipe) != 0) {
        ADD_FAILURE() << "pipe";
        return result;
    }
    pid_t child = fork();
    if (child == 0) {
        setsid();  // no controlling terminal: nothing may wait for a person
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) {
            close(fd);
        }
        std::vector<char*> argv{const_cast<char*>(ORVANTA_CLI_PATH)};
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        execv(ORVANTA_CLI_PATH, argv.data());
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    if (!input.empty()) {
        ssize_t written = write(inPipe[1], input.data(), input.size());
        EXPECT_EQ(written, static_cast<ssize_t>(input.size()));
    }
    close(inPipe[1]);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, 60000) <= 0) {
            ADD_FAILURE() << "orvanta-cli did not finish";
            kill(child, SIGKILL);
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP)) != 0) {
                char chunk[4096];
                ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
                if (n > 0) {
                    sinks[i]->append(chunk, static_cast<size_t>(n));
                } else {
                    close(fds[i].fd);
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
    }
    for (const pollfd& p : fds) {
        if (p.fd >= 0) {
            close(p.fd);
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace orvanta::test
