// Both certificate fetches end to end against the virtual key: the refresh selects it and
// reads its PIN state, the double click runs the fetch, the key answers as a real one would.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cert/certificate_pages.h"
#include "cert/fido2_fetch.h"
#include "cert/u2f_fetch.h"
#include "common/hex_text.h"
#include "fetch_fixtures.h"
#include "info/device_refresh.h"
#include "page_labels.h"
#include "sim/attestation.h"
#include "sim/virtual_backend.h"
#include "support/scripted_prompts.h"
#include "support/temp_dir.h"

namespace orvanta::test {
namespace {

// The makeCredential requests the key received (CTAPHID_CBOR payloads starting with 0x01).
std::vector<Bytes> makeCredentialRequests(const VirtualKey& key) {
    std::vector<Bytes> out;
    for (const LoggedRequest& request : key.requestLog()) {
        if (request.command == CTAPHID_CBOR && !request.payload.empty() &&
            request.payload[0] == AUTHENTICATOR_MAKE_CREDENTIAL) {
            out.push_back(request.payload);
        }
    }
    return out;
}

std::vector<Bytes> msgRequests(const VirtualKey& key) {
    std::vector<Bytes> out;
    for (const LoggedRequest& request : key.requestLog()) {
        if (request.command == CTAPHID_MSG) {
            out.push_back(request.payload);
        }
    }
    return out;
}

// The attestation certificate comes first: its block ends with the chain and rule checks.
const std::vector<std::string> ATTESTATION_BLOCK = {
    " ",          "Version",         "Serial number", "User",
    "Issuer",     "Validity period", "Public key",    "Base64 encode",
    "Extentions", "Verify Result",   "Chain Result",  "Requirements"};
const std::vector<std::string> CA_BLOCK = {" ",          "Version",       "Serial number",
                                           "User",       "Issuer",        "Validity period",
                                           "Public key", "Base64 encode", "Chain Result"};

class VirtualKeyFetchTest : public VirtualKeyPagesTest {
  protected:
    VirtualKey& connect(const Profile& profile) {
        VirtualKey& key = plug(profile);
        refreshPages();
        key.clearLog();
        return key;
    }
    VirtualKey& connect(const std::string& name) { return connect(profileByName(name)); }
};

TEST_F(VirtualKeyFetchTest, Fido2WithoutPinSendsTheFixedRequestAndShowsTheChain) {
    VirtualKey& key = connect("default");
    ASSERT_FALSE(devices->clientPinSet());
    ASSERT_EQ(labels(fido2), std::vector<std::string>{"Tips"});

    onCertificateRowDoubleClick(*devices, fido2, 0, prompts);

    auto requests = makeCredentialRequests(key);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].size(), 171u);
    EXPECT_EQ(requests[0], buildMakeCredentialRequest(nullptr));
    EXPECT_EQ(prompts.pinRequests, 0u);

