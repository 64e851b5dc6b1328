#include "cli/cli.h"

#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <istream>
#include <iterator>
#include <ostream>
#include <string_view>

#include "cli/check_command.h"
#include "cli/context.h"
#include "cli/decode_commands.h"
#include "cli/device_commands.h"
#include "cli/exit_codes.h"
#include "cli/fleet.h"
#include "cli/page_output.h"
#include "cli/usage_hints.h"
#include "common/terminal_text.h"
#include "orvanta_version.h"
#include "report/device_options.h"

namespace orvanta::cli {

namespace {

const char* const DESCRIPTION =
    "Inspects FIDO security keys: the hardware info page, the FIDO2 and U2F attestation "
    "certificates, and saved replies and certificates offline.";

const char* const FOOTER = R"(Devices:
  Real keys are found through hidraw: the first accepted key, or --device VID:PID.
  --virtual[=PROFILE,...] inspects built-in virtual keys instead (one per profile of the
  list; the first is shown), --udp [HOST:PORT] a firmware simulator that exchanges CTAPHID
  packets over UDP (requests to 127.0.0.1:8111, replies to local port 7112 unless changed),
  --pcsc [READER] a key held to an NFC reader or reached as a smart card through pcscd (the
  first reader with a card, or the one named); its hardware page names the reader and shows
  no USB IDs. With --pcsc, list shows the readers and their cards' ATRs, and --json gives
  {"readers": [{"reader", "card", "atr", "fido", "version", "ctap2", "error"}, ...]}.
  --all-keys runs info, fido2, u2f, all or check on every accepted key at once, each on its
  own thread: one block per key in path order, headed by its product, VID:PID and path, or with
  --json one line per key as it finishes (the single-key document plus "path"). A touch is
  asked for once ("Touch each security key..."), a PIN once (--pin-stdin: one line for all
  keys), standard error ends with each key's outcome, and the exit status is the worst.

Output:
  Each page is printed under its title ("hardware info", "FIDO2 Certification",
  "U2F Certification", "certificate") as two aligned columns headed "Item" and "Value".
  With --json (given before the command) standard output is one JSON document:
    {"pages": [{"page": TITLE, "rows": [{"item": TEXT, "value": TEXT or null}, ...],
                "data": {...}}, ...]}
  "data" holds the typed values a page is built from. hardware info (and decode getinfo):
  "device" {"product", "vendorId", "productId", "releaseNumber", "path"}, "appletVersions"
  {"identify", "fingerprintModule", "winHello", "otp", "piv", "gids", "u2f": TEXT or null,
  "ndef": true/false} and "authenticatorGetInfo": every member by its CTAP name (numbers
  as integers, "aaguid" in hex, "options" and "certifications" as objects, unnamed members
  in "otherMembers" [{"key", "cbor" in hex}]), or null when the key gave no info; "health"
  {"pinRetries", "powerCycleState", "uvRetries", "remainingDiscoverableCredentials"}: the
  health rows as integers (powerCycleState true/false), null when not known. The
  certification pages (and decode makecred/u2f): "certificates" [{"version", "serialNumber",
  "subject", "issuer", "notBefore", "notAfter" (UTC, ISO 8601), "publicKey", "transports"
  (hex or null), "verified": true/false, or null when the signature was not checked}].
  export adds "export": {"path", "index", "format", "bytes"} (null when nothing was
  written); list prints {"interfaces": [{"path", "vendorId", "productId", "releaseNumber",
  "product", "usagePage", "usage", "fido", "accepted", "opened", "error", "fix"}, ...]}.
  Messages and progress ("Touch your security key...") go to standard error.

Input files of decode:
  binary, hexadecimal text, Base64 or Base64url text, or PEM; - reads standard input.
  decode cert also reads PEM after other text (as "openssl x509 -text" writes it) and
  shows every CERTIFICATE block of the file, in order, each on a "certificate" page of
  its own. decode makecred without --client-data-hash shows the certificates without
  "Verify Result" and says on standard error that the signature was not checked.

Metadata:
  --mds FILE (or $ORVANTA_MDS) loads a metadata BLOB after checking its signature and its
  certificate chain to --mds-root (PEM or DER; by default the system's copy of the root
  the published BLOB chains to); a BLOB that fails either is refused. The pages then gain
  "Authenticator" and "Certification status" rows, and "Chain Result" checks the last
  attestation certificate against the roots of the key's entry.

Conformance:
  check runs the battery of checks of CTAPHID, CTAP 2.1 / 2.2 and U2F on the key (--touch adds
  registrations the key does not keep): one line per check, PASS, FAIL with the key's answer,
  or SKIP with why. With --json: {"check": {"device", "answered", "cancelled", "summary",
  "checks": [{"id", "family", "rule", "section", "touch", "result", "detail"}, ...]}}. Nothing
  on the key is changed; exit status 1 when a check failed or the key does not answer.

Exit status:
  0 done, 1 device, protocol or file failure (also a key the metadata BLOB reports as
  REVOKED or compromised), 2 usage error, 3 no key found.)";

const char* const COMMAND_FOOTER =
    "The options of orvanta-cli itself (--json, --device, --virtual, --yes, --pin-stdin,\n"
    "--mds, ...) go before the command; orvanta-cli --help lists them.";

struct Options {
    bool json = false;
    // The device options' values as CLI11 leaves them, in the order of DEVICE_OPTIONS.
    std::array<std::string, DEVICE_OPTIONS.size()> device;
    bool any = false;
    bool yes = false;
    bool pinStdin = false;
    bool allKeys = false;
    bool touch = false;

