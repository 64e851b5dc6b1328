// Every fault mode of the virtual key, end to end: a refresh of the hardware page and both
// certificate fetches end within a bounded time on the manual clock, each with what the
// fault allows (the normal result when the fault does not touch that path, a clean
// failure otherwise), the pages keep their shape, and the key works again once the fault
// is gone.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "cert/certificate_pages.h"
#include "cert/fido2_fetch.h"
#include "cert/u2f_fetch.h"
#include "fetch_fixtures.h"
#include "info/device_refresh.h"
#include "page_labels.h"
#include "support/scripted_prompts.h"
#include "support/temp_dir.h"
#include "transport/hid_link.h"

namespace orvanta::test {
namespace {

// A refresh makes about a dozen exchanges, each waiting at most REPORT_WAIT_MS for a
// report that never comes; a fetch makes at most four (SELECT, two PIN steps, the
// registration); the U2F retry loop ends 10 s after its start, after one last exchange.
// One bounded wait: a refresh gives up after its first exchange fails.
constexpr uint32_t REFRESH_BOUND_MS = QUICK_EXCHANGE_LIMIT_MS + REPORT_WAIT_MS;
constexpr uint32_t FIDO2_BOUND_MS = 4 * (REPORT_WAIT_MS + 100);
constexpr uint32_t U2F_BOUND_MS = U2F_FETCH_TIMEOUT_MS + U2F_RETRY_PAUSE_MS + REPORT_WAIT_MS + 500;

const std::set<std::string> HARDWARE_LABELS = {"Device name",
                                               "VID",
                                               "PID",
                                               "Firmware Version",
                                               "IDentify",
                                               "Fingerprint Module Version",
                                               "    ",
                                               "Win Hello Version",
                                               "OTP Version",
                                               "PIV Version",
                                               "GIDS",
                                               "NDEF",
                                               "U2F Version",
                                               "authenticatorGetInfo",
                                               " ",
                                               "PIN retries",
                                               "CTAPHID protocol",
                                               "Device version",
                                               "Capabilities"};
const std::set<std::string> CERTIFICATE_LABELS = {
    "Tips",       "Version",         "Serial number", "User",
    "Issuer",     "Validity period", "Public key",    "Base64 encode",
    "Extentions", "Verify Result",   "Chain Result",  "Requirements",
    " "};

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

// What a fault lets each operation end with.
struct Expectation {
    FaultMode fault;
    bool getInfoRows;              // the refresh shows the authenticatorGetInfo block
    bool vendorRows;               // the refresh shows the applet versions
    std::set<FetchOutcome> fido2;  // with the PIN entered correctly
    std::set<FetchOutcome> u2f;
    const char* u2fMessage;  // the U2F fetch's message, or null for none
};

const Expectation EXPECTATIONS[] = {
    {FaultMode::None, true, true, {FetchOutcome::Shown}, {FetchOutcome::Shown}, nullptr},
    // No reply at all: nothing but the key's identity, and both fetches fail.
    {FaultMode::Silence,
     false,
     false,
     {FetchOutcome::Failed},
     {FetchOutcome::Failed},
     U2F_TRANSPORT_FAILED_MESSAGE},
    // A reply longer than the reply buffer fails the exchange.
    {FaultMode::OversizedBcnt,
     false,
     false,
     {FetchOutcome::Failed},
     {FetchOutcome::Failed},
     U2F_TRANSPORT_FAILED_MESSAGE},
    // Replies on another channel are skipped until the wait ends.
    {FaultMode::WrongChannel,
     false,
     false,
     {FetchOutcome::Failed},
     {FetchOutcome::Failed},
     U2F_TRANSPORT_FAILED_MESSAGE},
    // Broken CBOR replies: getInfo shows what it can, the registration shows nothing.
    {FaultMode::TruncatedCbor, true, true, {FetchOutcome::Failed}, {FetchOutcome::Shown}, nullptr},
    {FaultMode::MalformedCbor, true, true, {FetchOutcome::Failed}, {FetchOutcome::Shown}, nullptr},
    // 16 bytes of a 32-byte pinToken: taken as sent, so the key refuses the pinAuth.
    {FaultMode::ShortPinToken, true, true, {FetchOutcome::Failed}, {FetchOutcome::Shown}, nullptr},
    // A registration response that stops inside its certificate cannot be split.
    {FaultMode::ShortU2fResponse,
     true,
     true,
     {FetchOutcome::Shown},
     {FetchOutcome::Failed},
     U2F_BAD_RESPONSE_MESSAGE},
    // An attestation certificate that does not decode: its message is shown, the issuing
    // CA certificate of the chain still shows (FIDO2); the U2F response has no other.
    {FaultMode::BadCertificate,
     true,
     true,
     {FetchOutcome::Shown},
     {FetchOutcome::Failed},
     U2F_BAD_RESPONSE_MESSAGE},
    // Keepalives and never an answer: no query that awaits no touch waits it out.
    {FaultMode::EndlessKeepalive,
     false,
     false,
     {FetchOutcome::Failed},
     {FetchOutcome::Failed},
     U2F_TRANSPORT_FAILED_MESSAGE},
    // Every request refused as busy: no rows, and both fetches fail without waiting.
    {FaultMode::ChannelBusy,
     false,
     false,
     {FetchOutcome::Failed},
     {FetchOutcome::Failed},
     U2F_TRANSPORT_FAILED_MESSAGE},
    // The PIN steps refused as busy: only the FIDO2 fetch fails.
    {FaultMode::ClientPinBusy, true, true, {FetchOutcome::Failed}, {FetchOutcome::Shown}, nullptr},
};

class FaultInjection : public VirtualKeyPagesTest,
                       public ::testing::WithParamInterface<Expectation> {
  protected:
    // The refresh as the window runs it; returns its clock time.
    uint32_t refresh() {
        const uint32_t start = clock.tickCount();
        refreshPages();
        return clock.tickCount() - start;
    }

    void expectHardwarePageShape(const VirtualKey& key) {
        ASSERT_GE(hardware.rowCount(), 5);
        EXPECT_EQ(hardware.labelAt(0), "Device name");
        EXPECT_EQ(hardware.valueAt(0), key.profile().productString);
        EXPECT_EQ(hardware.labelAt(1), "VID");
        EXPECT_EQ(hardware.valueAt(1), "1209");
        EXPECT_EQ(hardware.labelAt(2), "PID");
        EXPECT_EQ(hardware.labelAt(3), "Firmware Version");
        for (const Row& row : hardware.rows()) {
            EXPECT_TRUE(HARDWARE_LABELS.count(row.label)) << row.label;
        }
    }

    // A certification page: "Tips" first, then blocks of certificate rows, each starting
    // with the separator " " (after the U2F page's own blank row), and the remembered file
    // holds a certificate when rows were shown.
    void expectCertificatePageShape(const CertificatePage& page) {
        ASSERT_GE(page.rowCount(), 1);
        EXPECT_EQ(page.labelAt(0), "Tips");
        for (const Row& row : page.rows()) {
            EXPECT_TRUE(CERTIFICATE_LABELS.count(row.label)) << row.label;
        }
        if (contains(labels(page), "Base64 encode")) {
            EXPECT_FALSE(TempDir::read(page.certificateFileName).empty());
        }
    }
};

TEST_P(FaultInjection, RefreshAndBothFetchesEndInBoundedTimeWithTheirOutcome) {
    const Expectation& e = GetParam();
    // A key with a PIN, so the FIDO2 fetch runs the PIN steps too.
    Profile profile = profileByName("pin");
    VirtualKey& key = plug(profile);
    key.setFault(e.fault);

    const uint32_t refreshMs = refresh();
    EXPECT_LE(refreshMs, REFRESH_BOUND_MS);
    expectHardwarePageShape(key);
    const std::vector<std::string> hardwareLabels = labels(hardware);
    EXPECT_EQ(contains(hardwareLabels, "authenticatorGetInfo"), e.getInfoRows);
    EXPECT_EQ(contains(hardwareLabels, "U2F Version"), e.vendorRows);
    EXPECT_EQ(labels(fido2), std::vector<std::string>{"Tips"});
    EXPECT_EQ(labels(u2f), (std::vector<std::string>{"Tips", " "}));

    // The FIDO2 fetch, with the PIN the key expects (asked only when getInfo said so).
    prompts.enterPin(profile.pin);
    uint32_t start = clock.tickCount();
    const FetchOutcome fido2Outcome =
        fetchFido2Certificates(session(), true, fido2, prompts).outcome;
    EXPECT_LE(clock.tickCount() - start, FIDO2_BOUND_MS);
    EXPECT_TRUE(e.fido2.count(fido2Outcome)) << "FIDO2 outcome " << static_cast<int>(fido2Outcome);
    expectCertificatePageShape(fido2);
    EXPECT_EQ(fido2Outcome == FetchOutcome::Shown, fido2.rowCount() > 1);

    // The U2F fetch.
    prompts.messages.clear();
    start = clock.tickCount();
    const FetchOutcome u2fOutcome = fetchU2fCertificate(session(), u2f, prompts).outcome;
    EXPECT_LE(clock.tickCount() - start, U2F_BOUND_MS);
    EXPECT_TRUE(e.u2f.count(u2fOutcome)) << "U2F outcome " << static_cast<int>(u2fOutcome);
    expectCertificatePageShape(u2f);
    EXPECT_EQ(u2f.labelAt(1), " ");
    EXPECT_EQ(u2fOutcome == FetchOutcome::Shown, u2f.rowCount() > 2);
    if (e.u2fMessage != nullptr) {
        ASSERT_FALSE(prompts.messages.empty());
        EXPECT_EQ(prompts.messages.back().text, e.u2fMessage);
    }

    // With the fault gone the same key answers in full again: no state was left broken.
    key.setFault(FaultMode::None);
    refresh();
    EXPECT_TRUE(contains(labels(hardware), "authenticatorGetInfo"));
    EXPECT_TRUE(contains(labels(hardware), "U2F Version"));
    EXPECT_TRUE(devices->clientPinSet());
    prompts.enterPin(profile.pin);
    EXPECT_EQ(fetchFido2Certificates(session(), true, fido2, prompts).outcome, FetchOutcome::Shown);
    EXPECT_EQ(fetchU2fCertificate(session(), u2f, prompts).outcome, FetchOutcome::Shown);
}

std::string faultName(const ::testing::TestParamInfo<Expectation>& info) {
    std::string name = faultModeName(info.param.fault);
    name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
    return name;
}

INSTANTIATE_TEST_SUITE_P(EveryFaultMode, FaultInjection, ::testing::ValuesIn(EXPECTATIONS),
                         faultName);

TEST(FaultInjectionCoverage, EveryFaultModeHasAnExpectation) {
    std::set<FaultMode> covered;
    for (const Expectation& e : EXPECTATIONS) {
        covered.insert(e.fault);
    }
    // FaultMode runs from None to ClientPinBusy without gaps.
    EXPECT_EQ(covered.size(), static_cast<size_t>(FaultMode::ClientPinBusy) + 1);
}

}  // namespace
}  // namespace orvanta::test
