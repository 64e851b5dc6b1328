#include "cli/private_temp_dir.h"

#include <dirent.h>
#include <unistd.h>

#include <vector>

#include "cert/certificate_file.h"

namespace orvanta::cli {

PrivateTempDir::PrivateTempDir() {
    std::string pattern = temporaryDirectory();
    if (pattern.back() != '/') {
        pattern += '/';
    }
    pattern += "orvanta-cli-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back(0);
    if (::mkdtemp(name.data()) != nullptr) {  // mode 0700
        path_ = name.data();
    }
}

PrivateTempDir::~PrivateTempDir() {
    if (path_.empty()) {
        return;
    }
    // Only plain files are made here; nothing nested to walk.
    if (DIR* dir = ::opendir(path_.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") {
                ::unlink((path_ + "/" + name).c_str());
            }
        }
        ::closedir(dir);
    }
    ::rmdir(path_.c_str());
}

}  // namespace orvanta::cli
