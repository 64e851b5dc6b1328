#include "cert/fido2_fetch.h"

#include <gtest/gtest.h>

#include "cert/certificate_pages.h"
#include "ctap/cbor.h"
#include "fetch_fixtures.h"
#include "page_labels.h"
#include "support/scripted_prompts.h"
#include "support/temp_dir.h"
#include "support/test_pki.h"
#include "support/transport_fixture.h"

namespace orvanta::test {
namespace {

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

const Bytes CLIENT_DATA_HASH(FIDO2_CLIENT_DATA_HASH, FIDO2_CLIENT_DATA_HASH + 32);
const Bytes USER_ID(FIDO2_TEST_USER_ID, FIDO2_TEST_USER_ID + 32);

// The request laid out piece by piece as the authenticator is to receive it.
Bytes expectedRequestBody() {
    return concat({
        {0x01, 0x58, 0x20},
        CLIENT_DATA_HASH,
        {0x02, 0xA2, 0x62},
        text("id"),
        {0x67},
        text("tessmar"),
        {0x64},
        text("name"),
        {0x67},
        text("tessmar"),
        {0x03, 0xA3, 0x62},
        text("id"),
        {0x58, 0x20},
        USER_ID,
        {0x64},
        text("name"),
        {0x71},
        text("test@orvanta.test"),
        {0x6B},
        text("displayName"),
        {0x69},
        text("Test Ctap"),
        {0x04, 0x81, 0xA2, 0x63},
        text("alg"),
        {0x26, 0x64},
        text("type"),
        {0x6A},
        text("public-key"),
    });
}

TEST(MakeCredentialRequest, WithoutPinIsTheFixed171Bytes) {
    Bytes expected = concat({{0x01, 0xA4}, expectedRequestBody()});
    ASSERT_EQ(expected.size(), 171u);
    EXPECT_EQ(buildMakeCredentialRequest(nullptr), expected);
}

TEST(MakeCredentialRequest, WithPinAuthIs191BytesEndingWithPinAuthAndProtocol) {
    uint8_t pinAuth[16];
    for (int i = 0; i < 16; ++i) {
        pinAuth[i] = static_cast<uint8_t>(0xC0 + i);
    }
    Bytes expected = concat({{0x01, 0xA6},
                             expectedRequestBody(),
                             {0x08, 0x50},
                             Bytes(pinAuth, pinAuth + 16),
                             {0x09, 0x01}});
    ASSERT_EQ(expected.size(), 191u);
    EXPECT_EQ(buildMakeCredentialRequest(pinAuth), expected);
}

// A makeCredential response in CBOR: {1: fmt, 2: authData, 3: attStmt}.
struct Attestation {
    std::optional<Bytes> authData;
    std::optional<Bytes> sig;
    std::optional<std::vector<Bytes>> x5c;
    int32_t alg = -7;
};

Bytes makeCredentialResponse(const Attestation& a) {
    Bytes buffer(16384);
    CborWriter w{buffer.data(), 0, static_cast<uint32_t>(buffer.size()), false};
    beginMap(w, a.authData ? 3 : 2);
    putUnsigned(w, 1);
    putText(w, "packed");
    if (a.authData) {
        putUnsigned(w, 2);
        putBytes(w, a.authData->data(), static_cast<uint32_t>(a.authData->size()));
    }
    putUnsigned(w, 3);
    beginMap(w, 1 + (a.sig ? 1 : 0) + (a.x5c ? 1 : 0));
    putText(w, "alg");
    putNegative(w, a.alg);
    if (a.sig) {
        putText(w, "sig");
        putBytes(w, a.sig->data(), static_cast<uint32_t>(a.sig->size()));
    }
    if (a.x5c) {
        putText(w, "x5c");
        beginArray(w, static_cast<uint32_t>(a.x5c->size()));
        for (const Bytes& certificate : *a.x5c) {
            putBytes(w, certificate.data(), static_cast<uint32_t>(certificate.size()));
        }
    }
    EXPECT_FALSE(w.failed);
    buffer.resize(w.length);
    return buffer;
}

// Every decoded certificate ends with whether the next certificate of x5c signed it.
const std::vector<std::string> ATTESTATION_BLOCK = {
    " ",          "Version",         "Serial number", "User",
    "Issuer",     "Validity period", "Public key",    "Base64 encode",
    "Extentions", "Verify Result",   "Chain Result"};
const std::vector<std::string> CA_BLOCK = {" ",          "Version",       "Serial number",
                                           "User",       "Issuer",        "Validity period",
                                           "Public key", "Base64 encode", "Chain Result"};
// After the first certificate's block: the rules of packed attestation.
const std::vector<std::string> REQUIREMENTS = {"Requirements"};

std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (const auto& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

class Fido2FetchTest : public ScriptedKeyFetchTest {
  protected:
    void answer(FakeDevice& d, uint8_t command, const Bytes& payload) override {
        requests.emplace_back(command, payload);
        if (payload.size() == 13 && payload[0] == 0x00 && payload[1] == 0xA4) {
            d.reply(command, {0x90, 0x00});
            return;
        }
        Bytes reply(1 + response.size(), status);
        std::copy(response.begin(), response.end(), reply.begin() + 1);
        d.reply(command, reply);
    }
    void SetUp() override {
        ScriptedKeyFetchTest::SetUp();
        page.showFido2Tips();

        CertificateRequest attestationShape;
        attestationShape.transports = Bytes{0x03, 0x02, 0x04, 0x30};
        attestationCertificate = makeCertificate(attestationShape, attestationKey, caKey);
        CertificateRequest caShape;
        caShape.subject = {{"C", "US"}, {"O", "Orvanta Test"}, {"CN", "Orvanta Test Root"}};
        caCertificate = makeCertificate(caShape, caKey, caKey);
        authData = Bytes(37, 0x00);
        authData[32] = 0x41;  // UP and AT flags
        signature = attestationKey.sign(concat({authData, CLIENT_DATA_HASH}));
    }
    FetchOutcome fetch() {
        return fetchFido2Certificates(session(), clientPinSet, page, prompts).outcome;
    }

    // Whether the key reported a client PIN, as the fetch is told.
    bool clientPinSet = false;
    std::vector<std::pair<uint8_t, Bytes>> requests;
    uint8_t status = 0x00;
    Bytes response;
    Fido2CertPage page;
    P256TestKey caKey{201};
    P256TestKey attestationKey{202};
    Bytes attestationCertificate;
    Bytes caCertificate;
    Bytes authData;
    Bytes signature;
};

TEST_F(Fido2FetchTest, TwoCertificateChainShowsTheCheckOnlyUnderTheAttestationCertificate) {
    response = makeCredentialResponse(
        {authData, signature, std::vector<Bytes>{attestationCertificate, caCertificate}});
    EXPECT_EQ(fetch(), FetchOutcome::Shown);

    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].first, CTAPHID_CBOR);
    EXPECT_EQ(requests[0].second, Bytes({0x00, 0xA4, 0x04, 0x00, 0x08, 0xA0, 0x00, 0x00, 0x06, 0x47,
                                         0x2F, 0x00, 0x01}));
    EXPECT_EQ(requests[1].first, CTAPHID_CBOR);
    EXPECT_EQ(requests[1].second.size(), 171u);
    EXPECT_EQ(requests[1].second, buildMakeCredentialRequest(nullptr));

