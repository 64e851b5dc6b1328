#include "transport/device_list.h"

#include <algorithm>
#include <array>
#include <tuple>

#include "sim/virtual_backend.h"
#include "support/transport_fixture.h"
#include "transport/device_session.h"

namespace orvanta::test {
namespace {

using Discovery = TransportFixture;

TEST_F(Discovery, NoAcceptedDevicesLeavesNothingSelected) {
    backend->add(0x046D, 0xC077, 0x0001, "Mouse");
    DeviceList list = enumerateDevices(*backend);
    EXPECT_EQ(list.interfaceCount, 1);
    EXPECT_TRUE(list.records.empty());
    Selection selection = selectDevice(list, 0, 0);
    EXPECT_EQ(selection.result, 0);
    EXPECT_FALSE(selection.index.has_value());
    EXPECT_EQ(openSession(list, 0, clock), nullptr);

    // The front end's session stays without a key.
    EXPECT_EQ(devices.enumerate().interfaceCount, 1);
    EXPECT_EQ(devices.select(0, 0), 0);
    EXPECT_FALSE(session().present());
}

TEST_F(Discovery, AcceptedTableAndRecordFields) {
    backend->add(0x0483, 0x5740, 0xF1D0);  // right vendor, wrong product
    backend->add(0x0483, 0xA2CA, 0xF1D0, "Table Key", 0x0123);
    backend->add(0x1050, 0x0407, 0xF1D0);
    backend->entries.push_back(
        {{"locked", 0x1209, 0x5070, 0, "Locked", 0xF1D0, 1, TransportKind::Usb, ""},
         nullptr,
         "permission denied"});
    DeviceList list = enumerateDevices(*backend);
    EXPECT_EQ(list.interfaceCount, 3);  // the unopenable one is not counted
    EXPECT_EQ(list.listed.size(), 4u);
    ASSERT_EQ(list.records.size(), 2u);
    const DeviceRecord& r = list.records[0];
    EXPECT_EQ(r.vendorId, 0x0483u);
    EXPECT_EQ(r.productId, 0xA2CAu);
    EXPECT_EQ(r.productName, "Table Key");
    EXPECT_EQ(r.versionText, "0123");
    EXPECT_TRUE(r.present());
    ASSERT_EQ(list.openFailures.size(), 1u);
    EXPECT_EQ(list.openFailures[0].reason, "permission denied");
    EXPECT_EQ(list.openFailures[0].info.productString, "Locked");
}

TEST_F(Discovery, LongProductNameKeepsSixtyThreeCharacters) {
    backend->add(0x1209, 1, 0xF1D0, std::string(70, 'x'));
    DeviceList list = enumerateDevices(*backend);
    ASSERT_EQ(list.records.size(), 1u);
    EXPECT_EQ(list.records[0].productName, std::string(63, 'x'));
}

TEST_F(Discovery, SelectionRules) {
    auto keyboard = backend->add(0x1050, 0x0407, 0x0001);
    auto first = backend->add(0x1050, 0x0407, 0xF1D0, "First");
    auto second = backend->add(0x1209, 0x0001, 0xF1D0, "Second");
    auto twin = backend->add(0x1209, 0x0001, 0xF1D0, "Twin");
    DeviceList list = enumerateDevices(*backend);
    ASSERT_EQ(list.records.size(), 4u);

    // Either ID 0: the first FIDO collection in list order.
    Selection selection = selectDevice(list, 0x1209, 0);
    EXPECT_EQ(selection.result, 1);
    ASSERT_TRUE(selection.index.has_value());
    EXPECT_EQ(list.records[*selection.index].productName, "First");

    // Only the FIDO collection of a key with several collections can be chosen.
    selection = selectDevice(list, 0x1050, 0x0407);
    EXPECT_EQ(selection.result, 1);
    ASSERT_TRUE(selection.index.has_value());
    EXPECT_EQ(list.records[*selection.index].usagePage, 0xF1D0);
    EXPECT_EQ(list.records[*selection.index].productName, "First");

    // Same IDs twice: 2, the later-listed key, which needs a channel of its own.
    selection = selectDevice(list, 0x1209, 0x0001);
    EXPECT_EQ(selection.result, 2);
    ASSERT_TRUE(selection.index.has_value());
    EXPECT_EQ(list.records[*selection.index].productName, "Twin");
    std::unique_ptr<DeviceSession> chosen = openSession(list, *selection.index, clock);
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen->device().productName, "Twin");
    EXPECT_TRUE(chosen->present());
    EXPECT_TRUE(channelPending(*chosen));

