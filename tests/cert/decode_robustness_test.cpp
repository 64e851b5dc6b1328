// Damaged replies never crash the offline decoders and always end in one of their
// documented outcomes (run under the sanitizers to catch reads past a buffer).

#include <gtest/gtest.h>

#include <random>

#include "cert/fido2_fetch.h"
#include "cert/u2f_fetch.h"
#include "ctap/cbor.h"
#include "support/scripted_prompts.h"
#include "support/temp_dir.h"
#include "support/test_pki.h"

namespace orvanta::test {
namespace {

using Bytes = std::vector<uint8_t>;

// One to three random damages: a changed byte, a cut, or an inserted byte.
Bytes damage(Bytes bytes, std::mt19937& random) {
    int count = 1 + static_cast<int>(random() % 3);
    for (int i = 0; i < count && !bytes.empty(); ++i) {
        size_t at = random() % bytes.size();
        switch (random() % 4) {
            case 0:
                bytes.resize(at);
                break;
            case 1:
                bytes.insert(bytes.begin() + static_cast<ptrdiff_t>(at),
                             static_cast<uint8_t>(random()));
                break;
            default:
                bytes[at] = static_cast<uint8_t>(random());
                break;
        }
    }
    return bytes;
}

TEST(DecodeRobustness, DamagedU2fRegistrationsGiveRowsOr6666) {
    ScopedTmpdir temp;
    P256TestKey caKey{301};
    P256TestKey attestationKey{302};
    P256TestKey userKey{303};
    U2fTestRegistration reg = makeU2fRegistration(attestationKey, userKey, caKey);
    std::mt19937 random(4242);
    int shown = 0;
    for (int round = 0; round < 1500; ++round) {
        Bytes response = damage(reg.response, random);
        U2fCertPage page;
        ScriptedPrompts prompts;
        FetchOutcome outcome = showU2fRegistration(page, response, U2F_CHALLENGE_PARAMETER,
                                                   U2F_APPLICATION_PARAMETER, prompts)
                                   .outcome;
        if (outcome == FetchOutcome::Shown) {
            ++shown;
            ASSERT_TRUE(prompts.messages.empty());
            ASSERT_GE(page.rowCount(), 9);
            ASSERT_EQ(page.rows()[page.rows().size() - 2].label, "Verify Result");
            ASSERT_EQ(page.rows().back().label, "Chain Result");
            unlink(page.certificateFileName.c_str());
        } else {
            ASSERT_EQ(outcome, FetchOutcome::Failed);
            ASSERT_EQ(prompts.messages.size(), 1u);
            ASSERT_EQ(prompts.messages[0].text, "Fetch certifications failed6666!");
            ASSERT_EQ(page.rowCount(), 0);
        }
    }
    // Damage in the key handle or signature still decodes: both outcomes were exercised.
    EXPECT_GT(shown, 0);
    EXPECT_LT(shown, 1500);
}

TEST(DecodeRobustness, DamagedMakeCredentialResponsesEndInADocumentedWay) {
    ScopedTmpdir temp;
    P256TestKey caKey{311};
    P256TestKey attestationKey{312};
    CertificateRequest shape;
    Bytes certificate = makeCertificate(shape, attestationKey, caKey);
    Bytes authData(37, 0x41);
    Bytes cdh(FIDO2_CLIENT_DATA_HASH, FIDO2_CLIENT_DATA_HASH + 32);
    Bytes signedData = authData;
    signedData.insert(signedData.end(), cdh.begin(), cdh.end());
    Bytes signature = attestationKey.sign(signedData);

    Bytes buffer(4096);
    CborWriter w{buffer.data(), 0, static_cast<uint32_t>(buffer.size()), false};
    beginMap(w, 3);
    putUnsigned(w, 1);
    putText(w, "packed");
    putUnsigned(w, 2);
    putBytes(w, authData.data(), static_cast<uint32_t>(authData.size()));
    putUnsigned(w, 3);
    beginMap(w, 3);
    putText(w, "alg");
    putNegative(w, -7);
    putText(w, "sig");
    putBytes(w, signature.data(), static_cast<uint32_t>(signature.size()));
    putText(w, "x5c");
    beginArray(w, 2);
    putBytes(w, certificate.data(), static_cast<uint32_t>(certificate.size()));
    putBytes(w, certificate.data(), static_cast<uint32_t>(certificate.size()));
    ASSERT_FALSE(w.failed);
    buffer.resize(w.length);

    std::mt19937 random(777);
    int outcomes[4] = {};
    for (int round = 0; round < 1500; ++round) {
        Bytes response = damage(buffer, random);
        Fido2CertPage page;
        ScriptedPrompts prompts;
        FetchOutcome outcome =
            showMakeCredentialResult(
                page, CborSpan{response.data(), static_cast<uint32_t>(response.size())},
                FIDO2_CLIENT_DATA_HASH, prompts)
                .outcome;
        ++outcomes[static_cast<int>(outcome)];
        switch (outcome) {
            case FetchOutcome::Failed:
                ASSERT_TRUE(prompts.messages.empty());
                ASSERT_EQ(page.rowCount(), 0);
                break;
            case FetchOutcome::NoCertificate:
                ASSERT_EQ(prompts.messages.size(), 1u);
                ASSERT_EQ(prompts.messages[0].text, "No certificate information returned!");
                ASSERT_EQ(page.rowCount(), 0);
                break;
            case FetchOutcome::Shown:
                ASSERT_GE(page.rowCount(), 1);
                ASSERT_EQ(page.labelAt(0), " ");
                for (const auto& message : prompts.messages) {
                    ASSERT_EQ(message.text, "Fetch certifications failed2222!");
                }
                if (!page.certificateFileName.empty()) {
                    unlink(page.certificateFileName.c_str());
                }
                break;
            case FetchOutcome::Cancelled:
                FAIL() << "nothing was asked";
        }
    }
    EXPECT_GT(outcomes[static_cast<int>(FetchOutcome::Shown)], 0);
    EXPECT_GT(outcomes[static_cast<int>(FetchOutcome::Failed)], 0);
}

}  // namespace
}  // namespace orvanta::test
