#include "cli/fleet.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <ostream>
#include <sstream>
#include <system_error>

#include "cli/error_capture.h"
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
// for all keys, asked on the run's terminal and standard error one question at a time.
class SharedPrompts {
  public:
    SharedPrompts(Context& context, std::mutex& outputMutex)
        : context_(context), outputMutex_(outputMutex) {}
    ~SharedPrompts() { secureWipe(pin_); }
    SharedPrompts(const SharedPrompts&) = delete;
    SharedPrompts& operator=(const SharedPrompts&) = delete;

    // The first key's question is asked; the others take its answer. refusal: the line that
    // said why not, for the key's own report.
    bool confirm(const std::string& text, std::string& refusal) {
        std::lock_guard lock(outputMutex_);
        if (!confirmed_) {
            confirmed_ =
                ask([&](TerminalPrompts& p) { return p.askOkCancel(text); }, confirmRefusal_);
        }
        refusal = confirmRefusal_;
        return *confirmed_;
    }

    // The PIN, read once (standard input with --pin-stdin, else the terminal) and given to
    // every key that asks.
    bool pin(std::string& pin, std::string& refusal) {
        std::lock_guard lock(outputMutex_);
        if (!pinRead_) {
            pinRead_ = ask([&](TerminalPrompts& p) { return p.askPin(pin_); }, pinRefusal_);
        }
        refusal = pinRefusal_;
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
    // Runs one question with the run's own prompts; what they wrote goes to standard error
    // and its last line is kept.
    template <class Question>
    bool ask(Question question, std::string& lastLine) {
        std::ostringstream text;
        ErrorCapture capture(text);
        std::ostream err(&capture);
        TerminalPrompts prompts(context_.prompts, context_.in, err, context_.terminal);
        const bool answer = question(prompts);
        err.flush();
        context_.err << text.str() << std::flush;
        lastLine = capture.lastLine();
        return answer;
    }

    Context& context_;
    std::mutex& outputMutex_;
    std::optional<bool> confirmed_;
    std::string confirmRefusal_;
    std::optional<bool> pinRead_;
    std::string pinRefusal_;
    std::string pin_;
    bool touchShown_ = false;
};

// One key's side of the shared prompts: its messages go to its own report.
class FleetKeyPrompts final : public KeyPrompts {
  public:
    FleetKeyPrompts(SharedPrompts& shared, std::ostream& err) : shared_(shared), err_(err) {}

    void showMessage(const std::string& text, MessageIcon icon) override {
        err_ << terminalSafe(text) << std::endl;
        if (icon == MessageIcon::Error || icon == MessageIcon::Exclamation) {
            failureShown_ = true;
        }
    }
    bool askOkCancel(const std::string& text) override {
        std::string refusal;
        if (shared_.confirm(text, refusal)) {
            return true;
        }
        note(refusal);
        cancelled_ = true;
        return false;
    }
    bool askPin(std::string& pin) override {
        std::string refusal;
        if (shared_.pin(pin, refusal)) {
            return true;
        }
        note(refusal);
        cancelled_ = true;
        return false;
    }
    void openFile(const std::string& path) override {
        err_ << "Certificate written to " << terminalSafe(path) << std::endl;
    }
    void touchNeeded() override { shared_.touchNeeded(); }

    void reset() override {
        failureShown_ = false;
        cancelled_ = false;
    }
    bool failureShown() const override { return failureShown_; }
    bool cancelled() const override { return cancelled_; }

  private:
    void note(const std::string& line) {
        if (!line.empty()) {
            err_ << line << std::endl;
        }
    }

