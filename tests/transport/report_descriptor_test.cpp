#include <gtest/gtest.h>

#include "transport/hidapi_backend.h"

namespace orvanta {
namespace {

TEST(ReportDescriptor, FidoDescriptorGivesSixtyFiveBytesBothWays) {
    // The usual FIDO HID report descriptor: 64-byte input and output reports, no IDs.
    const uint8_t fido[] = {0x06, 0xD0, 0xF1, 0x09, 0x01, 0xA1, 0x01, 0x09, 0x20, 0x15, 0x00, 0x26,
                            0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x81, 0x02, 0x09, 0x21, 0x15, 0x00,
                            0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x91, 0x02, 0xC0};
    ReportLengths l = parseReportLengths(fido, sizeof fido);
    EXPECT_EQ(l.input, 65u);
    EXPECT_EQ(l.output, 65u);
    // Truncated in the middle of an item: stops, never reads past.
    ReportLengths cut = parseReportLengths(fido, 17);
    EXPECT_EQ(cut.input, 0u);
    EXPECT_EQ(cut.output, 0u);
}

}  // namespace
}  // namespace orvanta