    std::vector<std::string> expected = {"Tips"};
    expected.insert(expected.end(), ATTESTATION_BLOCK.begin(), ATTESTATION_BLOCK.end());
    expected.insert(expected.end(), CA_BLOCK.begin(), CA_BLOCK.end());
    ASSERT_EQ(labels(fido2), expected);
    EXPECT_NE(fido2.valueAt(4).find("Attestation"), std::string::npos);
    EXPECT_EQ(fido2.valueAt(9), "03 02 05 20 ( USB )");
    EXPECT_EQ(fido2.valueAt(10), "YES");
    // The key's CA signed its attestation certificate, which meets the packed rules; the CA
    // certificate ends the chain with no metadata root to check it against.
    EXPECT_EQ(fido2.valueAt(11), "YES");
    EXPECT_EQ(fido2.valueAt(12), "OK");
    EXPECT_EQ(fido2.valueAt(16).find("Attestation"), std::string::npos);
    EXPECT_EQ(fido2.valueAt(fido2.rowCount() - 1), "NO");
    EXPECT_EQ(TempDir::read(fido2.certificateFileName), key.caCertificate());
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(VirtualKeyFetchTest, Fido2WithPinSendsTheTokenAuthenticatedRequest) {
    VirtualKey& key = connect("pin");
    ASSERT_TRUE(devices->clientPinSet());
    prompts.enterPin("1234");

    onCertificateRowDoubleClick(*devices, fido2, 0, prompts);

    EXPECT_EQ(prompts.pinRequests, 1u);
    auto requests = makeCredentialRequests(key);
    ASSERT_EQ(requests.size(), 1u);
    const Bytes& request = requests[0];
    ASSERT_EQ(request.size(), 191u);
    // The PIN-less request with the map header A6, then pinAuth and the protocol.
    Bytes withoutPin = buildMakeCredentialRequest(nullptr);
    EXPECT_EQ(request[1], 0xA6);
    EXPECT_TRUE(std::equal(withoutPin.begin() + 2, withoutPin.end(), request.begin() + 2));
    EXPECT_EQ(request[171], 0x08);
    EXPECT_EQ(request[172], 0x50);
    EXPECT_EQ(request[189], 0x09);
    EXPECT_EQ(request[190], 0x01);
    // The key checked pinAuth against its token: only then does it attest.
    ASSERT_EQ(fido2.rowCount(), 1 + 12 + 9);
    EXPECT_EQ(fido2.valueAt(10), "YES");
    EXPECT_EQ(key.pinRetries(), key.profile().pinRetries);
}

TEST_F(VirtualKeyFetchTest, Fido2WithWrongPinShowsOnlyTips) {
    VirtualKey& key = connect("pin");
    prompts.enterPin("9999");
    onCertificateRowDoubleClick(*devices, fido2, 0, prompts);
    EXPECT_TRUE(makeCredentialRequests(key).empty());
    EXPECT_EQ(labels(fido2), std::vector<std::string>{"Tips"});
    EXPECT_EQ(prompts.messages.size(), 1u);  // the PIN step's own message
}

TEST_F(VirtualKeyFetchTest, Fido2BadCertificateShows2222AndStillTheCaCertificate) {
    Profile profile = profileByName("default");
    profile.fault = FaultMode::BadCertificate;
    connect(profile);
    onCertificateRowDoubleClick(*devices, fido2, 0, prompts);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "Fetch certifications failed2222!");
    std::vector<std::string> expected = {"Tips", " "};
    expected.insert(expected.end(), CA_BLOCK.begin(), CA_BLOCK.end());
    EXPECT_EQ(labels(fido2), expected);
}

TEST_F(VirtualKeyFetchTest, Fido2OnAU2fOnlyKeyEndsSilently) {
    connect("u2f-only");
    onCertificateRowDoubleClick(*devices, fido2, 0, prompts);
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(labels(fido2), std::vector<std::string>{"Tips"});
}

TEST_F(VirtualKeyFetchTest, Ed25519AttestationVerifiesOnBothPages) {
    connect("eddsa");
    onCertificateRowDoubleClick(*devices, fido2, 0, prompts);
    onU2fRowDoubleClick(*devices, u2f, 0, prompts);
    EXPECT_TRUE(prompts.messages.empty());

    std::vector<std::string> expected = {"Tips"};
    expected.insert(expected.end(), ATTESTATION_BLOCK.begin(), ATTESTATION_BLOCK.end());
    expected.insert(expected.end(), CA_BLOCK.begin(), CA_BLOCK.end());
    ASSERT_EQ(labels(fido2), expected);
    // An Ed25519 key, the same in every run: it comes from a fixed seed.
    EXPECT_EQ(fido2.valueAt(7),
              "DB 62 67 73 6E 75 40 02 CB 94 B9 39 9F C1 24 15 AA 98 9D 2F 37 08 FB 08 5D 23 24 "
              "54 17 22 42 B6 ");
    EXPECT_EQ(fido2.valueAt(9), "03 02 05 20 ( USB )");
    EXPECT_EQ(fido2.valueAt(10), "YES");
    EXPECT_EQ(fido2.valueAt(11), "YES");  // an Ed25519 signature from the CA
    EXPECT_EQ(fido2.valueAt(12), "OK");
    ASSERT_EQ(u2f.rowCount(), 2 + 10);
    EXPECT_EQ(u2f.valueAt(7), fido2.valueAt(7));
    EXPECT_EQ(u2f.valueAt(10), "YES");
    EXPECT_EQ(u2f.labelAt(11), "Chain Result");
}