    // The same through the front end's devices: the session is on the chosen key and
    // starts without a channel.
    devices.enumerate();
    EXPECT_EQ(devices.select(0x1209, 0x0001), 2);
    EXPECT_EQ(session().device().productName, "Twin");
    EXPECT_TRUE(channelPending(session()));

    // A removed key: nothing chosen, no key in the session after the enumeration.
    backend->entries.pop_back();
    backend->entries.pop_back();
    devices.enumerate();
    EXPECT_EQ(devices.select(0x1209, 0x0001), 0);
    EXPECT_FALSE(session().present());
    EXPECT_FALSE(selectDevice(devices.devices(), 0x1209, 0x0001).index.has_value());
    (void)keyboard;
    (void)first;
    (void)second;
    (void)twin;
}

TEST_F(Discovery, HandlesCloseExactlyOnceAndRecordsDoNotOwn) {
    auto key = backend->add(0x1209, 0x0001, 0xF1D0);
    auto mouse = backend->add(0x046D, 0xC077, 0x0001);
    devices.enumerate();
    EXPECT_EQ(mouse->opens, 1);
    EXPECT_EQ(mouse->closes, 1);  // not retained
    ASSERT_EQ(devices.select(0, 0), 1);
    DeviceRecord copy = session().device();
    (void)copy;
    EXPECT_EQ(key->closes, 0);
    devices.enumerate();  // the old session closes its handle
    EXPECT_EQ(key->opens, 2);
    EXPECT_EQ(key->closes, 1);
    devices.close();
    EXPECT_EQ(key->closes, 2);

    // A handle that a session took closes with the session, not with its enumeration; a
    // handle can be taken once.
    std::unique_ptr<DeviceSession> taken;
    {
        DeviceList list = enumerateDevices(*backend);
        EXPECT_EQ(key->opens, 3);
        taken = openSession(list, 0, clock);
        ASSERT_NE(taken, nullptr);
        EXPECT_EQ(openSession(list, 0, clock), nullptr);
        EXPECT_EQ(openSession(list, 1, clock), nullptr);  // no such record
        DeviceList moved = std::move(list);
        EXPECT_EQ(key->closes, 2);
    }
    EXPECT_EQ(key->closes, 2);
    taken.reset();
    EXPECT_EQ(key->closes, 3);

    // A handle nobody took closes with its enumeration, once, even after a move.
    {
        DeviceList list = enumerateDevices(*backend);
        DeviceList moved = std::move(list);
        EXPECT_EQ(key->closes, 3);
    }
    EXPECT_EQ(key->opens, 4);
    EXPECT_EQ(key->closes, 4);
}

TEST_F(Discovery, AnyFidoCollectionWhenAsked) {
    backend->add(0x20A0, 0x42B1, 0xF1D0, "Other Key");
    EXPECT_TRUE(enumerateDevices(*backend).records.empty());
    EXPECT_EQ(enumerateDevices(*backend, true).records.size(), 1u);

    DeviceContext anyFido(backend, clock, true);
    EXPECT_EQ(anyFido.enumerate().records.size(), 1u);
    EXPECT_EQ(anyFido.select(0, 0), 1);
    EXPECT_TRUE(anyFido.session().present());
    EXPECT_TRUE(devices.enumerate().records.empty());
}

// Two keys inspected side by side in one process: one enumeration, a session on each, and
// exchanges that alternate between them. Each session keeps its own channel and gets only
// its own key's replies.
TEST(SideBySide, TwoSessionsOnTwoKeysKeepTheirOwnChannelsAndReplies) {
    ManualClock clock{1000};
    VirtualBackend backend{clock};
    Profile secondProfile = profileByName("full");
    secondProfile.productString = "Second Key";
    secondProfile.aaguid[15] ^= 0xFF;
    VirtualKey& firstKey = backend.addDevice("default");
    VirtualKey& secondKey = backend.addDevice(secondProfile);
    ASSERT_NE(firstKey.profile().aaguid, secondKey.profile().aaguid);

    DeviceList list = enumerateDevices(backend);
    ASSERT_EQ(list.records.size(), 2u);
    std::unique_ptr<DeviceSession> first = openSession(list, 0, clock);
    std::unique_ptr<DeviceSession> second = openSession(list, 1, clock);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->device().productName, VIRTUAL_PRODUCT_STRING);
    EXPECT_EQ(second->device().productName, "Second Key");

