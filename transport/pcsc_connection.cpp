#include "transport/pcsc_connection.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace orvanta {

namespace {

using Steady = std::chrono::steady_clock;

// How often a waiting caller asks whether to stop.
constexpr auto STOP_POLL = std::chrono::milliseconds(20);

}  // namespace

struct PcscConnection::Shared {
    std::mutex mutex;
    std::condition_variable wake;     // to the thread: a call, or the end
    std::condition_variable changed;  // from the thread: a call ended, or the connection closed
    std::function<void(PcscHandles&)> call;
    bool pending = false;  // a call waits for the thread
    bool running = false;  // the thread runs one
    uint64_t finished = 0;
    bool closing = false;
    bool closed = false;
    PcscHandles handles;  // the thread's own
    std::thread thread;
};

PcscConnection::PcscConnection(uint32_t limitMs)
    : shared_(std::make_shared<Shared>()), limitMs_(limitMs) {}

PcscConnection::~PcscConnection() {
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->closing = true;
    shared_->wake.notify_all();
    if (!shared_->thread.joinable()) {
        return;
    }
    // An idle connection closes at once; one whose call still waits on the card is left to
    // that call's thread, as is one whose service does not answer the close.
    const bool closedInTime = !shared_->running && !shared_->pending &&
                              shared_->changed.wait_for(lock, std::chrono::milliseconds(limitMs_),
                                                        [this] { return shared_->closed; });
    std::thread thread = std::move(shared_->thread);
    lock.unlock();
    if (closedInTime) {
        thread.join();
    } else {
        thread.detach();
    }
}

PcscConnection::End PcscConnection::run(std::function<void(PcscHandles&)> call,
                                        const std::function<bool()>& stop) {
    const Steady::time_point deadline = Steady::now() + std::chrono::milliseconds(limitMs_);
    std::unique_lock<std::mutex> lock(shared_->mutex);
    auto waitFor = [&](auto done) {
        while (!done()) {
            if (stop && stop()) {
                return End::Cancelled;
            }
            const Steady::time_point now = Steady::now();
            if (now >= deadline) {
                return End::TimedOut;
            }
            shared_->changed.wait_for(lock, std::min<Steady::duration>(deadline - now, STOP_POLL));
        }
        return End::Done;
    };
    if (const End earlier = waitFor([this] { return !shared_->running && !shared_->pending; });
        earlier != End::Done) {
        return earlier;
    }
    if (stop && stop()) {
        return End::Cancelled;
    }
    if (!shared_->thread.joinable()) {
        try {
            shared_->thread = std::thread([shared = shared_] { serve(shared); });
        } catch (const std::system_error&) {
            return End::NoThread;
        }
    }
    shared_->call = std::move(call);
    shared_->pending = true;
    const uint64_t target = shared_->finished + 1;
    shared_->wake.notify_all();
    return waitFor([&] { return shared_->finished >= target; });
}

void PcscConnection::serve(const std::shared_ptr<Shared>& shared) {
    std::unique_lock<std::mutex> lock(shared->mutex);
    for (;;) {
        shared->wake.wait(lock, [&] { return shared->pending || shared->closing; });
        if (!shared->pending) {
            break;
        }
        std::function<void(PcscHandles&)> call = std::move(shared->call);
        shared->pending = false;
        shared->running = true;
        lock.unlock();
        call(shared->handles);
        call = nullptr;  // what it held goes before the caller hears of the end
        lock.lock();
        shared->running = false;
        ++shared->finished;
        shared->changed.notify_all();
    }
    lock.unlock();
    PcscHandles& handles = shared->handles;
    if (handles.connected) {
        SCardDisconnect(handles.card, SCARD_LEAVE_CARD);
    }
    if (handles.hasContext) {
        SCardReleaseContext(handles.context);
    }
    lock.lock();
    shared->closed = true;
    shared->changed.notify_all();
}

}  // namespace orvanta
