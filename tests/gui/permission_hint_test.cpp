// The hint for a key that the system lists but will not open.

#include "app/permission_hint.h"

#include <gtest/gtest.h>

namespace orvanta {
namespace {

OpenFailure failure(const std::string& product, const std::string& path,
                    const std::string& reason) {
    OpenFailure result;
    result.info.productString = product;
    result.info.path = path;
    result.info.vendorId = 0x1050;
    result.info.productId = 0x0407;
    result.info.usagePage = 0xF1D0;
    result.reason = reason;
    return result;
}

TEST(PermissionHint, NothingWhenEveryKeyOpened) {
    EXPECT_EQ(permissionHint({}), "");
}

TEST(PermissionHint, NamesTheDeviceThePathAndTheFix) {
    EXPECT_EQ(permissionHint({failure("Key 5", "/dev/hidraw3", "permission denied")}),
              "Cannot open Key 5 (/dev/hidraw3): permission denied - udev gives FIDO keys to "
              "the user at the machine's seat (60-fido-id.rules, 70-uaccess.rules); without a "
              "seat session (ssh, a container) add the udev rule SUBSYSTEM==\"hidraw\", "
              "ENV{ID_SECURITY_TOKEN}==\"1\", GROUP=\"plugdev\", MODE=\"0660\", join plugdev "
              "and replug the key");
}

TEST(PermissionHint, CountsFurtherFailuresAndFillsMissingTexts) {
    const std::string hint =
        permissionHint({failure("", "/dev/hidraw1", ""), failure("B", "/dev/hidraw2", "busy"),
                        failure("C", "/dev/hidraw5", "busy")});
    EXPECT_EQ(hint.rfind("Cannot open security key (/dev/hidraw1): cannot open (and 2 more) - ", 0),
              0u)
        << hint;
    EXPECT_EQ(hint.find('\n'), std::string::npos);
}

TEST(PermissionHint, CardsThatWillNotOpenAreNotNamed) {
    // Most often some other card without a FIDO application: no udev rule helps there.
    OpenFailure card =
        failure("Virtual PCD 00 00", "pcsc:Virtual PCD 00 00", "the card has no FIDO application");
    card.info.transport = TransportKind::Card;
    EXPECT_EQ(permissionHint({card}), "");
    EXPECT_EQ(permissionHint({card, failure("Key 5", "/dev/hidraw3", "permission denied")})
                  .rfind("Cannot open Key 5 (/dev/hidraw3): permission denied - ", 0),
              0u);
}

}  // namespace
}  // namespace orvanta
