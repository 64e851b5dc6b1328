#pragma once
// Wiping of secrets (PIN, PIN hash, shared secret, PIN token) that the compiler may not
// optimise away.

#include <cstddef>
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

}  // namespace orvanta
