#include "cert/u2f_fetch.h"

#include <gtest/gtest.h>

#include <deque>

#include "cert/certificate_pages.h"
#include "fetch_fixtures.h"
#include "page_labels.h"
#include "support/scripted_prompts.h"
#include "support/temp_dir.h"
#include "support/test_pki.h"
#include "support/transport_fixture.h"

namespace orvanta::test {
namespace {

constexpr uint8_t CTAPHID_MSG_COMMAND = 0x83;

struct Answer {
    Bytes data;
    uint16_t status;
};

Bytes extendedRegister() {
    Bytes apdu = {0x00, 0x01, 0x03, 0x00, 0x00, 0x00, 0x40};
    apdu.insert(apdu.end(), U2F_CHALLENGE_PARAMETER, U2F_CHALLENGE_PARAMETER + 32);
    apdu.insert(apdu.end(), U2F_APPLICATION_PARAMETER, U2F_APPLICATION_PARAMETER + 32);
    apdu.insert(apdu.end(), {0x00, 0x00});
    return apdu;
}

Bytes shortRegister() {
    Bytes apdu = {0x00, 0x01, 0x03, 0x00, 0x40};
    apdu.insert(apdu.end(), U2F_CHALLENGE_PARAMETER, U2F_CHALLENGE_PARAMETER + 32);
    apdu.insert(apdu.end(), U2F_APPLICATION_PARAMETER, U2F_APPLICATION_PARAMETER + 32);
    return apdu;
}

const std::vector<std::string> PROMPT_ROWS = {"Tips", " "};
const std::vector<std::string> CERTIFICATE_ROWS = {
    "Tips",       "Version",         "Serial number", "User",
    "Issuer",     "Validity period", "Public key",    "Base64 encode",
    "Extentions", "Verify Result",   "Chain Result"};

class U2fFetchTest : public ScriptedKeyFetchTest {
  protected:
    void answer(FakeDevice& d, uint8_t command, const Bytes& payload) override {
        apdus.push_back(payload);
        times.push_back(clock.tickCount());
        clock.advance(exchangeMs);
        if (command != CTAPHID_MSG_COMMAND) {
            d.reply(0xBF, {0x01});
            return;
        }
        const Answer next = script.empty() ? fallback : script.front();
        if (!script.empty()) {
            script.pop_front();
        }
        Bytes reply = next.data;
        reply.push_back(static_cast<uint8_t>(next.status >> 8));
        reply.push_back(static_cast<uint8_t>(next.status));
        d.reply(CTAPHID_MSG_COMMAND, reply);
    }
    void SetUp() override {
        ScriptedKeyFetchTest::SetUp();
        page.showU2fTips();
    }

    std::vector<std::string> pageLabels() {
        auto out = labels(page);
        // The blank prompt row is checked on its own; certificate rows follow it.
        EXPECT_GE(out.size(), 2u);
        EXPECT_EQ(out[1], " ");
        out.erase(out.begin() + 1);
        return out;
    }

    // The signature check of a shown registration, from its row just before the chain's.
    // The response carries the attestation certificate alone and no metadata names a root,
    // so its chain cannot be checked: "NO", with the reason in the tool tip.
    std::string verifyResult() {
        const std::vector<Row>& rows = page.rows();
        EXPECT_GE(rows.size(), 2u);
        if (rows.size() < 2) {
            return {};
        }
        EXPECT_EQ(rows.back().label, "Chain Result");
        EXPECT_EQ(rows.back().valueText(), "NO");
        EXPECT_FALSE(rows.back().tip.empty());
        EXPECT_EQ(rows[rows.size() - 2].label, "Verify Result");
        return rows[rows.size() - 2].valueText();
    }

    FetchOutcome fetch() { return fetchU2fCertificate(session(), page, prompts).outcome; }

