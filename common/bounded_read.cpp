#include "common/bounded_read.h"

#include <fstream>
#include <istream>

namespace orvanta {

bool readBounded(std::istream& in, size_t limit, std::vector<uint8_t>& out) {
    char chunk[16384];
    while (in) {
        in.read(chunk, sizeof chunk);
        const std::streamsize got = in.gcount();
        if (got <= 0) {
            break;
        }
        if (out.size() + static_cast<size_t>(got) > limit) {
            return false;
        }
        out.insert(out.end(), chunk, chunk + got);
    }
    return true;
}

std::optional<std::vector<uint8_t>> readFileBounded(const std::string& path, size_t limit) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes;
    if (!in || !readBounded(in, limit, bytes) || in.bad()) {
        return std::nullopt;
    }
    return bytes;
}

}  // namespace orvanta
