#pragma once
// Standard error as the commands write it, passed through unchanged, with the last line kept:
// when a command fails, that line is what went wrong, and --json reports it as "error".

#include <ostream>
#include <streambuf>
#include <string>

namespace orvanta::cli {

class ErrorCapture final : public std::streambuf {
  public:
    explicit ErrorCapture(std::ostream& target) : target_(target) {}
    // The last non-empty line written so far.
    const std::string& lastLine() const { return last_; }

  protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) {
            return traits_type::not_eof(c);
        }
        const char ch = traits_type::to_char_type(c);
        target_.put(ch);
        note(ch);
        return c;
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        target_.write(text, count);
        for (std::streamsize i = 0; i < count; ++i) {
            note(text[i]);
        }
        return count;
    }
    int sync() override {
        target_.flush();
        return 0;
    }

  private:
    void note(char ch) {
        if (ch == '\n') {
            if (!current_.empty()) {
                last_ = current_;
            }
            current_.clear();
        } else {
            current_ += ch;
        }
    }

    std::ostream& target_;
    std::string current_;
    std::string last_;
};

}  // namespace orvanta::cli
