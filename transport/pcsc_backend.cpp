#include "transport/pcsc_backend.h"

#include <winscard.h>

#include <algorithm>
#include <utility>

#include "common/hex_text.h"
#include "transport/pcsc_connection.h"
#include "transport/pcsc_link.h"

namespace orvanta {

namespace {

constexpr uint16_t FIDO_PAGE = 0xF1D0;
constexpr uint16_t FIDO_USAGE_CTAPHID = 0x01;
const char* const NO_SERVICE = "pcscd is not running";

bool serviceGone(LONG rv) {
    return rv == SCARD_E_NO_SERVICE || rv == SCARD_E_SERVICE_STOPPED ||
           rv == SCARD_E_INVALID_HANDLE;
}

bool cardGone(LONG rv) {
    return rv == SCARD_W_REMOVED_CARD || rv == SCARD_E_NO_SMARTCARD ||
           rv == SCARD_E_READER_UNAVAILABLE || rv == SCARD_E_UNKNOWN_READER || serviceGone(rv);
}

std::string serviceText(LONG rv) {
    return serviceGone(rv) ? std::string(NO_SERVICE) : std::string(pcsc_stringify_error(rv));
}

bool stopRequested(const std::atomic<bool>* stop) {
    return stop != nullptr && stop->load();
}

}  // namespace

std::string atrText(const std::vector<uint8_t>& atr) {
    std::string text = hexText(atr, " ");
    if (!text.empty()) {
        text.pop_back();
    }
    return text;
}

struct PcscBackend::Context {
    SCARDCONTEXT handle = 0;
    Context() = default;
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
    ~Context() { SCardReleaseContext(handle); }
};

namespace {

// One exchange, owned by the connection's thread as much as by the caller: the caller may
// stop waiting for it.
struct CardExchange {
    std::vector<uint8_t> apdu;
    CardReply reply;
};

// Whether the card is still there after a failed exchange (on the connection's thread).
bool stillThere(PcscHandles& handles, LONG rv) {
    if (cardGone(rv)) {
        return false;
    }
    if (rv == SCARD_W_RESET_CARD) {
        // Another program reset the card: reconnect; the applet selection is gone.
        DWORD protocol = 0;
        if (SCardReconnect(handles.card, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1,
                           SCARD_LEAVE_CARD, &protocol) != SCARD_S_SUCCESS) {
            return false;
        }
        handles.protocol = protocol;
        return true;
    }
    // Some readers report a card lost in mid-command as a plain failure: ask.
    DWORD nameLength = 0;
    DWORD state = 0;
    DWORD protocol = 0;
    BYTE atr[MAX_ATR_SIZE];
    DWORD atrLength = sizeof atr;
    const LONG status =
        SCardStatus(handles.card, nullptr, &nameLength, &state, &protocol, atr, &atrLength);
    return status == SCARD_S_SUCCESS && (state & SCARD_PRESENT) != 0;
}

void transmitOn(PcscHandles& handles, CardExchange& exchange) {
    std::vector<uint8_t> buffer(MAX_BUFFER_SIZE_EXTENDED);
    DWORD length = static_cast<DWORD>(buffer.size());
    const SCARD_IO_REQUEST send{handles.protocol, sizeof(SCARD_IO_REQUEST)};
    const LONG rv =
        SCardTransmit(handles.card, &send, exchange.apdu.data(),
                      static_cast<DWORD>(exchange.apdu.size()), nullptr, buffer.data(), &length);
    if (rv == SCARD_S_SUCCESS) {
        buffer.resize(std::min<size_t>(length, buffer.size()));
        exchange.reply.bytes = std::move(buffer);
        return;
    }
    exchange.reply.failure = stillThere(handles, rv) ? CardFailure::Failed : CardFailure::Removed;
}

// One card, reached through a connection of its own (see pcsc_connection.h).
class PcscChannel final : public CardChannel {
  public:
    PcscChannel(std::unique_ptr<PcscConnection> connection, const std::atomic<bool>* stop)
        : connection_(std::move(connection)), stop_(stop) {}