    std::string exportKind;
    std::string exportPath;
    int exportIndex = 1;
    std::string exportFormat;

    std::string file;
    std::string clientDataHash;
    std::string challenge;
    std::string application;
};

// The command line's parts that say what to do once it is parsed.
struct Commands {
    std::array<CLI::Option*, DEVICE_OPTIONS.size()> deviceOptions{};
    CLI::App* list = nullptr;
    std::vector<CLI::App*> pages;  // one command per page of the list, in its order
    CLI::App* all = nullptr;
    CLI::App* check = nullptr;
    CLI::App* exportCommand = nullptr;
    CLI::App* decode = nullptr;
    CLI::App* decodeGetinfo = nullptr;
    CLI::App* decodeMakecred = nullptr;
    CLI::Option* clientDataHashOption = nullptr;
    CLI::App* decodeU2f = nullptr;
};

// How a run ended, for the one JSON document of --json.
struct RunEnd {
    bool json = false;
    nlohmann::json document = nullptr;
    std::string error;  // the failures the command told of
};

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

void addGlobalOptions(CLI::App& app, Options& o, Commands& c) {
    app.add_flag("--json", o.json, "Print the rows as JSON (before the command)");
    // Each takes a value or none; what a missing or wrong value means is checked with the
    // others, as the window checks them.
    for (size_t i = 0; i < DEVICE_OPTIONS.size(); ++i) {
        c.deviceOptions[i] =
            app.add_option(DEVICE_OPTIONS[i].name, o.device[i], deviceOptionHelp(DEVICE_OPTIONS[i]))
                ->expected(0, 1)
                ->type_name(DEVICE_OPTIONS[i].typeName);
    }
    app.add_flag("--any", o.any,
                 "Accept any HID collection with usage page 0xF1D0, beyond the known keys");
    app.add_flag("-y,--yes", o.yes, "Start fetches without asking");
    app.add_flag("--pin-stdin", o.pinStdin,
                 "Read the PIN as one line of standard input instead of the terminal (with "
                 "--all-keys: read once and given to every key that asks for one)");
    app.add_flag("--all-keys", o.allKeys,
                 "info, fido2, u2f, all and check on every accepted key at once, each on its own "
                 "thread (with --json: one line per key)");
}

// The device options as given, checked.
DeviceOptionsResult deviceOptions(const Options& o, const Commands& c) {
    DeviceOptionValues values;
    for (size_t i = 0; i < DEVICE_OPTIONS.size(); ++i) {
        if (c.deviceOptions[i]->count() > 0) {
            values.values[i] = o.device[i];
        }
    }
    return resolveDeviceOptions(values);
}

void addDeviceCommands(CLI::App& app, Options& o, Commands& c) {
    c.list = app.add_subcommand("list", "List the HID interfaces");
    for (const report::PageDefinition& page : report::pageList()) {
        c.pages.push_back(app.add_subcommand(std::string(page.name), page.help));
    }
    c.all = app.add_subcommand("all", "The hardware page and both fetches");
    c.check = app.add_subcommand(
        "check",
        "Check how the key follows CTAPHID, CTAP 2.1 / 2.2 and U2F (changes nothing on it)");
    c.check->add_flag(
        "--touch", o.touch,
        "Also run the checks that need a touch (registrations the key does not keep)");
    c.exportCommand =
        app.add_subcommand("export", "Fetch a page and write one of its certificates to a file");
    c.exportCommand->add_option("PAGE", o.exportKind, "fido2 or u2f")
        ->required()
        ->check(CLI::IsMember({"fido2", "u2f"}));
    c.exportCommand->add_option("PATH", o.exportPath, "File to write; - for standard output")
        ->required();
    c.exportCommand->add_option("--index", o.exportIndex, "Which certificate of the page (from 1)")
        ->check(CLI::Range(1, 1000));
    c.exportCommand
        ->add_option("--format", o.exportFormat, "der or pem (default: pem for *.pem, else der)")
        ->check(CLI::IsMember({"der", "pem"}));
}

void addDecodeCommands(CLI::App& app, Options& o, Commands& c) {
    c.decode = app.add_subcommand("decode", "Decode saved replies and certificates");
    c.decode->require_subcommand(1);
    c.decodeGetinfo =
        c.decode->add_subcommand("getinfo", "An authenticatorGetInfo reply (CBOR map)");
    c.decodeGetinfo->add_option("FILE", o.file, "The reply; - for standard input")->required();
    c.decodeMakecred = c.decode->add_subcommand(
        "makecred", "An authenticatorMakeCredential response or a WebAuthn attestationObject");
    c.decodeMakecred->add_option("FILE", o.file, "The response; - for standard input")->required();
    c.clientDataHashOption = c.decodeMakecred->add_option(
        "--client-data-hash", o.clientDataHash,
        "SHA-256 of the client data (hex); without it the signature is not checked");
    c.decodeU2f = c.decode->add_subcommand("u2f", "A U2F registration response");
    c.decodeU2f->add_option("FILE", o.file, "The response; - for standard input")->required();
    c.decodeU2f->add_option("--challenge", o.challenge, "Challenge parameter (32 bytes hex)")
        ->required();
    c.decodeU2f->add_option("--application", o.application, "Application parameter (32 bytes hex)")
        ->required();
    CLI::App* decodeCert = c.decode->add_subcommand(
        "cert", "X.509 certificates (DER or PEM; each certificate of a PEM file on its own page)");
    decodeCert->add_option("FILE", o.file, "The certificates; - for standard input")->required();
}

// The program's help ends with the common footer; each command's help shows its own options
// and says where the program's options go.
void addFooters(CLI::App& app) {
    app.footer(FOOTER);
    std::vector<CLI::App*> commands = app.get_subcommands([](CLI::App*) { return true; });
    while (!commands.empty()) {
        CLI::App* command = commands.back();
        commands.pop_back();
        command->footer(COMMAND_FOOTER);
        for (CLI::App* sub : command->get_subcommands([](CLI::App*) { return true; })) {
            commands.push_back(sub);
        }
    }
}

// The verified metadata BLOB of --mds (or $ORVANTA_MDS) on the context; false when it was
// refused.
bool loadMetadata(Context& context, const DeviceOptions& options) {
    std::string blob = options.mds;
    if (blob.empty()) {
        if (const char* fromEnvironment = std::getenv("ORVANTA_MDS")) {
            blob = fromEnvironment;
        }
    }
    if (blob.empty()) {
        return true;
    }
    MetadataLoad load = loadMetadataBlobFiles(blob, options.mdsRoot, std::time(nullptr));
    // The texts carry the BLOB's own words (dates, statuses) and the path as given.
    if (!load.blob) {
        fail(context, terminalSafe(load.error));
        return false;
    }
    if (!load.warning.empty()) {
        context.err << terminalSafe(load.warning) << std::endl;
    }
    context.metadata = std::make_shared<const MetadataBlob>(std::move(*load.blob));
    return true;
}

int runDecode(Context& context, const Options& o, const Commands& c) {
    if (c.decodeGetinfo->parsed()) {
        return decodeGetInfo(context, o.file);
    }
    if (c.decodeMakecred->parsed()) {
        return decodeMakeCredential(context, o.file,
                                    c.clientDataHashOption->count() > 0
                                        ? std::optional<std::string>(o.clientDataHash)
                                        : std::nullopt);
    }
    if (c.decodeU2f->parsed()) {
        return decodeU2fRegistration(context, o.file, o.challenge, o.application);
    }
    return decodeCertificate(context, o.file);
}

// The pages of the subcommand given: the one page it names, or every page for all.
PageSelection selectedPages(const Commands& c) {
    if (c.all->parsed()) {
        return report::pagesFor("all");
    }
    for (const CLI::App* command : c.pages) {
        if (command->parsed()) {
            return report::pagesFor(command->get_name());
        }
    }
    return {};
}

int runOnEveryKey(Context& context, const DeviceChoice& choice, const Options& o, const Commands& c,
                  RunEnd& end) {
    if (c.check->parsed()) {
        end.json = false;  // one line per key, as it finishes
        const CheckRequest request{o.touch};
        return runOnEveryKey(
            context, choice,
            [request, choice](Context& keyContext, std::shared_ptr<KeySource> backend,
                              const std::string& path, KeyPrompts&) {
                DeviceChoice own = choice;  // the key's thread opens its own key only
                own.vidText.clear();
                own.pidText.clear();
                return runKeyCheck(keyContext, own, std::move(backend), path, request);
            },
            false);
    }
    if (c.list->parsed() || c.exportCommand->parsed()) {
        fail(context,
             c.list->parsed()
                 ? "--all-keys goes with info, fido2, u2f, all and check; list shows every key "
                   "anyway."
                 : "--all-keys goes with info, fido2, u2f, all and check; export writes one "
                   "key's certificate.");
        return EXIT_USAGE;
    }
    end.json = false;  // each key's line is printed as it finishes: no document is left
    return runAllKeys(context, choice, selectedPages(c));
}

int runDeviceCommand(Context& context, const Options& o, const Commands& c, DeviceChoice choice,
                     RunEnd& end) {
    choice.acceptAny = o.any;
    if (o.allKeys) {
        return runOnEveryKey(context, choice, o, c, end);
    }
    if (c.check->parsed()) {
        return runCheck(context, choice, CheckRequest{o.touch});
    }
    if (c.list->parsed()) {
        return runList(context, choice);
    }
    if (!c.exportCommand->parsed()) {
        return runPages(context, choice, selectedPages(c));
    }
    if (o.json && o.exportPath == "-") {
        fail(context, "--json and export to - both write to standard output.");
        return EXIT_USAGE;
    }
    ExportRequest request;
    request.page = o.exportKind;
    request.path = o.exportPath;
    request.index = o.exportIndex;
    request.pem = o.exportFormat.empty() ? endsWith(o.exportPath, ".pem") : o.exportFormat == "pem";
    return runExport(context, choice, request);
}

// Runs the command the parsed arguments ask for.
int runParsed(Context& context, const Options& o, const Commands& c, RunEnd& end) {
    const DeviceOptionsResult device = deviceOptions(o, c);
    if (!device.error.empty()) {
        fail(context, device.error);
        return EXIT_USAGE;
    }
    if (!loadMetadata(context, device.options)) {
        return EXIT_FAILED;
    }
    if (c.decode->parsed()) {
        return runDecode(context, o, c);
    }
    DeviceChoice choice = device.options.choice;
    // An interrupted run also ends a wait for a card that does not answer, and the opening
    // of one.
    choice.cardStop = context.interrupted;
    if (context.cardReplyLimitMs != 0) {
        choice.cardReplyLimitMs = context.cardReplyLimitMs;
    }
    return runDeviceCommand(context, o, c, choice, end);
}

// What run() is given besides the arguments and the three streams.
struct RunInputs {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    const Environment& environment;
};

// Parses and runs one command. With --json the command leaves its document in `end`
// instead of printing it.
int runCommand(int argc, const char* const* argv, const RunInputs& io, RunEnd& end) {
    CLI::App app{DESCRIPTION, "orvanta-cli"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "orvanta-cli " ORVANTA_VERSION,
                         "Print the program's name and version");
    Options o;
    Commands c;
    addGlobalOptions(app, o, c);
    addDeviceCommands(app, o, c);
    addDecodeCommands(app, o, c);
    addFooters(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const std::optional<std::string> hint =
            e.get_exit_code() != 0 ? usageHint(app) : std::nullopt;
        int code = e.get_exit_code();
        if (hint) {
            io.err << *hint << "\nRun with --help for more information." << std::endl;
        } else {
            code = app.exit(e, io.out, io.err);
        }
        // A usage error asked for as JSON is still answered with a document.
        end.json = code != 0 && std::any_of(argv + 1, argv + argc, [](const char* arg) {
                       return std::string_view(arg) == "--json";
                   });
        end.error = hint.value_or(e.what());
        return code == 0 ? EXIT_DONE : EXIT_USAGE;
    }

    end.json = o.json;
    const Environment& env = io.environment;
    const PromptOptions prompts{o.yes, o.pinStdin, o.pinStdin ? env.stdinFd : -1};
    Context context{io.in,   io.out,    io.err,       env.terminal,   o.json,
                    prompts, env.clock, end.document, env.interrupted};
    context.keyClock = env.keyClock;
    context.cardReplyLimitMs = env.cardReplyLimitMs;
    const int status = runParsed(context, o, c, end);
    end.error = failureText(context);
    return status;
}

}  // namespace

