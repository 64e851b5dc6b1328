#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace orvanta {

std::string instanceLockDirectory() {
    for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') {
            return value;
        }
    }
    return "/tmp";
}

std::string instanceLockName(const std::string& directory) {
    struct stat status = {};
    const bool shared = ::stat(directory.c_str(), &status) != 0 || (status.st_mode & S_IWOTH) != 0;
    if (!shared) {
        return INSTANCE_LOCK_NAME;
    }
    // In a directory every user writes to, each user has a lock of their own.
    return std::string(INSTANCE_LOCK_NAME) + "-" + std::to_string(::geteuid());
}

InstanceLock::Result InstanceLock::acquire(const std::string& directory) {
    if (fd_.valid()) {
        return Result::Acquired;
    }
    const std::string path = directory + "/" + instanceLockName(directory);
    // Never through a symbolic link, and only a file of our own: another user's file under
    // the name could otherwise keep us from starting, or be truncated by us.
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    struct stat status = {};
    if (!fd.valid() || ::fstat(fd.get(), &status) != 0 || status.st_uid != ::geteuid() ||
        !S_ISREG(status.st_mode)) {
        return Result::Unavailable;
    }
    int rc;
    do {
        rc = ::flock(fd.get(), LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        return errno == EWOULDBLOCK ? Result::HeldElsewhere : Result::Unavailable;
    }
    fd_ = std::move(fd);  // held until this object ends
    return Result::Acquired;
}

}  // namespace orvanta
