// The virtual key as a contactless card: its answers to the APDUs a reader passes on, and
// the whole inspector over the card link and the card in process, whose pages must be those
// of the same key over HID but for the USB identity a card does not have.

#include "sim/nfc_card.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "cert/fido2_fetch.h"
#include "cert/u2f_fetch.h"
#include "info/device_refresh.h"
#include "support/scripted_prompts.h"
#include "support/temp_dir.h"
#include "support/virtual_key_setup.h"
#include "transport/exchange.h"
#include "transport/pcsc_link.h"

namespace orvanta::test {
namespace {

const Bytes SELECT_FIDO = {0x00, 0xA4, 0x04, 0x00, 0x08, 0xA0, 0x00,
                           0x00, 0x06, 0x47, 0x2F, 0x00, 0x01, 0x00};
const Bytes SELECTION = {0x80, 0x10, 0x80, 0x00, 0x01, 0x0B, 0x00};  // authenticatorSelection
const Bytes POLL = {0x80, 0x11, 0x00, 0x00};

uint16_t statusOf(const Bytes& reply) {
    return reply.size() < 2 ? 0
                            : static_cast<uint16_t>(reply[reply.size() - 2] << 8 | reply.back());
}

Bytes dataOf(const Bytes& reply) {
    return Bytes(reply.begin(), reply.end() - 2);
}

Bytes text(const char* s) {
    return Bytes(s, s + std::char_traits<char>::length(s));
}

class NfcCardTest : public ::testing::Test {
  protected:
    NfcCard& insert(const std::string& profile) {
        key = std::make_unique<VirtualKey>(profileByName(profile), 0, clock);
        card = std::make_unique<NfcCard>(*key, clock);
        return *card;
    }

