#include "sim/apdu_handler.h"

#include <algorithm>
#include <cstring>

#include "common/aids.h"
#include "common/iso_status.h"
#include "transport/nfc_protocol.h"

namespace orvanta {

namespace {

template <size_t N>
bool equals(const Apdu& a, const uint8_t (&aid)[N]) {
    return a.dataLength == N && std::memcmp(a.data, aid, N) == 0;
}

template <size_t N>
bool vendorAid(const Apdu& a, const uint8_t (&suffix)[N]) {
    constexpr size_t RID = sizeof VENDOR_RID;
    return a.dataLength == RID + N && std::memcmp(a.data, VENDOR_RID, RID) == 0 &&
           std::memcmp(a.data + RID, suffix, N) == 0;
}

}  // namespace

std::optional<Apdu> parseApdu(const uint8_t* bytes, size_t length) {
    if (bytes == nullptr || length < 4) {
        return std::nullopt;
    }
    Apdu a;
    a.cla = bytes[0];
    a.ins = bytes[1];
    a.p1 = bytes[2];
    a.p2 = bytes[3];
    const size_t body = length - 4;
    const uint8_t* p = bytes + 4;
    if (body == 0) {
        return a;
    }
    // A zero where a short Lc would be opens the extended form: 00, then two-byte lengths.
    a.extended = body > 1 && p[0] == 0;
    const size_t lengthSize = a.extended ? 2 : 1;
    const size_t header = a.extended ? 3 : 1;  // Lc, or Le when nothing follows
    const auto readLength = [&](const uint8_t* at) {
        return a.extended ? static_cast<uint32_t>(at[0] << 8 | at[1]) : uint32_t{at[0]};
    };
    if (body < header) {
        return std::nullopt;
    }
    const uint32_t first = readLength(p + header - lengthSize);
    if (body == header) {
        a.hasLe = true;
        a.le = first;
        return a;
    }
    const size_t lc = first;
    if (lc == 0) {
        return std::nullopt;
    }
    a.data = p + header;
    a.dataLength = lc;
    if (body == header + lc) {
        return a;
    }
    if (body == header + lc + lengthSize) {
        a.hasLe = true;
        a.le = readLength(p + header + lc);
        return a;
    }
    return std::nullopt;
}

Bytes statusReply(uint16_t sw) {
    return {static_cast<uint8_t>(sw >> 8), static_cast<uint8_t>(sw)};
}

Bytes withStatus(Bytes data, uint16_t sw) {
    data.push_back(static_cast<uint8_t>(sw >> 8));
    data.push_back(static_cast<uint8_t>(sw));
    return data;
}

void PiecedAnswer::start(Bytes data, uint16_t finalStatus, size_t pieceLimit) {
    data_ = std::move(data);
    offset_ = 0;
    finalStatus_ = finalStatus;
    pieceLimit_ = pieceLimit;
}

void PiecedAnswer::clear() {
    data_.clear();
    offset_ = 0;
}

uint16_t PiecedAnswer::remainingStatus() const {
    const size_t next = std::min({data_.size() - offset_, pieceLimit_, SHORT_REPLY_DATA});
    return static_cast<uint16_t>(SW_BYTES_REMAINING | (next & 0xFF));
}

Bytes PiecedAnswer::next(uint32_t le) {
    const size_t want =
        std::min({le == 0 ? SHORT_REPLY_DATA : le, pieceLimit_, data_.size() - offset_});
    Bytes piece(data_.begin() + static_cast<ptrdiff_t>(offset_),
                data_.begin() + static_cast<ptrdiff_t>(offset_ + want));
    offset_ += want;
    if (!pending()) {
        clear();
        return withStatus(std::move(piece), finalStatus_);
    }
    return withStatus(std::move(piece), remainingStatus());
}

void ApduHandler::reset() {
    selected_.reset();
    pending_.clear();
}

Bytes ApduHandler::handle(const uint8_t* bytes, size_t length) {
    const std::optional<Apdu> parsed = parseApdu(bytes, length);
    if (!parsed) {
        return statusReply(SW_WRONG_LENGTH);
    }
    const Apdu& a = *parsed;
    // A rule breaker's status words: each refusal with a word meant for another.
    const bool breaksRules = key_.breaks(RuleBreak::U2f);
    if (!(a.cla == 0x00 && a.ins == 0xC0)) {
        // Anything but GET RESPONSE drops what a chained answer had left.
        pending_.clear();
    }
    if (a.cla == 0x00) {
        switch (a.ins) {
            case 0xA4:
                return select(a);
            case 0x01:
                return u2fRegister(a);
            case 0x02:  // U2F_AUTHENTICATE: this key keeps no U2F credentials
                if (breaksRules) {
                    return statusReply(SW_CONDITIONS_NOT_SATISFIED);
                }
                return statusReply(key_.profile.u2f ? SW_WRONG_DATA : SW_INS_NOT_SUPPORTED);
            case 0x03:  // U2F_VERSION
                if (!key_.profile.u2f) {
                    return statusReply(SW_INS_NOT_SUPPORTED);
                }
                return withStatus(
                    {'U', '2', 'F', '_', 'V', static_cast<uint8_t>(breaksRules ? '3' : '2')},
                    SW_NO_ERROR);
            case 0xC0:
                return getResponse(a);
            default:
                return statusReply(breaksRules ? SW_CLA_NOT_SUPPORTED : SW_INS_NOT_SUPPORTED);
        }
    }
    if (a.cla == 0x80) {
        if (a.ins == 0xE2) {
            return version();
        }
        if (a.ins == 0xE3) {
            return fingerprint();
        }
        return statusReply(SW_INS_NOT_SUPPORTED);
    }
    return statusReply(breaksRules ? SW_INS_NOT_SUPPORTED : SW_CLA_NOT_SUPPORTED);
}

Bytes ApduHandler::select(const Apdu& a) {
    ++key_.counters.selectApdus;
    selected_.reset();
    if (a.p1 != 0x04 || a.data == nullptr) {
        return statusReply(SW_FILE_NOT_FOUND);
    }
    std::optional<Applet> applet;
    Bytes reply;
    if (equals(a, IDENTIFY_AID)) {
        applet = Applet::Identify;
        reply = key_.profile.identification;
    } else if (vendorAid(a, WIN_HELLO_AID_SUFFIX)) {
        applet = Applet::WinHello;
        reply = {0x6F, 0x04, 0x84, 0x02, 0x01, 0x01};
    } else if (vendorAid(a, OTP_AID_SUFFIX)) {
        applet = Applet::Otp;
        reply = {0x6F, 0x04, 0x84, 0x02, 0x02, 0x01};
    } else if (equals(a, PIV_AID)) {
        applet = Applet::Piv;
        // Application property template: AID and its authority.
        reply = {0x61, 0x11, 0x4F, 0x06, 0x00, 0x00, 0x10, 0x00, 0x01, 0x00,
                 0x79, 0x07, 0x4F, 0x05, 0xA0, 0x00, 0x00, 0x03, 0x08};
    } else if (equals(a, GIDS_AID)) {
        applet = Applet::Gids;
        reply = {0x61, 0x0C, 0x4F, 0x0A, 0xA0, 0x00, 0x00,
                 0x03, 0x97, 0x42, 0x54, 0x46, 0x59, 0x02};
    } else if (equals(a, NDEF_AID)) {
        applet = Applet::Ndef;
    } else if (equals(a, FIDO_AID)) {
        applet = Applet::U2f;
        reply = {'U', '2', 'F', '_', 'V', '2'};
    }
    if (!applet || !key_.profile.applet(*applet).present) {
        return statusReply(SW_FILE_NOT_FOUND);
    }
    selected_ = applet;
    return withStatus(reply, SW_NO_ERROR);
}

Bytes ApduHandler::version() {
    ++key_.counters.versionApdus;
    if (!selected_ || *selected_ == Applet::Identify || *selected_ == Applet::Ndef) {
        return statusReply(SW_INS_NOT_SUPPORTED);
    }
    const AppletConfig& c = key_.profile.applet(*selected_);
    // A TLV block whose bytes 8 and 9 are the applet's version.
    Bytes reply = {0xDF,           0xFF,           0x0E, 0x80, 0x01, 0x00, 0x81, 0x02,
                   c.versionMajor, c.versionMinor, 0x82, 0x04, 0x00, 0x00, 0x00, 0x01};
    return withStatus(reply, SW_NO_ERROR);
}

Bytes ApduHandler::fingerprint() {
    const AppletConfig& c = key_.profile.applet(Applet::Fingerprint);
    if (!c.present) {
        return statusReply(SW_INS_NOT_SUPPORTED);
    }
    return withStatus({0x46, 0x50, 0x4D, 0x00, 0x01, c.versionMajor, c.versionMinor}, SW_NO_ERROR);
}

Bytes ApduHandler::u2fRegister(const Apdu& a) {
    ++key_.counters.u2fRegisterApdus;
    if (!key_.profile.u2f) {
        return statusReply(SW_INS_NOT_SUPPORTED);
    }
    if (a.extended && key_.profile.u2fExtendedWrongLength) {
        return statusReply(SW_WRONG_LENGTH);
    }
    if (a.dataLength != 64) {
        return statusReply(key_.breaks(RuleBreak::U2f) ? SW_WRONG_DATA : SW_WRONG_LENGTH);
    }
    if (!key_.presence.check()) {
        return statusReply(SW_CONDITIONS_NOT_SATISFIED);
    }
    key_.presence.consume();
    Bytes response = registrationResponse(a.data, a.data + 32);
    ++key_.counters.u2fRegistrations;
    if (!key_.profile.u2fChaining) {
        return withStatus(std::move(response), SW_NO_ERROR);
    }
    // The answer waits for GET RESPONSE; this reply only says how much is there.
    pending_.start(std::move(response), SW_NO_ERROR,
                   std::clamp<size_t>(key_.profile.u2fChunk, 1, SHORT_REPLY_DATA));
    return statusReply(pending_.remainingStatus());
}

Bytes ApduHandler::getResponse(const Apdu& a) {
    ++key_.counters.getResponseApdus;
    if (!pending_.pending()) {
        return statusReply(SW_CONDITIONS_NOT_SATISFIED);
    }
    return pending_.next(a.le);
}

Bytes ApduHandler::registrationResponse(const uint8_t* challenge, const uint8_t* application) {
    SimKeyPair credential;
    credential.generate(key_.drbg);
    const auto userKey = credential.publicPoint();
    const Bytes keyHandle = key_.drbg.bytes(64);

    Bytes toSign;
    toSign.push_back(0x00);
    toSign.insert(toSign.end(), application, application + 32);
    toSign.insert(toSign.end(), challenge, challenge + 32);
    toSign.insert(toSign.end(), keyHandle.begin(), keyHandle.end());
    toSign.insert(toSign.end(), userKey.begin(), userKey.end());
    const VirtualAttestation& att = VirtualAttestation::forProfile(key_.profile);
    const Bytes signature = att.sign(toSign.data(), toSign.size(), key_.drbg);

    const Bytes certificate =
        key_.fault() == FaultMode::BadCertificate ? undecodableCertificate() : att.certificate();
    Bytes r;
    r.push_back(0x05);
    r.insert(r.end(), userKey.begin(), userKey.end());
    r.push_back(static_cast<uint8_t>(keyHandle.size()));
    r.insert(r.end(), keyHandle.begin(), keyHandle.end());
    r.insert(r.end(), certificate.begin(), certificate.end());
    r.insert(r.end(), signature.begin(), signature.end());
    if (key_.fault() == FaultMode::ShortU2fResponse) {
        // Stops halfway through the certificate its header announces.
        r.resize(67 + keyHandle.size() + certificate.size() / 2);
    }
    return r;
}

}  // namespace orvanta
