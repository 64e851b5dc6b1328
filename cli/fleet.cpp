#include "cli/fleet.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <optional>
#include <ostream>
#include <sstream>
#include <system_error>
#include <thread>

#include "cert/prompt_texts.h"
#include "cli/exit_codes.h"
#include "cli/page_output.h"
#include "cli/pcsc_list.h"
#include "cli/terminal_prompts.h"
#include "common/hex_text.h"
#include "common/terminal_text.h"
#include "ctap/secure_wipe.h"
#include "transport/device_list.h"

namespace orvanta::cli {

namespace {

inline constexpr const char* TOUCH_EACH_TEXT = "Touch each security key...";

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Texts compared character by character, runs of digits by their value.
bool naturalLess(const std::string& a, const std::string& b) {
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            size_t endA = i;
            size_t endB = j;
            while (endA < a.size() && isDigit(a[endA])) {
                ++endA;
            }
            while (endB < b.size() && isDigit(b[endB])) {
                ++endB;
            }
            // Leading zeros do not count; then the longer run is the larger number.
            size_t startA = i;
            size_t startB = j;
            while (startA + 1 < endA && a[startA] == '0') {
                ++startA;
            }
            while (startB + 1 < endB && b[startB] == '0') {
                ++startB;
            }
            if (endA - startA != endB - startB) {
                return endA - startA < endB - startB;
            }
            const int order = a.compare(startA, endA - startA, b, startB, endB - startB);
            if (order != 0) {
                return order < 0;
            }
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        }
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j || (a.size() - i == b.size() - j && a < b);
}

// What the keys' threads share of the user: one confirmation, one PIN and one touch prompt
// for all keys, asked on the run's terminal and standard error one question at a time. A
// refusal is told once, by the run's prompts; each key's fetch then ends as cancelled.
class SharedPrompts {
  public:
    SharedPrompts(Context& context, std::mutex& outputMutex)
        : context_(context),
          outputMutex_(outputMutex),
          prompts_(context.prompts, context.in, context.err, context.terminal) {}
    ~SharedPrompts() { secureWipe(pin_); }
    SharedPrompts(const SharedPrompts&) = delete;
    SharedPrompts& operator=(const SharedPrompts&) = delete;

    // The first key's question is asked; the others take its answer.
    bool confirm(Question question) {
        std::lock_guard lock(outputMutex_);
        if (!confirmed_) {
            confirmed_ = prompts_.confirm(question);
        }
        return *confirmed_;
    }

    // The PIN, read once (standard input with --pin-stdin, else the terminal) and given to
    // every key that asks.
    bool pin(std::string& pin) {
        std::lock_guard lock(outputMutex_);
        if (!pinRead_) {
            pinRead_ = prompts_.askPin(pin_);
        }
        secureWipe(pin);
        if (*pinRead_) {
            pin = pin_;
        }
        return *pinRead_;
    }

    void touchNeeded() {
        std::lock_guard lock(outputMutex_);
        if (!touchShown_) {
            touchShown_ = true;
            context_.err << TOUCH_EACH_TEXT << std::endl;
        }
    }

  private:
    Context& context_;
    std::mutex& outputMutex_;
    TerminalPrompts prompts_;
    std::optional<bool> confirmed_;
    std::optional<bool> pinRead_;
    std::string pin_;
    bool touchShown_ = false;
};

// One key's side of the shared prompts: its other messages go to its own report, its
// failure messages to its outcome line.
class FleetKeyPrompts final : public KeyPrompts {
  public:
    FleetKeyPrompts(SharedPrompts& shared, std::ostream& err) : shared_(shared), err_(err) {}

    void show(const MessageEvent& message) override {
        showMessage(messageText(message), messageIcon(message.code));
    }
    void showMessage(const std::string& text, MessageIcon icon) override {
        if (isFailure(icon)) {
            failureMessages_.push_back(text);
        } else {
            err_ << terminalSafe(text) << std::endl;
        }
    }
    bool confirm(Question question) override { return shared_.confirm(question); }
    bool askPin(std::string& pin) override { return shared_.pin(pin); }
    void openFile(const std::string& path) override {
        err_ << "Certificate written to " << terminalSafe(path) << std::endl;
    }
    void touchNeeded() override { shared_.touchNeeded(); }

    void reset() override { failureMessages_.clear(); }
    const std::vector<std::string>& failureMessages() const override { return failureMessages_; }

