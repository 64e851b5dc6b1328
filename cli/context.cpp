#include "cli/context.h"

#include <ostream>

#include "cli/exit_codes.h"

namespace orvanta::cli {

void fail(Context& context, const std::string& line) {
    if (!context.keepFailures) {
        context.err << line << std::endl;
    }
    noteFailure(context, line);
}

int fail(Context& context, const Error& why, const std::string& line) {
    fail(context, line);
    // Listed one by one so that a kind added later is decided here, not defaulted.
    switch (why.kind) {
        case ErrorKind::Transport:
        case ErrorKind::CtapStatus:
        case ErrorKind::IsoStatus:
        case ErrorKind::PinStep:
        case ErrorKind::Cancelled:
        case ErrorKind::Malformed:
        case ErrorKind::RefusedByPolicy:  // the key answered, but must not be trusted
            break;
    }
    return EXIT_FAILED;
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
