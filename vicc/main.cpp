// orvanta-vicc: puts a virtual key, as a contactless card, into the vpcd virtual reader of
// pcscd, so every PC/SC client (orvanta-cli --pcsc among them) sees a FIDO card. It
// connects to vpcd, serves it until the connection ends, and connects again (pcscd may
// be restarted, or end when idle and come back) until SIGINT or SIGTERM.

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "sim/nfc_card.h"
#include "sim/profile.h"
#include "sim/virtual_key.h"
#include "transport/clock.h"
#include "transport/udp_backend.h"
#include "transport/unique_fd.h"
#include "vicc/vpcd_link.h"

using namespace orvanta;

namespace {

std::atomic<bool> stopFlag{false};

extern "C" void onSignal(int) {
    stopFlag.store(true);
}

const char* const USAGE =
    "Usage: orvanta-vicc [--host=HOST] [--port=PORT] [--profile=NAME]\n"
    "Puts a virtual key into the vpcd virtual reader as a contactless card.\n"
    "  --host=HOST     where vpcd listens (default 127.0.0.1)\n"
    "  --port=PORT     its port (default 35963, the first reader of vsmartcard-vpcd)\n"
    "  --profile=NAME  the virtual key's profile (default \"default\")\n"
    "  --hang-after=N  answer N commands, then none (the card stays in the reader)\n";

struct Options {
    std::string host = "127.0.0.1";
    uint16_t port = vicc::VPCD_DEFAULT_PORT;
    std::string profile = "default";
    std::optional<uint32_t> hangAfter;
};

// "--name=value" or "--name value"; false (with a message) for anything else.
bool parse(int argc, char** argv, Options& options, bool& help) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            help = true;
            return true;
        }
        std::string value;
        const size_t equals = arg.find('=');
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            std::cerr << "orvanta-vicc: " << arg << " needs a value\n";
            return false;
        }
        if (arg == "--host" && !value.empty()) {
            options.host = value;
        } else if (arg == "--port") {
            std::optional<uint16_t> port = parsePort(value);
            if (!port) {
                std::cerr << "orvanta-vicc: --port needs 1 to 65535\n";
                return false;
            }
            options.port = *port;
        } else if (arg == "--profile") {
            if (!isProfileName(value)) {
                std::cerr << "orvanta-vicc: unknown profile \"" << value << "\"; profiles:";
                for (const std::string& name : profileNames()) {
                    std::cerr << ' ' << name;
                }
                std::cerr << '\n';
                return false;
            }
            options.profile = value;
        } else if (arg == "--hang-after") {
            char* end = nullptr;
            errno = 0;
            const unsigned long n = std::strtoul(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || errno != 0 || n > UINT32_MAX ||
                !std::isdigit(static_cast<unsigned char>(value[0]))) {
                std::cerr << "orvanta-vicc: --hang-after needs a number of commands\n";
                return false;
            }
            options.hangAfter = static_cast<uint32_t>(n);
        } else {
            std::cerr << "orvanta-vicc: unknown option " << arg << "\n" << USAGE;
            return false;
        }
    }
    return true;
}

UniqueFd connectTo(const Options& options) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(options.port);
    if (::getaddrinfo(options.host.c_str(), port.c_str(), &hints, &found) != 0) {
        return UniqueFd();
    }
    UniqueFd fd;
    for (addrinfo* a = found; a != nullptr && !fd.valid(); a = a->ai_next) {
        UniqueFd candidate(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol));
        if (candidate.valid() && ::connect(candidate.get(), a->ai_addr, a->ai_addrlen) == 0) {
            fd = std::move(candidate);
        }
    }
    ::freeaddrinfo(found);
    if (fd.valid()) {
        // Each answer is one small write the reader waits for.
        int on = 1;
        ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    return fd;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    bool help = false;
    if (!parse(argc, argv, options, help)) {
        return 2;
    }
    if (help) {
        std::cout << USAGE;
        return 0;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a waiting read returns at once
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    SystemClock clock;
    VirtualKey key(profileByName(options.profile), 0, clock);
    NfcCard card(key, clock);
    const std::string where = options.host + ":" + std::to_string(options.port);
    bool told = false;
    while (!stopFlag.load()) {
        UniqueFd fd = connectTo(options);
        if (!fd.valid()) {
            if (!told) {
                std::cerr << "orvanta-vicc: waiting for vpcd at " << where << std::endl;
                told = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            continue;
        }
        std::cerr << "orvanta-vicc: virtual key \"" << options.profile << "\" is in the reader at "
                  << where << std::endl;
        std::optional<vicc::Hang> hang;
        if (options.hangAfter) {
            hang = vicc::Hang{*options.hangAfter, [] {
                                  std::cerr
                                      << "orvanta-vicc: the card hangs: commands go unanswered"
                                      << std::endl;
                              }};
        }
        const std::string ended = vicc::serveVpcd(fd.get(), card, stopFlag, hang);
        card.powerCycle();  // out of the field
        if (!stopFlag.load()) {
            std::cerr << "orvanta-vicc: " << ended << "; waiting for vpcd again" << std::endl;
            told = true;
        }
    }
    return 0;
}
