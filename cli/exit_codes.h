#pragma once
// Exit status of orvanta-cli.

namespace orvanta::cli {

inline constexpr int EXIT_DONE = 0;
inline constexpr int EXIT_FAILED = 1;  // device, protocol or file failure
inline constexpr int EXIT_USAGE = 2;   // the command line is wrong
inline constexpr int EXIT_NO_KEY = 3;  // no security key found

}  // namespace orvanta::cli
