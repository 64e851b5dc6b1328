#pragma once
// A session on one key: it owns the key's link, the clock every wait runs on and the lock
// that lets one exchange at a time through. Every operation on
// a key takes the session it works on, so several keys can be inspected side by side.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "transport/clock.h"
#include "transport/ctap_link.h"
#include "transport/device_list.h"

namespace orvanta {

// No exchange lasts longer than this, keepalives or not: a key may wait this long for a touch.
inline constexpr uint32_t EXCHANGE_LIMIT_MS = 120000;
// The limit of exchanges that await no touch: a key that keeps sending keepalives to them
// is stuck, not waiting for the user.
inline constexpr uint32_t QUICK_EXCHANGE_LIMIT_MS = 5000;

class DeviceSession {
  public:
    // A session on an opened key; the session owns the link from now on.
    DeviceSession(const DeviceRecord& device, std::unique_ptr<CtapLink> link, Clock& clock);
    // A session without a key: every exchange fails with TransportCause::NoDevice.
    explicit DeviceSession(Clock& clock);
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // The key as the enumeration described it; its link is the session's.
    const DeviceRecord& device() const { return device_; }
    bool present() const { return device_.present(); }
    Clock& clock() const { return clock_; }
    CtapLink* link() const { return link_.get(); }

    // What the key's CTAPHID_INIT reply said of itself, once one came.
    std::optional<InitFacts> initFacts() const {
        return link_ ? link_->facts().init : std::nullopt;
    }

    // Held for the length of one exchange.
    std::mutex& exchangeMutex() { return exchangeMutex_; }

    // Asks the running exchange (and every later one) to end: a key that waits is sent
    // CTAPHID_CANCEL. Safe from another thread and from a signal handler.
    void requestCancel() noexcept { cancel_.store(true); }
    // Also ends when this flag (owned by the caller, e.g. set by a signal handler) is set.
    void setCancelFlag(const std::atomic<bool>* flag) { externalCancel_ = flag; }
    bool cancelRequested() const noexcept {
        return cancel_.load() || (externalCancel_ != nullptr && externalCancel_->load());
    }

    // How long one exchange may last in all (EXCHANGE_LIMIT_MS unless a QuickExchanges scope
    // says otherwise).
    uint32_t exchangeLimitMs() const { return exchangeLimitMs_; }
    // While set, the first exchange that fails at the transport level (no channel, no reply,
    // broken framing, a failed read or write) makes every later one fail at once.
    bool giveUpAfterTransportFailure() const { return giveUp_; }
    bool gaveUp() const { return gaveUp_; }
    void markGaveUp() { gaveUp_ = true; }

    // How the session's exchanges have ended so far: how many reached the key's link, and
    // how many of those the key refused with CTAPHID_ERROR. Counted under the exchange lock;
    // read between exchanges.
    struct ExchangeTally {
        uint32_t sent = 0;
        uint32_t refused = 0;
    };
    const ExchangeTally& tally() const { return tally_; }
    void count(bool refused) {
        ++tally_.sent;
        tally_.refused += refused ? 1 : 0;
    }

  private:
    friend class QuickExchanges;

    DeviceRecord device_;
    std::unique_ptr<CtapLink> link_;
    Clock& clock_;
    std::mutex exchangeMutex_;
    std::atomic<bool> cancel_{false};
    const std::atomic<bool>* externalCancel_ = nullptr;
    static_assert(std::atomic<bool>::is_always_lock_free, "set from signal handlers");
    uint32_t exchangeLimitMs_ = EXCHANGE_LIMIT_MS;
    bool giveUp_ = false;
    bool gaveUp_ = false;
    ExchangeTally tally_;
};

// For the length of a scope, the session's exchanges await no touch: each ends after
// QUICK_EXCHANGE_LIMIT_MS, and with giveUp the first transport failure ends the rest. The
// session's earlier limits come back when the scope ends.
class QuickExchanges {
  public:
    explicit QuickExchanges(DeviceSession& session, bool giveUp = false)
        : session_(session),
          limitMs_(session.exchangeLimitMs_),
          giveUp_(session.giveUp_),
          gaveUp_(session.gaveUp_) {
        session.exchangeLimitMs_ = QUICK_EXCHANGE_LIMIT_MS;
        session.giveUp_ = giveUp_ || giveUp;
    }
    ~QuickExchanges() {
        session_.exchangeLimitMs_ = limitMs_;
        session_.giveUp_ = giveUp_;
        session_.gaveUp_ = gaveUp_;
    }
    QuickExchanges(const QuickExchanges&) = delete;
    QuickExchanges& operator=(const QuickExchanges&) = delete;

  private:
    DeviceSession& session_;
    uint32_t limitMs_;
    bool giveUp_;
    bool gaveUp_;
};

// Opens a session on records[index] of an enumeration (the session takes the link);
// null when there is no such record.
std::unique_ptr<DeviceSession> openSession(DeviceList& list, size_t index, Clock& clock);

}  // namespace orvanta