TEST_F(VirtualKeyFetchTest, U2fTouchedOnTheFourthAttempt) {
    Profile profile = profileByName("default");
    profile.touch = TouchPolicy::afterRequests(4);
    VirtualKey& key = connect(profile);
    uint32_t before = clock.tickCount();

    onU2fRowDoubleClick(*devices, u2f, 0, prompts);

    EXPECT_EQ(key.counters().u2fRegisterApdus, 4u);
    auto apdus = msgRequests(key);
    ASSERT_EQ(apdus.size(), 4u);
    for (const Bytes& apdu : apdus) {
        EXPECT_EQ(apdu.size(), 73u);
    }
    EXPECT_EQ(clock.tickCount() - before, 4u * 200);
    ASSERT_EQ(u2f.rowCount(), 2 + 10);
    EXPECT_EQ(u2f.labelAt(10), "Verify Result");
    EXPECT_EQ(u2f.valueAt(10), "YES");
    // The registration carries the attestation certificate alone: nothing to check it by.
    EXPECT_EQ(u2f.labelAt(11), "Chain Result");
    EXPECT_EQ(u2f.valueAt(11), "NO");
    EXPECT_EQ(TempDir::read(u2f.certificateFileName), key.attestationCertificate());
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(VirtualKeyFetchTest, U2fChainedAndShortFormKeys) {
    for (const char* name : {"u2f-chained", "u2f-short-form"}) {
        SCOPED_TRACE(name);
        VirtualKey& key = connect(name);
        prompts.messages.clear();
        onU2fRowDoubleClick(*devices, u2f, 0, prompts);
        EXPECT_TRUE(prompts.messages.empty());
        ASSERT_EQ(u2f.rowCount(), 12);
        EXPECT_EQ(u2f.valueAt(10), "YES");
        EXPECT_EQ(u2f.labelAt(11), "Chain Result");
        if (std::string(name) == "u2f-chained") {
            EXPECT_GT(key.counters().getResponseApdus, 1u);
        } else {
            auto apdus = msgRequests(key);
            ASSERT_EQ(apdus.size(), 2u);
            EXPECT_EQ(apdus[0].size(), 73u);
            EXPECT_EQ(apdus[1].size(), 69u);
        }
    }
}

TEST_F(VirtualKeyFetchTest, U2fShortFormKeyThatChainsIsRead) {
    Profile profile = profileByName("u2f-short-form");
    profile.u2fChaining = true;
    VirtualKey& key = connect(profile);
    onU2fRowDoubleClick(*devices, u2f, 0, prompts);
    EXPECT_TRUE(prompts.messages.empty());
    ASSERT_EQ(u2f.rowCount(), 12);
    EXPECT_EQ(u2f.valueAt(10), "YES");
    EXPECT_EQ(u2f.labelAt(11), "Chain Result");
    EXPECT_GT(key.counters().getResponseApdus, 1u);
}

TEST_F(VirtualKeyFetchTest, U2fNeverTouchedTimesOutWith4444) {
    Profile profile = profileByName("default");
    profile.touch = TouchPolicy::never();
    VirtualKey& key = connect(profile);
    onU2fRowDoubleClick(*devices, u2f, 0, prompts);
    EXPECT_EQ(key.counters().u2fRegisterApdus, 52u);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "Fetch certifications failed4444!");
    EXPECT_EQ(labels(u2f), (std::vector<std::string>{"Tips", " "}));
}

TEST_F(VirtualKeyFetchTest, U2fShortFormNeverTouchedTimesOutWith5555) {
    Profile profile = profileByName("u2f-short-form");
    profile.touch = TouchPolicy::never();
    profile.linkDelayMs = 5;  // every report takes time, so the short-form loop ends
    VirtualKey& key = connect(profile);
    onU2fRowDoubleClick(*devices, u2f, 0, prompts);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "Fetch certifications failed5555!");
    // At most one register request per pause while the key waits for its touch.
    EXPECT_LE(key.counters().u2fRegisterApdus, 1u + U2F_FETCH_TIMEOUT_MS / U2F_RETRY_PAUSE_MS + 1);
}

