#pragma once
// Wiping of secrets (PIN, PIN hash, shared secret, PIN token) that the compiler may not
// optimise away.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace orvanta {

void secureWipe(void* data, size_t length);
void secureWipe(std::string& text);  // wipes the bytes, then clears

// Wipes a fixed buffer when it goes out of scope.
template <typename T>
class WipeOnExit {
  public:
    explicit WipeOnExit(T& object) : object_(object) {}
    ~WipeOnExit() { secureWipe(&object_, sizeof(object_)); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

  private:
    T& object_;
};

// A secret of at most N bytes at the length it was given; wiped when it ends and when it is
// made room for again.
template <size_t N>
class SecretBytes {
  public:
    explicit SecretBytes(size_t length = 0) : length_(length < N ? length : N) {}
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;
    ~SecretBytes() { secureWipe(bytes_.data(), bytes_.size()); }

    std::span<const uint8_t> bytes() const { return {bytes_.data(), length_}; }
    size_t size() const { return length_; }
    // Room for a secret of `length` bytes (at most N), to be written.
    std::span<uint8_t> resize(size_t length) {
        secureWipe(bytes_.data(), bytes_.size());
        length_ = length < N ? length : N;
        return {bytes_.data(), length_};
    }

  private:
    std::array<uint8_t, N> bytes_{};
    size_t length_;
};

}  // namespace orvanta
