#include "support/transport_fixture.h"

namespace orvanta::test {
namespace {

using Discovery = TransportFixture;

TEST_F(Discovery, NoAcceptedDevicesLeavesNothingSelected) {
    backend->add(0x046D, 0xC077, 0x0001, "Mouse");
    EXPECT_EQ(enumerateDevices(deviceManager()), 1);
    EXPECT_TRUE(deviceManager().records.empty());
    EXPECT_EQ(selectDevice(deviceManager(), 0, 0), 0);
    EXPECT_FALSE(deviceManager().selected.present());
}

TEST_F(Discovery, AcceptedTableAndRecordFields) {
    backend->add(0x0483, 0x5740, 0xF1D0);  // right vendor, wrong product
    backend->add(0x0483, 0xA2CA, 0xF1D0, "Table Key", 0x0123);
    backend->add(0x1050, 0x0407, 0xF1D0);
    backend->entries.push_back(
        {{"locked", 0x1209, 0x5070, 0, "Locked", 0xF1D0, 1}, nullptr, "permission denied"});
    EXPECT_EQ(enumerateDevices(deviceManager()), 3);  // the unopenable one is not counted
    ASSERT_EQ(deviceManager().records.size(), 2u);
    const DeviceRecord& r = deviceManager().records[0];
    EXPECT_EQ(r.vendorId, 0x0483u);
    EXPECT_EQ(r.productId, 0xA2CAu);
    EXPECT_EQ(r.productName, "Table Key");
    EXPECT_EQ(r.versionText, "0123");
    ASSERT_EQ(deviceManager().openFailures.size(), 1u);
    EXPECT_EQ(deviceManager().openFailures[0].reason, "permission denied");
    EXPECT_EQ(deviceManager().openFailures[0].info.productString, "Locked");
}

TEST_F(Discovery, LongProductNameKeepsSixtyThreeCharacters) {
    backend->add(0x1209, 1, 0xF1D0, std::string(70, 'x'));
    enumerateDevices(deviceManager());
    EXPECT_EQ(deviceManager().records[0].productName, std::string(63, 'x'));
}

TEST_F(Discovery, SelectionRules) {
    auto keyboard = backend->add(0x1050, 0x0407, 0x0001);
    auto first = backend->add(0x1050, 0x0407, 0xF1D0, "First");
    auto second = backend->add(0x1209, 0x0001, 0xF1D0, "Second");
    auto twin = backend->add(0x1209, 0x0001, 0xF1D0, "Twin");
    enumerateDevices(deviceManager());
    ASSERT_EQ(deviceManager().records.size(), 4u);

    // Either ID 0: the first FIDO collection in list order.
    deviceManager().initPending = false;
    EXPECT_EQ(selectDevice(deviceManager(), 0x1209, 0), 1);
    EXPECT_EQ(deviceManager().selected.productName, "First");
    EXPECT_TRUE(deviceManager().initPending);

    // Only the FIDO collection of a key with several collections can be chosen.
    EXPECT_EQ(selectDevice(deviceManager(), 0x1050, 0x0407), 1);
    EXPECT_EQ(deviceManager().selected.usagePage, 0xF1D0);

    // Same IDs twice: 2, the later-listed key, which needs a channel of its own.
    deviceManager().initPending = false;
    EXPECT_EQ(selectDevice(deviceManager(), 0x1209, 0x0001), 2);
    EXPECT_EQ(deviceManager().selected.productName, "Twin");
    EXPECT_TRUE(deviceManager().initPending);

    // A removed key: nothing chosen, selected empty after the enumeration.
    backend->entries.pop_back();
    backend->entries.pop_back();
    enumerateDevices(deviceManager());
    EXPECT_EQ(selectDevice(deviceManager(), 0x1209, 0x0001), 0);
    EXPECT_FALSE(deviceManager().selected.present());
    (void)keyboard;
    (void)first;
    (void)second;
    (void)twin;
}

TEST_F(Discovery, HandlesCloseExactlyOnceAndSelectedDoesNotOwn) {
    auto key = backend->add(0x1209, 0x0001, 0xF1D0);
    auto mouse = backend->add(0x046D, 0xC077, 0x0001);
    enumerateDevices(deviceManager());
    EXPECT_EQ(mouse->opens, 1);
    EXPECT_EQ(mouse->closes, 1);  // not retained
    selectDevice(deviceManager(), 0, 0);
    DeviceRecord copy = deviceManager().selected;
    (void)copy;
    EXPECT_EQ(key->closes, 0);
    enumerateDevices(deviceManager());  // the old handles close with their records
    EXPECT_EQ(key->opens, 2);
    EXPECT_EQ(key->closes, 1);
    deviceManager().closeAll();
    EXPECT_EQ(key->closes, 2);
}

TEST_F(Discovery, AnyFidoCollectionWhenAsked) {
    backend->add(0x20A0, 0x42B1, 0xF1D0, "Other Key");
    enumerateDevices(deviceManager());
    EXPECT_TRUE(deviceManager().records.empty());
    deviceManager().setAcceptAnyFido(true);
    enumerateDevices(deviceManager());
    EXPECT_EQ(deviceManager().records.size(), 1u);
    deviceManager().setAcceptAnyFido(false);
}

}  // namespace
}  // namespace orvanta::test
