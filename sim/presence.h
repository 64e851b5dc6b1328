#pragma once
// User presence of a virtual key: decides, by the key's touch policy and the program's
// clock, whether the user has touched the key when a request asks.

#include <cstdint>

#include "sim/profile.h"
#include "transport/clock.h"

namespace orvanta {

class TouchState {
  public:
    explicit TouchState(Clock& clock, TouchPolicy policy = {}) : clock_(clock), policy_(policy) {}

    void setPolicy(TouchPolicy policy);
    const TouchPolicy& policy() const { return policy_; }
    // A touch by hand, taken by the next check whatever the policy.
    void touch() { touched_ = true; }
    // One check; true when the user has touched the key. Does not use the touch up.
    bool check();
    // The touch has served a request; the next request needs a new one.
    void consume();

  private:
    Clock& clock_;
    TouchPolicy policy_;
    bool touched_ = false;
    bool waiting_ = false;  // a check has started the current wait
    uint32_t checks_ = 0;
    uint32_t waitStart_ = 0;
};

}  // namespace orvanta
