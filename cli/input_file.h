#pragma once
// Files given to the offline decoders: binary, hexadecimal text, Base64 or Base64url text,
// or a PEM block; "-" reads standard input.

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/base64.h"

namespace orvanta::cli {

using Bytes = std::vector<uint8_t>;

// The largest file the decoders take (replies and certificates are a few kilobytes).
inline constexpr size_t MAX_INPUT_BYTES = 1 << 20;

struct InputResult {
    Bytes bytes;
    std::string error;  // empty on success
    Bytes raw;          // what was read, before decodeInput
};

// Reads the path ("-": the stream) and decodes its text forms (decodeInput).
InputResult readInput(const std::string& path, std::istream& in);

// Text forms, tried in this order on what was read:
//   a PEM block ("-----BEGIN ...") -> the Base64 between its header and footer lines;
//   only hexadecimal digits and white space, an even number of digits -> hex;
//   only Base64 or Base64url characters, white space and "=" padding -> Base64;
//   anything else -> the bytes as they are.
Bytes decodeInput(const Bytes& raw);

// The certificates of a PEM text, in order: the DER of every block whose label ends in
// "CERTIFICATE", also after other text (as "openssl x509 -text" writes it); other blocks
// (keys, requests) are skipped. When no block is labelled so, the first block whatever its
// label, as decodeInput reads it. A block whose Base64 does not decode gives empty bytes.
// Nothing when the text holds no PEM block.
std::optional<std::vector<Bytes>> pemCertificates(const Bytes& raw);

// Strict hexadecimal text (white space and ":" between bytes allowed, optional "0x").
std::optional<Bytes> parseHex(const std::string& text);

// Strict Base64 or Base64url (padding optional, white space ignored): the project's one
// strict decoder, base64DecodeStrict.
inline std::optional<Bytes> parseBase64(std::string_view text) {
    return base64DecodeStrict(text);
}

}  // namespace orvanta::cli
