#include "cert/certificate_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "transport/unique_fd.h"

namespace orvanta {

namespace {

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
    std::string path = page.fileDirectory.empty() ? temporaryDirectory() : page.fileDirectory;
    if (path.back() != '/') {
        path += '/';
    }
    path += CERTIFICATE_FILE_PREFIX;
    path += "XXXXXX";
    path += CERTIFICATE_FILE_SUFFIX;
    std::vector<char> name(path.begin(), path.end());
    name.push_back(0);
    // mkstemps creates the file with O_CREAT | O_EXCL and mode 0600.
    UniqueFd fd(::mkstemps(
        name.data(), static_cast<int>(std::char_traits<char>::length(CERTIFICATE_FILE_SUFFIX))));
    if (fd.get() < 0) {
        return false;
    }
    page.certificateFileName = name.data();
    page.temporaryFiles.push_back(page.certificateFileName);
    bool written = length == 0 || (data != nullptr && writeAll(fd.get(), data, length));
    return fd.close() && written;
}

void exportCertificate(CertificatePage& page, size_t index, UserPrompts& prompts) {
    if (index >= page.certificates.size()) {
        return;
    }
    const std::vector<uint8_t>& der = page.certificates[index].der;
    std::string previous = page.certificateFileName;
    writeCertificateFile(page, der.data(), der.size());
    // Only a file this export created is handed on; without one there is nothing to open.
    if (!page.certificateFileName.empty() && page.certificateFileName != previous) {
        prompts.openFile(page.certificateFileName);
    }
}

}  // namespace orvanta
