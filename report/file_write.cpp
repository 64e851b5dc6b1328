#include "report/file_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <random>
#include <string>

#include "transport/unique_fd.h"

namespace orvanta {

namespace {

std::error_code lastError() {
    return {errno, std::generic_category()};
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

// A new file beside the target that then takes its name. It is made with the usual mode of
// a new file (the umask applies); `mode`, when given, is the mode of the file it replaces.
std::error_code replace(const std::string& path, std::string_view data,
                        std::optional<mode_t> mode) {
    std::string directory = directoryOf(path);
    if (directory.back() != '/') {
        directory += '/';
    }
    std::random_device random;
    UniqueFd fd;
    std::string temporary;
    // mkstemp would make the file 0600 and leave only umask() (process-wide, so racy) to
    // learn the usual mode: a fresh name with O_EXCL instead.
    for (int attempt = 0; attempt < 100 && !fd.valid(); ++attempt) {
        temporary = directory + ".orvanta-write-" + std::to_string(random());
        fd = UniqueFd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!fd.valid() && errno != EEXIST) {
            break;
        }
    }
    if (!fd.valid()) {
        return lastError();
    }
    if ((mode && ::fchmod(fd.get(), *mode) != 0) || !writeAll(fd.get(), data) || !fd.close() ||
        ::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::error_code error = lastError();
        ::unlink(temporary.c_str());
        return error;
    }
    return {};
}

// Opened and written where it is; a regular file (behind a link, or in a directory that
// takes no new files) is emptied first.
std::error_code writeInPlace(const std::string& path, std::string_view data) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666));
    struct stat status {};
    if (fd.get() < 0 || ::fstat(fd.get(), &status) != 0 ||
        (S_ISREG(status.st_mode) && ::ftruncate(fd.get(), 0) != 0) || !writeAll(fd.get(), data) ||
        !fd.close()) {
        return lastError();
    }
    return {};
}

}  // namespace

std::error_code writeWholeFile(const std::string& path, std::string_view data) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        if (errno != ENOENT) {
            return lastError();
        }
        return replace(path, data, std::nullopt);
    }
    if (S_ISREG(status.st_mode) && ::access(directoryOf(path).c_str(), W_OK | X_OK) == 0) {
        return replace(path, data, status.st_mode & 07777);
    }
    return writeInPlace(path, data);
}

}  // namespace orvanta