    std::deque<Answer> script;
    Answer fallback{{}, 0x6985};
    uint32_t exchangeMs = 0;
    std::vector<Bytes> apdus;
    std::vector<uint32_t> times;
    U2fCertPage page;
    P256TestKey caKey{101};
    P256TestKey attestationKey{102};
    P256TestKey userKey{103};
};

TEST_F(U2fFetchTest, ThreeUntouchedAnswersThenSuccessGiveFourRegistersAndTheRows) {
    U2fTestRegistration reg = makeU2fRegistration(attestationKey, userKey, caKey);
    script = {{{}, 0x6985}, {{}, 0x6985}, {{}, 0x6985}, {reg.response, 0x9000}};

    EXPECT_EQ(fetch(), FetchOutcome::Shown);
    ASSERT_EQ(apdus.size(), 4u);
    for (const Bytes& apdu : apdus) {
        EXPECT_EQ(apdu, extendedRegister());
    }
    // Each attempt is followed by the pause, on the session's clock.
    EXPECT_EQ(times, (std::vector<uint32_t>{1000, 1200, 1400, 1600}));
    EXPECT_EQ(clock.tickCount(), 1800u);
    EXPECT_EQ(pageLabels(), CERTIFICATE_ROWS);
    EXPECT_EQ(verifyResult(), "YES");
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(prompts.questions,
              std::vector<std::string>{
                  "Double click and press button/verify fingerprint to fetch certifications!"});
    EXPECT_EQ(TempDir::read(page.certificateFileName), reg.certificate);
}

TEST_F(U2fFetchTest, ChainedResponseIsCollectedFromEveryAnswerOfTheChainInOrder) {
    U2fTestRegistration reg = makeU2fRegistration(attestationKey, userKey, caKey);
    const Bytes whole = reg.response;
    // The data that comes with the register's 61xx (ISO 7816 allows it) is the response's
    // first part; a key that sends none there gives it all through GET RESPONSE.
    for (const size_t withRegister : {size_t{100}, size_t{0}}) {
        apdus.clear();
        // Cut at withRegister, 256 bytes later, and 100 bytes before the end.
        const auto at = [&whole](size_t offset) {
            return whole.begin() + static_cast<ptrdiff_t>(offset);
        };
        ASSERT_GT(whole.size(), withRegister + 256 + 100);
        const Bytes first(whole.begin(), at(withRegister));
        const Bytes second(at(withRegister), at(withRegister + 256));
        const Bytes third(at(withRegister + 256), at(whole.size() - 100));
        const Bytes fourth(at(whole.size() - 100), whole.end());
        ASSERT_LT(fourth.size(), 256u);
        script = {{first, 0x6100},
                  {second, 0x6100},
                  {third, static_cast<uint16_t>(0x6100 | fourth.size())},
                  {fourth, 0x9000}};
        const uint32_t before = clock.tickCount();

        EXPECT_EQ(fetch(), FetchOutcome::Shown) << withRegister;
        ASSERT_EQ(apdus.size(), 4u);
        EXPECT_EQ(apdus[0], extendedRegister());
        EXPECT_EQ(apdus[1], (Bytes{0x00, 0xC0, 0x00, 0x00, 0x00}));
        EXPECT_EQ(apdus[2], (Bytes{0x00, 0xC0, 0x00, 0x00, 0x00}));
        EXPECT_EQ(apdus[3], (Bytes{0x00, 0xC0, 0x00, 0x00, static_cast<uint8_t>(fourth.size())}));
        // No pause inside the chain.
        EXPECT_EQ(clock.tickCount() - before, U2F_RETRY_PAUSE_MS);
        EXPECT_EQ(pageLabels(), CERTIFICATE_ROWS);
        EXPECT_EQ(verifyResult(), "YES") << withRegister;
    }
}

TEST_F(U2fFetchTest, WrongLengthOrNoDiagnosisSwitchesToTheShortForm) {
    for (uint16_t refusal : {uint16_t{0x6700}, uint16_t{0x6F00}}) {
        U2fTestRegistration reg = makeU2fRegistration(attestationKey, userKey, caKey);
        apdus.clear();
        times.clear();
        prompts.messages.clear();
        script = {{{}, refusal}, {{}, 0x6985}, {{}, 0x6985}, {reg.response, 0x9000}};
        uint32_t before = clock.tickCount();
        EXPECT_EQ(fetch(), FetchOutcome::Shown);
        ASSERT_EQ(apdus.size(), 4u);
        EXPECT_EQ(apdus[0], extendedRegister());
        for (size_t i = 1; i < apdus.size(); ++i) {
            EXPECT_EQ(apdus[i], shortRegister());
        }
        // The short form follows the refusal at once, then is paced like the extended one.
        EXPECT_EQ(clock.tickCount() - before, 3 * U2F_RETRY_PAUSE_MS);
        for (size_t i = 2; i < times.size(); ++i) {
            EXPECT_GE(times[i] - times[i - 1], U2F_RETRY_PAUSE_MS);
        }
        EXPECT_EQ(verifyResult(), "YES");
        EXPECT_TRUE(prompts.messages.empty());
    }
}

TEST_F(U2fFetchTest, UntouchedKeyTimesOutWith4444AfterTheFirstLateAttempt) {
    // Every attempt ends at start + n * 200: the one ending at +10000 is still in time.
    EXPECT_EQ(fetch(), FetchOutcome::Failed);
    EXPECT_EQ(apdus.size(), 52u);
    EXPECT_EQ(times.back() - times.front(), 51u * 200);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "Fetch certifications failed4444!");
    EXPECT_EQ(prompts.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(pageLabels(), std::vector<std::string>{"Tips"});
}

TEST_F(U2fFetchTest, SuccessAfterTheLimitStillCounts4444) {
    exchangeMs = 10001;  // the first answer comes too late
    U2fTestRegistration reg = makeU2fRegistration(attestationKey, userKey, caKey);
    script = {{reg.response, 0x9000}};
    EXPECT_EQ(fetch(), FetchOutcome::Failed);
    EXPECT_EQ(apdus.size(), 1u);
    EXPECT_EQ(prompts.events, std::vector<MessageEvent>{{MessageCode::U2fExtendedTimeout}});
}

TEST_F(U2fFetchTest, ShortFormThatNeverSucceedsTimesOutWith5555) {
    exchangeMs = 300;
    script = {{{}, 0x6700}};
    fallback = {{}, 0x6985};
    EXPECT_EQ(fetch(), FetchOutcome::Failed);
    // 300 + 200 pause, then short attempts of 300 after a 200 pause each, until more than
    // 10000 have passed: one request per 500 ms, not as fast as the key answers.
    ASSERT_GE(apdus.size(), 2u);
    EXPECT_EQ(apdus.size(), 1u + 20u);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "Fetch certifications failed5555!");
    EXPECT_EQ(prompts.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(pageLabels(), std::vector<std::string>{"Tips"});
}

TEST_F(U2fFetchTest, TransportFailureShows3333AfterThePause) {
    device->readFails = true;
    EXPECT_EQ(fetch(), FetchOutcome::Failed);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "Fetch certifications failed3333!");
    EXPECT_EQ(prompts.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(clock.tickCount(), 1200u);
    EXPECT_EQ(pageLabels(), std::vector<std::string>{"Tips"});
}

TEST_F(U2fFetchTest, TransportFailureDuringGetResponseShows3333) {
    script = {{{}, 0x6110}};
    device->onMessage = [this, inner = device->onMessage](FakeDevice& d, uint8_t command,
                                                          const Bytes& payload) {
        if (!apdus.empty()) {
            apdus.push_back(payload);
            d.readFails = true;  // unplugged during the chain
            return;
        }
        inner(d, command, payload);
    };
    EXPECT_EQ(fetch(), FetchOutcome::Failed);
    EXPECT_EQ(apdus.size(), 2u);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "Fetch certifications failed3333!");
}

TEST_F(U2fFetchTest, FailedExchangesInTheShortFormAreRetriedUntilTheLimit) {
    script = {{{}, 0x6700}};
    device->onMessage = [this, inner = device->onMessage](FakeDevice& d, uint8_t command,
                                                          const Bytes& payload) {
        if (apdus.empty()) {
            inner(d, command, payload);
        } else {
            apdus.push_back(payload);  // the key has gone silent: each attempt waits out
        }
    };
    uint32_t start = clock.tickCount();
    EXPECT_EQ(fetch(), FetchOutcome::Failed);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "Fetch certifications failed5555!");
    EXPECT_GT(clock.tickCount() - start, U2F_FETCH_TIMEOUT_MS);
    EXPECT_GE(apdus.size(), 4u);
}

