#pragma once
// The certification pages keep a temporary ".cer" copy of every certificate they show (the
// window opens them with the desktop). A command-line run has no use for them after it
// ends, so its pages write them into a private directory that is removed, with whatever it
// holds, at the end. The directory is handed to the pages, never put into TMPDIR: the keys
// of --all-keys make theirs on threads of their own, and the environment is not theirs to
// change.

#include <string>

namespace orvanta::cli {

class PrivateTempDir {
  public:
    // A new directory (mode 0700) in the temporary directory (TMPDIR, else /tmp).
    PrivateTempDir();
    ~PrivateTempDir();
    PrivateTempDir(const PrivateTempDir&) = delete;
    PrivateTempDir& operator=(const PrivateTempDir&) = delete;

    // Empty when no directory could be made (the pages then use the temporary directory).
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace orvanta::cli
