#include "cli/device_commands.h"

#include <algorithm>
#include <istream>
#include <ostream>
#include <system_error>

#include "cli/exit_codes.h"
#include "cli/metadata_policy.h"
#include "cli/page_output.h"
#include "cli/pcsc_list.h"
#include "cli/private_temp_dir.h"
#include "common/base64.h"
#include "common/hex_text.h"
#include "common/terminal_text.h"
#include "info/device_refresh.h"
#include "report/file_write.h"
#include "report/status_texts.h"
#include "transport/device_list.h"
#include "transport/exchange.h"

namespace orvanta::cli {

namespace {

bool accessRefused(const std::string& reason) {
    return reason.find("ermission") != std::string::npos ||
           reason.find("denied") != std::string::npos;
}

bool isAccepted(const HidInterfaceInfo& info, bool acceptAny) {
    return isAcceptedDevice(info.vendorId, info.productId) ||
           (acceptAny && info.usagePage == FIDO_USAGE_PAGE);
}

std::string udpAddress(const UdpEndpoints& endpoints) {
    return endpoints.host + ":" + std::to_string(endpoints.simulatorPort);
}

void reportNoKey(Context& context, const DeviceChoice& choice, DeviceContext& device) {
    const DeviceList& devices = device.devices();
    if (const std::string reason = noKeysText(device.source()); !reason.empty()) {
        fail(context, reason);
    } else if (!choice.vidText.empty()) {
        fail(context, "No security key " + choice.vidText + ":" + choice.pidText + " found.");
    } else {
        fail(context, "No security key found.");
    }
    for (const OpenFailure& failure : devices.openFailures) {
        context.err << terminalSafe(openFailureText(failure.info, failure.reason)) << std::endl;
    }
}

bool recordPresent(const DeviceList& devices, const std::string& vidText,
                   const std::string& pidText) {
    for (const DeviceRecord& record : devices.records) {
        if (record.usagePage == FIDO_USAGE_PAGE && hex4(record.vendorId) == vidText &&
            hex4(record.productId) == pidText) {
            return true;
        }
    }
    return false;
}

// One ping before the refresh: a key (or simulator) that does not answer would make each
// of its exchanges wait out the reply limit, one after the other.
bool keyAnswers(DeviceSession& session) {
    const uint8_t ping[8] = {'o', 'r', 'v', 'a', 'n', 't', 'a', '?'};
    QuickExchanges quick(session);
    Result<Bytes> reply = exchange(session, CTAPHID_PING, ping);
    if (!reply) {
        // A transport without PING (a card) has had the key answer when its link opened; a
        // key that refuses the ping (CTAPHID_ERROR) answers too, and the refresh tells what
        // it refuses.
        return reply.error().cause == TransportCause::Unsupported ||
               reply.error().cause == TransportCause::KeyError;
    }
    return reply->size() == sizeof ping &&
           std::equal(reply->begin(), reply->end(), std::begin(ping));
}

// Chooses the key and fills the pages as the window does at start.
int openKey(Context& context, const DeviceChoice& choice, DeviceContext& device,
            const Pages& pages) {
    const DeviceList& devices = device.enumerate();
    if (!choice.vidText.empty()) {
        // The refresh falls back to the first key when the asked one is missing; the
        // command line shows only the key it was asked for.
        if (!recordPresent(devices, choice.vidText, choice.pidText)) {
            reportNoKey(context, choice, device);
            return EXIT_NO_KEY;
        }
        device.select(static_cast<uint32_t>(std::stoul(choice.vidText, nullptr, 16)),
                      static_cast<uint32_t>(std::stoul(choice.pidText, nullptr, 16)));
    } else {
        device.select(0, 0);
    }
    if (!device.session().present()) {
        reportNoKey(context, choice, device);
        return EXIT_NO_KEY;
    }
    if (!keyAnswers(device.session())) {
        if (choice.kind == DeviceChoice::Kind::Udp) {
            fail(context, "No reply from the UDP simulator at " + udpAddress(choice.udp) +
                              " (replies expected on local port " +
                              std::to_string(choice.udp.replyPort) + ").");
            return EXIT_NO_KEY;
        }
        fail(context, report::keyDoesNotAnswerText(device.session().device()));
        return EXIT_FAILED;
    }
    report::refreshPages(device, pages, choice.vidText, choice.pidText);
    if (!device.session().present()) {
        reportNoKey(context, choice, device);
        return EXIT_NO_KEY;
    }
    return EXIT_DONE;
}

template <class Prompts>
int fetch(Context& context, Prompts& prompts, DeviceContext& device, const Pages& pages,
          const report::PageDefinition& page) {
    prompts.reset();
    const FetchResult result = page.fetch(device, pages, prompts);
    const std::string name = page.fetchName;
    if (result.cancelled()) {
        fail(context, "The " + name + " fetch was cancelled.");
        return EXIT_FAILED;
    }
    // The fetch's own messages have told the user what went wrong.
    for (const std::string& message : prompts.failureMessages()) {
        noteFailure(context, message);
    }
    if (result.outcome == FetchOutcome::Shown && prompts.failureMessages().empty()) {
        return EXIT_DONE;
    }
    if (prompts.failureMessages().empty()) {
        // Some ends are silent in the window (an error status, a refused PIN step); here
        // the exit status tells, and a line says which fetch it was.
        fail(context, "The " + name + " fetch ended without certificates.");
    }
    return EXIT_FAILED;
}

// A key the metadata BLOB reports as revoked or compromised is refused by policy: said once,
// and the run fails.
int metadataStatus(Context& context, const Pages& pages) {
    for (const report::PageDefinition& page : report::pageList()) {
        if (const int status = refuseCompromisedKey(context, page.model(pages));
            status != EXIT_DONE) {
            return status;
        }
    }
    return EXIT_DONE;
}

// The backend the device choice asks for; a choice that cannot be made is a usage error,
// reported here.
std::shared_ptr<KeySource> backendOrUsageError(Context& context, const DeviceChoice& choice) {
    std::string error;
    std::shared_ptr<KeySource> backend = makeKeySource(choice, context.clock, &error);
    if (!backend) {
        fail(context, error);
    }
    return backend;
}

}  // namespace

std::string openFailureText(const HidInterfaceInfo& info, const std::string& reason) {
    std::string product = info.productString.empty() ? "security key" : info.productString;
    std::string text = "Cannot open " + product + " (" + info.path +
                       "): " + (reason.empty() ? std::string("cannot open") : reason);
    if (accessRefused(reason)) {
        text += std::string(" - ") + UDEV_FIX;
    }
    return text;
}

namespace {

// One HID collection as list shows it.
struct ListEntry {
    HidInterfaceInfo info;
    bool fido = false;
    bool accepted = false;
    std::string error;  // empty: opened
};

// Why a listed collection is not among the opened keys; empty when it opened.
std::string listError(const ListEntry& entry, const DeviceList& devices, KeySource& backend) {
    auto failed =
        std::find_if(devices.openFailures.begin(), devices.openFailures.end(),
                     [&](const OpenFailure& f) { return f.info.path == entry.info.path; });
    if (failed != devices.openFailures.end()) {
        return failed->reason.empty() ? "cannot open" : failed->reason;
    }
    if (!entry.accepted) {
        // The enumeration opened and closed it without keeping the reason of a failure: ask
        // once more.
        std::string reason;
        if (!backend.open(entry.info.path, &reason)) {
            return reason.empty() ? "cannot open" : reason;
        }
    }
    return {};
}

std::vector<ListEntry> listEntries(DeviceContext& device, KeySource& backend, bool acceptAny) {
    const DeviceList& devices = device.enumerate();
    std::vector<ListEntry> entries;
    for (const HidInterfaceInfo& info : devices.listed) {
        ListEntry entry{info, info.usagePage == FIDO_USAGE_PAGE, isAccepted(info, acceptAny), ""};
        bool recorded = std::any_of(devices.records.begin(), devices.records.end(),
                                    [&](const DeviceRecord& r) { return r.path == info.path; });
        if (!recorded) {
            entry.error = listError(entry, devices, backend);
        } else if (info.simulator()) {
            // A socket opens whether or not a simulator listens: it counts as opened only
            // once it answered.
            device.select(info.vendorId, info.productId);
            if (!keyAnswers(device.session())) {
                entry.error = "no reply from the simulator";
            }
        }
        entries.push_back(entry);
    }
    return entries;
}

nlohmann::json listJson(const std::vector<ListEntry>& entries) {
    nlohmann::json list = nlohmann::json::array();
    for (const ListEntry& e : entries) {
        nlohmann::json error = nullptr;
        nlohmann::json fix = nullptr;
        if (!e.error.empty()) {
            error = e.error;
            if (e.fido && accessRefused(e.error)) {
                fix = UDEV_FIX;
            }
        }
        list.push_back({{"path", e.info.path},
                        {"vendorId", hex4(e.info.vendorId)},
                        {"productId", hex4(e.info.productId)},
                        {"releaseNumber", hex4(e.info.releaseNumber)},
                        {"product", e.info.productString},
                        {"usagePage", hex4(e.info.usagePage)},
                        {"usage", hex4(e.info.usage)},
                        {"fido", e.fido},
                        {"accepted", e.accepted},
                        {"opened", e.error.empty()},
                        {"error", error},
                        {"fix", fix}});
    }
    return {{"interfaces", list}};
}

std::string listStatus(const ListEntry& e) {
    std::string status;
    if (e.fido) {
        status = "FIDO";
    }
    if (e.accepted) {
        status += status.empty() ? "accepted" : ", accepted";
    }
    if (!e.error.empty()) {
        status += (status.empty() ? "" : ", ") + std::string("cannot open: ") + e.error;
    }
    return status.empty() ? "-" : status;
}

void printList(std::ostream& out, const std::vector<ListEntry>& entries) {
    std::vector<std::vector<std::string>> table;
    table.push_back({"Path", "VID:PID", "Usage", "Product", "Status"});
    for (const ListEntry& e : entries) {
        table.push_back({terminalSafe(e.info.path),
                         hex4(e.info.vendorId) + ":" + hex4(e.info.productId),
                         hex4(e.info.usagePage) + ":" + hex4(e.info.usage),
                         terminalSafe(e.info.productString), terminalSafe(listStatus(e))});
    }
    std::vector<size_t> widths(5, 0);
    for (const auto& line : table) {
        for (size_t i = 0; i < line.size(); ++i) {
            widths[i] = std::max(widths[i], displayWidth(line[i]));
        }
    }
    for (size_t row = 0; row < table.size(); ++row) {
        std::string text;
        for (size_t i = 0; i < table[row].size(); ++i) {
            text += table[row][i];
            if (i + 1 < table[row].size()) {
                text.append(widths[i] + 2 - displayWidth(table[row][i]), ' ');
            }
        }
        out << text << '\n';
        // The FIDO udev rules open FIDO collections only; other devices stay closed.
        if (row > 0 && entries[row - 1].fido && accessRefused(entries[row - 1].error)) {
            out << "  fix: " << UDEV_FIX << '\n';
        }
    }
    out.flush();
}

}  // namespace

int runList(Context& context, const DeviceChoice& choice) {
    if (choice.kind == DeviceChoice::Kind::Pcsc) {
        return runPcscList(context, choice);  // readers and cards rather than HID collections
    }
    std::shared_ptr<KeySource> backend = backendOrUsageError(context, choice);
    if (!backend) {
        return EXIT_USAGE;
    }
    DeviceContext device(backend, context.clock, choice.acceptAny);
    const std::vector<ListEntry> entries = listEntries(device, *backend, choice.acceptAny);
    if (context.json) {
        context.document = listJson(entries);
    } else {
        printList(context.out, entries);
    }
    const bool usable = std::any_of(entries.begin(), entries.end(), [](const ListEntry& e) {
        return e.fido && e.accepted && e.error.empty();
    });
    if (!usable) {
        fail(context, "No security key found.");
        return EXIT_NO_KEY;
    }
    return EXIT_DONE;
}

namespace {

// One command's view of the key: the devices of the chosen backend, temporary certificate
// files in a private directory, every page refreshed, prompts on the terminal. status
// is the refresh's outcome (EXIT_DONE when the key answered).
class KeySession {
  public:
    // path: the one key to open (empty: the choice's rules).
    KeySession(Context& context, const DeviceChoice& choice, std::shared_ptr<KeySource> backend,
               const std::string& path = {})
        : device(std::move(backend), context.clock, choice.acceptAny),
          prompts(context.prompts, context.in, context.err, context.terminal) {
        device.setCancelFlag(context.interrupted);
        device.setPreferredPath(path);
        device.setMetadata(context.metadata);
        models.fido2.fileDirectory = temp_.path();
        models.u2f.fileDirectory = temp_.path();
        status = openKey(context, choice, device, pages);
    }

