#pragma once
// --all-keys: every accepted key of the chosen backend inspected at once, each on its own
// thread with its own session, so N keys on a hub cost about one key's time. The pieces a
// benchmark needs (the key listing, one key's view of a shared backend, the clocks of keys
// side by side) are here too.

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/context.h"
#include "cli/device_choice.h"
#include "cli/device_commands.h"
#include "transport/clock.h"
#include "transport/hid_backend.h"

namespace orvanta::cli {

// The accepted FIDO collections of the backend (those of choice's VID:PID when it names
// one), ordered by path with numbers compared as numbers ("hidraw2" before "hidraw10").
std::vector<HidInterfaceInfo> fleetKeys(KeySource& backend, const DeviceChoice& choice);

// One key of a backend that several threads share: it lists that key alone and opens
// nothing else, so no thread holds a handle to another thread's key.
class OneKeyBackend final : public KeySource {
  public:
    OneKeyBackend(std::shared_ptr<KeySource> shared, HidInterfaceInfo key)
        : shared_(std::move(shared)), key_(std::move(key)) {}
    std::vector<HidInterfaceInfo> enumerate() override { return {key_}; }
    std::unique_ptr<CtapLink> open(const std::string& path, std::string* error) override;

  private:
    std::shared_ptr<KeySource> shared_;
    HidInterfaceInfo key_;
};

// The clocks of keys inspected side by side. The machine's clock serves every key as it
// is. A manual clock (the tests', the benchmark's) is one timeline that only sleeps move:
// there each key gets a timeline of its own, starting where the run's stands, so one key's
// waits never move another's time, and finish() moves the run's clock on by the longest,
// as the wall clock would have gone. As a Clock itself it is the clock of the calling
// thread's key (the run's clock on any other thread): backends whose keys wait on the
// clock they were made with (the virtual keys) are made with this one.
class KeyClocks final : public Clock {
  public:
    explicit KeyClocks(Clock& run);
    // One timeline per key, from the run's clock as it stands now.
    void start(size_t keys);
    Clock& forKey(size_t index);
    // The calling thread works for this key until leave().
    void enter(size_t index);
    void leave();
    void finish();

    uint32_t tickCount() override { return current().tickCount(); }
    void sleep(uint32_t ms) override { current().sleep(ms); }

  private:
    Clock& current();

    Clock& run_;
    ManualClock* manual_;
    uint32_t start_ = 0;
    std::vector<std::unique_ptr<ManualClock>> keys_;
    std::mutex mutex_;
    std::map<std::thread::id, Clock*> threads_;
};

// info, fido2, u2f and all over every key. Text: one block per key in fleetKeys' order,
// headed by the key's identity; --json: one line per key as it finishes (the single-key
// document plus "path"). The exit status is the worst of the keys'.
int runAllKeys(Context& context, const DeviceChoice& choice, PageSelection selection);

}  // namespace orvanta::cli