    ManualClock clock{1000};
    std::unique_ptr<VirtualKey> key;
    std::unique_ptr<NfcCard> card;
};

TEST_F(NfcCardTest, TheFidoSelectNamesWhatTheKeySpeaksAndGuardsTheCtapCommands) {
    insert("full");
    EXPECT_EQ(statusOf(card->transmit(SELECTION)), 0x6D00);  // nothing selected yet
    const Bytes selected = card->transmit(SELECT_FIDO);
    EXPECT_EQ(dataOf(selected), text("U2F_V2"));
    EXPECT_EQ(statusOf(selected), 0x9000);
    EXPECT_EQ(card->transmit(SELECTION), Bytes({0x00, 0x90, 0x00}));

    insert("ctap2-only");
    EXPECT_EQ(dataOf(card->transmit(SELECT_FIDO)), text("FIDO_2_0"));

    insert("u2f-only");
    card->transmit(SELECT_FIDO);
    EXPECT_EQ(statusOf(card->transmit(SELECTION)), 0x6D00);
}

TEST_F(NfcCardTest, LongAnswersToShortApdusComeByGetResponseAndChainsAreOneCommand) {
    insert("full");
    card->transmit(SELECT_FIDO);
    const Bytes getInfoShort = {0x80, 0x10, 0x80, 0x00, 0x01, 0x04, 0x00};
    const Bytes getInfoExtended = {0x80, 0x10, 0x80, 0x00, 0x00, 0x00, 0x01, 0x04, 0x00, 0x00};
    const Bytes whole = card->transmit(getInfoExtended);
    ASSERT_EQ(statusOf(whole), 0x9000);
    ASSERT_GT(whole.size(), 2u + 256u);

    // The full reply is more than two short answers long: 256 bytes, then 256 more (SW2 00
    // says 256 or more remain), then the rest, each further part by GET RESPONSE.
    const size_t rest = whole.size() - 2 - 2 * 256;
    ASSERT_GT(rest, 0u);
    ASSERT_LT(rest, 256u);
    Bytes first = card->transmit(getInfoShort);
    ASSERT_EQ(first.size(), 258u);
    EXPECT_EQ(statusOf(first), 0x6100);
    Bytes second = card->transmit(Bytes{0x00, 0xC0, 0x00, 0x00, 0x00});
    ASSERT_EQ(second.size(), 258u);
    EXPECT_EQ(statusOf(second), 0x6100 | rest);
    Bytes third = card->transmit(Bytes{0x00, 0xC0, 0x00, 0x00, static_cast<uint8_t>(rest)});
    EXPECT_EQ(statusOf(third), 0x9000);
    Bytes joined = dataOf(first);
    for (const Bytes* part : {&second, &third}) {
        const Bytes tail = dataOf(*part);
        joined.insert(joined.end(), tail.begin(), tail.end());
    }
    EXPECT_EQ(joined, dataOf(whole));

    // clientPIN getRetries in two links of a chain: the key sees one message.
    key->clearLog();
    EXPECT_EQ(card->transmit(Bytes{0x90, 0x10, 0x80, 0x00, 0x02, 0x06, 0xA2}), Bytes({0x90, 0x00}));
    const Bytes last =
        card->transmit(Bytes{0x80, 0x10, 0x80, 0x00, 0x04, 0x01, 0x01, 0x02, 0x01, 0x00});
    EXPECT_EQ(statusOf(last), 0x9000);
    EXPECT_EQ(last[0], 0x00);
    ASSERT_EQ(key->requestLog().size(), 1u);
    EXPECT_EQ(key->requestLog()[0].payload, Bytes({0x06, 0xA2, 0x01, 0x01, 0x02, 0x01}));
}

TEST_F(NfcCardTest, ACommandThatNeedsATouchAnswersKeepaliveUntilTouchedOrEnded) {
    insert("full");
    key->setTouchPolicy(TouchPolicy::never());
    card->transmit(SELECT_FIDO);
    EXPECT_EQ(card->transmit(SELECTION), Bytes({CTAPHID_KEEPALIVE_UPNEEDED, 0x91, 0x00}));
    EXPECT_EQ(card->transmit(POLL), Bytes({CTAPHID_KEEPALIVE_UPNEEDED, 0x91, 0x00}));
    key->touch();
    EXPECT_EQ(card->transmit(POLL), Bytes({0x00, 0x90, 0x00}));
    EXPECT_FALSE(card->waitingForTouch());

    // The reader's cancel ends the wait; nothing is left to poll.
    card->transmit(SELECTION);
    EXPECT_EQ(card->transmit(Bytes{0x80, 0x12, 0x01, 0x00}), Bytes({0x90, 0x00}));
    EXPECT_EQ(statusOf(card->transmit(POLL)), 0x6985);

    // A client that does not poll (P1 0x00) waits in the command: here until the card's
    // own limit, on the manual clock.
    const Bytes blocking = {0x80, 0x10, 0x00, 0x00, 0x01, 0x0B, 0x00};
    const uint32_t before = clock.tickCount();
    EXPECT_EQ(card->transmit(blocking), Bytes({0x2F, 0x90, 0x00}));
    EXPECT_GE(clock.tickCount() - before, USER_PRESENCE_TIMEOUT_MS);
}

// The card behind its link, in process: what the pcsc backend makes of a card in a reader.
class CardLink final : public CardChannel {
  public:
    explicit CardLink(NfcCard& card) : card_(card) {}
    CardReply transmit(std::span<const uint8_t> apdu, const CardCancel&) override {
        return CardReply{CardFailure::None, card_.transmit(apdu)};
    }

  private:
    NfcCard& card_;
};

class CardReaderBackend final : public KeySource {
  public:
    explicit CardReaderBackend(NfcCard& card) : card_(card) {}
    std::vector<HidInterfaceInfo> enumerate() override {
        HidInterfaceInfo info;
        info.path = "pcsc:Test Reader";
        info.productString = "Test Reader";
        info.usagePage = 0xF1D0;
        info.usage = 1;
        info.transport = TransportKind::Card;
        return {info};
    }
    std::unique_ptr<CtapLink> open(const std::string&, std::string* error) override {
        auto link = std::make_unique<PcscLink>(std::make_unique<CardLink>(card_));
        return link->open(error) ? std::move(link) : nullptr;
    }

