// The CTAPHID checks: channels, echoes, errors and the abort of a waiting request, sent
// packet by packet on channels of their own (the session's channel stays as it was).

#include <algorithm>
#include <array>
#include <functional>

#include "check/check_run.h"
#include "check/raw_channel.h"
#include "common/hex_text.h"
#include "ctap/crypto.h"
#include "ctap/ctap_protocol.h"

namespace orvanta::check {

namespace {

// How long a key may take to answer one request of these checks.
constexpr uint32_t REPLY_WAIT_MS = 1000;
constexpr uint8_t UNKNOWN_HID_COMMAND = 0xA0;  // no CTAPHID command has this number
constexpr size_t TWO_PACKET_LENGTH = 100;      // one initialisation and one continuation packet

std::string channelText(uint32_t channel) {
    return hex4(channel >> 16) + hex4(channel & 0xFFFF);
}

std::string messageText(const std::optional<RawMessage>& message) {
    if (!message) {
        return "no reply within " + std::to_string(REPLY_WAIT_MS) + " ms";
    }
    if (message->command == CTAPHID_ERROR) {
        return "CTAPHID error 0x" +
               hexText(std::span(message->data).first(std::min<size_t>(message->data.size(), 1)));
    }
    const size_t n = message->data.size();
    return "command 0x" + hexText(std::span(&message->command, 1)) + " with " + std::to_string(n) +
           (n == 1 ? " byte" : " bytes");
}

bool isError(const std::optional<RawMessage>& message, CtaphidError code) {
    return message && message->command == CTAPHID_ERROR && !message->data.empty() &&
           message->data[0] == static_cast<uint8_t>(code);
}

Bytes pattern(size_t length, uint8_t seed) {
    Bytes bytes(length);
    for (size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<uint8_t>(seed + i * 7);
    }
    return bytes;
}

// Runs body on the key's packets; the key must speak CTAPHID.
Outcome onPackets(CheckRun& run, const std::function<Outcome(RawPackets&)>& body) {
    if (!run.init) {
        return skip("the key is not reached through CTAPHID");
    }
    Outcome outcome = skip("the key could not be held for the check");
    withPackets(run.session, [&](PacketPort& port) {
        RawPackets raw(port, run.session.clock());
        outcome = body(raw);
    });
    return outcome;
}

// As onPackets, with a channel of the check's own.
Outcome onChannel(CheckRun& run, const std::function<Outcome(RawPackets&, uint32_t)>& body) {
    return onPackets(run, [&](RawPackets& raw) {
        const std::optional<RawInit> own = raw.allocate(REPLY_WAIT_MS);
        if (!own) {
            return fail("CTAPHID_INIT gave no channel");
        }
        return body(raw, own->channel);
    });
}

// A request on channel that must be refused with code.
Outcome expectError(RawPackets& raw, uint32_t channel, uint8_t command,
                    std::span<const uint8_t> data, CtaphidError code) {
    if (!raw.send(channel, command, data)) {
        return fail("the request could not be written");
    }
    const std::optional<RawMessage> reply = raw.receive(channel, REPLY_WAIT_MS);
    if (isError(reply, code)) {
        return pass();
    }
    return fail(messageText(reply));
}

}  // namespace

Outcome checkInit(CheckRun& run) {
    return onPackets(run, [](RawPackets& raw) {
        std::array<uint32_t, 2> channels{};
        for (uint32_t& channel : channels) {
            std::array<uint8_t, CTAPHID_INIT_NONCE_LENGTH> nonce{};
            randomBytes(nonce);
            const std::optional<RawMessage> reply = raw.init(nonce, REPLY_WAIT_MS);
            if (!reply || reply->command != CTAPHID_INIT) {
                return fail(reply ? messageText(reply)
                                  : "no reply echoing the nonce within " +
                                        std::to_string(REPLY_WAIT_MS) + " ms");
            }
            if (reply->data.size() < CTAPHID_INIT_REPLY_LENGTH) {
                return fail("a reply of " + std::to_string(reply->data.size()) +
                            " bytes; 17 expected");
            }
            channel = channelOf(std::span(reply->data).subspan(CTAPHID_INIT_NONCE_LENGTH));
            if (channel == 0 || channel == CTAPHID_BROADCAST_CID) {
                return fail("the reserved channel " + channelText(channel));
            }
        }
        if (channels[0] == channels[1]) {
            return fail("two INITs gave the same channel " + channelText(channels[0]));
        }
        return pass("channels " + channelText(channels[0]) + " and " + channelText(channels[1]));
    });
}

Outcome checkPing(CheckRun& run) {
    size_t longest = CTAPHID_MAX_MESSAGE;
    if (run.info.maxMsgSize && *run.info.maxMsgSize >= 58) {
        longest = std::min<size_t>(*run.info.maxMsgSize, CTAPHID_MAX_MESSAGE);
    }
    return onChannel(run, [longest](RawPackets& raw, uint32_t channel) {
        for (size_t length : {size_t{0}, size_t{57}, size_t{58}, longest}) {
            const Bytes data = pattern(length, static_cast<uint8_t>(length));
            if (!raw.send(channel, CTAPHID_PING, data)) {
                return fail("the request could not be written");
            }
            const std::optional<RawMessage> reply = raw.receive(channel, REPLY_WAIT_MS);
            if (!reply || reply->command != CTAPHID_PING || reply->data != data) {
                return fail(
                    "PING of " + std::to_string(length) + " bytes: " + messageText(reply) +
                    (reply && reply->command == CTAPHID_PING ? ", not the same bytes" : ""));
            }
        }
        return pass("0, 57, 58 and " + std::to_string(longest) + " bytes echoed");
    });
}

Outcome checkUnknownHidCommand(CheckRun& run) {
    return onChannel(run, [](RawPackets& raw, uint32_t channel) {
        const uint8_t data[1] = {0};
        return expectError(raw, channel, UNKNOWN_HID_COMMAND, data, CtaphidError::InvalidCommand);
    });
}

Outcome checkSequence(CheckRun& run) {
    return onChannel(run, [](RawPackets& raw, uint32_t channel) {
        const Bytes data = pattern(TWO_PACKET_LENGTH, 1);
        // The first continuation must carry sequence 0; this one says 1.
        if (!raw.write(initPacket(channel, CTAPHID_PING, TWO_PACKET_LENGTH, data)) ||
            !raw.write(
                continuationPacket(channel, 1, std::span(data).subspan(CTAPHID_INIT_DATA)))) {
            return fail("the request could not be written");
        }
        const std::optional<RawMessage> reply = raw.receive(channel, REPLY_WAIT_MS);
        return isError(reply, CtaphidError::InvalidSequence) ? pass() : fail(messageText(reply));
    });
}

Outcome checkChannelZero(CheckRun& run) {
    return onPackets(run, [](RawPackets& raw) {
        const uint8_t data[4] = {1, 2, 3, 4};
        return expectError(raw, 0, CTAPHID_PING, data, CtaphidError::InvalidChannel);
    });
}

Outcome checkUnallocatedChannel(CheckRun& run) {
    return onChannel(run, [](RawPackets& raw, uint32_t channel) {
        // Far from the channels the key hands out, and none of the reserved ones.
        uint32_t stranger = channel ^ 0x5A5A0000u;
        if (stranger == 0 || stranger == CTAPHID_BROADCAST_CID) {
            stranger = 0x5A5A5A5A;
        }
        const uint8_t data[4] = {1, 2, 3, 4};
        Outcome outcome =
            expectError(raw, stranger, CTAPHID_PING, data, CtaphidError::InvalidChannel);
        if (outcome.verdict == Verdict::Pass) {
            outcome.detail = "channel " + channelText(stranger);
        }
        return outcome;
    });
}

Outcome checkBusyChannel(CheckRun& run) {
    return onPackets(run, [](RawPackets& raw) {
        const std::optional<RawInit> first = raw.allocate(REPLY_WAIT_MS);
        const std::optional<RawInit> second = raw.allocate(REPLY_WAIT_MS);
        if (!first || !second) {
            return fail("CTAPHID_INIT gave no channel");
        }
        if (first->channel == second->channel) {
            return fail("two INITs gave the same channel " + channelText(first->channel));
        }
        // The first channel's message is begun and left unfinished: the key is busy with it.
        const Bytes data = pattern(TWO_PACKET_LENGTH, 2);
        if (!raw.write(initPacket(first->channel, CTAPHID_PING, TWO_PACKET_LENGTH, data))) {
            return fail("the request could not be written");
        }
        const uint8_t other[4] = {5, 6, 7, 8};
        Outcome outcome =
            expectError(raw, second->channel, CTAPHID_PING, other, CtaphidError::ChannelBusy);
        // The first message is finished, so the key is left idle.
        raw.write(
            continuationPacket(first->channel, 0, std::span(data).subspan(CTAPHID_INIT_DATA)));
        raw.receive(first->channel, REPLY_WAIT_MS);
        return outcome;
    });
}

Outcome checkWink(CheckRun& run) {
    const bool announced = run.init && (run.init->capabilities & CTAPHID_CAPABILITY_WINK) != 0;
    return onChannel(run, [announced](RawPackets& raw, uint32_t channel) {
        if (!announced) {
            const Outcome outcome =
                expectError(raw, channel, CTAPHID_WINK, {}, CtaphidError::InvalidCommand);
            return outcome.verdict == Verdict::Pass
                       ? pass("no WINK capability, and WINK refused")
                       : fail("no WINK capability, yet WINK gave " + outcome.detail);
        }
        if (!raw.send(channel, CTAPHID_WINK, {})) {
            return fail("the request could not be written");
        }
        const std::optional<RawMessage> reply = raw.receive(channel, REPLY_WAIT_MS);
        if (reply && reply->command == CTAPHID_WINK) {
            return pass("the WINK capability is set, and WINK answered");
        }
        return fail("the WINK capability is set, yet WINK gave " + messageText(reply));
    });
}

Outcome checkCancel(CheckRun& run) {
    if (!run.init || (run.init->capabilities & CTAPHID_CAPABILITY_CBOR) == 0 || !run.ctap2) {
        return skip("the key has no CTAP2 over CTAPHID");
    }
    if (!run.listsVersion("FIDO_2_1")) {
        return skip("the key has no authenticatorSelection (CTAP 2.1) to wait on");
    }
    return onChannel(run, [](RawPackets& raw, uint32_t channel) {
        // authenticatorSelection waits for a touch and changes nothing; the CANCEL follows at
        // once, while the key waits.
        const uint8_t selection[1] = {AUTHENTICATOR_SELECTION};
        if (!raw.send(channel, CTAPHID_CBOR, selection) ||
            !raw.write(initPacket(channel, CTAPHID_CANCEL, 0, {}))) {
            return fail("the request could not be written");
        }
        const std::optional<RawMessage> reply = raw.receive(channel, REPLY_WAIT_MS);
        if (!reply || reply->command != CTAPHID_CBOR || reply->data.empty()) {
            return fail(messageText(reply));
        }
        if (reply->data[0] == ctap_status::KEEPALIVE_CANCEL) {
            return pass();
        }
        if (reply->data[0] == ctap_status::OK) {
            return skip("the key was touched before CANCEL reached it");
        }
        return fail(ctapStatusText(reply->data[0]));
    });
}

}  // namespace orvanta::check