    CardReply transmit(std::span<const uint8_t> apdu, const CardCancel& cancelled) override {
        CardReply reply;
        if (apdu.empty() || apdu.size() > MAX_BUFFER_SIZE_EXTENDED) {
            reply.failure = CardFailure::Failed;
            return reply;
        }
        auto exchange = std::make_shared<CardExchange>();
        exchange->apdu.assign(apdu.begin(), apdu.end());
        const PcscConnection::End end = connection_->run(
            [exchange](PcscHandles& handles) { transmitOn(handles, *exchange); },
            [this, &cancelled] { return stopRequested(stop_) || (cancelled && cancelled()); });
        switch (end) {
            case PcscConnection::End::Done:
                return std::move(exchange->reply);
            case PcscConnection::End::TimedOut:
                reply.failure = CardFailure::Silent;
                return reply;
            case PcscConnection::End::Cancelled:
                reply.failure = CardFailure::Cancelled;
                return reply;
            case PcscConnection::End::NoThread:
                break;
        }
        reply.failure = CardFailure::Failed;
        return reply;
    }

  private:
    std::unique_ptr<PcscConnection> connection_;
    const std::atomic<bool>* stop_;
};

}  // namespace

PcscBackend::PcscBackend(std::string readerName, uint32_t replyLimitMs,
                         const std::atomic<bool>* stop)
    : readerName_(std::move(readerName)), replyLimitMs_(replyLimitMs), stop_(stop) {}

PcscBackend::~PcscBackend() = default;

std::shared_ptr<PcscBackend::Context> PcscBackend::context(std::string* error) {
    if (!context_) {
        auto context = std::make_shared<Context>();
        const LONG rv =
            SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context->handle);
        if (rv != SCARD_S_SUCCESS) {
            if (error != nullptr) {
                *error = serviceText(rv);
            }
            return nullptr;
        }
        context_ = std::move(context);
    }
    return context_;
}

std::vector<PcscReader> PcscBackend::readers(std::string* error) {
    auto fail = [error](const std::string& reason) {
        if (error != nullptr) {
            *error = reason;
        }
        return std::vector<PcscReader>();
    };
    std::shared_ptr<Context> ctx = context(error);
    if (!ctx) {
        return {};
    }
    DWORD size = 0;
    LONG rv = SCardListReaders(ctx->handle, nullptr, nullptr, &size);
    if (serviceGone(rv)) {
        // The service restarted since the context was made (pcscd ends when idle): once
        // more with a new one.
        context_.reset();
        ctx = context(error);
        if (!ctx) {
            return {};
        }
        rv = SCardListReaders(ctx->handle, nullptr, nullptr, &size);
    }
    std::vector<char> names;
    if (rv == SCARD_S_SUCCESS) {
        names.resize(size);
        rv = SCardListReaders(ctx->handle, nullptr, names.data(), &size);
    }
    if (rv == SCARD_E_NO_READERS_AVAILABLE) {
        return {};
    }
    if (rv != SCARD_S_SUCCESS) {
        return fail(serviceText(rv));
    }
    names.resize(std::min<size_t>(size, names.size()));
    names.push_back('\0');  // the list ends with an empty name, even a malformed one

    std::vector<PcscReader> list;
    for (size_t at = 0; at < names.size() && names[at] != '\0';) {
        std::string name(names.data() + at);
        at += name.size() + 1;
        if (readerName_.empty() || name == readerName_) {
            list.push_back(PcscReader{std::move(name), false, {}});
        }
    }
    if (list.empty()) {
        return list;
    }
    std::vector<SCARD_READERSTATE> states(list.size());
    for (size_t i = 0; i < list.size(); ++i) {
        states[i].szReader = list[i].name.c_str();
        states[i].dwCurrentState = SCARD_STATE_UNAWARE;
    }
    // Against an unaware state the answer comes at once: no wait.
    rv = SCardGetStatusChange(ctx->handle, 0, states.data(), static_cast<DWORD>(states.size()));
    if (rv != SCARD_S_SUCCESS && rv != SCARD_E_TIMEOUT) {
        return list;  // a reader went away meanwhile: no cards to offer this time
    }
    for (size_t i = 0; i < list.size(); ++i) {
        const DWORD event = states[i].dwEventState;
        list[i].cardPresent = (event & SCARD_STATE_PRESENT) != 0 && (event & SCARD_STATE_MUTE) == 0;
        if (list[i].cardPresent) {
            const size_t length = std::min<size_t>(states[i].cbAtr, MAX_ATR_SIZE);
            list[i].atr.assign(states[i].rgbAtr, states[i].rgbAtr + length);
        }
    }
    return list;
}

