#include "cli/cbor_check.h"

namespace orvanta::cli {

namespace {

class Checker {
  public:
    Checker(const uint8_t* data, size_t length) : data_(data), length_(length) {}

    // One item at the position; false with error_ set on the first fault.
    bool item(int depth) {
        if (depth > MAX_CBOR_DEPTH) {
            return fail("nested too deeply");
        }
        if (position_ >= length_) {
            return fail("ends inside an item");
        }
        uint8_t initial = data_[position_++];
        uint8_t major = initial >> 5;
        uint8_t info = initial & 0x1F;
        if (info == 31) {
            return indefinite(major, depth);
        }
        uint64_t argument = 0;
        if (!readArgument(info, argument)) {
            return false;
        }
        switch (major) {
            case 0:
            case 1:
                return true;
            case 2:
            case 3:
                return skip(argument);
            case 4:
                return elements(argument, depth);
            case 5:
                if (argument > length_) {
                    return fail("ends inside a map");
                }
                return elements(argument * 2, depth);
            case 6:
                return item(depth + 1);
            default:  // simple values and floats
                if (info == 24 && argument < 32) {
                    return fail("badly encoded simple value");
                }
                return true;
        }
    }

    size_t position() const { return position_; }
    const std::string& error() const { return error_; }

  private:
    bool fail(const char* what) {
        if (error_.empty()) {
            error_ = std::string(what) + " at offset " + std::to_string(position_);
        }
        return false;
    }

    bool readArgument(uint8_t info, uint64_t& argument) {
        if (info < 24) {
            argument = info;
            return true;
        }
        if (info > 27) {
            return fail("reserved header");
        }
        size_t bytes = size_t{1} << (info - 24);
        if (length_ - position_ < bytes) {
            return fail("ends inside a header");
        }
        for (size_t i = 0; i < bytes; ++i) {
            argument = (argument << 8) | data_[position_++];
        }
        return true;
    }

    bool skip(uint64_t bytes) {
        if (bytes > length_ - position_) {
            return fail("a string runs past the end");
        }
        position_ += static_cast<size_t>(bytes);
        return true;
    }

    bool elements(uint64_t count, int depth) {
        if (count > length_ - position_) {
            return fail("more elements than bytes");
        }
        for (uint64_t i = 0; i < count; ++i) {
            if (!item(depth + 1)) {
                return false;
            }
        }
        return true;
    }

    bool atBreak() const { return position_ < length_ && data_[position_] == 0xFF; }

    bool indefinite(uint8_t major, int depth) {
        switch (major) {
            case 2:
            case 3:
                // Chunks: definite strings of the same major type.
                while (!atBreak()) {
                    if (position_ >= length_) {
                        return fail("ends inside a string");
                    }
                    uint8_t initial = data_[position_++];
                    uint64_t argument = 0;
                    if ((initial >> 5) != major || (initial & 0x1F) == 31) {
                        return fail("bad chunk of an indefinite string");
                    }
                    if (!readArgument(initial & 0x1F, argument) || !skip(argument)) {
                        return false;
                    }
                }
                ++position_;
                return true;
            case 4:
            case 5: {
                size_t items = 0;
                while (!atBreak()) {
                    if (!item(depth + 1)) {
                        return false;
                    }
                    ++items;
                }
                ++position_;
                if (major == 5 && items % 2 != 0) {
                    return fail("a map key without value");
                }
                return true;
            }
            case 7:
                return fail("a break outside an indefinite item");
            default:
                return fail("an indefinite integer or tag");
        }
    }

    const uint8_t* data_;
    size_t length_;
    size_t position_ = 0;
    std::string error_;
};

}  // namespace

CborCheck checkCborItem(const uint8_t* data, size_t length) {
    CborCheck result;
    if (data == nullptr || length == 0) {
        result.error = "no bytes";
        return result;
    }
    Checker checker(data, length);
    if (!checker.item(0)) {
        result.error = checker.error();
        return result;
    }
    result.ok = true;
    result.itemLength = checker.position();
    return result;
}

}  // namespace orvanta::cli
