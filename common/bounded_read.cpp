#include "common/bounded_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <istream>

namespace orvanta {

namespace {

FileRead problem(FileReadProblem why) {
    FileRead read;
    read.problem = why;
    return read;
}

FileRead readOpened(int fd, size_t limit) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        return problem(FileReadProblem::ReadFailed);
    }
    if (!S_ISREG(status.st_mode)) {
        return problem(FileReadProblem::NotRegular);
    }
    if (status.st_size < 0 || static_cast<uint64_t>(status.st_size) > limit) {
        return problem(FileReadProblem::TooLarge);
    }
    FileRead read;
    read.bytes.reserve(static_cast<size_t>(status.st_size));
    // The size is checked again as the bytes come: a file that grows meanwhile is still
    // held to the limit.
    uint8_t chunk[16384];
    while (true) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return problem(FileReadProblem::ReadFailed);
        }
        if (n == 0) {
            return read;
        }
        if (read.bytes.size() + static_cast<size_t>(n) > limit) {
            return problem(FileReadProblem::TooLarge);
        }
        read.bytes.insert(read.bytes.end(), chunk, chunk + n);
    }
}

}  // namespace

bool readBounded(std::istream& in, size_t limit, std::vector<uint8_t>& out) {
    char chunk[16384];
    while (in) {
        in.read(chunk, sizeof chunk);
        const std::streamsize got = in.gcount();
        if (got <= 0) {
            break;
        }
        if (out.size() + static_cast<size_t>(got) > limit) {
            return false;
        }
        out.insert(out.end(), chunk, chunk + got);
    }
    return true;
}

FileRead readRegularFile(const std::string& path, size_t limit) {
    // O_NONBLOCK: opening a FIFO would otherwise wait for a writer before fstat could tell.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return problem(FileReadProblem::CannotOpen);
    }
    FileRead read = readOpened(fd, limit);
    ::close(fd);
    return read;
}

std::optional<std::vector<uint8_t>> readFileBounded(const std::string& path, size_t limit) {
    FileRead read = readRegularFile(path, limit);
    if (read.problem) {
        return std::nullopt;
    }
    return std::move(read.bytes);
}

}  // namespace orvanta
