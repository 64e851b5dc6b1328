#include "cert/certificate_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "cert/base64.h"

namespace orvanta {

namespace {

// Closes the descriptor on every path.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Closes now and reports whether the close (the last chance for a write error) worked.
    bool close() {
        int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

  private:
    int fd_;
};

bool writeAll(int fd, const uint8_t* data, size_t length) {
    while (length > 0) {
        ssize_t written = ::write(fd, data, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

}  // namespace

std::string temporaryDirectory() {
    const char* dir = std::getenv("TMPDIR");
    if (dir != nullptr && dir[0] != 0) {
        return dir;
    }
    return "/tmp";
}

bool writeCertificateFile(CertificatePage& page, const uint8_t* data, size_t length) {
    std::string path = temporaryDirectory();
    if (path.back() != '/') {
        path += '/';
    }
    path += CERTIFICATE_FILE_PREFIX;
    path += "XXXXXX";
    path += CERTIFICATE_FILE_SUFFIX;
    std::vector<char> name(path.begin(), path.end());
    name.push_back(0);
    // mkstemps creates the file with O_CREAT | O_EXCL and mode 0600.
    FileDescriptor fd(::mkstemps(
        name.data(), static_cast<int>(std::char_traits<char>::length(CERTIFICATE_FILE_SUFFIX))));
    if (fd.get() < 0) {
        return false;
    }
    page.certificateFileName = name.data();
    bool written = length == 0 || (data != nullptr && writeAll(fd.get(), data, length));
    return fd.close() && written;
}

void exportBase64Row(CertificatePage& page, const std::string& valueText, UserPrompts& prompts) {
    std::vector<uint8_t> der = base64Decode(valueText.c_str(), valueText.size());
    std::string previous = page.certificateFileName;
    writeCertificateFile(page, der.data(), der.size());
    // Only a file this export created is handed on; without one there is nothing to open.
    if (!page.certificateFileName.empty() && page.certificateFileName != previous) {
        prompts.openFile(page.certificateFileName);
    }
}

}  // namespace orvanta
