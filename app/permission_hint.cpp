#include "app/permission_hint.h"

#include "report/key_access.h"

namespace orvanta {

std::string permissionHint(const std::vector<OpenFailure>& all) {
    // A key without a device node of its own (a card in a reader) that will not open is no
    // matter of device permissions: most often it is some other card (a bank or ID card)
    // without a FIDO application. It is left out.
    std::vector<OpenFailure> failures;
    for (const OpenFailure& failure : all) {
        if (failure.info.hasUsbIdentity()) {
            failures.push_back(failure);
        }
    }
    if (failures.empty()) {
        return {};
    }
    const OpenFailure& first = failures.front();
    const std::string product =
        first.info.productString.empty() ? std::string("security key") : first.info.productString;
    const std::string reason = first.reason.empty() ? std::string("cannot open") : first.reason;
    std::string hint = "Cannot open " + product + " (" + first.info.path + "): " + reason;
    if (failures.size() > 1) {
        hint += " (and " + std::to_string(failures.size() - 1) + " more)";
    }
    hint += std::string(" - ") + KEY_ACCESS_ADVICE;
    return hint;
}

}  // namespace orvanta
