#include "cli/pcsc_list.h"

#include <algorithm>
#include <ostream>
#include <vector>

#include "cli/exit_codes.h"
#include "cli/page_output.h"
#include "common/terminal_text.h"
#include "transport/clock.h"
#include "transport/pcsc_backend.h"
#include "transport/pcsc_link.h"

namespace orvanta::cli {

namespace {

struct Entry {
    PcscReader reader;
    bool fido = false;
    std::string version;  // what the FIDO SELECT answered
    bool ctap2 = false;
    std::string error;  // a card that could not be opened: why
};

std::string statusText(const Entry& e) {
    if (!e.reader.cardPresent) {
        return "no card";
    }
    if (!e.fido) {
        return "cannot open: " + e.error;
    }
    std::string text = "FIDO";
    if (!e.version.empty()) {
        text += " (" + e.version + (e.ctap2 && e.version != "FIDO_2_0" ? ", CTAP2" : "") + ")";
    }
    return text;
}

void printTable(std::ostream& out, const std::vector<Entry>& entries) {
    std::vector<std::vector<std::string>> table;
    table.push_back({"Reader", "ATR", "Status"});
    for (const Entry& e : entries) {
        table.push_back({terminalSafe(e.reader.name),
                         e.reader.cardPresent ? atrText(e.reader.atr) : std::string("-"),
                         terminalSafe(statusText(e))});
    }
    std::vector<size_t> widths(3, 0);
    for (const auto& line : table) {
        for (size_t i = 0; i < line.size(); ++i) {
            widths[i] = std::max(widths[i], displayWidth(line[i]));
        }
    }
    for (const auto& line : table) {
        std::string text;
        for (size_t i = 0; i < line.size(); ++i) {
            text += line[i];
            if (i + 1 < line.size()) {
                text.append(widths[i] + 2 - displayWidth(line[i]), ' ');
            }
        }
        out << text << '\n';
    }
    out.flush();
}

nlohmann::json entriesJson(const std::vector<Entry>& entries) {
    nlohmann::json list = nlohmann::json::array();
    for (const Entry& e : entries) {
        const bool card = e.reader.cardPresent;
        list.push_back(
            {{"reader", e.reader.name},
             {"card", card},
             {"atr", card ? nlohmann::json(atrText(e.reader.atr)) : nullptr},
             {"fido", e.fido},
             {"version", e.fido ? nlohmann::json(e.version) : nullptr},
             {"ctap2", e.ctap2},
             {"error", e.error.empty() ? nlohmann::json(nullptr) : nlohmann::json(e.error)}});
    }
    return list;
}

std::string reasonText(const NoKeysReason& why) {
    const std::string detail = terminalSafe(why.detail);
    switch (why.cause) {
        case NoKeysCause::ServiceUnreachable:
            return "Cannot reach the PC/SC service: " + detail + ".";
        case NoKeysCause::NoReader:
            return detail.empty() ? std::string("No PC/SC reader found.")
                                  : "No PC/SC reader named \"" + detail + "\".";
        case NoKeysCause::NoCard:
            return detail.empty() ? std::string("No card in any PC/SC reader.")
                                  : "No card in the reader \"" + detail + "\".";
    }
    return {};
}

}  // namespace

int runPcscList(Context& context, const DeviceChoice& choice) {
    PcscBackend backend(choice.pcscReader, choice.cardReplyLimitMs, choice.cardStop);
    std::string error;
    const std::vector<PcscReader> readers = backend.readers(&error);
    if (!error.empty()) {
        fail(context, reasonText({NoKeysCause::ServiceUnreachable, error}));
        return EXIT_NO_KEY;
    }
    std::vector<Entry> entries;
    bool usable = false;
    for (const PcscReader& reader : readers) {
        Entry entry;
        entry.reader = reader;
        if (reader.cardPresent) {
            const std::unique_ptr<PcscLink> card =
                backend.openCard(PCSC_PATH_PREFIX + reader.name, &entry.error);
            if (card) {
                entry.fido = true;
                entry.version = card->versionText();
                entry.ctap2 = card->ctap2();
                usable = true;
            }
        }
        entries.push_back(std::move(entry));
    }
    if (context.json) {
        context.document = {{"readers", entriesJson(entries)}};
    } else {
        printTable(context.out, entries);
    }
    if (!usable) {
        const std::string reason = noKeysText(backend);
        fail(context, reason.empty() ? std::string("No security key found.") : reason);
        return EXIT_NO_KEY;
    }
    return EXIT_DONE;
}

std::string noKeysText(KeySource& source) {
    const std::optional<NoKeysReason> why = source.whyNoKeys();
    return why ? reasonText(*why) : std::string();
}

}  // namespace orvanta::cli