std::optional<NoKeysReason> PcscBackend::whyNoKeys() {
    std::string error;
    const std::vector<PcscReader> list = readers(&error);
    if (!error.empty()) {
        return NoKeysReason{NoKeysCause::ServiceUnreachable, error};
    }
    if (list.empty()) {
        return NoKeysReason{NoKeysCause::NoReader, readerName_};
    }
    if (std::none_of(list.begin(), list.end(), [](const PcscReader& r) { return r.cardPresent; })) {
        return NoKeysReason{NoKeysCause::NoCard, readerName_};
    }
    return std::nullopt;
}

std::vector<HidInterfaceInfo> PcscBackend::enumerate() {
    serviceError_.clear();
    std::vector<HidInterfaceInfo> list;
    for (const PcscReader& reader : readers(&serviceError_)) {
        if (!reader.cardPresent) {
            continue;
        }
        HidInterfaceInfo info;
        info.path = PCSC_PATH_PREFIX + reader.name;
        info.productString = reader.name;
        info.usagePage = FIDO_PAGE;
        info.usage = FIDO_USAGE_CTAPHID;
        info.transport = TransportKind::Card;
        list.push_back(std::move(info));
    }
    return list;
}

std::unique_ptr<CtapLink> PcscBackend::open(const std::string& path, std::string* error) {
    return openCard(path, error);
}

std::unique_ptr<PcscLink> PcscBackend::openCard(const std::string& path, std::string* error) {
    auto fail = [error](const std::string& reason) -> std::unique_ptr<PcscLink> {
        if (error != nullptr) {
            *error = reason;
        }
        return nullptr;
    };
    const std::string prefix = PCSC_PATH_PREFIX;
    if (path.compare(0, prefix.size(), prefix) != 0) {
        return fail("no such device");
    }
    const std::string name = path.substr(prefix.size());
    if (name.empty() || (!readerName_.empty() && name != readerName_)) {
        return fail("no such device");
    }
    // Each card has a service context of its own: a card that stops answering holds up only
    // its own connection, never the listing or another card.
    auto connection = std::make_unique<PcscConnection>(replyLimitMs_);
    auto connected = std::make_shared<LONG>(SCARD_F_UNKNOWN_ERROR);
    const PcscConnection::End end = connection->run(
        [name, connected](PcscHandles& handles) {
            LONG rv = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &handles.context);
            if (rv == SCARD_S_SUCCESS) {
                handles.hasContext = true;
                rv = SCardConnect(handles.context, name.c_str(), SCARD_SHARE_SHARED,
                                  SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &handles.card,
                                  &handles.protocol);
                handles.connected = rv == SCARD_S_SUCCESS;
            }
            *connected = rv;
        },
        [this] { return stopRequested(stop_); });
    if (end == PcscConnection::End::Cancelled) {
        return fail("cancelled");
    }
    if (end != PcscConnection::End::Done) {
        return fail("the card does not answer");
    }
    const LONG rv = *connected;
    if (rv != SCARD_S_SUCCESS) {
        switch (rv) {
            case SCARD_E_NO_SMARTCARD:
            case SCARD_W_REMOVED_CARD:
                return fail("no card in the reader");
            case SCARD_E_SHARING_VIOLATION:
                return fail("the card is in use by another program");
            case SCARD_W_UNRESPONSIVE_CARD:
            case SCARD_W_UNPOWERED_CARD:
                return fail("the card does not answer");
            case SCARD_E_UNKNOWN_READER:
            case SCARD_E_READER_UNAVAILABLE:
                return fail("no such reader");
            default:
                return fail(serviceText(rv));
        }
    }
    auto link =
        std::make_unique<PcscLink>(std::make_unique<PcscChannel>(std::move(connection), stop_));
    if (!link->open(error)) {
        return nullptr;
    }
    return link;
}

}  // namespace orvanta
