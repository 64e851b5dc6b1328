#pragma once
// Text that came from a key or a file, made safe to show on a terminal: a key must not be
// able to move the cursor, recolour, retitle or erase, nor forge rows with line breaks.

#include <string>
#include <string_view>

namespace orvanta {

// Control characters (C0, DEL, C1), the bidirectional embeddings, overrides and isolates
// (U+202A to U+202E, U+2066 to U+2069) and bytes that are no part of well-formed UTF-8
// become visible escapes of their bytes ("\x1b", "\xc2\x9b", "\xe2\x80\xae", "\xff");
// everything else is kept.
std::string terminalSafe(std::string_view text);

}  // namespace orvanta
