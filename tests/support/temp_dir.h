#pragma once
// Scratch directories and environment for tests: a fresh directory removed with its files
// afterwards, optionally named by TMPDIR while it lives (where certificate files are
// written), and an environment variable set for a scope (the time zone, TMPDIR).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvanta::test {

// Sets an environment variable (and re-reads the time zone) for the life of the object;
// the old value, or its absence, comes back afterwards.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const std::string& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

// A fresh directory under the test temp directory; removed with its files on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // The names of the files in it.
    std::vector<std::string> entries() const;

    static std::vector<uint8_t> read(const std::string& file);

  private:
    std::string path_;
};

// A TempDir that TMPDIR names while it lives, so that files the code puts in the
// temporary directory land in it and can be counted.
class ScopedTmpdir : public TempDir {
  private:
    ScopedEnvironment tmpdir_{"TMPDIR", path()};
};

// Where a test of certificate pages lets them write: their files in a ScopedTmpdir, their
// times in UTC, alike on every machine. Fixtures inherit it.
struct CertificateScratch {
    ScopedTmpdir temp;
    ScopedEnvironment utc{"TZ", "UTC0"};
};

}  // namespace orvanta::test
