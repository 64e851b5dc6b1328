#include "cli/input_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <istream>

#include "common/base64.h"
#include "common/bounded_read.h"
#include "common/hex_text.h"

namespace orvanta::cli {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// The Base64 text of the first PEM block, or nothing when the text is not PEM.
std::optional<std::string> pemBody(const std::string& text) {
    size_t begin = text.find("-----BEGIN ");
    if (begin == std::string::npos || text.find_first_not_of(" \t\r\n") != begin) {
        return std::nullopt;
    }
    size_t bodyStart = text.find('\n', begin);
    size_t end = text.find("-----END ", begin);
    if (bodyStart == std::string::npos || end == std::string::npos || end < bodyStart) {
        return std::nullopt;
    }
    return text.substr(bodyStart + 1, end - bodyStart - 1);
}

bool isPrintableText(const Bytes& raw) {
    for (uint8_t b : raw) {
        if (b >= 0x80 || (b < 0x20 && !isSpace(static_cast<char>(b)))) {
            return false;
        }
    }
    return true;
}

struct PemBlock {
    std::string label;  // between "-----BEGIN " and "-----"
    std::string body;   // the Base64 lines
};

// Every complete PEM block of the text, wherever it starts.
std::vector<PemBlock> pemBlocks(const std::string& text) {
    static const std::string BEGIN = "-----BEGIN ";
    std::vector<PemBlock> blocks;
    size_t at = 0;
    while ((at = text.find(BEGIN, at)) != std::string::npos) {
        size_t bodyStart = text.find('\n', at);
        size_t end = text.find("-----END ", at);
        if (bodyStart == std::string::npos || end == std::string::npos || end < bodyStart) {
            break;
        }
        size_t labelStart = at + BEGIN.size();
        size_t labelEnd = text.find("-----", labelStart);
        PemBlock block;
        if (labelEnd != std::string::npos && labelEnd < bodyStart) {
            block.label = text.substr(labelStart, labelEnd - labelStart);
        }
        block.body = text.substr(bodyStart + 1, end - bodyStart - 1);
        blocks.push_back(std::move(block));
        at = end + 1;
    }
    return blocks;
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

std::optional<std::vector<Bytes>> pemCertificates(const Bytes& raw) {
    if (raw.empty() || !isPrintableText(raw)) {
        return std::nullopt;
    }
    std::vector<PemBlock> blocks = pemBlocks(std::string(raw.begin(), raw.end()));
    if (blocks.empty()) {
        return std::nullopt;
    }
    std::vector<Bytes> certificates;
    for (const PemBlock& block : blocks) {
        if (endsWith(block.label, "CERTIFICATE")) {
            certificates.push_back(base64DecodeStrict(block.body).value_or(Bytes{}));
        }
    }
    if (certificates.empty()) {
        certificates.push_back(base64DecodeStrict(blocks.front().body).value_or(Bytes{}));
    }
    return certificates;
}

std::optional<Bytes> parseHex(const std::string& text) {
    std::string digits;
    size_t i = 0;
    while (i < text.size() && isSpace(text[i])) {
        ++i;
    }
    if (text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0) {
        i += 2;
    }
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (isSpace(c) || c == ':') {
            continue;
        }
        digits.push_back(c);
    }
    return hexBytes(digits);
}

Bytes decodeInput(const Bytes& raw) {
    if (raw.empty() || !isPrintableText(raw)) {
        return raw;
    }
    std::string text(raw.begin(), raw.end());
    if (std::optional<std::string> body = pemBody(text)) {
        if (std::optional<Bytes> der = base64DecodeStrict(*body)) {
            return *der;
        }
        return raw;
    }
    if (std::optional<Bytes> bytes = parseHex(text)) {
        if (!bytes->empty()) {
            return *bytes;
        }
    }
    if (std::optional<Bytes> bytes = base64DecodeStrict(text)) {
        if (!bytes->empty()) {
            return *bytes;
        }
    }
    return raw;
}

InputResult readInput(const std::string& path, std::istream& in) {
    InputResult result;
    Bytes raw;
    if (path == "-") {
        if (!readBounded(in, MAX_INPUT_BYTES, raw)) {
            result.error = "standard input holds more than 1 MiB";
            return result;
        }
    } else {
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            result.error = "cannot read " + path + ": " + std::strerror(errno);
            return result;
        }
        if (!readBounded(file, MAX_INPUT_BYTES, raw)) {
            result.error = path + " is larger than 1 MiB";
            return result;
        }
        if (file.bad()) {
            result.error = "cannot read " + path;
            return result;
        }
    }
    result.bytes = decodeInput(raw);
    result.raw = std::move(raw);
    if (result.bytes.empty()) {
        result.error = (path == "-" ? std::string("standard input") : path) + " is empty";
    }
    return result;
}

}  // namespace orvanta::cli