TEST_F(U2fFetchTest, CancelOrALostKeyEndsTheShortFormAttemptsAtOnce) {
    // The key takes only the short form and is never touched; after its third attempt the
    // fetch is cancelled, or the key is lost.
    for (const bool lost : {true, false}) {  // the cancel stays: it comes last
        apdus.clear();
        prompts.messages.clear();
        prompts.events.clear();
        script = {{{}, 0x6700}};
        device->readFails = false;
        device->onMessage = [this, lost](FakeDevice& d, uint8_t command, const Bytes& payload) {
            answer(d, command, payload);
            if (apdus.size() == 3) {
                if (lost) {
                    d.readFails = true;
                } else {
                    session().requestCancel();
                }
            }
        };
        const uint32_t before = clock.tickCount();
        const FetchOutcome outcome = fetch();
        EXPECT_LE(clock.tickCount() - before, 3 * U2F_RETRY_PAUSE_MS) << lost;
        EXPECT_LE(apdus.size(), 4u) << lost;
        if (lost) {
            EXPECT_EQ(outcome, FetchOutcome::Failed);
            EXPECT_EQ(prompts.events, std::vector<MessageEvent>{{MessageCode::U2fTransportFailed}});
        } else {
            EXPECT_EQ(outcome, FetchOutcome::Cancelled);
            EXPECT_TRUE(prompts.messages.empty());
        }
        EXPECT_EQ(pageLabels(), std::vector<std::string>{"Tips"});
    }
}

