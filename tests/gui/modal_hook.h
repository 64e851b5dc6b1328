#pragma once
// A modal hook that answers the dialogs the window would run modally.

#include <functional>

class QDialog;

namespace orvanta::test {

// Installs a modal hook for its lifetime and restores the modal loops afterwards.
class ScopedModalHook {
  public:
    explicit ScopedModalHook(std::function<int(QDialog&)> hook);
    ~ScopedModalHook();
    ScopedModalHook(const ScopedModalHook&) = delete;
    ScopedModalHook& operator=(const ScopedModalHook&) = delete;
};

}  // namespace orvanta::test
