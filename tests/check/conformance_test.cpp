// The conformance check against virtual keys: each profile that breaks one family of rules
// fails exactly that family's checks, conforming profiles fail none, a silent key is given
// up on in time, and checking changes nothing on the key.

#include "check/conformance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <string>

#include "ctap/ctap_protocol.h"
#include "support/virtual_key_fixture.h"

namespace orvanta::test {
namespace {

struct Timed {
    ConformanceReport report;
    uint32_t longestCheckMs = 0;
    uint32_t totalMs = 0;
};

Timed runChecks(DeviceSession& session, ManualClock& clock, bool touch = false) {
    Timed run;
    ConformanceOptions options;
    options.touch = touch;
    const uint32_t start = clock.tickCount();
    uint32_t last = start;
    options.progress = [&](size_t, size_t, const CheckResult&) {
        run.longestCheckMs = std::max(run.longestCheckMs, clock.tickCount() - last);
        last = clock.tickCount();
    };
    run.report = runConformance(session, options);
    run.totalMs = clock.tickCount() - start;
    return run;
}

std::set<std::string> idsWith(const ConformanceReport& report, Verdict verdict) {
    std::set<std::string> ids;
    for (const CheckResult& r : report.results) {
        if (r.verdict == verdict) {
            ids.emplace(r.check->id);
        }
    }
    return ids;
}

std::set<std::string> family(CheckFamily f) {
    std::set<std::string> ids;
    for (const CheckInfo& c : conformanceChecks()) {
        if (c.family == f) {
            ids.emplace(c.id);
        }
    }
    return ids;
}

struct ProfileCase {
    const char* profile;
    std::optional<CheckFamily> failing;  // none: every check passes
};

class ConformanceProfiles : public VirtualKeyFixture,
                            public ::testing::WithParamInterface<ProfileCase> {};

TEST_P(ConformanceProfiles, FailsExactlyTheBrokenFamilyWithTheKeysAnswer) {
    plug(GetParam().profile);
    const Timed run = runChecks(session(), clock);
    ASSERT_EQ(run.report.reach, KeyReach::Answered);
    ASSERT_EQ(run.report.results.size(), conformanceChecks().size());
    const std::set<std::string> expected =
        GetParam().failing ? family(*GetParam().failing) : std::set<std::string>{};
    EXPECT_EQ(idsWith(run.report, Verdict::Fail), expected);
    // Without --touch only the touch checks are skipped; the rest pass.
    EXPECT_EQ(idsWith(run.report, Verdict::Skip), family(CheckFamily::Touch));
    for (const CheckResult& r : run.report.results) {
        if (r.verdict == Verdict::Fail) {
            EXPECT_FALSE(r.detail.empty()) << r.check->id;  // what the key answered
        }
    }
    EXPECT_LE(run.longestCheckMs, 5000u);
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, ConformanceProfiles,
    ::testing::Values(ProfileCase{"default", std::nullopt}, ProfileCase{"full", std::nullopt},
                      ProfileCase{"pin", std::nullopt},
                      ProfileCase{"nonconform-cbor", CheckFamily::GetInfo},
                      ProfileCase{"nonconform-hid", CheckFamily::Ctaphid},
                      ProfileCase{"nonconform-u2f", CheckFamily::U2f},
                      ProfileCase{"nonconform-errors", CheckFamily::Ctap2Errors}),
    [](const auto& info) {
        std::string name = info.param.profile;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

class ConformanceRun : public VirtualKeyFixture {};

TEST_F(ConformanceRun, TouchChecksRegisterAndVerifyEachAlgorithm) {
    for (const char* profile : {"default", "full"}) {
        plug(profile);
        const Timed run = runChecks(session(), clock, true);
        EXPECT_EQ(idsWith(run.report, Verdict::Pass).size(), conformanceChecks().size()) << profile;
    }
    // full lists ES256 and EdDSA: one registration each.
    const Timed run = runChecks(session(), clock, true);
    const auto attested = std::find_if(run.report.results.begin(), run.report.results.end(),
                                       [](const CheckResult& r) { return r.check->touch; });
    ASSERT_NE(attested, run.report.results.end());
    EXPECT_EQ(attested->detail, "ES256, EdDSA attested and verified");
}

TEST_F(ConformanceRun, SilentKeyIsSkippedWithinTenSeconds) {
    plug("silent");
    const Timed run = runChecks(session(), clock);
    EXPECT_EQ(run.report.reach, KeyReach::Silent);
    EXPECT_EQ(run.report.count(Verdict::Skip), conformanceChecks().size());
    EXPECT_LT(run.totalMs, 10000u);
}

TEST_F(ConformanceRun, CheckingTwiceChangesNothingOnTheKey) {
    VirtualKey& key = plug("pin");
    const uint8_t retries = key.pinRetries();
    const VirtualKeyCounters before = key.counters();
    for (int i = 0; i < 2; ++i) {
        EXPECT_FALSE(runChecks(session(), clock).report.anyFailed());
    }
    EXPECT_TRUE(key.pinSet());
    EXPECT_EQ(key.pinRetries(), retries);
    EXPECT_EQ(key.counters().credentialsMade, before.credentialsMade);
    EXPECT_EQ(key.counters().u2fRegistrations, before.u2fRegistrations);
    // The key is still usable afterwards: nothing was left waiting.
    EXPECT_FALSE(key.waitingForTouch());
    EXPECT_TRUE(sendCbor(session(), std::vector<uint8_t>{AUTHENTICATOR_GET_INFO}).ok());
}

}  // namespace
}  // namespace orvanta::test
