#pragma once
// One card's own connection to the PC/SC service: a service context of its own and the
// card's handle, used by nothing else. pcsc-lite waits for a card's answer without a limit,
// and no signal ends that wait; while it waits it holds its context, and any other call on
// that context would wait too (holding the library's own lock meanwhile, so every context of
// the process would wait behind it). So every call that reaches the card runs on the
// connection's own thread and is waited for with a limit and a stop condition. A call that is
// not waited for to its end keeps the thread: nothing else goes to the card until it returns,
// and the connection is closed by that thread, should the call ever return. A silent card
// therefore holds up its own connection only.

#include <winscard.h>

#include <cstdint>
#include <functional>
#include <memory>

namespace orvanta {

// The handles of a connection, touched only on its thread.
struct PcscHandles {
    SCARDCONTEXT context = 0;
    bool hasContext = false;
    SCARDHANDLE card = 0;
    bool connected = false;
    DWORD protocol = 0;
};

class PcscConnection {
  public:
    enum class End : uint8_t {
        Done,       // the call ran to its end
        TimedOut,   // it did not end within the limit; it keeps the thread
        Cancelled,  // stop said so before it ended (or before it started)
        NoThread,   // no thread could be had: nothing ran
    };

    // limitMs: how long any one call is waited for.
    explicit PcscConnection(uint32_t limitMs);
    // Closes the connection on its thread; waits for that only when no call is left running.
    ~PcscConnection();
    PcscConnection(const PcscConnection&) = delete;
    PcscConnection& operator=(const PcscConnection&) = delete;

    // Runs call on the connection's thread and waits until it ends, the limit passes or stop
    // (asked every few milliseconds) is true. An earlier call that was not waited for to its
    // end is waited for first, within the same limit. The call must own everything it uses:
    // it may outlive the wait.
    End run(std::function<void(PcscHandles&)> call, const std::function<bool()>& stop);

  private:
    struct Shared;
    static void serve(const std::shared_ptr<Shared>& shared);

    std::shared_ptr<Shared> shared_;
    uint32_t limitMs_;
};

}  // namespace orvanta
