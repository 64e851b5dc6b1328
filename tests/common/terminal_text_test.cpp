// Device and file texts on a terminal: controls and broken UTF-8 escaped, the rest kept.

#include "common/terminal_text.h"

#include <gtest/gtest.h>

namespace orvanta {
namespace {

TEST(TerminalSafe, EscapesControlsAndBrokenUtf8AndKeepsText) {
    using namespace std::string_literals;
    // A forged row (CR, LF), a title change (ESC ] ... BEL), DEL and NUL.
    EXPECT_EQ(terminalSafe("FIDO\r\nVerify Result    YES"), "FIDO\\x0d\\x0aVerify Result    YES");
    EXPECT_EQ(terminalSafe("\x1b]0;owned\x07"), "\\x1b]0;owned\\x07");
    EXPECT_EQ(terminalSafe("a\x7f"s + '\0' + "b"), "a\\x7f\\x00b");
    // C1 CSI (U+009B) as UTF-8, a lone continuation byte, an overlong form, a surrogate and
    // a sequence cut by the end of the text.
    EXPECT_EQ(terminalSafe("\xc2\x9b"
                           "2J"),
              "\\xc2\\x9b2J");
    EXPECT_EQ(terminalSafe("\x80\xc0\xaf\xed\xa0\x80\xe2\x82"),
              "\\x80\\xc0\\xaf\\xed\\xa0\\x80\\xe2\\x82");
    // The bidirectional embeddings, overrides and isolates, which reorder what follows;
    // their neighbours (U+2010, U+202F, U+2065, U+206A) are kept.
    EXPECT_EQ(terminalSafe("\u202a\u202e\u2066\u2069"),
              "\\xe2\\x80\\xaa\\xe2\\x80\\xae\\xe2\\x81\\xa6\\xe2\\x81\\xa9");
    EXPECT_EQ(terminalSafe("\u2010\u202f\u2065\u206a"), "\u2010\u202f\u2065\u206a");
    // Printable UTF-8 of every length passes untouched.
    EXPECT_EQ(terminalSafe("Orvanta Virtual Key \xc2\xa0\xe7\xa8\x8b\xf0\x9f\x94\x91"),
              "Orvanta Virtual Key \xc2\xa0\xe7\xa8\x8b\xf0\x9f\x94\x91");
}

}  // namespace
}  // namespace orvanta
