#pragma once
// The certification pages keep a temporary ".cer" copy of every certificate they show (the
// window opens them with the desktop). A command-line run has no use for them after it
// ends, so it points TMPDIR at a private directory for its length and removes it, with
// whatever it holds, at the end.

#include <optional>
#include <string>

namespace orvanta::cli {

class PrivateTempDir {
  public:
    PrivateTempDir();
    ~PrivateTempDir();
    PrivateTempDir(const PrivateTempDir&) = delete;
    PrivateTempDir& operator=(const PrivateTempDir&) = delete;

    // Empty when no directory could be made (TMPDIR is then left as it was).
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    std::optional<std::string> previous_;  // TMPDIR before, when it was set
};

}  // namespace orvanta::cli
