#include "app/crash_dump.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace orvanta {

namespace {

constexpr int FATAL_SIGNALS[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr int MAX_FRAMES = 64;

// Space for the handler when the fault is a stack overflow.
alignas(16) char alternateStack[64 * 1024];

void writeAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t written = ::write(fd, data, length);
        if (written <= 0) {
            return;
        }
        data += written;
        length -= static_cast<size_t>(written);
    }
}

void writeText(int fd, const char* text) {
    writeAll(fd, text, std::strlen(text));
}

void writeDecimal(int fd, long value) {
    char digits[24];
    size_t pos = sizeof digits;
    const bool negative = value < 0;
    unsigned long magnitude =
        negative ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
    do {
        digits[--pos] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) {
        digits[--pos] = '-';
    }
    writeAll(fd, digits + pos, sizeof digits - pos);
}

void writeHex(int fd, uintptr_t value) {
    char digits[2 + 2 * sizeof(uintptr_t)];
    digits[0] = '0';
    digits[1] = 'x';
    for (size_t i = 0; i < 2 * sizeof(uintptr_t); ++i) {
        const unsigned nibble = (value >> (4 * (2 * sizeof(uintptr_t) - 1 - i))) & 0xF;
        digits[2 + i] = "0123456789abcdef"[nibble];
    }
    writeAll(fd, digits, sizeof digits);
}

const char* signalName(int signal) {
    switch (signal) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGBUS:
            return "SIGBUS";
        case SIGILL:
            return "SIGILL";
        case SIGFPE:
            return "SIGFPE";
        case SIGABRT:
            return "SIGABRT";
        default:
            return "signal";
    }
}

void copyMemoryMap(int out) {
    int maps = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (maps < 0) {
        return;
    }
    char buffer[4096];
    for (;;) {
        ssize_t got = ::read(maps, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        writeAll(out, buffer, static_cast<size_t>(got));
    }
    ::close(maps);
}

void writeCrashDump(int signal, const siginfo_t* info) {
    // An unwritable working directory leaves no dump; the process still ends below. The dump
    // is always a new file of ours: a stale one is removed first, and a symbolic link
    // planted under its name is neither followed nor written through.
    ::unlink(CRASH_DUMP_FILE);
    int fd = ::open(CRASH_DUMP_FILE, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    writeText(fd, "Orvanta crash dump\nsignal: ");
    writeDecimal(fd, signal);
    writeText(fd, " (");
    writeText(fd, signalName(signal));
    writeText(fd, ")\ncode: ");
    writeDecimal(fd, info != nullptr ? info->si_code : 0);
    writeText(fd, "\nfault address: ");
    writeHex(fd, info != nullptr ? reinterpret_cast<uintptr_t>(info->si_addr) : 0);
    writeText(fd, "\nprocess: ");
    writeDecimal(fd, static_cast<long>(::getpid()));
    writeText(fd, "\n\nbacktrace:\n");
    void* frames[MAX_FRAMES];
    const int count = ::backtrace(frames, MAX_FRAMES);
    ::backtrace_symbols_fd(frames, count, fd);
    writeText(fd, "\nmemory map:\n");
    copyMemoryMap(fd);
    ::close(fd);
}

void onFatalSignal(int signal, siginfo_t* info, void*) {
    const int savedErrno = errno;
    writeCrashDump(signal, info);
    errno = savedErrno;
    // SA_RESETHAND restored the default action: raising again ends the process with the
    // original signal (and its core dump, where enabled).
    ::raise(signal);
}

}  // namespace

void installCrashHandler() {
    // backtrace() loads its unwinder on first use, which may allocate: do it now, not
    // inside the handler.
    void* warmUp[1];
    ::backtrace(warmUp, 1);

    stack_t stack{};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof alternateStack;
    stack.ss_flags = 0;
    ::sigaltstack(&stack, nullptr);

    struct sigaction action {};
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_RESETHAND | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : FATAL_SIGNALS) {
        ::sigaction(signal, &action, nullptr);
    }
}

}  // namespace orvanta
