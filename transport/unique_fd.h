#pragma once
// The one owner of a file descriptor: it is closed exactly once, when its owner ends, unless
// it was closed earlier (close()) or given away (release()).

#include <unistd.h>

#include <utility>

namespace orvanta {

class UniqueFd {
  public:
    UniqueFd() = default;
    // Takes `fd` as it comes from open(), socket() and the like; a negative value owns nothing.
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { close(); }

    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            close();
            fd_ = other.release();
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

    // Gives the descriptor up without closing it; the caller owns it from now on.
    int release() { return std::exchange(fd_, -1); }

    // Closes now. True when the close worked or nothing was open; false with errno set when
    // it failed, which for a file just written is the last chance to hear of a write error.
    // The descriptor is gone either way: after a failed close its number may already belong
    // to another file, so it is never tried again.
    bool close() {
        const int fd = release();
        return fd < 0 || ::close(fd) == 0;
    }

  private:
    int fd_ = -1;
};

}  // namespace orvanta
