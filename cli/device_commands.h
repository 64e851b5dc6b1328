#pragma once
// The commands that talk to a key: list, info, fido2, u2f, all and export. Each installs
// the chosen backend for its length and closes every handle it opened.

#include <memory>
#include <string>
#include <vector>

#include "cli/context.h"
#include "cli/device_choice.h"
#include "ctap/user_prompts.h"
#include "report/key_access.h"
#include "report/pages.h"

namespace orvanta::cli {

// The text that names a collection that cannot be opened, with the udev fix when access
// was refused.
std::string openFailureText(const HidInterfaceInfo& info, const std::string& reason);
inline constexpr const char* UDEV_FIX = KEY_ACCESS_ADVICE;

// Every HID collection, marking FIDO collections and accepted ones, with the reason (and
// fix) for those that cannot be opened. 0 when an accepted FIDO collection could be opened,
// 3 otherwise.
int runList(Context& context, const DeviceChoice& choice);

using report::PageSelection;
// info, fido2, u2f and all: refreshes the key, runs the fetches of the chosen pages and
// prints them.
int runPages(Context& context, const DeviceChoice& choice, const PageSelection& selection);

// The prompts of one key among several: the questions and messages of its fetches, and the
// failure messages of the last fetch (as TerminalPrompts tells them of a single key).
class KeyPrompts : public UserPrompts {
  public:
    virtual void reset() = 0;
    virtual const std::vector<std::string>& failureMessages() const = 0;
};
// runPages for the key at path of a backend shared with other keys' threads: only that key
// is opened, and its pages go to the context's streams (or document).
int runKeyPages(Context& context, const DeviceChoice& choice, std::shared_ptr<KeySource> backend,
                const std::string& path, const PageSelection& selection, KeyPrompts& prompts);

struct ExportRequest {
    std::string page = "fido2";  // the name of a certification page of the list
    std::string path;
    int index = 1;  // 1: the first certificate the page shows
    bool pem = false;
};
// Runs the fetch of the page, prints the page and writes its index-th certificate.
int runExport(Context& context, const DeviceChoice& choice, const ExportRequest& request);

// The certificate as PEM text (Base64 in lines of 64 characters).
std::string pemCertificate(const uint8_t* der, size_t length);

}  // namespace orvanta::cli