  private:
    SharedPrompts& shared_;
    std::ostream& err_;
    std::vector<std::string> failureMessages_;
};

// What one key's thread leaves behind.
struct KeyReport {
    bool finished = false;
    int status = EXIT_DONE;
    std::string text;      // its pages as text
    std::string messages;  // what it wrote to standard error
    std::string failure;   // what went wrong, told once on its outcome line
    nlohmann::json document = nullptr;
};

std::string identity(const HidInterfaceInfo& key) {
    std::string product = key.productString.empty() ? "security key" : key.productString;
    if (!key.hasUsbIdentity()) {
        return product + ", " + key.path;  // a card in a reader has no USB IDs
    }
    return product + ", " + hex4(key.vendorId) + ":" + hex4(key.productId) + ", " + key.path;
}

void writePrefixed(std::ostream& err, const std::string& prefix, const std::string& text) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        err << prefix << line << '\n';
    }
}

std::string outcomeText(const KeyReport& report) {
    if (report.status == EXIT_DONE) {
        return "done";
    }
    const std::string why = report.failure.empty() ? "" : ": " + terminalSafe(report.failure);
    return (report.status == EXIT_NO_KEY ? "no key" : "failed") + why;
}

// One line of JSON: texts from a device need not be valid UTF-8.
std::string jsonLine(const nlohmann::json& document) {
    return document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void reportNoKeys(Context& context, const DeviceChoice& choice, KeySource& backend) {
    std::string reason = noKeysText(backend);
    if (reason.empty()) {
        reason = choice.vidText.empty()
                     ? std::string("No security key found.")
                     : "No security key " + choice.vidText + ":" + choice.pidText + " found.";
    }
    context.err << reason << std::endl;
    for (const OpenFailure& failure : enumerateDevices(backend, choice.acceptAny).openFailures) {
        context.err << terminalSafe(openFailureText(failure.info, failure.reason)) << std::endl;
    }
    if (context.json) {
        context.out << jsonLine({{"path", nullptr},
                                 {"pages", nlohmann::json::array()},
                                 {"error", reason}})
                    << std::endl;
    }
}

}  // namespace

std::vector<HidInterfaceInfo> fleetKeys(KeySource& backend, const DeviceChoice& choice) {
    std::vector<HidInterfaceInfo> keys;
    // The enumeration's handles close again when it ends: each key's thread opens its own.
    const DeviceList devices = enumerateDevices(backend, choice.acceptAny);
    for (const DeviceRecord& record : devices.records) {
        if (record.usagePage != FIDO_USAGE_PAGE) {
            continue;
        }
        if (!choice.vidText.empty() &&
            (hex4(record.vendorId) != choice.vidText || hex4(record.productId) != choice.pidText)) {
            continue;
        }
        auto listed =
            std::find_if(devices.listed.begin(), devices.listed.end(),
                         [&](const HidInterfaceInfo& i) { return i.path == record.path; });
        if (listed != devices.listed.end() &&
            std::none_of(keys.begin(), keys.end(),
                         [&](const HidInterfaceInfo& k) { return k.path == record.path; })) {
            keys.push_back(*listed);
        }
    }
    std::sort(keys.begin(), keys.end(), [](const HidInterfaceInfo& a, const HidInterfaceInfo& b) {
        return naturalLess(a.path, b.path);
    });
    return keys;
}

std::unique_ptr<CtapLink> OneKeyBackend::open(const std::string& path, std::string* error) {
    if (path != key_.path) {
        if (error != nullptr) {
            *error = "no such device";
        }
        return nullptr;
    }
    return shared_->open(path, error);
}

namespace {

// One --all-keys run over the listed keys: each key's thread inspects it on a backend and
// clock of its own, and its report is published (with the output lock held) as it ends.
class Fleet {
  public:
    Fleet(Context& context, const DeviceChoice& choice, KeyJob job, bool pageDocuments,
          std::vector<HidInterfaceInfo> keys)
        : context_(context),
          choice_(choice),
          job_(std::move(job)),
          pageDocuments_(pageDocuments),
          keys_(std::move(keys)),
          shared_(context, outputMutex_),
          reports_(keys_.size()) {
        // Each thread opens only its own key, so the choice's VID:PID has done its work.
        choice_.vidText.clear();
        choice_.pidText.clear();
    }

