// libfido2 as an independent client of the virtual key: it reaches the key through its
// custom I/O hooks (no hidraw), so its parser and its verifier judge what the key sends.

#include <fido.h>
#include <fido/es256.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "sim/virtual_backend.h"
#include "transport/clock.h"

namespace orvanta {
namespace {

VirtualBackend* g_backend = nullptr;

void* ioOpen(const char* path) {
    return g_backend->open(path, nullptr).release();
}

void ioClose(void* handle) {
    delete static_cast<HidHandle*>(handle);
}

// libfido2 reads the 64-byte packet without the report ID byte.
int ioRead(void* handle, unsigned char* buffer, size_t length, int ms) {
    uint8_t report[65];
    const uint32_t timeout = ms < 0 ? 30000u : static_cast<uint32_t>(ms);
    const int n = static_cast<HidHandle*>(handle)->read(report, sizeof(report), timeout);
    if (n != 65 || length < 64) {
        return -1;
    }
    std::memcpy(buffer, report + 1, 64);
    return 64;
}

// ...and writes it with the report ID byte first.
int ioWrite(void* handle, const unsigned char* buffer, size_t length) {
    return static_cast<HidHandle*>(handle)->write(buffer, length);
}

const unsigned char CLIENT_DATA_HASH[32] = {
    0x68, 0x71, 0x34, 0x96, 0x82, 0x22, 0xEC, 0x17, 0x20, 0x2E, 0x42, 0x50, 0x5F, 0x8E, 0xD2, 0xB1,
    0x6A, 0xE2, 0x2F, 0x16, 0xBB, 0x05, 0xB8, 0x8C, 0x25, 0xDB, 0x9E, 0x60, 0x26, 0x45, 0xF1, 0x41};
const unsigned char USER_ID[4] = {1, 2, 3, 4};

class PeerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { fido_init(0); }

    void SetUp() override { g_backend = &backend; }
    void TearDown() override {
        if (dev != nullptr) {
            fido_dev_close(dev);
            fido_dev_free(&dev);
        }
        g_backend = nullptr;
    }

    VirtualKey& plug(const Profile& profile) {
        VirtualKey& key = backend.addDevice(profile);
        dev = fido_dev_new();
        const fido_dev_io_t io = {ioOpen, ioClose, ioRead, ioWrite};
        EXPECT_EQ(fido_dev_set_io_functions(dev, &io), FIDO_OK);
        const std::string path = "virtual:" + std::to_string(key.serial()) + ":0";
        EXPECT_EQ(fido_dev_open(dev, path.c_str()), FIDO_OK);
        return key;
    }

    // A credential request for ES256 on "tessmar".
    static fido_cred_t* newCredential() {
        fido_cred_t* cred = fido_cred_new();
        fido_cred_set_type(cred, COSE_ES256);
        fido_cred_set_clientdata_hash(cred, CLIENT_DATA_HASH, sizeof(CLIENT_DATA_HASH));
        fido_cred_set_rp(cred, "tessmar", "tessmar");
        fido_cred_set_user(cred, USER_ID, sizeof(USER_ID), "tester@example.io", "Test Ctap",
                           nullptr);
        return cred;
    }

    // The made credential verifies in `format` and carries the key's attestation certificate.
    static void expectAttestedBy(const VirtualKey& key, fido_cred_t* cred, const char* format) {
        EXPECT_STREQ(fido_cred_fmt(cred), format);
        EXPECT_EQ(fido_cred_verify(cred), FIDO_OK);
        const std::vector<uint8_t> x5c(fido_cred_x5c_ptr(cred),
                                       fido_cred_x5c_ptr(cred) + fido_cred_x5c_len(cred));
        EXPECT_EQ(x5c, key.attestationCertificate());
    }

