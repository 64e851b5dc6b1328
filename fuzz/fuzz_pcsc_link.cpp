// The NFC framing of the card link: the fuzzer's input is the card's answers, one per APDU
// the link sends (SELECT, the CTAP2 probe, NFCCTAP_MSG and its polls, GET RESPONSEs, the
// cancel). The link opens, then a CBOR exchange, a long CBOR exchange and an APDU exchange
// run through a session: each must end within the bounded waits, and no answer may outgrow
// the reply buffer.

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "transport/device_session.h"
#include "transport/exchange.h"
#include "transport/hid_link.h"
#include "transport/pcsc_link.h"

using namespace orvanta;

namespace {

// Answers: 2-byte big-endian length, then that many bytes. Length 0xFFFF: the card is
// removed; 0xFFFE: the link fails once. When the input runs out, the card is removed.
class FuzzCard final : public CardChannel {
  public:
    FuzzCard(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    CardReply transmit(std::span<const uint8_t> apdu, const CardCancel&) override {
        if (apdu.empty()) {
            std::abort();  // the link never sends nothing
        }
        if (size_ - offset_ < 2) {
            return CardReply{CardFailure::Removed, {}};
        }
        const size_t length = static_cast<size_t>(data_[offset_] << 8 | data_[offset_ + 1]);
        offset_ += 2;
        if (length == 0xFFFF) {
            return CardReply{CardFailure::Removed, {}};
        }
        if (length == 0xFFFE) {
            return CardReply{CardFailure::Failed, {}};
        }
        const size_t take = std::min(length, size_ - offset_);
        CardReply reply{CardFailure::None,
                        std::vector<uint8_t>(data_ + offset_, data_ + offset_ + take)};
        offset_ += take;
        return reply;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16384) {
        return 0;
    }
    ManualClock clock(5000);
    auto link = std::make_unique<PcscLink>(std::make_unique<FuzzCard>(data, size));
    std::string error;
    if (!link->open(&error)) {
        return 0;
    }
    DeviceRecord record;
    record.transport = TransportKind::Card;
    record.usagePage = 0xF1D0;
    record.usage = 1;
    DeviceSession session(record, std::move(link), clock);
    const uint32_t start = clock.tickCount();

    const uint8_t getInfo[] = {0x04};
    Result<CborReply> reply = sendCbor(session, getInfo);
    if (reply && reply->data.size() + 1 > REPLY_BUFFER_SIZE) {
        std::abort();
    }
    std::vector<uint8_t> longMessage(300, 0xA5);
    longMessage[0] = 0x01;
    reply = sendCbor(session, longMessage);
    if (reply && reply->data.size() + 1 > REPLY_BUFFER_SIZE) {
        std::abort();
    }
    std::vector<uint8_t> apdu = {0x00, 0x01, 0x03, 0x00, 0x40};
    apdu.resize(apdu.size() + 64, 0x5A);
    apdu.push_back(0x00);
    Result<ApduReply> answer = sendApdu(session, apdu);
    if (answer && answer->data.size() + 2 > REPLY_BUFFER_SIZE) {
        std::abort();
    }
    // Three exchanges, each within its limit (and a little for the steps between).
    const uint32_t spent = clock.tickCount() - start;
    if (spent > 3 * EXCHANGE_LIMIT_MS + 2000) {
        std::abort();
    }
    return 0;
}
