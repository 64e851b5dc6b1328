#pragma once
// A conformance check of one key: a battery of checks of how the key keeps the rules of
// CTAPHID, CTAP 2.1 / 2.2 and the U2F raw messages, each with the rule it checks and where
// the rule is written. A check passes, fails with what the key answered, or is skipped with
// the reason. No check changes the key: no reset, no PIN set or changed, no credential kept
// on the key, no PIN retry spent. Each check is bounded in time; the checks that need a
// touch run only when asked for.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "transport/device_session.h"

namespace orvanta {

enum class CheckFamily : uint8_t { Ctaphid, GetInfo, Ctap2Errors, U2f, Touch };
enum class Verdict : uint8_t { Pass, Fail, Skip };

struct CheckInfo {
    std::string_view id;  // stable, for scripts: "ctaphid.init", "u2f.version", ...
    CheckFamily family;
    std::string_view rule;
    std::string_view section;  // where the rule is written
    bool touch = false;        // needs the user's touch: run only when asked for
};

struct CheckResult {
    const CheckInfo* check = nullptr;
    Verdict verdict = Verdict::Skip;
    // Pass: what was seen (may be empty); Fail: what the key answered; Skip: why.
    std::string detail;
};

// Whether the key could be checked at all.
enum class KeyReach : uint8_t {
    Answered,  // the key answered; every check ran or says why not
    Silent,    // the key did not answer: every check is skipped
    NoKey,     // no key in the session
};

struct ConformanceReport {
    KeyReach reach = KeyReach::NoKey;
    bool cancelled = false;  // the run was cancelled: later checks are skipped
    std::vector<CheckResult> results;

    size_t count(Verdict verdict) const;
    bool anyFailed() const { return count(Verdict::Fail) != 0; }
};

struct ConformanceOptions {
    bool touch = false;  // also run the checks that need a touch
    // Asked between checks; true skips the rest. (The session's own cancel ends an
    // exchange that waits.)
    std::function<bool()> cancelled{};
    // After each check: how many are done of how many, and the result.
    std::function<void(size_t done, size_t total, const CheckResult& result)> progress{};
    // A check now waits for the user's touch.
    std::function<void()> touchNeeded{};
};

// Every check, in the order they run.
std::span<const CheckInfo> conformanceChecks();
// "CTAPHID", "getInfo", "CTAP2 errors", "U2F", "With a touch".
std::string_view familyName(CheckFamily family);
// "PASS", "FAIL", "SKIP".
std::string_view verdictName(Verdict verdict);

// Runs every check on the session's key (the touch checks only with options.touch) and
// gives one result per check of conformanceChecks(), in that order.
ConformanceReport runConformance(DeviceSession& session, const ConformanceOptions& options);

}  // namespace orvanta