    EXPECT_EQ(labels(page), join({{"Tips"}, ATTESTATION_BLOCK, REQUIREMENTS, CA_BLOCK}));
    EXPECT_EQ(page.rows()[10].valueText(), "YES");
    EXPECT_EQ(page.rows()[9].valueText(), "03 02 04 30 ( USB, NFC )");
    // The CA signed the attestation certificate; the attestation certificate meets the rules.
    EXPECT_EQ(page.rows()[11].valueText(), "YES");
    EXPECT_TRUE(page.rows()[11].tip.empty());
    EXPECT_EQ(page.rows()[12].valueText(), "OK");
    EXPECT_EQ(page.rows()[16].valueText(), "US, Orvanta Test, Orvanta Test Root");
    // Without metadata nothing vouches for the root: its chain cannot hold, and says why.
    EXPECT_EQ(page.rows().back().valueText(), "NO");
    EXPECT_FALSE(page.rows().back().tip.empty());
    // The page remembers the file of the last certificate.
    EXPECT_EQ(TempDir::read(page.certificateFileName), caCertificate);
    EXPECT_EQ(prompts.touchNotices, 1u);
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(Fido2FetchTest, OnlyTheFirstThreeCertificatesAreShown) {
    response = makeCredentialResponse(
        {authData, signature,
         std::vector<Bytes>{caCertificate, caCertificate, attestationCertificate,
                            attestationCertificate}});
    EXPECT_EQ(fetch(), FetchOutcome::Shown);
    EXPECT_EQ(labels(page), join({{"Tips"}, CA_BLOCK, REQUIREMENTS, CA_BLOCK, ATTESTATION_BLOCK}));
    // x5c's order counts: the root signed its copy, the attestation key signed neither the
    // root nor the attestation certificate, and a CA certificate first breaks the rules.
    EXPECT_EQ(page.rows()[9].valueText(), "YES");
    EXPECT_EQ(page.rows()[10].valueText().rfind("Not met: ", 0), 0u);
    EXPECT_EQ(page.rows()[19].valueText(), "NO");
    EXPECT_EQ(page.rows().back().valueText(), "NO");
}

TEST_F(Fido2FetchTest, SelfAttestationSaysNoCertificateInformation) {
    response = makeCredentialResponse({authData, signature, std::nullopt});
    EXPECT_EQ(fetch(), FetchOutcome::NoCertificate);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "No certificate information returned!");
    EXPECT_EQ(prompts.messages[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(labels(page), std::vector<std::string>{"Tips"});

    // An x5c that holds no certificate says the same.
    prompts.messages.clear();
    response = makeCredentialResponse({authData, signature, std::vector<Bytes>{}});
    EXPECT_EQ(fetch(), FetchOutcome::NoCertificate);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "No certificate information returned!");
}

TEST_F(Fido2FetchTest, MissingOrEmptyAuthDataOrSignatureEndSilently) {
    const Attestation broken[] = {
        {std::nullopt, signature, std::vector<Bytes>{attestationCertificate}},
        {Bytes{}, signature, std::vector<Bytes>{attestationCertificate}},
        {authData, std::nullopt, std::vector<Bytes>{attestationCertificate}},
        {authData, Bytes{}, std::vector<Bytes>{attestationCertificate}},
    };
    for (const Attestation& a : broken) {
        response = makeCredentialResponse(a);
        EXPECT_EQ(fetch(), FetchOutcome::Failed);
        EXPECT_TRUE(prompts.messages.empty());
        EXPECT_EQ(labels(page), std::vector<std::string>{"Tips"});
    }
    // Truncated CBOR reads as missing fields, never past the reply.
    Bytes full =
        makeCredentialResponse({authData, signature, std::vector<Bytes>{attestationCertificate}});
    response.assign(full.begin(), full.begin() + 30);
    EXPECT_EQ(fetch(), FetchOutcome::Failed);
    EXPECT_EQ(labels(page), std::vector<std::string>{"Tips"});
}

TEST_F(Fido2FetchTest, ErrorStatusEndsSilently) {
    status = 0x27;  // operation denied
    response =
        makeCredentialResponse({authData, signature, std::vector<Bytes>{attestationCertificate}});
    const FetchResult result = fetchFido2Certificates(session(), clientPinSet, page, prompts);
    EXPECT_EQ(result.outcome, FetchOutcome::Failed);
    EXPECT_EQ(result.why.kind, ErrorKind::CtapStatus);
    EXPECT_EQ(result.why.code, 0x27);
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(labels(page), std::vector<std::string>{"Tips"});
}

TEST_F(Fido2FetchTest, UndecodableCertificateShows2222AndTheNextOneFollows) {
    Bytes junk = {0x30, 0x03, 0x02, 0x01, 0x07};
    response = makeCredentialResponse(
        {authData, signature, std::vector<Bytes>{junk, attestationCertificate}});
    EXPECT_EQ(fetch(), FetchOutcome::Shown);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "Fetch certifications failed2222!");
    EXPECT_EQ(prompts.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(labels(page), join({{"Tips", " "}, ATTESTATION_BLOCK}));
    EXPECT_EQ(page.rows()[page.rows().size() - 2].valueText(), "YES");
    EXPECT_EQ(page.rows().back().valueText(), "NO");  // the last of x5c, and no root to check it
}

TEST_F(Fido2FetchTest, LongAuthDataIsSignedDataAllTheSame) {
    authData.resize(1200, 0xEE);  // extensions make authData long
    signature = attestationKey.sign(concat({authData, CLIENT_DATA_HASH}));
    response =
        makeCredentialResponse({authData, signature, std::vector<Bytes>{attestationCertificate}});
    EXPECT_EQ(fetch(), FetchOutcome::Shown);
    const std::vector<Row>& rows = page.rows();
    ASSERT_GE(rows.size(), 3u);
    EXPECT_EQ(rows[rows.size() - 3].label, "Verify Result");
    EXPECT_EQ(rows[rows.size() - 3].valueText(), "YES");
    EXPECT_EQ(rows[rows.size() - 2].label, "Chain Result");
    EXPECT_EQ(rows.back().label, "Requirements");
    EXPECT_EQ(rows.back().valueText(), "OK");
}

TEST_F(Fido2FetchTest, Rs256AndEdDsaAttestationsVerifyByTheirAlg) {
    const LibcryptoKey rsa = LibcryptoKey::rsa2048();
    const LibcryptoKey ed25519 = LibcryptoKey::ed25519(42);
    const Bytes signedData = concat({authData, CLIENT_DATA_HASH});
    const std::pair<const LibcryptoKey*, int32_t> cases[] = {{&rsa, -257}, {&ed25519, -8}};
    for (const auto& [key, alg] : cases) {
        SCOPED_TRACE(alg);
        HandmadeCertificate handmade;
        handmade.subjectPublicKeyInfo = key->subjectPublicKeyInfo();
        const Bytes certificate = assemble(handmade);
        Bytes sig = key->sign(signedData);
        auto verifyResult = [&](int32_t statedAlg) {
            Fido2CertPage shown;
            const Bytes reply =
                makeCredentialResponse({authData, sig, std::vector<Bytes>{certificate}, statedAlg});
            EXPECT_EQ(showMakeCredentialResult(
                          shown, CborSpan{reply.data(), static_cast<uint32_t>(reply.size())},
                          FIDO2_CLIENT_DATA_HASH, prompts)
                          .outcome,
                      FetchOutcome::Shown);
            const std::vector<Row>& rows = shown.rows();
            EXPECT_GE(rows.size(), 3u);
            EXPECT_EQ(rows[rows.size() - 2].label, "Chain Result");
            EXPECT_EQ(rows.back().label, "Requirements");
            EXPECT_EQ(rows[rows.size() - 3].label, "Verify Result");
            return rows[rows.size() - 3].valueText();
        };
        EXPECT_EQ(verifyResult(alg), "YES");
        EXPECT_EQ(verifyResult(-7), "NO");  // the statement names another algorithm
        sig[10] ^= 0x01;
        EXPECT_EQ(verifyResult(alg), "NO");
    }
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(Fido2FetchTest, CancelLeavesTheRowsAndSendsNothing) {
    response =
        makeCredentialResponse({authData, signature, std::vector<Bytes>{attestationCertificate}});
    ASSERT_EQ(fetch(), FetchOutcome::Shown);
    auto before = labels(page);
    requests.clear();
    prompts.okCancelDefault = false;
    EXPECT_EQ(fetch(), FetchOutcome::Cancelled);
    EXPECT_EQ(labels(page), before);
    EXPECT_TRUE(requests.empty());
}

TEST_F(Fido2FetchTest, CancelledPinLeavesOnlyTheTipsRow) {
    clientPinSet = true;
    response =
        makeCredentialResponse({authData, signature, std::vector<Bytes>{attestationCertificate}});
    EXPECT_EQ(fetch(), FetchOutcome::Cancelled);  // a PIN not given cancels the fetch
    EXPECT_EQ(prompts.pinRequests, 1u);
    EXPECT_EQ(labels(page), std::vector<std::string>{"Tips"});
    // Only the SELECT went out: no registration without a token.
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].second.size(), 13u);
}

TEST_F(Fido2FetchTest, DoubleClicksOnTheFido2Page) {
    response = makeCredentialResponse(
        {authData, signature,
         std::vector<Bytes>{attestationCertificate, caCertificate, attestationCertificate}});
    onCertificateRowDoubleClick(devices, page, 0, prompts);
    ASSERT_EQ(page.rowCount(), 1 + (11 + 1) + 9 + 11);
    size_t files = temp.entries().size();
    requests.clear();

    // Field rows, separator rows and clicks outside the list do nothing.
    for (int row : {1, 2, 3, 9, 10, 11, 12, 13, 21, -1, 500}) {
        onCertificateRowDoubleClick(devices, page, row, prompts);
    }
    EXPECT_TRUE(requests.empty());
    EXPECT_TRUE(prompts.openedFiles.empty());
    EXPECT_EQ(temp.entries().size(), files);

    // The second certificate's "Base64 encode" row writes and opens the second certificate.
    int row = 13 + 7;
    ASSERT_EQ(page.labelAt(row), "Base64 encode");
    onCertificateRowDoubleClick(devices, page, row, prompts);
    ASSERT_EQ(prompts.openedFiles.size(), 1u);
    EXPECT_EQ(TempDir::read(prompts.openedFiles[0]), caCertificate);
    EXPECT_EQ(page.certificateFileName, prompts.openedFiles[0]);
}

}  // namespace
}  // namespace orvanta::test
