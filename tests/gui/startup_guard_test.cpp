// The single-instance lock between real processes, and the crash dump in a child process.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/crash_dump.h"
#include "app/single_instance.h"
#include "gui/lock_holder.h"

namespace fs = std::filesystem;

namespace orvanta {
namespace {

using test::LockHolder;
using test::makeTempDir;

TEST(SingleInstance, SecondProcessIsRefusedWhileTheFirstHoldsTheLockAndAllowedAfterItEnds) {
    const fs::path dir = makeTempDir();
    LockHolder first(dir.string());
    ASSERT_EQ(first.outcome(), 'A');
    {
        InstanceLock second;
        EXPECT_EQ(second.acquire(dir.string()), InstanceLock::Result::HeldElsewhere);
        EXPECT_FALSE(second.held());
    }
    first.end();
    InstanceLock later;
    EXPECT_EQ(later.acquire(dir.string()), InstanceLock::Result::Acquired);
    EXPECT_TRUE(later.held());
    EXPECT_TRUE(fs::exists(dir / INSTANCE_LOCK_NAME));
    fs::remove_all(dir);
}

TEST(SingleInstance, LockIsReleasedWhenItsHolderEnds) {
    const fs::path dir = makeTempDir();
    {
        InstanceLock first;
        ASSERT_EQ(first.acquire(dir.string()), InstanceLock::Result::Acquired);
    }
    LockHolder next(dir.string());
    EXPECT_EQ(next.outcome(), 'A');
    next.end();
    fs::remove_all(dir);
}

TEST(SingleInstance, MissingDirectoryLetsTheProgramStartAsAFirstInstance) {
    InstanceLock lock;
    EXPECT_EQ(lock.acquire("/nonexistent/orvanta-lock-dir"), InstanceLock::Result::Unavailable);
    EXPECT_FALSE(lock.held());
}

TEST(SingleInstance, LockNeitherFollowsLinksNorSharesANameInASharedDirectory) {
    const fs::path dir = makeTempDir();
    // A private directory keeps the fixed name; one that others can write to gets the
    // user's own.
    EXPECT_EQ(instanceLockName(dir.string()), INSTANCE_LOCK_NAME);
    fs::permissions(dir, fs::perms::all | fs::perms::sticky_bit);
    EXPECT_EQ(instanceLockName(dir.string()),
              std::string(INSTANCE_LOCK_NAME) + "-" + std::to_string(::geteuid()));
    // A link under the lock's name is not followed.
    const fs::path target = dir / "elsewhere";
    fs::create_symlink(target, dir / instanceLockName(dir.string()));
    InstanceLock lock;
    EXPECT_EQ(lock.acquire(dir.string()), InstanceLock::Result::Unavailable);
    EXPECT_FALSE(fs::exists(target));
    fs::remove_all(dir);
}

TEST(SingleInstance, LockDirectoryPrefersTheRuntimeDirectory) {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedValue = saved != nullptr ? saved : "";
    ::setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
    EXPECT_EQ(instanceLockDirectory(), "/run/user/4242");
    ::setenv("XDG_RUNTIME_DIR", "", 1);
    EXPECT_NE(instanceLockDirectory(), "");
    EXPECT_NE(instanceLockDirectory(), "/run/user/4242");
    if (saved != nullptr) {
        ::setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
    } else {
        ::unsetenv("XDG_RUNTIME_DIR");
    }
}

// Read at run time, so the compiler cannot prove the recursion endless.
volatile int stopBelow = 0;

// Runs `crash` in a child whose working directory is `dir`, with the handler installed;
// returns the wait status.
template <typename Crash>
int crashInChild(const fs::path& dir, bool removeDirFirst, Crash crash) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.c_str()) != 0) {
            ::_exit(90);
        }
        if (removeDirFirst && ::rmdir(dir.c_str()) != 0) {
            ::_exit(91);
        }
        installCrashHandler();
        crash();
        ::_exit(92);  // not reached when the crash ends the process
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(CrashDump, SegmentationFaultWritesTestDmpAndEndsWithTheSignal) {
    const fs::path dir = makeTempDir();
    const int status = crashInChild(dir, false, [] { ::raise(SIGSEGV); });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
    const std::string dump = readFile(dir / CRASH_DUMP_FILE);
    EXPECT_NE(dump.find("signal: 11 (SIGSEGV)"), std::string::npos) << dump.substr(0, 200);
    EXPECT_NE(dump.find("fault address: 0x"), std::string::npos);
    EXPECT_NE(dump.find("backtrace:\n"), std::string::npos);
    const size_t map = dump.find("memory map:\n");
    ASSERT_NE(map, std::string::npos);
    EXPECT_NE(dump.find("r-xp", map), std::string::npos);  // the map lists executable code
    fs::remove_all(dir);
}

TEST(CrashDump, AbortOverwritesAnEarlierDump) {
    const fs::path dir = makeTempDir();
    {
        std::ofstream old(dir / CRASH_DUMP_FILE);
        old << std::string(200000, 'x');
    }
    const int status = crashInChild(dir, false, [] { std::abort(); });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGABRT);
    const std::string dump = readFile(dir / CRASH_DUMP_FILE);
    EXPECT_EQ(dump.rfind("Orvanta crash dump\n", 0), 0u);
    EXPECT_NE(dump.find("(SIGABRT)"), std::string::npos);
    EXPECT_EQ(dump.find("xxxx"), std::string::npos);

    // A symbolic link planted under the dump's name is replaced, never written through.
    const fs::path victim = dir / "victim";
    {
        std::ofstream file(victim);
        file << "precious";
    }
    fs::remove(dir / CRASH_DUMP_FILE);
    fs::create_symlink(victim, dir / CRASH_DUMP_FILE);
    crashInChild(dir, false, [] { std::abort(); });
    EXPECT_EQ(readFile(victim), "precious");
    EXPECT_FALSE(fs::is_symlink(dir / CRASH_DUMP_FILE));
    EXPECT_EQ(fs::status(dir / CRASH_DUMP_FILE).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    fs::remove_all(dir);
}

TEST(CrashDump, StackOverflowIsStillWritten) {
    const fs::path dir = makeTempDir();
    const int status = crashInChild(dir, false, [] {
        struct Recurse {
            static int down(int depth) {
                if (depth < stopBelow) {
                    return 0;  // never: keeps the recursion from looking endless
                }
                volatile char pad[4096];
                pad[0] = static_cast<char>(depth);
                return down(depth + 1) + pad[0];
            }
        };
        Recurse::down(0);
    });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
    EXPECT_NE(readFile(dir / CRASH_DUMP_FILE).find("(SIGSEGV)"), std::string::npos);
    fs::remove_all(dir);
}

TEST(CrashDump, UnwritableWorkingDirectoryLeavesNoDumpAndTheProcessStillEnds) {
    const fs::path dir = makeTempDir();
    const int status = crashInChild(dir, true, [] { ::raise(SIGBUS); });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGBUS);
    EXPECT_FALSE(fs::exists(dir));
}

}  // namespace
}  // namespace orvanta
