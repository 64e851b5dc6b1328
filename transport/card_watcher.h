#pragma once
// Follows cards going into and out of the PC/SC readers on a thread of its own: the thread
// waits in SCardGetStatusChange (readers coming and going included), so a front end hears
// of every insertion and removal at once and polls nothing. stop() ends the wait with
// SCardCancel. When the service is not running or goes away, the thread tries again every
// CARD_WATCH_RETRY_MS; the cards it knew are reported removed.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvanta {

inline constexpr uint32_t CARD_WATCH_RETRY_MS = 1000;

struct CardEvent {
    enum class Kind : uint8_t { Inserted, Removed };
    Kind kind = Kind::Inserted;
    std::string reader;
    std::vector<uint8_t> atr;  // Inserted: the card's answer to reset
};

class CardWatcher {
  public:
    // The callback runs on the watcher's thread, one event at a time.
    using Callback = std::function<void(const CardEvent&)>;
    explicit CardWatcher(Callback callback);
    ~CardWatcher();
    CardWatcher(const CardWatcher&) = delete;
    CardWatcher& operator=(const CardWatcher&) = delete;

    // Starts the thread; the cards already in their readers come first, as insertions.
    void start();
    // Ends the wait and joins the thread; no callback runs once it has returned.
    void stop();
    bool running() const { return thread_.joinable(); }

  private:
    void run();
    // Follows the readers of one service context until the service goes away or stop().
    void watch(long context);
    // Waits up to ms unless stop() comes first; false when it came.
    bool pause(uint32_t ms);
    bool stopping();
    void report(CardEvent::Kind kind, const std::string& reader, std::vector<uint8_t> atr);

    Callback callback_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool finished_ = false;
    // The service context the thread waits on, while it has one: stop() cancels its wait.
    long context_ = 0;
    bool contextValid_ = false;
    // Readers with a card, as last reported.
    std::map<std::string, std::vector<uint8_t>> present_;
};

}  // namespace orvanta