TEST_F(U2fFetchTest, RefusalEndsWithoutMessageOrRows) {
    script = {{{}, 0x6D00}};
    EXPECT_EQ(fetch(), FetchOutcome::Failed);
    EXPECT_EQ(apdus.size(), 1u);
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(pageLabels(), std::vector<std::string>{"Tips"});
}

TEST_F(U2fFetchTest, UndecodableCertificateShows6666) {
    U2fTestRegistration reg = makeU2fRegistration(attestationKey, userKey, caKey);
    size_t certificateOffset = 67 + reg.keyHandleLength;
    reg.response[certificateOffset + 4] = 0x05;  // tbsCertificate is no SEQUENCE any more
    script = {{reg.response, 0x9000}};
    EXPECT_EQ(fetch(), FetchOutcome::Failed);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "Fetch certifications failed6666!");
    EXPECT_EQ(prompts.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(pageLabels(), std::vector<std::string>{"Tips"});
    EXPECT_TRUE(temp.entries().empty());
}

TEST_F(U2fFetchTest, ResponsesCutOrTooLongShow6666AndAMissingSignatureFailsItsCheck) {
    U2fTestRegistration reg = makeU2fRegistration(attestationKey, userKey, caKey);
    std::vector<Bytes> broken = {
        Bytes(reg.response.begin(), reg.response.begin() + 60),             // inside the user key
        Bytes(reg.response.begin(), reg.response.begin() + 67 + 32),        // inside the key handle
        Bytes(reg.response.begin(), reg.response.begin() + 67 + 64 + 100),  // inside the cert
    };
    Bytes longSignature = reg.response;
    longSignature.resize(reg.response.size() + 300, 0x11);
    broken.push_back(longSignature);
    for (const Bytes& response : broken) {
        prompts.messages.clear();
        script = {{response, 0x9000}};
        EXPECT_EQ(fetch(), FetchOutcome::Failed);
        ASSERT_EQ(prompts.messages.size(), 1u);
        EXPECT_EQ(prompts.messages[0].text, "Fetch certifications failed6666!");
        EXPECT_EQ(pageLabels(), std::vector<std::string>{"Tips"});
    }

    // A response that ends with its certificate: the rows, and a check that fails.
    prompts.messages.clear();
    script = {{Bytes(reg.response.begin(), reg.response.begin() + 67 + 64 + reg.certificate.size()),
               0x9000}};
    EXPECT_EQ(fetch(), FetchOutcome::Shown);
    EXPECT_TRUE(prompts.messages.empty());
    ASSERT_EQ(pageLabels(), CERTIFICATE_ROWS);
    EXPECT_EQ(verifyResult(), "NO");
}