    SharedPrompts& shared_;
    std::ostream& err_;
    bool failureShown_ = false;
    bool cancelled_ = false;
};

// What one key's thread leaves behind.
struct KeyReport {
    bool finished = false;
    int status = EXIT_DONE;
    std::string text;      // its pages as text
    std::string messages;  // what it wrote to standard error
    std::string lastError;
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
    switch (report.status) {
        case EXIT_DONE:
            return "done";
        case EXIT_NO_KEY:
            return "no key";
        default:
            return "failed" + (report.lastError.empty() ? "" : ": " + report.lastError);
    }
}

// One line of JSON: texts from a device need not be valid UTF-8.
std::string jsonLine(const nlohmann::json& document) {
    return document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void reportNoKeys(Context& context, const DeviceChoice& choice, KeySource& backend) {
    std::string reason = pcscNoKeyReason(backend, choice);
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

KeyClocks::KeyClocks(Clock& run) : run_(run), manual_(dynamic_cast<ManualClock*>(&run)) {}

void KeyClocks::start(size_t keys) {
    keys_.clear();
    if (manual_ != nullptr) {
        start_ = manual_->tickCount();
        for (size_t i = 0; i < keys; ++i) {
            keys_.push_back(std::make_unique<ManualClock>(start_));
        }
    }
}

Clock& KeyClocks::forKey(size_t index) {
    return manual_ != nullptr && index < keys_.size() ? *keys_[index] : run_;
}

void KeyClocks::enter(size_t index) {
    if (manual_ != nullptr) {
        std::lock_guard lock(mutex_);
        threads_[std::this_thread::get_id()] = &forKey(index);
    }
}

void KeyClocks::leave() {
    if (manual_ != nullptr) {
        std::lock_guard lock(mutex_);
        threads_.erase(std::this_thread::get_id());
    }
}

void KeyClocks::finish() {
    if (manual_ == nullptr) {
        return;
    }
    uint32_t longest = 0;
    for (const auto& key : keys_) {
        longest = std::max(longest, key->tickCount() - start_);
    }
    manual_->advance(longest - (manual_->tickCount() - start_));
}

Clock& KeyClocks::current() {
    if (manual_ == nullptr) {
        return run_;
    }
    std::lock_guard lock(mutex_);
    auto found = threads_.find(std::this_thread::get_id());
    return found != threads_.end() ? *found->second : run_;
}

int runAllKeys(Context& context, const DeviceChoice& choice, PageSelection selection) {
    KeyClocks clocks(context.clock);
    std::string error;
    std::shared_ptr<KeySource> backend = makeKeySource(choice, clocks, &error);
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
    const std::vector<HidInterfaceInfo> keys = fleetKeys(*backend, choice);
    if (keys.empty()) {
        reportNoKeys(context, choice, *backend);
        return EXIT_NO_KEY;
    }
    clocks.start(keys.size());

    // Each thread opens only its own key, so the choice's VID:PID has done its work.
    DeviceChoice keyChoice = choice;
    keyChoice.vidText.clear();
    keyChoice.pidText.clear();

    std::mutex outputMutex;  // standard output and error, and every question to the user
    SharedPrompts shared(context, outputMutex);
    std::vector<KeyReport> reports(keys.size());
    size_t nextText = 0;  // text blocks go out in the keys' order, as soon as they can

    // Called by each key's thread once, with outputMutex held.
    auto publish = [&](size_t index) {
        const HidInterfaceInfo& key = keys[index];
        KeyReport& report = reports[index];
        const std::string prefix = terminalSafe(key.path) + ": ";
        writePrefixed(context.err, prefix, report.messages);
        context.err << prefix << outcomeText(report) << std::endl;
        if (context.json) {
            nlohmann::json document =
                report.document.is_object() ? report.document : nlohmann::json::object();
            document["path"] = key.path;
            if (!document.contains("pages")) {
                document["pages"] = nlohmann::json::array();
            }
            if (!document.contains("error")) {
                document["error"] =
                    report.status == EXIT_DONE
                        ? nlohmann::json(nullptr)
                        : nlohmann::json(report.lastError.empty() ? std::string("failed")
                                                                  : report.lastError);
            }
            context.out << jsonLine(document) << std::endl;  // flushed: a line per key
            return;
        }
        while (nextText < reports.size() && reports[nextText].finished) {
            const std::string heading = terminalSafe(identity(keys[nextText]));
            context.out << (nextText == 0 ? "" : "\n") << heading << '\n'
                        << std::string(displayWidth(heading), '=') << '\n';
            if (!reports[nextText].text.empty()) {
                context.out << '\n' << reports[nextText].text;
            }
            reports[nextText].text.clear();
            ++nextText;
        }
        context.out.flush();
    };

    auto inspect = [&](size_t index) {
        clocks.enter(index);
        std::ostringstream out;
        std::ostringstream messages;
        ErrorCapture capture(messages);
        std::ostream err(&capture);
        nlohmann::json document = nullptr;
        Context keyContext{context.in,           out,          err,
                           context.terminal,     context.json, context.prompts,
                           clocks.forKey(index), document,     context.interrupted};
        FleetKeyPrompts prompts(shared, err);
        int status = EXIT_FAILED;
        try {
            status = runKeyPages(keyContext, keyChoice,
                                 std::make_shared<OneKeyBackend>(backend, keys[index]),
                                 keys[index].path, selection, prompts);
        } catch (const std::exception& e) {
            // One key's failure (even out of memory) ends that key's report, not the run.
            err << "The inspection failed: " << e.what() << std::endl;
        }
        err.flush();
        clocks.leave();
        std::lock_guard lock(outputMutex);
        KeyReport& report = reports[index];
        report.finished = true;
        report.status = status;
        report.text = out.str();
        report.messages = messages.str();
        report.lastError = capture.lastLine();
        report.document = std::move(document);
        publish(index);
    };

    std::vector<std::thread> threads;
    threads.reserve(keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        try {
            threads.emplace_back(inspect, i);
        } catch (const std::system_error&) {
            inspect(i);  // no thread to be had: this key waits its turn on ours
        }
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    clocks.finish();

    int status = EXIT_DONE;
    for (const KeyReport& report : reports) {
        status = std::max(status, report.status);
    }
    return status;
}

}  // namespace orvanta::cli
