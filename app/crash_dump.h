#pragma once
// What a crash leaves behind: "Test.dmp" in the working directory with the signal, the
// fault address, a backtrace and the memory map. The handler uses async-signal-safe calls
// only and then lets the signal end the process as it would have without it.

namespace orvanta {

inline constexpr const char* CRASH_DUMP_FILE = "Test.dmp";

// Installs the handler for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT (on an alternate
// stack, so a stack overflow is written too). Safe to call more than once.
void installCrashHandler();

}  // namespace orvanta
