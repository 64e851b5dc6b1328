#include "sim/presence.h"

namespace orvanta {

void TouchState::setPolicy(TouchPolicy policy) {
    policy_ = policy;
    consume();
}

bool TouchState::check() {
    const uint32_t now = clock_.tickCount();
    if (!waiting_) {
        waiting_ = true;
        waitStart_ = now;
        checks_ = 0;
    }
    ++checks_;
    if (touched_) {
        return true;
    }
    switch (policy_.mode) {
        case TouchPolicy::Mode::Immediate:
            return true;
        case TouchPolicy::Mode::AfterRequests:
            return checks_ >= policy_.requests;
        case TouchPolicy::Mode::AfterMs:
            return now - waitStart_ >= policy_.ms;  // unsigned: a wrap does no harm
        case TouchPolicy::Mode::Never:
            return false;
    }
    return false;
}

void TouchState::consume() {
    touched_ = false;
    waiting_ = false;
    checks_ = 0;
}

}  // namespace orvanta
