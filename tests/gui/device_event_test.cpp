// Device events: the trace line, the IDs as udev gives them, and which events refresh.

#include "app/device_event.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "app/udev_monitor.h"

namespace orvanta {
namespace {

TEST(DeviceTrace, ArrivalAndRemovalLinesKeepTheirFormat) {
    EXPECT_EQ(deviceTraceLine({DeviceChange::Arrival, "1209", "0001", 1}),
              "message: 00000219, wparam: 00008000, lparam: 00000001\r\n");
    EXPECT_EQ(deviceTraceLine({DeviceChange::RemoveComplete, "", "", 0x2a}),
              "message: 00000219, wparam: 00008004, lparam: 0000002a\r\n");
    EXPECT_EQ(deviceTraceLine({DeviceChange{0x0007}, "", "", 0xDEADBEEF}),
              "message: 00000219, wparam: 00000007, lparam: deadbeef\r\n");
}

TEST(UsbIds, PaddedToFourUpperCaseDigits) {
    EXPECT_EQ(normaliseUsbId("1209"), "1209");
    EXPECT_EQ(normaliseUsbId("a2ca"), "A2CA");
    EXPECT_EQ(normaliseUsbId("1"), "0001");
    EXPECT_EQ(normaliseUsbId("483"), "0483");
}

TEST(UsbIds, NonHexOrOverlongTextsGiveEmpty) {
    EXPECT_EQ(normaliseUsbId(""), "");
    EXPECT_EQ(normaliseUsbId("12345"), "");
    EXPECT_EQ(normaliseUsbId("12g4"), "");
    EXPECT_EQ(normaliseUsbId("0x12"), "");
}

TEST(DeviceChange, ArrivalAndRemovalRefreshOtherEventsDoNot) {
    EXPECT_TRUE(refreshesPages({DeviceChange::Arrival, "1050", "0407", 3}));
    EXPECT_TRUE(refreshesPages({DeviceChange::RemoveComplete, "", "", 4}));
    for (uint32_t code : {0x0007u, 0x8001u, 0x8003u, 0x0018u}) {
        EXPECT_FALSE(refreshesPages({DeviceChange{code}, "1209", "0001", 1})) << code;
    }
}

}  // namespace
}  // namespace orvanta

namespace orvanta {
namespace {

TEST(UdevEvents, AddAndRemoveBecomeArrivalAndRemovalWithFourDigitIds) {
    DeviceEvent event;
    ASSERT_TRUE(deviceEventFromUdev({"add", "1050", "0407", "1050/407/526", ""}, 12, event));
    EXPECT_EQ(event.code, DeviceChange::Arrival);
    EXPECT_EQ(event.vendorId, "1050");
    EXPECT_EQ(event.productId, "0407");
    EXPECT_EQ(event.data, 12u);
    ASSERT_TRUE(deviceEventFromUdev({"remove", "0483", "a2ca", "", ""}, 13, event));
    EXPECT_EQ(event.code, DeviceChange::RemoveComplete);
    EXPECT_EQ(event.productId, "A2CA");
}

using Ids = std::pair<std::string, std::string>;

// The vendor and product IDs of the event a udev message makes.
Ids idsOf(const UdevMessage& message) {
    DeviceEvent event;
    EXPECT_TRUE(deviceEventFromUdev(message, 1, event));
    return {event.vendorId, event.productId};
}

TEST(UdevEvents, IdsFallBackToTheProductProperty) {
    EXPECT_EQ(idsOf({"remove", "", "", "1209/1/100", ""}), Ids("1209", "0001"));
    EXPECT_EQ(idsOf({"add", "zz", "0001", "46d/c52b/1211", ""}), Ids("046D", "C52B"));
}

TEST(UdevEvents, MissingIdsStayEmptySoTheRefreshShowsTheFirstKey) {
    EXPECT_EQ(idsOf({"add", "", "", "garbage", ""}), Ids("", ""));
}

TEST(UdevEvents, AHidrawNodeCountsOnlyWithoutAUsbDevice) {
    EXPECT_EQ(
        idsOf({"add", "", "", "", "/devices/virtual/misc/uhid/0003:1209:0A01.0004/hidraw/hidraw0"}),
        Ids("1209", "0A01"));
    EXPECT_EQ(idsOf({"remove", "", "", "", "/devices/virtual/misc/uhid/bad/hidraw/hidraw1"}),
              Ids("", ""));
    DeviceEvent event;
    EXPECT_FALSE(deviceEventFromUdev(
        {"add", "", "", "",
         "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:1050:0407.0001/hidraw/hidraw0"},
        1, event));
}

TEST(UdevEvents, OtherActionsAreNotDeviceChanges) {
    DeviceEvent event;
    for (const char* action : {"bind", "unbind", "change", "move", ""}) {
        EXPECT_FALSE(deviceEventFromUdev({action, "1209", "0001", "", ""}, 1, event)) << action;
    }
}

}  // namespace
}  // namespace orvanta