TEST_F(U2fFetchTest, ChainsThatOutgrowTheResponseOrStallShow6666) {
    // More than 5000 bytes collected.
    script.push_back({{}, 0x6100});
    for (int i = 0; i < 20; ++i) {
        script.push_back({Bytes(256, 0x30), 0x6100});
    }
    EXPECT_EQ(fetch(), FetchOutcome::Failed);
    EXPECT_LE(apdus.size(), 21u);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "Fetch certifications failed6666!");

    // A chain that announces more and delivers nothing.
    apdus.clear();
    prompts.messages.clear();
    script = {{{}, 0x6110}};
    fallback = {{}, 0x6110};
    EXPECT_EQ(fetch(), FetchOutcome::Failed);
    EXPECT_EQ(apdus.size(), 2u);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "Fetch certifications failed6666!");
}

TEST_F(U2fFetchTest, FlippedKeyHandleOrSwappedParametersGiveNo) {
    U2fTestRegistration swapped = makeU2fRegistration(
        attestationKey, userKey, caKey, 64, U2F_APPLICATION_PARAMETER, U2F_CHALLENGE_PARAMETER);
    script = {{swapped.response, 0x9000}};
    EXPECT_EQ(fetch(), FetchOutcome::Shown);
    EXPECT_EQ(verifyResult(), "NO");

    U2fTestRegistration flipped = makeU2fRegistration(attestationKey, userKey, caKey);
    flipped.response[67 + 10] ^= 0x01;
    script = {{flipped.response, 0x9000}};
    EXPECT_EQ(fetch(), FetchOutcome::Shown);
    EXPECT_EQ(verifyResult(), "NO");
}

TEST_F(U2fFetchTest, CancelLeavesPageAndFileUntouched) {
    U2fTestRegistration reg = makeU2fRegistration(attestationKey, userKey, caKey);
    script = {{reg.response, 0x9000}};
    ASSERT_EQ(fetch(), FetchOutcome::Shown);
    auto rowsBefore = labels(page);
    std::string file = page.certificateFileName;

    prompts.okCancelDefault = false;
    EXPECT_EQ(fetch(), FetchOutcome::Cancelled);
    EXPECT_EQ(labels(page), rowsBefore);
    EXPECT_EQ(TempDir::read(file), reg.certificate);
    EXPECT_EQ(apdus.size(), 1u);
}

TEST_F(U2fFetchTest, DoubleClicksOnTheU2fPage) {
    U2fTestRegistration reg = makeU2fRegistration(attestationKey, userKey, caKey);
    script = {{reg.response, 0x9000}};
    onU2fRowDoubleClick(devices, page, 0, prompts);  // "Tips"
    ASSERT_EQ(page.rowCount(), 12);
    ASSERT_EQ(apdus.size(), 1u);
    size_t files = temp.entries().size();

    // The blank row, a field row and a click below the list do nothing.
    for (int row : {1, 2, 4, 11, 99, -1}) {
        onU2fRowDoubleClick(devices, page, row, prompts);
    }
    EXPECT_EQ(apdus.size(), 1u);
    EXPECT_EQ(temp.entries().size(), files);
    EXPECT_TRUE(prompts.openedFiles.empty());

    // "Base64 encode" exports the certificate and opens the new file.
    onU2fRowDoubleClick(devices, page, 8, prompts);
    ASSERT_EQ(prompts.openedFiles.size(), 1u);
    EXPECT_EQ(prompts.openedFiles[0], page.certificateFileName);
    EXPECT_EQ(TempDir::read(page.certificateFileName), reg.certificate);
    EXPECT_EQ(temp.entries().size(), files + 1);
}

