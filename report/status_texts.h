#pragma once
// What the front ends say, in the same words, when a key does not talk to them or a fetch
// ends without certificates: the command line on standard error, the window on its status
// line.

#include <string>

#include "cert/fetch_outcome.h"
#include "transport/device_list.h"

namespace orvanta::report {

inline constexpr const char* FETCH_CANCELLED_TEXT = "The fetch was cancelled.";

// "The key NAME (PATH) does not answer."
std::string keyDoesNotAnswerText(const DeviceRecord& key);
// "The key NAME (PATH) stopped answering; the page is incomplete."
std::string keyStoppedAnsweringText(const DeviceRecord& key);
// "The key NAME (PATH) answered every request with an error; the page is incomplete."
std::string keyRefusedEveryRequestText(const DeviceRecord& key);

// Why a fetch on this key showed no certificates: the key does not answer, the fetch was
// cancelled, or "The fetch ended without certificates: " and the reason. Empty when it
// showed them.
std::string fetchEndText(const FetchResult& result, const DeviceRecord& key);

}  // namespace orvanta::report
