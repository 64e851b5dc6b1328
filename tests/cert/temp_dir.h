#pragma once
// Points TMPDIR at a fresh directory for the life of the object, and sets the time zone,
// so certificate files and local times are predictable; both are restored afterwards.

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace orvanta::test {

class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        setenv(name, value.c_str(), 1);
        tzset();
    }
    ~ScopedEnvironment() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
        tzset();
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

class TempDir {
  public:
    TempDir() {
        char name[] = "/tmp/orvanta-cert-test-XXXXXX";
        path = mkdtemp(name);
        tmpdir_.emplace("TMPDIR", path);
    }
    ~TempDir() {
        tmpdir_.reset();
        for (const auto& file : files()) {
            unlink((path + "/" + file).c_str());
        }
        rmdir(path.c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::vector<std::string> files() const {
        std::vector<std::string> names;
        if (DIR* dir = opendir(path.c_str())) {
            while (dirent* entry = readdir(dir)) {
                std::string name = entry->d_name;
                if (name != "." && name != "..") {
                    names.push_back(name);
                }
            }
            closedir(dir);
        }
        return names;
    }

    static std::vector<uint8_t> read(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>());
    }

    std::string path;

  private:
    std::optional<ScopedEnvironment> tmpdir_;
};

}  // namespace orvanta::test
