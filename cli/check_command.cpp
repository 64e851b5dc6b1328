#include "cli/check_command.h"

#include <ostream>

#include "check/conformance.h"
#include "cli/exit_codes.h"
#include "common/hex_text.h"
#include "common/terminal_text.h"
#include "info/device_context.h"

namespace orvanta::cli {

namespace {

constexpr const char* TOUCH_PROMPT = "Touch your security key...";

std::string keyName(const DeviceRecord& key) {
    return terminalSafe(key.productName.empty() ? std::string("security key") : key.productName) +
           " (" + terminalSafe(key.path) + ")";
}

// The first line: what was checked and how it went.
std::string headline(const DeviceRecord& key, const ConformanceReport& report) {
    if (report.reach == KeyReach::Silent) {
        return "The key " + keyName(key) + " does not answer: every check is skipped.";
    }
    return "Conformance of " + keyName(key) + ": " + std::to_string(report.count(Verdict::Pass)) +
           " passed, " + std::to_string(report.count(Verdict::Fail)) + " failed, " +
           std::to_string(report.count(Verdict::Skip)) + " skipped" +
           (report.cancelled ? " (cancelled)" : "") + ".";
}

void printText(std::ostream& out, const DeviceRecord& key, const ConformanceReport& report) {
    out << headline(key, report) << '\n';
    bool first = true;
    CheckFamily family{};
    for (const CheckResult& result : report.results) {
        if (first || result.check->family != family) {
            family = result.check->family;
            out << '\n' << familyName(family) << '\n';
            first = false;
        }
        out << "  " << verdictName(result.verdict) << "  " << result.check->rule << " ["
            << result.check->section << "]\n";
        if (!result.detail.empty()) {
            out << "        " << terminalSafe(result.detail) << '\n';
        }
    }
    out.flush();
}

nlohmann::json reportJson(const DeviceRecord& key, const ConformanceReport& report) {
    nlohmann::json checks = nlohmann::json::array();
    for (const CheckResult& result : report.results) {
        checks.push_back({{"id", result.check->id},
                          {"family", familyName(result.check->family)},
                          {"rule", result.check->rule},
                          {"section", result.check->section},
                          {"touch", result.check->touch},
                          {"result", verdictName(result.verdict)},
                          {"detail", result.detail.empty() ? nlohmann::json(nullptr)
                                                           : nlohmann::json(result.detail)}});
    }
    nlohmann::json device = {{"product", key.productName}, {"path", key.path}};
    if (key.hasUsbIdentity()) {
        device["vendorId"] = hex4(key.vendorId);
        device["productId"] = hex4(key.productId);
    }
    return {{"check",
             {{"device", device},
              {"answered", report.reach == KeyReach::Answered},
              {"cancelled", report.cancelled},
              {"summary",
               {{"pass", report.count(Verdict::Pass)},
                {"fail", report.count(Verdict::Fail)},
                {"skip", report.count(Verdict::Skip)}}},
              {"checks", checks}}}};
}

bool choose(DeviceContext& device, const DeviceChoice& choice) {
    device.enumerate();
    if (choice.vidText.empty()) {
        device.select(0, 0);
        return device.session().present();
    }
    const uint32_t vid = static_cast<uint32_t>(std::stoul(choice.vidText, nullptr, 16));
    const uint32_t pid = static_cast<uint32_t>(std::stoul(choice.pidText, nullptr, 16));
    device.select(vid, pid);
    const DeviceRecord& key = device.session().device();
    return device.session().present() && key.vendorId == vid && key.productId == pid;
}

}  // namespace

int runKeyCheck(Context& context, const DeviceChoice& choice, std::shared_ptr<KeySource> backend,
                const std::string& path, const CheckRequest& request) {
    DeviceContext device(std::move(backend), context.clock, choice.acceptAny);
    device.setCancelFlag(context.interrupted);
    device.setPreferredPath(path);
    if (!choose(device, choice)) {
        fail(context, choice.vidText.empty()
                          ? std::string("No security key found.")
                          : "No security key " + choice.vidText + ":" + choice.pidText + " found.");
        return EXIT_NO_KEY;
    }
    ConformanceOptions options;
    options.touch = request.touch;
    options.touchNeeded = [&context] { context.err << TOUCH_PROMPT << std::endl; };
    const ConformanceReport report = runConformance(device.session(), options);
    const DeviceRecord& key = device.session().device();
    if (context.json) {
        context.document = reportJson(key, report);
    } else {
        printText(context.out, key, report);
    }
    if (report.reach == KeyReach::Silent) {
        fail(context, "The key " + keyName(key) + " does not answer.");
        return EXIT_FAILED;
    }
    if (report.anyFailed()) {
        noteFailure(context, std::to_string(report.count(Verdict::Fail)) + " check" +
                                 (report.count(Verdict::Fail) == 1 ? "" : "s") + " failed.");
        return EXIT_FAILED;
    }
    return EXIT_DONE;
}

int runCheck(Context& context, const DeviceChoice& choice, const CheckRequest& request) {
    std::string error;
    std::shared_ptr<KeySource> backend = makeKeySource(choice, context.clock, &error);
    if (!backend) {
        fail(context, error);
        return EXIT_USAGE;
    }
    return runKeyCheck(context, choice, std::move(backend), {}, request);
}

}  // namespace orvanta::cli
