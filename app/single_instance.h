#pragma once
// One running window per user session: an advisory lock on a file of a fixed name. The
// kernel drops the lock when the holder ends, however it ends, so a crash never leaves a
// stale lock behind.

#include <string>

#include "transport/unique_fd.h"

namespace orvanta {

inline constexpr const char* INSTANCE_LOCK_NAME = "FBD56885-3C77-4d41-AF89-4B5BAD2CC1CE";

// $XDG_RUNTIME_DIR when set, else the temporary directory ($TMPDIR, else /tmp).
std::string instanceLockDirectory();
// The lock file's name in that directory: INSTANCE_LOCK_NAME, followed by "-" and the user
// ID when other users can write to the directory too.
std::string instanceLockName(const std::string& directory);

class InstanceLock {
  public:
    enum class Result {
        Acquired,       // this process is the first instance
        HeldElsewhere,  // another process holds the lock
        Unavailable,    // the lock file cannot be opened; go on as a first instance
    };

    InstanceLock() = default;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Tries once, without waiting. The lock is held until this object ends.
    Result acquire(const std::string& directory = instanceLockDirectory());
    bool held() const { return fd_.valid(); }
    // Lets the next instance start (the window has closed, whatever still ends after it).
    void release() { fd_.close(); }

  private:
    UniqueFd fd_;  // closing the last descriptor releases the lock
};

}  // namespace orvanta
