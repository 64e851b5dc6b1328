#include "cli/context.h"

#include <ostream>

namespace orvanta::cli {

void fail(Context& context, const std::string& line) {
    if (!context.keepFailures) {
        context.err << line << std::endl;
    }
    noteFailure(context, line);
}

void noteFailure(Context& context, const std::string& line) {
    context.failures.push_back(line);
}

std::string failureText(const Context& context) {
    std::string text;
    for (const std::string& line : context.failures) {
        text += (text.empty() ? "" : " ") + line;
    }
    return text;
}

}  // namespace orvanta::cli
