#include "transport/card_watcher.h"

#include <winscard.h>

#include <algorithm>
#include <chrono>
#include <type_traits>
#include <utility>

namespace orvanta {

namespace {

static_assert(std::is_same_v<SCARDCONTEXT, long>, "the header keeps the context as a long");

// The pseudo reader whose state changes when readers come or go; its state's high word
// holds the number of readers the caller knows of.
const char* const PNP_READER = "\\\\?PnP?\\Notification";
// How often stop() repeats its SCardCancel while the thread has not yet ended: a cancel
// that comes just before the thread starts to wait is lost.
constexpr auto CANCEL_REPEAT = std::chrono::milliseconds(20);

bool serviceGone(LONG rv) {
    return rv == SCARD_E_NO_SERVICE || rv == SCARD_E_SERVICE_STOPPED ||
           rv == SCARD_E_INVALID_HANDLE;
}

// Every reader the service lists; false when the service is gone.
bool listReaders(SCARDCONTEXT context, std::vector<std::string>& readers) {
    readers.clear();
    DWORD size = 0;
    LONG rv = SCardListReaders(context, nullptr, nullptr, &size);
    std::vector<char> names;
    if (rv == SCARD_S_SUCCESS) {
        names.resize(size);
        rv = SCardListReaders(context, nullptr, names.data(), &size);
    }
    if (rv != SCARD_S_SUCCESS) {
        return !serviceGone(rv);  // no readers, or they changed meanwhile: wait for the next
    }
    names.resize(std::min<size_t>(size, names.size()));
    names.push_back('\0');
    for (size_t at = 0; at < names.size() && names[at] != '\0';) {
        readers.emplace_back(names.data() + at);
        at += readers.back().size() + 1;
    }
    return true;
}

}  // namespace

CardWatcher::CardWatcher(Callback callback) : callback_(std::move(callback)) {}

CardWatcher::~CardWatcher() {
    stop();
}

void CardWatcher::start() {
    if (thread_.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = false;
        finished_ = false;
    }
    present_.clear();
    thread_ = std::thread([this] { run(); });
}

void CardWatcher::stop() {
    if (!thread_.joinable()) {
        return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    stopping_ = true;
    wake_.notify_all();
    while (!finished_) {
        if (contextValid_) {
            SCardCancel(context_);
        }
        wake_.wait_for(lock, CANCEL_REPEAT);
    }
    lock.unlock();
    thread_.join();
}

bool CardWatcher::stopping() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopping_;
}

bool CardWatcher::pause(uint32_t ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

void CardWatcher::run() {
    while (!stopping()) {
        SCARDCONTEXT context = 0;
        if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) ==
            SCARD_S_SUCCESS) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                context_ = context;
                contextValid_ = true;
            }
            watch(context);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                contextValid_ = false;
            }
            SCardReleaseContext(context);
            if (stopping()) {
                break;
            }
            // The service went away, and with it every card it knew.
            while (!present_.empty()) {
                report(CardEvent::Kind::Removed, present_.begin()->first, {});
            }
        }
        if (!pause(CARD_WATCH_RETRY_MS)) {
            break;
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    wake_.notify_all();
}

void CardWatcher::watch(long context) {
    // The last state seen of each reader (its card event counter included), so that the
    // next wait returns only on a change.
    std::map<std::string, DWORD> known;
    std::vector<std::string> readers;
    while (!stopping()) {
        if (!listReaders(context, readers)) {
            return;
        }
        for (auto it = present_.begin(); it != present_.end();) {
            const std::string name = (it++)->first;
            if (std::find(readers.begin(), readers.end(), name) == readers.end()) {
                report(CardEvent::Kind::Removed, name, {});
                known.erase(name);
            }
        }
        std::vector<SCARD_READERSTATE> states(readers.size() + 1);
        for (size_t i = 0; i < readers.size(); ++i) {
            states[i].szReader = readers[i].c_str();
            auto seen = known.find(readers[i]);
            states[i].dwCurrentState = seen == known.end() ? SCARD_STATE_UNAWARE : seen->second;
        }
        states.back().szReader = PNP_READER;
        states.back().dwCurrentState = static_cast<DWORD>(readers.size()) << 16;

        const LONG rv = SCardGetStatusChange(context, INFINITE, states.data(),
                                             static_cast<DWORD>(states.size()));
        if (serviceGone(rv)) {
            return;
        }
        if (rv == SCARD_E_CANCELLED || rv == SCARD_E_TIMEOUT || rv == SCARD_E_UNKNOWN_READER ||
            rv == SCARD_E_READER_UNAVAILABLE) {
            continue;  // stop(), or readers changed under the wait: look again
        }
        if (rv != SCARD_S_SUCCESS) {
            if (!pause(CARD_WATCH_RETRY_MS)) {
                return;
            }
            continue;
        }
        for (size_t i = 0; i < readers.size(); ++i) {
            const DWORD event = states[i].dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
            auto seen = known.find(readers[i]);
            const bool counterMoved = seen != known.end() && (seen->second >> 16) != (event >> 16);
            known[readers[i]] = event;
            const bool card =
                (event & SCARD_STATE_PRESENT) != 0 &&
                (event & (SCARD_STATE_MUTE | SCARD_STATE_UNKNOWN | SCARD_STATE_IGNORE)) == 0;
            const bool had = present_.count(readers[i]) != 0;
            if (had && (!card || counterMoved)) {
                // Gone, or taken out and put back (perhaps another card) between two looks.
                report(CardEvent::Kind::Removed, readers[i], {});
            }
            if (card && (!had || counterMoved)) {
                const size_t length = std::min<size_t>(states[i].cbAtr, MAX_ATR_SIZE);
                report(CardEvent::Kind::Inserted, readers[i],
                       std::vector<uint8_t>(states[i].rgbAtr, states[i].rgbAtr + length));
            }
        }
    }
}

void CardWatcher::report(CardEvent::Kind kind, const std::string& reader,
                         std::vector<uint8_t> atr) {
    CardEvent event;
    event.kind = kind;
    event.reader = reader;
    event.atr = std::move(atr);
    if (kind == CardEvent::Kind::Inserted) {
        present_[reader] = event.atr;
    } else {
        present_.erase(reader);
    }
    if (callback_) {
        callback_(event);
    }
}

}  // namespace orvanta
