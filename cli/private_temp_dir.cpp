#include "cli/private_temp_dir.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace orvanta::cli {

PrivateTempDir::PrivateTempDir() {
    const char* current = std::getenv("TMPDIR");
    std::string base = current != nullptr && current[0] != 0 ? current : "/tmp";
    if (current != nullptr) {
        previous_ = current;
    }
    if (base.back() != '/') {
        base += '/';
    }
    std::string pattern = base + "orvanta-cli-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back(0);
    if (::mkdtemp(name.data()) == nullptr) {  // mode 0700
        return;
    }
    path_ = name.data();
    ::setenv("TMPDIR", path_.c_str(), 1);
}

PrivateTempDir::~PrivateTempDir() {
    if (path_.empty()) {
        return;
    }
    if (previous_) {
        ::setenv("TMPDIR", previous_->c_str(), 1);
    } else {
        ::unsetenv("TMPDIR");
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