    int run() {
        std::vector<std::thread> threads;
        threads.reserve(keys_.size());
        for (size_t i = 0; i < keys_.size(); ++i) {
            try {
                threads.emplace_back([this, i] { inspect(i); });
            } catch (const std::system_error&) {
                inspect(i);  // no thread to be had: this key waits its turn on ours
            }
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        int status = EXIT_DONE;
        for (const KeyReport& report : reports_) {
            status = std::max(status, report.status);
        }
        return status;
    }

  private:
    void inspect(size_t index) {
        // The key's waits run on a timeline of its own, so one key's waits never move
        // another's time; its backend waits on the same clock.
        const std::shared_ptr<Clock> ownClock = context_.keyClock ? context_.keyClock() : nullptr;
        Clock& clock = ownClock ? *ownClock : context_.clock;
        std::ostringstream out;
        std::ostringstream messages;
        nlohmann::json document = nullptr;
        Context keyContext{context_.in,      out,   messages, context_.terminal,   context_.json,
                           context_.prompts, clock, document, context_.interrupted};
        keyContext.keepFailures = true;
        FleetKeyPrompts prompts(shared_, messages);
        int status = EXIT_FAILED;
        try {
            std::string error;
            std::shared_ptr<KeySource> backend = makeKeySource(choice_, clock, &error);
            if (!backend) {
                fail(keyContext, error);
            } else {
                status = job_(keyContext, std::make_shared<OneKeyBackend>(backend, keys_[index]),
                              keys_[index].path, prompts);
            }
        } catch (const std::exception& e) {
            // One key's failure (even out of memory) ends that key's report, not the run.
            fail(keyContext, std::string("The inspection failed: ") + e.what());
        }
        std::lock_guard lock(outputMutex_);
        KeyReport& report = reports_[index];
        report.finished = true;
        report.status = status;
        report.text = out.str();
        report.messages = messages.str();
        report.failure = failureText(keyContext);
        report.document = std::move(document);
        publish(index);
    }

    // Called by each key's thread once, with outputMutex_ held.
    void publish(size_t index) {
        const KeyReport& report = reports_[index];
        const std::string prefix = terminalSafe(keys_[index].path) + ": ";
        writePrefixed(context_.err, prefix, report.messages);
        context_.err << prefix << outcomeText(report) << std::endl;
        if (context_.json) {
            context_.out << jsonLine(keyDocument(index)) << std::endl;  // flushed: a line per key
            return;
        }
        while (nextText_ < reports_.size() && reports_[nextText_].finished) {
            const std::string heading = terminalSafe(identity(keys_[nextText_]));
            context_.out << (nextText_ == 0 ? "" : "\n") << heading << '\n'
                         << std::string(displayWidth(heading), '=') << '\n';
            if (!reports_[nextText_].text.empty()) {
                context_.out << '\n' << reports_[nextText_].text;
            }
            reports_[nextText_].text.clear();
            ++nextText_;
        }
        context_.out.flush();
    }

    // The single-key document plus "path", with the key's failures as "error".
    nlohmann::json keyDocument(size_t index) const {
        const KeyReport& report = reports_[index];
        nlohmann::json document =
            report.document.is_object() ? report.document : nlohmann::json::object();
        document["path"] = keys_[index].path;
        if (pageDocuments_ && !document.contains("pages")) {
            document["pages"] = nlohmann::json::array();
        }
        if (!document.contains("error")) {
            document["error"] = report.status == EXIT_DONE
                                    ? nlohmann::json(nullptr)
                                    : nlohmann::json(report.failure.empty() ? std::string("failed")
                                                                            : report.failure);
        }
        return document;
    }

    Context& context_;
    DeviceChoice choice_;
    const KeyJob job_;
    const bool pageDocuments_;
    const std::vector<HidInterfaceInfo> keys_;
    std::mutex outputMutex_;  // standard output and error, and every question to the user
    SharedPrompts shared_;
    std::vector<KeyReport> reports_;
    size_t nextText_ = 0;  // text blocks go out in the keys' order, as soon as they can
};

}  // namespace

int runAllKeys(Context& context, const DeviceChoice& choice, PageSelection selection) {
    return runOnEveryKey(
        context, choice,
        [selection = std::move(selection), choice](Context& keyContext,
                                                   std::shared_ptr<KeySource> backend,
                                                   const std::string& path, KeyPrompts& prompts) {
            // Each thread opens only its own key, so the choice's VID:PID has done its work.
            DeviceChoice own = choice;
            own.vidText.clear();
            own.pidText.clear();
            return runKeyPages(keyContext, own, std::move(backend), path, selection, prompts);
        },
        true);
}

int runOnEveryKey(Context& context, const DeviceChoice& choice, KeyJob job, bool pageDocuments) {
    std::string error;
    // The listing's source: each key's thread makes one of its own.
    std::shared_ptr<KeySource> backend = makeKeySource(choice, context.clock, &error);
    if (!backend) {
        context.err << error << std::endl;
        if (context.json) {
            context.out << jsonLine({{"path", nullptr},
                                     {"pages", nlohmann::json::array()},
                                     {"error", error}})
                        << std::endl;
        }
        return EXIT_USAGE;
    }
    std::vector<HidInterfaceInfo> keys = fleetKeys(*backend, choice);
    if (keys.empty()) {
        reportNoKeys(context, choice, *backend);
        return EXIT_NO_KEY;
    }
    backend.reset();
    return Fleet(context, choice, std::move(job), pageDocuments, std::move(keys)).run();
}

}  // namespace orvanta::cli