  private:
    NfcCard& card_;
};

struct Inspection {
    std::vector<Row> hardware;
    std::vector<Row> fido2;
    std::vector<Row> u2f;
};

// The refresh and both fetches, as the window runs them.
Inspection inspect(std::shared_ptr<KeySource> keys, Clock& clock) {
    ScriptedPrompts prompts;
    prompts.okCancelDefault = true;
    prompts.pinDefault = "1234";
    DeviceContext devices(std::move(keys), clock);
    HardInfoPage hardware;
    Fido2CertPage fido2;
    U2fCertPage u2f;
    Pages pages{hardware, fido2, u2f};
    ShowDeviceInfo(devices, pages, "", "");
    fetchFido2Certificates(devices.session(), devices.clientPinSet(), fido2, prompts,
                           devices.pinProtocol());
    fetchU2fCertificate(devices.session(), u2f, prompts);
    return {hardware.rows(), fido2.rows(), u2f.rows()};
}

std::vector<std::string> cells(const std::vector<Row>& rows, size_t from = 0) {
    std::vector<std::string> out;
    for (size_t i = from; i < rows.size(); ++i) {
        out.push_back(rows[i].label + " = " + rows[i].value.value_or("(none)"));
    }
    return out;
}

TEST_F(NfcCardTest, ThroughTheCardLinkTheInspectorShowsTheSamePagesAsOverHid) {
    ScopedTmpdir temp;
    ScopedEnvironment utc{"TZ", "UTC0"};
    for (const char* profile : {"full", "pin", "u2f-only", "ctap2-only", "slow-touch"}) {
        SCOPED_TRACE(profile);
        const Inspection hid = inspect(hidKeys(makeVirtualKey(profile, clock).backend), clock);
        insert(profile);
        const Inspection nfc = inspect(std::make_shared<CardReaderBackend>(*card), clock);

        ASSERT_GE(nfc.hardware.size(), 4u);
        EXPECT_EQ(nfc.hardware[0].valueText(), "Test Reader");
        for (size_t i = 1; i < 4; ++i) {
            EXPECT_FALSE(nfc.hardware[i].value.has_value()) << nfc.hardware[i].label;
            EXPECT_FALSE(nfc.hardware[i].tip.empty()) << nfc.hardware[i].label;
        }
        // Over HID the page ends with the facts of the key's INIT reply; a card has no
        // CTAPHID, so its page stops before them.
        std::vector<std::string> overHid = cells(hid.hardware, 4);
        ASSERT_GE(overHid.size(), 3u);
        const std::vector<std::string> initRows(overHid.end() - 3, overHid.end());
        overHid.resize(overHid.size() - 3);
        EXPECT_EQ(initRows.at(0), "CTAPHID protocol = 2");
        EXPECT_EQ(initRows.at(1).rfind("Device version = ", 0), 0u);
        EXPECT_EQ(initRows.at(2).rfind("Capabilities = ", 0), 0u);
        EXPECT_EQ(cells(nfc.hardware, 4), overHid);
        EXPECT_EQ(cells(nfc.fido2), cells(hid.fido2));
        EXPECT_EQ(cells(nfc.u2f), cells(hid.u2f));
        const auto verified = [](const Inspection& run, bool fido2) {
            const std::vector<std::string> page = cells(fido2 ? run.fido2 : run.u2f);
            return std::count(page.begin(), page.end(), "Verify Result = YES") == 1;
        };
        EXPECT_EQ(verified(nfc, true), key->profile().ctap2);
        EXPECT_EQ(verified(nfc, false), key->profile().u2f);
        EXPECT_FALSE(card->waitingForTouch());
    }
}

}  // namespace
}  // namespace orvanta::test