// ---- the registration response layout ----

TEST(U2fRegistrationLayout, KeyHandleOf64PutsTheCertificateAt131) {
    Bytes response(67 + 64, 0x00);
    response[0] = 0x05;
    response[66] = 64;
    Bytes certificate = {0x30, 0x81, 0x03, 0x01, 0x02, 0x03};
    response.insert(response.end(), certificate.begin(), certificate.end());
    response.insert(response.end(), {0x30, 0x06, 0x02, 0x01, 0x01, 0x02, 0x01, 0x01});
    auto parts = parseU2fRegistration(response);
    ASSERT_TRUE(parts.has_value());
    EXPECT_EQ(parts->certificate.data() - response.data(), 131);
    EXPECT_EQ(parts->certificate.size(), 6u);
    EXPECT_EQ(parts->signature.size(), 8u);
    EXPECT_EQ(parts->keyHandle.size(), 64u);
    Bytes message = u2fSignedMessage(*parts, U2F_CHALLENGE_PARAMETER, U2F_APPLICATION_PARAMETER);
    ASSERT_EQ(message.size(), 194u);
    EXPECT_EQ(message[0], 0x00);
    EXPECT_EQ(Bytes(message.begin() + 1, message.begin() + 33),
              Bytes(U2F_APPLICATION_PARAMETER, U2F_APPLICATION_PARAMETER + 32));
    EXPECT_EQ(Bytes(message.begin() + 33, message.begin() + 65),
              Bytes(U2F_CHALLENGE_PARAMETER, U2F_CHALLENGE_PARAMETER + 32));
}

TEST(U2fRegistrationLayout, CertificateLengthIsReadInEveryForm) {
    struct Case {
        Bytes header;
        size_t content;
    };
    const Case cases[] = {{{0x30, 0x05}, 5},
                          {{0x30, 0x81, 0x90}, 0x90},
                          {{0x30, 0x82, 0x01, 0x10}, 0x110},
                          {{0x30, 0x83, 0x00, 0x01, 0x10}, 0x110},
                          {{0x30, 0x84, 0x00, 0x00, 0x01, 0x10}, 0x110}};
    for (const Case& c : cases) {
        Bytes response(67, 0x00);
        response[66] = 0;
        response.insert(response.end(), c.header.begin(), c.header.end());
        response.insert(response.end(), c.content, 0x42);
        response.insert(response.end(), {0x30, 0x00});
        auto parts = parseU2fRegistration(response);
        ASSERT_TRUE(parts.has_value()) << c.content;
        EXPECT_EQ(parts->certificate.size(), c.header.size() + c.content);
        EXPECT_EQ(parts->signature.size(), 2u);
    }
    // Indefinite length, a length beyond the response, and no SEQUENCE do not split.
    for (const Bytes& header : {Bytes{0x30, 0x80}, Bytes{0x30, 0x82, 0xFF, 0xFF},
                                Bytes{0x30, 0x85, 0, 0, 0, 0, 5}, Bytes{0x31, 0x01}}) {
        Bytes response(67, 0x00);
        response.insert(response.end(), header.begin(), header.end());
        response.insert(response.end(), 8, 0x42);
        EXPECT_FALSE(parseU2fRegistration(response).has_value());
    }
    Bytes tooLong(5001, 0x00);
    tooLong[66] = 0;
    tooLong[67] = 0x30;
    tooLong[68] = 0x82;
    tooLong[69] = 0x10;
    tooLong[70] = 0x00;
    EXPECT_FALSE(parseU2fRegistration(tooLong).has_value());
}

}  // namespace
}  // namespace orvanta::test
