#include "gui/modal_hook.h"

#include <utility>

#include "app/modal.h"

namespace orvanta::test {

ScopedModalHook::ScopedModalHook(std::function<int(QDialog&)> hook) {
    setModalHook(std::move(hook));
}

ScopedModalHook::~ScopedModalHook() {
    setModalHook(nullptr);
}

}  // namespace orvanta::test
