// The APDU side of the virtual key: vendor applets of the hardware page and U2F
// registration in the forms the inspector sends.

#include "common/aids.h"
#include "sim/apdu_handler.h"
#include "sim/attestation.h"
#include "sim_fixture.h"
#include "x509_check.h"

namespace orvanta::test {
namespace {

const Bytes VERSION_COMMAND = {0x80, 0xE2, 0x80, 0x00, 0x05, 0xDF, 0xFF, 0x02, 0x80, 0x01, 0x00};

Bytes select(const Bytes& aid, bool le = true) {
    Bytes a = {0x00, 0xA4, 0x04, 0x00, static_cast<uint8_t>(aid.size())};
    a.insert(a.end(), aid.begin(), aid.end());
    if (le) {
        a.push_back(0x00);
    }
    return a;
}

Bytes vendorAid(const Bytes& suffix) {
    Bytes aid(std::begin(VENDOR_RID), std::end(VENDOR_RID));
    aid.insert(aid.end(), suffix.begin(), suffix.end());
    return aid;
}

const Bytes AID_IDENTIFY = {0xA0, 0x00, 0x00, 0x01, 0x67, 0x41, 0x30, 0x00, 0xFF};
const Bytes AID_PIV = {0xA0, 0x00, 0x00, 0x03, 0x08, 0x00, 0x00, 0x10, 0x00, 0x01, 0x00};
const Bytes AID_GIDS = {0xA0, 0x00, 0x00, 0x03, 0x97, 0x42, 0x54, 0x46, 0x59, 0x02, 0x01};
const Bytes AID_NDEF = {0xD2, 0x76, 0x00, 0x00, 0x85, 0x01, 0x01};
const Bytes AID_U2F = {0xA0, 0x00, 0x00, 0x06, 0x47, 0x2F, 0x00, 0x01};

Bytes challenge() {
    return Bytes(32, 0x25);
}
Bytes application() {
    return Bytes(32, 0x19);
}

Bytes registerExtended() {
    Bytes a = {0x00, 0x01, 0x03, 0x00, 0x00, 0x00, 0x40};
    const Bytes c = challenge();
    const Bytes p = application();
    a.insert(a.end(), c.begin(), c.end());
    a.insert(a.end(), p.begin(), p.end());
    a.insert(a.end(), {0x00, 0x00});
    return a;
}

Bytes registerShort() {
    Bytes a = {0x00, 0x01, 0x03, 0x00, 0x40};
    const Bytes c = challenge();
    const Bytes p = application();
    a.insert(a.end(), c.begin(), c.end());
    a.insert(a.end(), p.begin(), p.end());
    return a;
}

Bytes dataOf(const Bytes& reply) {
    return reply.size() < 2 ? Bytes{} : Bytes(reply.begin(), reply.end() - 2);
}

// Checks the registration response layout and its signature; returns the certificate.
Bytes checkRegistration(const Bytes& response) {
    EXPECT_GE(response.size(), 67u);
    if (response.size() < 67) {
        return {};
    }
    EXPECT_EQ(response[0], 0x05);
    EXPECT_EQ(response[1], 0x04);
    const size_t l = response[66];
    const size_t certAt = 67 + l;
    const size_t certLength =
        static_cast<size_t>(response[certAt + 2] << 8 | response[certAt + 3]) + 4;
    const Bytes cert(response.begin() + certAt, response.begin() + certAt + certLength);
    const Bytes sig(response.begin() + certAt + certLength, response.end());
    Bytes message = {0x00};
    const Bytes p = application();
    const Bytes c = challenge();
    message.insert(message.end(), p.begin(), p.end());
    message.insert(message.end(), c.begin(), c.end());
    message.insert(message.end(), response.begin() + 67, response.begin() + 67 + l);
    message.insert(message.end(), response.begin() + 1, response.begin() + 66);
    EXPECT_TRUE(signatureVerifies(cert, message, sig));
    return cert;
}

class AppletTest : public SimTest {};

TEST_F(AppletTest, ApduFormsParse) {
    const Bytes ext = registerExtended();
    auto a = parseApdu(ext.data(), ext.size());
    ASSERT_TRUE(a);
    EXPECT_TRUE(a->extended);
    EXPECT_EQ(a->dataLength, 64u);
    EXPECT_TRUE(a->hasLe);
    const Bytes sh = registerShort();
    a = parseApdu(sh.data(), sh.size());
    ASSERT_TRUE(a);
    EXPECT_FALSE(a->extended);
    EXPECT_EQ(a->dataLength, 64u);
    EXPECT_FALSE(a->hasLe);
    const Bytes getResponse = {0x00, 0xC0, 0x00, 0x00, 0x2A};
    a = parseApdu(getResponse.data(), getResponse.size());
    ASSERT_TRUE(a);
    EXPECT_EQ(a->le, 0x2Au);
    const Bytes lcTooLong = {0x00, 0xA4, 0x04, 0x00, 0x09, 0xA0};
    EXPECT_FALSE(parseApdu(lcTooLong.data(), lcTooLong.size()));
    const Bytes extendedCut = {0x00, 0x01, 0x03, 0x00, 0x00, 0x01};
    EXPECT_FALSE(parseApdu(extendedCut.data(), extendedCut.size()));
    EXPECT_FALSE(parseApdu(getResponse.data(), 3));
}

TEST_F(AppletTest, IdentificationAndFingerprintReplies) {
    SimClient& c = connect("default");
    const Bytes id = c.apdu(select(AID_IDENTIFY, false));
    EXPECT_EQ(statusWord(id), 0x9000);
    EXPECT_GE(dataOf(id).size(), 16u);
    EXPECT_LE(dataOf(id).size(), 30u);
    const Bytes fp = c.apdu({0x80, 0xE3, 0x00, 0x00, 0x00});
    EXPECT_EQ(statusWord(fp), 0x9000);
    ASSERT_EQ(dataOf(fp).size(), 7u);
    EXPECT_EQ(fp[5], 0x02);
    EXPECT_EQ(fp[6], 0x05);
}

TEST_F(AppletTest, VersionCommandAnswersForTheSelectedApplet) {
    Profile profile = profileByName("default");
    profile.applet(Applet::Otp) = {true, 0x07, 0x0B};
    SimClient& c = connect(profile);
    struct Case {
        Bytes aid;
        Applet applet;
    } cases[] = {
        {vendorAid({0x52, 0x68, 0x65, 0x6C, 0x6C, 0x6F, 0x01, 0x01, 0x00}), Applet::WinHello},
        {vendorAid({0x83, 0x26, 0x01, 0x01}), Applet::Otp},
        {AID_PIV, Applet::Piv},
        {AID_GIDS, Applet::Gids},
        {AID_U2F, Applet::U2f}};
    for (const Case& k : cases) {
        const Bytes sel = c.apdu(select(k.aid));
        ASSERT_EQ(statusWord(sel), 0x9000);
        EXPECT_LE(dataOf(sel).size(), 25u);  // the inspector offers 25 bytes for some SELECTs
        const Bytes v = c.apdu(VERSION_COMMAND);
        EXPECT_EQ(statusWord(v), 0x9000);
        ASSERT_GE(dataOf(v).size(), 16u);
        EXPECT_LE(dataOf(v).size(), 30u);
        EXPECT_EQ(v[8], profile.applet(k.applet).versionMajor);
        EXPECT_EQ(v[9], profile.applet(k.applet).versionMinor);
    }
    EXPECT_EQ(c.apdu(VERSION_COMMAND)[8], 0x01);  // U2F still selected
    EXPECT_EQ(statusWord(c.apdu(select(AID_NDEF))), 0x9000);
    EXPECT_EQ(statusWord(c.apdu(VERSION_COMMAND)), 0x6D00);  // NDEF has no version
}

TEST_F(AppletTest, AbsentAndUnknownAppletsAnswerFileNotFound) {
    SimClient& c = connect("no-applets");
    for (const Bytes& aid : {AID_IDENTIFY, AID_PIV, AID_GIDS, AID_NDEF, AID_U2F}) {
        EXPECT_EQ(statusWord(c.apdu(select(aid, aid != AID_IDENTIFY))), 0x6A82);
    }
    EXPECT_EQ(statusWord(c.apdu({0x80, 0xE3, 0x00, 0x00, 0x00})), 0x6D00);
    EXPECT_EQ(statusWord(c.apdu(VERSION_COMMAND)), 0x6D00);  // nothing selected
    SimClient& d = connect("default");
    EXPECT_EQ(statusWord(d.apdu(select({0xA0, 0x00, 0x00, 0x00, 0x01}))), 0x6A82);
    EXPECT_EQ(statusWord(d.apdu({0x00, 0x77, 0x00, 0x00})), 0x6D00);
    EXPECT_EQ(statusWord(d.apdu({0x42, 0x01, 0x00, 0x00})), 0x6E00);
}

TEST_F(AppletTest, FidoSelectOverCborIsAnInvalidCommand) {
    SimClient& c = connect("default");
    const Bytes reply = c.cbor(select(AID_U2F, false));
    EXPECT_EQ(reply, Bytes{0x01});
}

TEST_F(AppletTest, U2fRegisterExtendedAndShortFormsAreSignedByTheAttestationKey) {
    SimClient& c = connect("default");
    Bytes r = c.apdu(registerExtended());
    ASSERT_EQ(statusWord(r), 0x9000);
    EXPECT_EQ(checkRegistration(dataOf(r)), keys[0]->attestationCertificate());
    r = c.apdu(registerShort());
    ASSERT_EQ(statusWord(r), 0x9000);
    EXPECT_EQ(checkRegistration(dataOf(r)), keys[0]->attestationCertificate());
    EXPECT_EQ(keys[0]->counters().u2fRegisterApdus, 2u);
    EXPECT_EQ(keys[0]->requestLog().back().bytes().size(), 70u);  // 0x83 + 69 APDU bytes
}

TEST_F(AppletTest, U2fWaitsForTouchWith6985) {
    Profile profile = profileByName("default");
    profile.touch = TouchPolicy::afterRequests(3);
    SimClient& c = connect(profile);
    EXPECT_EQ(statusWord(c.apdu(registerExtended())), 0x6985);
    EXPECT_EQ(statusWord(c.apdu(registerExtended())), 0x6985);
    EXPECT_EQ(statusWord(c.apdu(registerExtended())), 0x9000);
    // The touch is used up: the next registration needs three more requests.
    EXPECT_EQ(statusWord(c.apdu(registerExtended())), 0x6985);
    keys[0]->touch();
    EXPECT_EQ(statusWord(c.apdu(registerExtended())), 0x9000);
}

TEST_F(AppletTest, ExtendedFormRefusedWith6700WhenAsked) {
    SimClient& c = connect("u2f-short-form");
    EXPECT_EQ(c.apdu(registerExtended()), (Bytes{0x67, 0x00}));
    const Bytes r = c.apdu(registerShort());
    ASSERT_EQ(statusWord(r), 0x9000);
    checkRegistration(dataOf(r));
}

TEST_F(AppletTest, ChainedRegistrationComesByGetResponse) {
    Profile profile = profileByName("u2f-chained");
    profile.u2fChunk = 200;
    SimClient& c = connect(profile);
    Bytes r = c.apdu(registerExtended());
    ASSERT_EQ(r.size(), 2u);  // no data beside 61xx
    ASSERT_EQ(r[0], 0x61);
    EXPECT_EQ(r[1], 200);
    Bytes collected;
    int rounds = 0;
    while (r[r.size() - 2] == 0x61 && rounds++ < 20) {
        r = c.apdu({0x00, 0xC0, 0x00, 0x00, r[r.size() - 1]});
        const Bytes d = dataOf(r);
        collected.insert(collected.end(), d.begin(), d.end());
    }
    EXPECT_EQ(statusWord(r), 0x9000);
    EXPECT_GT(rounds, 2);
    EXPECT_EQ(checkRegistration(collected), keys[0]->attestationCertificate());
    EXPECT_EQ(statusWord(c.apdu({0x00, 0xC0, 0x00, 0x00, 0x10})), 0x6985);  // nothing left
}

TEST_F(AppletTest, Ctap2OnlyKeyRefusesU2f) {
    SimClient& c = connect("ctap2-only");
    EXPECT_EQ(statusWord(c.apdu(registerExtended())), 0x6D00);
    EXPECT_EQ(statusWord(c.apdu(select(AID_U2F))), 0x6A82);
}

TEST_F(AppletTest, AttestationCertificatesCarryTheFidoMarks) {
    const VirtualAttestation& att = VirtualAttestation::forAaguid(profileByName("default").aaguid);
    const Bytes& leaf = att.certificate();
    EXPECT_EQ(subjectOf(leaf),
              "C=US, O=Orvanta Virtual, OU=Authenticator Attestation, CN=Orvanta Virtual Key "
              "Attestation");
    EXPECT_EQ(subjectOf(att.caCertificate()),
              "C=US, O=Orvanta Virtual, CN=Orvanta Virtual Root CA");
    EXPECT_TRUE(issuedBy(leaf, att.caCertificate()));
    const Bytes transports = {0x06, 0x0B, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0xE5, 0x1C,
                              0x02, 0x01, 0x01, 0x04, 0x04, 0x03, 0x02, 0x05, 0x20};
    EXPECT_NE(std::search(leaf.begin(), leaf.end(), transports.begin(), transports.end()),
              leaf.end());
    const auto& aaguid = profileByName("default").aaguid;
    Bytes aaguidExtension = {0x04, 0x12, 0x04, 0x10};
    aaguidExtension.insert(aaguidExtension.end(), aaguid.begin(), aaguid.end());
    EXPECT_NE(std::search(leaf.begin(), leaf.end(), aaguidExtension.begin(), aaguidExtension.end()),
              leaf.end());
    // Another model gets its own certificate, from the same fixed-seed key.
    std::array<uint8_t, 16> other{};
    const VirtualAttestation& att2 = VirtualAttestation::forAaguid(other);
    EXPECT_NE(att2.certificate(), leaf);
    EXPECT_EQ(att2.key().publicPoint(), att.key().publicPoint());
    EXPECT_FALSE(decodes(undecodableCertificate()));
}

}  // namespace
}  // namespace orvanta::test