  private:
    // Declared first: it outlives the pages and is undone last.
    PrivateTempDir temp_;

  public:
    DeviceContext device;
    PageModels models;
    Pages pages = models.pages();
    TerminalPrompts prompts;
    int status = EXIT_DONE;
};

}  // namespace

namespace {

template <class Prompts>
int showKeyPages(Context& context, KeySession& session, const PageSelection& selection,
                 Prompts& prompts) {
    if (session.status != EXIT_DONE) {
        return session.status;
    }
    int status = EXIT_DONE;
    const bool refreshedPageShown =
        std::any_of(selection.begin(), selection.end(),
                    [](const report::PageDefinition* page) { return page->fetch == nullptr; });
    // Rows are missing because the key stopped talking or refused to, not because it lacks
    // applets.
    const DeviceContext::Facts& facts = session.device.facts();
    if (refreshedPageShown && (facts.transportFailed || facts.everyRequestRefused)) {
        const DeviceRecord& key = session.device.session().device();
        fail(context, facts.transportFailed ? report::keyStoppedAnsweringText(key)
                                            : report::keyRefusedEveryRequestText(key));
        status = EXIT_FAILED;
    }
    for (const report::PageDefinition* page : selection) {
        if (page->fetch != nullptr) {
            status =
                std::max(status, fetch(context, prompts, session.device, session.pages, *page));
        }
    }
    status = std::max(status, metadataStatus(context, session.pages));
    showPages(context, report::pageViews(selection, session.device.session().device(),
                                         session.device.facts(), session.pages));
    return status;
}

}  // namespace

int runPages(Context& context, const DeviceChoice& choice, const PageSelection& selection) {
    std::shared_ptr<KeySource> backend = backendOrUsageError(context, choice);
    if (!backend) {
        return EXIT_USAGE;
    }
    KeySession session(context, choice, std::move(backend));
    return showKeyPages(context, session, selection, session.prompts);
}

int runKeyPages(Context& context, const DeviceChoice& choice, std::shared_ptr<KeySource> backend,
                const std::string& path, const PageSelection& selection, KeyPrompts& prompts) {
    KeySession session(context, choice, std::move(backend), path);
    return showKeyPages(context, session, selection, prompts);
}

std::string pemCertificate(const uint8_t* der, size_t length) {
    std::string body = base64Encode(der, length);
    std::string text = "-----BEGIN CERTIFICATE-----\n";
    for (size_t i = 0; i < body.size(); i += 64) {
        text += body.substr(i, 64) + "\n";
    }
    text += "-----END CERTIFICATE-----\n";
    return text;
}

int runExport(Context& context, const DeviceChoice& choice, const ExportRequest& request) {
    std::shared_ptr<KeySource> backend = backendOrUsageError(context, choice);
    if (!backend) {
        return EXIT_USAGE;
    }
    KeySession session(context, choice, std::move(backend));
    if (session.status != EXIT_DONE) {
        return session.status;
    }
    const report::PageDefinition& shownPage = *report::findPage(request.page);
    int status = fetch(context, session.prompts, session.device, session.pages, shownPage);
    const auto& page = dynamic_cast<const CertificatePage&>(shownPage.model(session.pages));
    // "-": the certificate alone on standard output, so the page is not printed there.
    const bool toStandardOutput = request.path == "-";
    const std::string target =
        toStandardOutput ? std::string("standard output") : terminalSafe(request.path);

    const std::vector<PageCertificate>& certificates = page.certificates;
    nlohmann::json exported = nullptr;
    if (request.index < 1 || static_cast<size_t>(request.index) > certificates.size()) {
        if (status == EXIT_DONE) {
            fail(context, "The page shows " + std::to_string(certificates.size()) + " certificate" +
                              (certificates.size() == 1 ? "" : "s") + "; there is no certificate " +
                              std::to_string(request.index) + " to export.");
        }
        status = EXIT_FAILED;
    } else {
        const std::vector<uint8_t>& der = certificates[static_cast<size_t>(request.index - 1)].der;
        std::string data = request.pem ? pemCertificate(der.data(), der.size())
                                       : std::string(der.begin(), der.end());
        std::error_code error;
        if (toStandardOutput) {
            context.out.write(data.data(), static_cast<std::streamsize>(data.size()));
            if (!context.out.flush()) {
                error = std::make_error_code(std::errc::io_error);
            }
        } else {
            error = writeWholeFile(request.path, data);
        }
        if (error) {
            fail(context, "Cannot write " + target + ": " + error.message());
            status = EXIT_FAILED;
        } else {
            context.err << "Certificate " << request.index << " written to " << target << " ("
                        << (request.pem ? "PEM" : "DER") << ", " << der.size() << " bytes)."
                        << std::endl;
            exported = {{"path", request.path},
                        {"index", request.index},
                        {"format", request.pem ? "pem" : "der"},
                        {"bytes", der.size()}};
        }
    }
    std::vector<PageView> shown{
        shownPage.view(session.device.session().device(), session.device.facts(), session.pages)};
    if (context.json) {
        nlohmann::json result = pagesJson(shown);
        result["export"] = exported;
        context.document = std::move(result);
    } else if (!toStandardOutput) {
        printPagesText(context.out, shown);
    }
    return status;
}

}  // namespace orvanta::cli
