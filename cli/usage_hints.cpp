#include "cli/usage_hints.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "common/terminal_text.h"

namespace orvanta::cli {

namespace {

// Edits between two words, a swap of neighbouring letters counted as one.
size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1, 0));
    for (size_t i = 0; i <= a.size(); ++i) {
        d[i][0] = i;
    }
    for (size_t j = 0; j <= b.size(); ++j) {
        d[0][j] = j;
    }
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

// The command the user is in: the deepest one the parse reached.
CLI::App* deepestCommand(CLI::App& app) {
    CLI::App* command = &app;
    for (;;) {
        const std::vector<CLI::App*> parsed = command->get_subcommands();
        if (parsed.empty()) {
            return command;
        }
        command = parsed.front();
    }
}

std::vector<std::string> commandNames(CLI::App& command) {
    std::vector<std::string> names;
    for (const CLI::App* sub : command.get_subcommands([](CLI::App*) { return true; })) {
        names.push_back(sub->get_name());
    }
    return names;
}

// "info", "decode makecred": the command as typed after the program's name.
std::string commandPath(const CLI::App* command) {
    std::string path;
    for (; command != nullptr && command->get_parent() != nullptr;
         command = command->get_parent()) {
        path = command->get_name() + (path.empty() ? "" : " ") + path;
    }
    return path;
}

// The command of commands closest to word (a typing slip away, or the one command word
// begins); none when no command is that close.
std::optional<std::string> closestCommand(const std::string& word,
                                          const std::vector<std::string>& commands) {
    std::optional<std::string> best;
    size_t bestDistance = 0;
    for (const std::string& name : commands) {
        const size_t distance = editDistance(word, name);
        if (!best || distance < bestDistance) {
            best = name;
            bestDistance = distance;
        }
    }
    // One slip in a short word, two in a longer one.
    if (best && bestDistance <= (word.size() >= 5 ? 2u : 1u)) {
        return best;
    }
    std::vector<std::string> begun;
    std::copy_if(commands.begin(), commands.end(), std::back_inserter(begun),
                 [&](const std::string& name) {
                     return word.size() >= 2 && name.compare(0, word.size(), word) == 0;
                 });
    if (begun.size() == 1) {
        return begun.front();
    }
    return std::nullopt;
}

// "list, info, fido2 or decode"
std::string listed(const std::vector<std::string>& names) {
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
    }
    return text;
}

std::string unknownCommand(const std::string& word, const std::vector<std::string>& commands) {
    std::string text = "Unknown command \"" + terminalSafe(word) + "\"";
    if (std::optional<std::string> closest = closestCommand(word, commands)) {
        return text + "; did you mean \"" + *closest + "\"?";
    }
    return text + "; the commands are " + listed(commands) + ".";
}

}  // namespace

std::optional<std::string> usageHint(CLI::App& app) {
    CLI::App* command = deepestCommand(app);
    const bool needsCommand =
        command->get_require_subcommand_min() > 0 && command->get_subcommands().empty();
    const std::vector<std::string> left = command->remaining();
    if (!left.empty()) {
        const std::string& first = left.front();
        if (first.size() > 1 && first[0] == '-') {
            // An option of the program after the command: the command does not know it.
            const std::string name = first.substr(0, first.find('='));
            if (command != &app && app.get_option_no_throw(name) != nullptr) {
                return name + " goes before the command: orvanta-cli " + name + " " +
                       commandPath(command) + " ...";
            }
            return std::nullopt;
        }
        if (needsCommand) {
            return unknownCommand(first, commandNames(*command));
        }
        return std::nullopt;
    }
    if (needsCommand) {
        std::string text = "A command is required: " + listed(commandNames(*command)) + ".";
        // The command may have been taken as the value of an option that takes one or none
        // (--virtual infos).
        for (const CLI::Option* option : command->get_options()) {
            for (const std::string& value : option->results()) {
                if (std::optional<std::string> closest =
                        closestCommand(value, commandNames(*command))) {
                    return text + " \"" + terminalSafe(value) + "\" was taken as the value of " +
                           option->get_name() + "; did you mean the command \"" + *closest + "\"?";
                }
            }
        }
        return text;
    }
    return std::nullopt;
}

}  // namespace orvanta::cli
