#pragma once
// Test helpers for the start-up guard: a temporary directory, and another process that
// holds the single-instance lock.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/single_instance.h"

namespace orvanta::test {

inline std::filesystem::path makeTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvanta-gui-XXXXXX").string();
    const char* made = ::mkdtemp(pattern.data());
    EXPECT_NE(made, nullptr);
    return made != nullptr ? std::filesystem::path(made) : std::filesystem::path();
}

// A child process that takes the lock, reports the outcome through a pipe, and holds the
// lock until told to end.
class LockHolder {
  public:
    explicit LockHolder(const std::string& directory) {
        int toParent[2];
        int toChild[2];
        EXPECT_EQ(::pipe(toParent), 0);
        EXPECT_EQ(::pipe(toChild), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(toParent[0]);
            ::close(toChild[1]);
            InstanceLock lock;
            const char result =
                lock.acquire(directory) == InstanceLock::Result::Acquired ? 'A' : 'X';
            (void)!::write(toParent[1], &result, 1);
            char go;
            (void)!::read(toChild[0], &go, 1);
            ::_exit(0);
        }
        ::close(toParent[1]);
        ::close(toChild[0]);
        fromChild_ = toParent[0];
        toChild_ = toChild[1];
    }
    char outcome() {
        char result = 0;
        EXPECT_EQ(::read(fromChild_, &result, 1), 1);
        return result;
    }
    void end() {
        if (pid_ <= 0) {
            return;
        }
        const char go = 'g';
        (void)!::write(toChild_, &go, 1);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    ~LockHolder() {
        end();
        ::close(fromChild_);
        ::close(toChild_);
    }

  private:
    pid_t pid_ = -1;
    int fromChild_ = -1;
    int toChild_ = -1;
};

}  // namespace orvanta::test