    auto contains = [](const Bytes& haystack, const std::array<uint8_t, 16>& needle) {
        return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
               haystack.end();
    };
    const uint8_t getInfo[] = {0x04};
    for (uint8_t round = 0; round < 3; ++round) {
        // Pings of different lengths and contents, one on each key in turn.
        const Bytes firstPing(100, static_cast<uint8_t>(0xA0 + round));
        const Bytes secondPing(70, static_cast<uint8_t>(0xB0 + round));
        Result<Bytes> firstEcho = exchange(*first, CTAPHID_PING, firstPing);
        Result<Bytes> secondEcho = exchange(*second, CTAPHID_PING, secondPing);
        ASSERT_TRUE(firstEcho.ok()) << int(round);
        ASSERT_TRUE(secondEcho.ok()) << int(round);
        EXPECT_EQ(*firstEcho, firstPing);
        EXPECT_EQ(*secondEcho, secondPing);

        // getInfo the other way round: each reply names its own key's AAGUID.
        Result<CborReply> secondInfo = sendCbor(*second, getInfo);
        Result<CborReply> firstInfo = sendCbor(*first, getInfo);
        ASSERT_TRUE(firstInfo.ok()) << int(round);
        ASSERT_TRUE(secondInfo.ok()) << int(round);
        EXPECT_EQ(firstInfo->status, 0);
        EXPECT_EQ(secondInfo->status, 0);
        EXPECT_TRUE(contains(firstInfo->data, firstKey.profile().aaguid));
        EXPECT_FALSE(contains(firstInfo->data, secondKey.profile().aaguid));
        EXPECT_TRUE(contains(secondInfo->data, secondKey.profile().aaguid));
        EXPECT_FALSE(contains(secondInfo->data, firstKey.profile().aaguid));
        EXPECT_NE(firstInfo->data, secondInfo->data);
    }

    // One channel per session, allocated once and kept.
    EXPECT_FALSE(channelPending(*first));
    EXPECT_FALSE(channelPending(*second));
    EXPECT_NE(hidLink(*first).channel(), hidLink(*second).channel());
    EXPECT_EQ(firstKey.counters().initRequests, 1u);
    EXPECT_EQ(secondKey.counters().initRequests, 1u);

    // Each key saw its INIT, then only its own session's requests on that session's channel.
    auto channelValue = [](const DeviceSession& session) {
        const std::array<uint8_t, 4>& c = hidLink(session).channel();
        return (uint32_t{c[0]} << 24) | (uint32_t{c[1]} << 16) | (uint32_t{c[2]} << 8) | c[3];
    };
    for (auto [key, session, pingByte] : {std::tuple{&firstKey, first.get(), uint8_t{0xA0}},
                                          std::tuple{&secondKey, second.get(), uint8_t{0xB0}}}) {
        const std::vector<LoggedRequest>& log = key->requestLog();
        ASSERT_EQ(log.size(), 7u);
        EXPECT_EQ(log[0].command, CTAPHID_INIT);
        EXPECT_EQ(log[0].channel, CTAPHID_BROADCAST_CID);
        for (size_t i = 1; i < log.size(); ++i) {
            EXPECT_EQ(log[i].channel, channelValue(*session)) << i;
            const size_t round = (i - 1) / 2;
            if ((i - 1) % 2 == 0) {
                EXPECT_EQ(log[i].command, CTAPHID_PING) << i;
                ASSERT_FALSE(log[i].payload.empty());
                EXPECT_EQ(log[i].payload[0], static_cast<uint8_t>(pingByte + round)) << i;
            } else {
                EXPECT_EQ(log[i].command, CTAPHID_CBOR) << i;
                EXPECT_EQ(log[i].payload, Bytes{0x04}) << i;
            }
        }
    }
}

}  // namespace
}  // namespace orvanta::test
