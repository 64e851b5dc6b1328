#include "ctap/status_messages.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

#include "transport/exchange.h"

namespace orvanta {
namespace {

// Each code with the sentence it is shown with.
void expectSentences(std::initializer_list<std::pair<int32_t, const char*>> expected) {
    for (const auto& [code, sentence] : expected) {
        EXPECT_EQ(statusMessage(code), sentence) << std::hex << code;
    }
}

TEST(StatusMessage, CtapStatusBytes) {
    expectSentences({
        {0x00, "successful."},
        {0x31, "PIN Invalid."},
        {0x12, "Error when parsing CBOR."},
        {0x11, "Invalid/unexpected CBOR error."},
        {0x21, "Processing (Lengthy operation is in progress)."},
        {0x30, "Continuation command, such as, authenticatorGetNextAssertion not allowed."},
        {0x34, "PIN authentication,pinAuth, blocked. Requires power recycle to reset."},
        {0x38, "pinToken expired on authenticator."},
        {0x3B, "User presence is required for the requested operation."},
        {0x7F, "Other unspecified error."},
        {0xDF, "CTAP 2 spec last error."},
        // Rows that share one sentence.
        {0x16, "Unsupported extension."},
        {0x18, "Unsupported extension."},
        {0x2B, "Unsupported option."},
        {0x2C, "Unsupported option."},
        // Only the ends of the extension and vendor ranges have a sentence.
        {0xE0, "Extension specific error."},
        {0xEF, "Extension specific error."},
        {0xF0, "Vendor specific error."},
        {0xFF, "Vendor specific error."},
    });
    // Another pair that shares one sentence.
    EXPECT_EQ(statusMessage(0x15), statusMessage(0x17));
}

TEST(StatusMessage, StatusWordsAndUnknownCodes) {
    expectSentences({
        {0x6A82, "Application not found, 0x6A82"},
        {0x6200, "Application has been logically deleted, 0x6200"},
        {0x6985, "Conditions of use not satisfied, 0x6985"},
        {0x6A86, "Incorrect P1 P2, 0x6A86"},
        {0x6E00, "Invalid class, 0x6E00"},
    });

    for (int32_t code : {0x07,
                         0x09,
                         0x0C,
                         0x0F,
                         0x1A,
                         0x20,
                         0x3C,
                         0x7E,
                         0x80,
                         0xDE,
                         0xE1,
                         0xE5,
                         0xEE,
                         0xF1,
                         0xFE,
                         0x100,
                         0x9000,
                         0x6A81,
                         0x6982 + 0x10000,
                         static_cast<int32_t>(TRANSPORT_FAILED),
                         -1,
                         INT32_MIN,
                         INT32_MAX}) {
        EXPECT_EQ(statusMessage(code), "Unknown Error") << std::hex << code;
    }
}

}  // namespace
}  // namespace orvanta