TEST_F(VirtualKeyFetchTest, U2fBadOrShortResponsesShow6666) {
    for (FaultMode fault : {FaultMode::BadCertificate, FaultMode::ShortU2fResponse}) {
        Profile profile = profileByName("default");
        profile.fault = fault;
        connect(profile);
        prompts.messages.clear();
        onU2fRowDoubleClick(*devices, u2f, 0, prompts);
        ASSERT_EQ(prompts.messages.size(), 1u);
        EXPECT_EQ(prompts.messages[0].text, "Fetch certifications failed6666!");
        EXPECT_EQ(prompts.messages[0].icon, MessageIcon::Error);
        EXPECT_EQ(labels(u2f), (std::vector<std::string>{"Tips", " "}));
    }
}

TEST_F(VirtualKeyFetchTest, U2fOnAKeyWithoutU2fEndsSilently) {
    connect("ctap2-only");
    onU2fRowDoubleClick(*devices, u2f, 0, prompts);
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(labels(u2f), (std::vector<std::string>{"Tips", " "}));
}

TEST_F(VirtualKeyFetchTest, U2fUnpluggedKeyShows3333) {
    connect("default");
    // The key goes away after the refresh: the session's handle fails every exchange.
    auto* virtualBackend = dynamic_cast<VirtualBackend*>(backend.get());
    ASSERT_NE(virtualBackend, nullptr);
    ASSERT_TRUE(virtualBackend->removeDevice(0));
    onU2fRowDoubleClick(*devices, u2f, 0, prompts);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "Fetch certifications failed3333!");

    // Once an enumeration has found no key, the session has none and fails the same way.
    devices->enumerate();
    ASSERT_FALSE(session().present());
    prompts.messages.clear();
    onU2fRowDoubleClick(*devices, u2f, 0, prompts);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "Fetch certifications failed3333!");
}

TEST_F(VirtualKeyFetchTest, ExportsWriteOneFileEachAndAClearDeletesThemAll) {
    connect("default");
    onU2fRowDoubleClick(*devices, u2f, 0, prompts);
    ASSERT_EQ(u2f.labelAt(8), "Base64 encode");
    const std::string shown = u2f.certificateFileName;

    onU2fRowDoubleClick(*devices, u2f, 8, prompts);
    onU2fRowDoubleClick(*devices, u2f, 8, prompts);
    ASSERT_EQ(prompts.openedFiles.size(), 2u);
    EXPECT_NE(prompts.openedFiles[0], prompts.openedFiles[1]);
    EXPECT_EQ(temp.entries().size(), 3u);  // the shown copy and two exports
    for (const std::string& file : prompts.openedFiles) {
        EXPECT_EQ(file.rfind(temp.path() + "/f1d0", 0), 0u) << file;
        EXPECT_EQ(file.substr(file.size() - 4), ".cer");
    }

    u2f.clearCertificatePage();
    EXPECT_TRUE(temp.entries().empty());
}

// The virtual key's attestation material comes from fixed seeds through its generator, key
// derivation, RFC 6979 signatures and certificate writer: any change in one of them shows
// here as other certificate bytes (and on every page that shows them).
TEST(VirtualAttestationBytes, CertificatesAreTheRecordedOnes) {
    const struct {
        const char* profile;
        const char* attestation;
        const char* root;
    } cases[] = {
        {"default", "881EBFEA977B8046AD6FCCACBAFED0DA4141ACC672A5A287A32CEECAFAC651C7",
         "E9CF82E50E9F7A480202033D04C92E14838A877FF79A9C46052565FB71A7EE8D"},
        {"eddsa", "95264765F2D5C849F9581F8A4A5C9D2A262005D982359A7D4B1ACE8E8426C9FF",
         "ED42DE157BD574CDB450EE8B697BD6D16AE03B6163A315B14438B55C4BCAB488"},
    };
    for (const auto& c : cases) {
        const VirtualAttestation& material =
            VirtualAttestation::forProfile(profileByName(c.profile));
        EXPECT_EQ(hexText(sha256Of(material.certificate())), c.attestation) << c.profile;
        EXPECT_EQ(hexText(sha256Of(material.caCertificate())), c.root) << c.profile;
    }
}

}  // namespace
}  // namespace orvanta::test