    ManualClock manual{5000};
    VirtualBackend backend{manual};
    fido_dev_t* dev = nullptr;
};

std::vector<std::string> texts(char** items, size_t count) {
    return std::vector<std::string>(items, items + count);
}

bool option(const fido_cbor_info_t* info, const std::string& name, bool& value) {
    char** names = fido_cbor_info_options_name_ptr(info);
    const bool* values = fido_cbor_info_options_value_ptr(info);
    for (size_t i = 0; i < fido_cbor_info_options_len(info); ++i) {
        if (name == names[i]) {
            value = values[i];
            return true;
        }
    }
    return false;
}

TEST_F(PeerTest, GetInfoOfDefaultProfileParsesAsDeclared) {
    const Profile profile = profileByName("default");
    plug(profile);
    ASSERT_TRUE(fido_dev_is_fido2(dev));
    fido_cbor_info_t* info = fido_cbor_info_new();
    ASSERT_EQ(fido_dev_get_cbor_info(dev, info), FIDO_OK);
    EXPECT_EQ(texts(fido_cbor_info_versions_ptr(info), fido_cbor_info_versions_len(info)),
              (std::vector<std::string>{"U2F_V2", "FIDO_2_0", "FIDO_2_1"}));
    EXPECT_EQ(texts(fido_cbor_info_extensions_ptr(info), fido_cbor_info_extensions_len(info)),
              (std::vector<std::string>{"credProtect", "hmac-secret"}));
    ASSERT_EQ(fido_cbor_info_aaguid_len(info), 16u);
    EXPECT_EQ(0, std::memcmp(fido_cbor_info_aaguid_ptr(info), profile.aaguid.data(), 16));
    bool value = true;
    ASSERT_TRUE(option(info, "clientPin", value));
    EXPECT_FALSE(value);
    ASSERT_TRUE(option(info, "rk", value));
    EXPECT_TRUE(value);
    EXPECT_EQ(fido_cbor_info_maxmsgsiz(info), 1200u);
    ASSERT_EQ(fido_cbor_info_protocols_len(info), 1u);
    EXPECT_EQ(fido_cbor_info_protocols_ptr(info)[0], 1);
    EXPECT_EQ(fido_cbor_info_fwversion(info), 0x050403u);
    EXPECT_EQ(fido_cbor_info_minpinlen(info), 4u);
    fido_cbor_info_free(&info);
}

TEST_F(PeerTest, GetInfoOfFullProfileCarriesTheCtap21Members) {
    plug(profileByName("full"));
    fido_cbor_info_t* info = fido_cbor_info_new();
    ASSERT_EQ(fido_dev_get_cbor_info(dev, info), FIDO_OK);
    EXPECT_EQ(fido_cbor_info_options_len(info), 19u);
    EXPECT_EQ(fido_cbor_info_maxcredcntlst(info), 8u);
    EXPECT_EQ(fido_cbor_info_maxcredidlen(info), 128u);
    EXPECT_EQ(fido_cbor_info_maxlargeblob(info), 1024u);
    EXPECT_EQ(fido_cbor_info_maxcredbloblen(info), 32u);
    EXPECT_EQ(fido_cbor_info_maxrpid_minpinlen(info), 1u);
    EXPECT_EQ(fido_cbor_info_uv_attempts(info), 3u);
    EXPECT_EQ(fido_cbor_info_uv_modality(info), 2u);
    EXPECT_FALSE(fido_cbor_info_new_pin_required(info));
    EXPECT_EQ(texts(fido_cbor_info_transports_ptr(info), fido_cbor_info_transports_len(info)),
              (std::vector<std::string>{"nfc", "usb"}));
    ASSERT_EQ(fido_cbor_info_algorithm_count(info), 2u);
    EXPECT_EQ(fido_cbor_info_algorithm_cose(info, 0), -7);
    EXPECT_EQ(fido_cbor_info_algorithm_cose(info, 1), -8);
    fido_cbor_info_free(&info);
}

TEST_F(PeerTest, PackedAttestationFromMakeCredentialVerifies) {
    VirtualKey& key = plug(profileByName("default"));
    fido_cred_t* cred = newCredential();
    ASSERT_EQ(fido_dev_make_cred(dev, cred, nullptr), FIDO_OK);
    expectAttestedBy(key, cred, "packed");
    EXPECT_EQ(fido_cred_flags(cred) & 0x45, 0x41);  // UP and AT, no UV without a PIN
    EXPECT_EQ(fido_cred_id_len(cred), 64u);
    EXPECT_EQ(key.counters().credentialsMade, 1u);
    fido_cred_free(&cred);
}

TEST_F(PeerTest, TouchAfterAWhileIsWaitedForWithKeepalives) {
    Profile profile = profileByName("default");
    profile.touch = TouchPolicy::afterMs(1000);
    VirtualKey& key = plug(profile);
    fido_cred_t* cred = newCredential();
    const uint32_t before = manual.tickCount();
    ASSERT_EQ(fido_dev_make_cred(dev, cred, nullptr), FIDO_OK);
    EXPECT_EQ(fido_cred_verify(cred), FIDO_OK);
    EXPECT_GE(manual.tickCount() - before, 1000u);
    EXPECT_GE(key.counters().keepalives, 9u);
    fido_cred_free(&cred);
}

TEST_F(PeerTest, PinSetThroughLibfido2YieldsATokenAndVerifiedCredentials) {
    VirtualKey& key = plug(profileByName("default"));
    ASSERT_EQ(fido_dev_set_pin(dev, "4321", nullptr), FIDO_OK);
    EXPECT_TRUE(key.pinSet());

    fido_cred_t* cred = newCredential();
    EXPECT_EQ(fido_dev_make_cred(dev, cred, "0000"), FIDO_ERR_PIN_INVALID);
    int retries = 0;
    ASSERT_EQ(fido_dev_get_retry_count(dev, &retries), FIDO_OK);
    EXPECT_EQ(retries, 7);
    fido_cred_free(&cred);

    cred = newCredential();
    ASSERT_EQ(fido_dev_make_cred(dev, cred, "4321"), FIDO_OK);
    EXPECT_EQ(fido_cred_verify(cred), FIDO_OK);
    EXPECT_EQ(fido_cred_flags(cred) & 0x04, 0x04);  // UV: the PIN was verified
    EXPECT_EQ(key.pinRetries(), 8);
    fido_cred_free(&cred);
}

TEST_F(PeerTest, PinProfileRequiresThePinAndAcceptsIt) {
    plug(profileByName("pin"));
    fido_cred_t* cred = newCredential();
    EXPECT_EQ(fido_dev_make_cred(dev, cred, nullptr), FIDO_ERR_PIN_REQUIRED);
    fido_cred_free(&cred);
    cred = newCredential();
    ASSERT_EQ(fido_dev_make_cred(dev, cred, "1234"), FIDO_OK);
    EXPECT_EQ(fido_cred_verify(cred), FIDO_OK);
    fido_cred_free(&cred);
}

TEST_F(PeerTest, ProtocolTwoOnlyKeySetsAndChecksItsPinInProtocolTwo) {
    Profile profile = profileByName("pin-protocol2");
    profile.pinSet = false;
    VirtualKey& key = plug(profile);
    ASSERT_EQ(fido_dev_set_pin(dev, "5678", nullptr), FIDO_OK);  // newPinEnc with its IV
    EXPECT_TRUE(key.pinSet());
    fido_cred_t* cred = newCredential();
    EXPECT_EQ(fido_dev_make_cred(dev, cred, "0000"), FIDO_ERR_PIN_INVALID);
    fido_cred_free(&cred);
    cred = newCredential();
    ASSERT_EQ(fido_dev_make_cred(dev, cred, "5678"), FIDO_OK);  // 32-byte pinUvAuthParam
    EXPECT_EQ(fido_cred_verify(cred), FIDO_OK);
    EXPECT_EQ(fido_cred_flags(cred) & 0x04, 0x04);
    fido_cred_free(&cred);
}

TEST_F(PeerTest, FullProfileServesTokensWithPermissions) {
    Profile profile = profileByName("full");
    profile.pinSet = true;
    profile.pin = "123456";
    plug(profile);
    ASSERT_TRUE(fido_dev_supports_permissions(dev));
    fido_cred_t* cred = newCredential();
    ASSERT_EQ(fido_dev_make_cred(dev, cred, "123456"), FIDO_OK);
    EXPECT_EQ(fido_cred_verify(cred), FIDO_OK);
    fido_cred_free(&cred);
}

TEST_F(PeerTest, RetryCountsAreAnsweredWithoutSpendingATry) {
    Profile profile = profileByName("full");
    profile.pinSet = true;
    profile.pin = "123456";
    profile.pinRetries = 6;
    profile.uvRetries = 2;
    VirtualKey& key = plug(profile);
    int retries = -1;
    ASSERT_EQ(fido_dev_get_retry_count(dev, &retries), FIDO_OK);
    EXPECT_EQ(retries, 6);
    ASSERT_EQ(fido_dev_get_uv_retry_count(dev, &retries), FIDO_OK);
    EXPECT_EQ(retries, 2);
    EXPECT_EQ(key.pinRetries(), 6);
}

TEST_F(PeerTest, U2fOnlyKeyRegistersThroughCtap1AndVerifies) {
    VirtualKey& key = plug(profileByName("u2f-only"));
    EXPECT_FALSE(fido_dev_is_fido2(dev));
    fido_cred_t* cred = newCredential();
    ASSERT_EQ(fido_dev_make_cred(dev, cred, nullptr), FIDO_OK);
    expectAttestedBy(key, cred, "fido-u2f");
    EXPECT_EQ(key.counters().u2fRegistrations, 1u);
    EXPECT_EQ(key.counters().cborRequests, 0u);
    fido_cred_free(&cred);
}

}  // namespace
}  // namespace orvanta

namespace orvanta {
namespace {

// The verifier above would be worthless if it passed anything: a broken attestation
// certificate must fail it.
TEST_F(PeerTest, UndecodableAttestationCertificateFailsTheVerifier) {
    VirtualKey& key = plug(profileByName("default"));
    key.setFault(FaultMode::BadCertificate);
    fido_cred_t* cred = newCredential();
    const int made = fido_dev_make_cred(dev, cred, nullptr);
    if (made == FIDO_OK) {
        EXPECT_NE(fido_cred_verify(cred), FIDO_OK);
    }
    fido_cred_free(&cred);
}

TEST_F(PeerTest, SilentKeyCannotBeOpened) {
    VirtualKey& key = backend.addDevice(profileByName("silent"));
    dev = fido_dev_new();
    const fido_dev_io_t io = {ioOpen, ioClose, ioRead, ioWrite};
    ASSERT_EQ(fido_dev_set_io_functions(dev, &io), FIDO_OK);
    const std::string path = "virtual:" + std::to_string(key.serial()) + ":0";
    EXPECT_NE(fido_dev_open(dev, path.c_str()), FIDO_OK);
    fido_dev_free(&dev);
}

}  // namespace
}  // namespace orvanta