int run(int argc, const char* const* argv, std::istream& in, std::ostream& out, std::ostream& err,
        const Environment& environment) {
    RunEnd end;
    const int status = runCommand(argc, argv, RunInputs{in, out, err, environment}, end);
    if (end.json && (status != EXIT_DONE || !end.document.is_null())) {
        // One document for every ending: what the command made, and what went wrong.
        nlohmann::json& document = end.document;
        if (!document.is_object()) {
            document = nlohmann::json::object();
        }
        if (!document.contains("error")) {
            document["error"] =
                status == EXIT_DONE
                    ? nlohmann::json(nullptr)
                    : nlohmann::json(end.error.empty() ? std::string("failed") : end.error);
        }
        out << dumpJson(document) << std::endl;
    }
    return status;
}

namespace {

// The process's interruption: set by the handler, read by every exchange of the run.
std::atomic<bool> interruptedFlag{false};
volatile std::sig_atomic_t interruptSignal = 0;

extern "C" void onInterrupt(int signal) {
    interruptSignal = signal;
    interruptedFlag.store(true);
}

// SIGINT and SIGTERM end the run through its own paths: an exchange that waits sends
// CTAPHID_CANCEL (a key stops blinking), pages and temporary files are cleaned up, and
// then the signal ends the process as it would have.
class InterruptHandling {
  public:
    InterruptHandling() {
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;  // no SA_RESTART: a waiting read returns at once
        for (size_t i = 0; i < std::size(SIGNALS); ++i) {
            ::sigaction(SIGNALS[i], &action, &previous_[i]);
            if (previous_[i].sa_handler == SIG_IGN) {
                ::sigaction(SIGNALS[i], &previous_[i], nullptr);  // ignored by whoever started us
            }
        }
    }
    ~InterruptHandling() {
        for (size_t i = 0; i < std::size(SIGNALS); ++i) {
            ::sigaction(SIGNALS[i], &previous_[i], nullptr);
        }
        if (interruptSignal != 0) {
            ::signal(interruptSignal, SIG_DFL);
            ::raise(interruptSignal);
        }
    }
    InterruptHandling(const InterruptHandling&) = delete;
    InterruptHandling& operator=(const InterruptHandling&) = delete;

  private:
    static constexpr int SIGNALS[] = {SIGINT, SIGTERM};
    struct sigaction previous_[std::size(SIGNALS)]{};
};

}  // namespace

int run(int argc, const char* const* argv, std::istream& in, std::ostream& out, std::ostream& err) {
    ControllingTerminal terminal;
    SystemClock clock;
    InterruptHandling interrupts;
    // The PIN of --pin-stdin is read from the descriptor itself: the stream's buffer would
    // keep a copy nobody wipes.
    return run(
        argc, argv, in, out, err,
        Environment{terminal, clock, &in == &std::cin ? STDIN_FILENO : -1, &interruptedFlag, {}});
}

}  // namespace orvanta::cli
