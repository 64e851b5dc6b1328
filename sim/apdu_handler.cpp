#include "sim/apdu_handler.h"

#include <algorithm>
#include <cstring>

#include "ctap/iso_status.h"

namespace orvanta {

namespace {

const uint8_t AID_IDENTIFY[] = {0xA0, 0x00, 0x00, 0x01, 0x67, 0x41, 0x30, 0x00, 0xFF};
const uint8_t AID_WIN_HELLO_SUFFIX[] = {0x52, 0x68, 0x65, 0x6C, 0x6C, 0x6F, 0x01, 0x01, 0x00};
const uint8_t AID_OTP_SUFFIX[] = {0x83, 0x26, 0x01, 0x01};
const uint8_t AID_PIV[] = {0xA0, 0x00, 0x00, 0x03, 0x08, 0x00, 0x00, 0x10, 0x00, 0x01, 0x00};
const uint8_t AID_GIDS[] = {0xA0, 0x00, 0x00, 0x03, 0x97, 0x42, 0x54, 0x46, 0x59, 0x02, 0x01};
const uint8_t AID_NDEF[] = {0xD2, 0x76, 0x00, 0x00, 0x85, 0x01, 0x01};
const uint8_t AID_FIDO[] = {0xA0, 0x00, 0x00, 0x06, 0x47, 0x2F, 0x00, 0x01};

Bytes status(uint16_t sw) {
    return {static_cast<uint8_t>(sw >> 8), static_cast<uint8_t>(sw)};
}

Bytes withStatus(Bytes data, uint16_t sw) {
    data.push_back(static_cast<uint8_t>(sw >> 8));
    data.push_back(static_cast<uint8_t>(sw));
    return data;
}

template <size_t N>
bool equals(const Apdu& a, const uint8_t (&aid)[N]) {
    return a.dataLength == N && std::memcmp(a.data, aid, N) == 0;
}

bool vendorAid(const Apdu& a, const uint8_t* suffix, size_t suffixLength) {
    return a.dataLength == 5 + suffixLength && std::memcmp(a.data, VENDOR_RID_BYTES, 5) == 0 &&
           std::memcmp(a.data + 5, suffix, suffixLength) == 0;
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
    if (body == 1) {  // short Le only
        a.hasLe = true;
        a.le = p[0];
        return a;
    }
    if (p[0] != 0) {  // short Lc
        const size_t lc = p[0];
        if (body == 1 + lc) {
            a.data = p + 1;
            a.dataLength = lc;
            return a;
        }
        if (body == 2 + lc) {
            a.data = p + 1;
            a.dataLength = lc;
            a.hasLe = true;
            a.le = p[1 + lc];
            return a;
        }
        return std::nullopt;
    }
    a.extended = true;
    if (body < 3) {
        return std::nullopt;
    }
    if (body == 3) {  // extended Le only
        a.hasLe = true;
        a.le = static_cast<uint32_t>(p[1] << 8 | p[2]);
        return a;
    }
    const size_t lc = static_cast<size_t>(p[1] << 8 | p[2]);
    if (lc == 0) {
        return std::nullopt;
    }
    if (body == 3 + lc) {
        a.data = p + 3;
        a.dataLength = lc;
        return a;
    }
    if (body == 5 + lc) {
        a.data = p + 3;
        a.dataLength = lc;
        a.hasLe = true;
        a.le = static_cast<uint32_t>(p[3 + lc] << 8 | p[4 + lc]);
        return a;
    }
    return std::nullopt;
}

void ApduHandler::reset() {
    selected_.reset();
    pendingResponse_.clear();
    pendingOffset_ = 0;
}

Bytes ApduHandler::handle(const uint8_t* bytes, size_t length) {
    const std::optional<Apdu> parsed = parseApdu(bytes, length);
    if (!parsed) {
        return status(SW_WRONG_LENGTH);
    }
    const Apdu& a = *parsed;
    if (!(a.cla == 0x00 && a.ins == 0xC0)) {
        // Anything but GET RESPONSE drops what a chained answer had left.
        pendingResponse_.clear();
        pendingOffset_ = 0;
    }
    if (a.cla == 0x00) {
        switch (a.ins) {
            case 0xA4:
                return select(a);
            case 0x01:
                return u2fRegister(a);
            case 0x02:  // U2F_AUTHENTICATE: this key keeps no U2F credentials
                return status(key_.profile.u2f ? SW_WRONG_DATA : SW_INS_NOT_SUPPORTED);
            case 0x03:  // U2F_VERSION
                if (!key_.profile.u2f) {
                    return status(SW_INS_NOT_SUPPORTED);
                }
                return withStatus({'U', '2', 'F', '_', 'V', '2'}, SW_NO_ERROR);
            case 0xC0:
                return getResponse(a);
            default:
                return status(SW_INS_NOT_SUPPORTED);
        }
    }
    if (a.cla == 0x80) {
        if (a.ins == 0xE2) {
            return version();
        }
        if (a.ins == 0xE3) {
            return fingerprint();
        }
        return status(SW_INS_NOT_SUPPORTED);
    }
    return status(SW_CLA_NOT_SUPPORTED);
}

Bytes ApduHandler::select(const Apdu& a) {
    ++key_.counters.selectApdus;
    selected_.reset();
    if (a.p1 != 0x04 || a.data == nullptr) {
        return status(SW_FILE_NOT_FOUND);
    }
    std::optional<Applet> applet;
    Bytes reply;
    if (equals(a, AID_IDENTIFY)) {
        applet = Applet::Identify;
        reply = key_.profile.identification;
    } else if (vendorAid(a, AID_WIN_HELLO_SUFFIX, sizeof(AID_WIN_HELLO_SUFFIX))) {
        applet = Applet::WinHello;
        reply = {0x6F, 0x04, 0x84, 0x02, 0x01, 0x01};
    } else if (vendorAid(a, AID_OTP_SUFFIX, sizeof(AID_OTP_SUFFIX))) {
        applet = Applet::Otp;
        reply = {0x6F, 0x04, 0x84, 0x02, 0x02, 0x01};
    } else if (equals(a, AID_PIV)) {
        applet = Applet::Piv;
        // Application property template: AID and its authority.
        reply = {0x61, 0x11, 0x4F, 0x06, 0x00, 0x00, 0x10, 0x00, 0x01, 0x00,
                 0x79, 0x07, 0x4F, 0x05, 0xA0, 0x00, 0x00, 0x03, 0x08};
    } else if (equals(a, AID_GIDS)) {
        applet = Applet::Gids;
        reply = {0x61, 0x0C, 0x4F, 0x0A, 0xA0, 0x00, 0x00,
                 0x03, 0x97, 0x42, 0x54, 0x46, 0x59, 0x02};
    } else if (equals(a, AID_NDEF)) {
        applet = Applet::Ndef;
    } else if (equals(a, AID_FIDO)) {
        applet = Applet::U2f;
        reply = {'U', '2', 'F', '_', 'V', '2'};
    }
    if (!applet || !key_.profile.applet(*applet).present) {
        return status(SW_FILE_NOT_FOUND);
    }
    selected_ = applet;
    return withStatus(reply, SW_NO_ERROR);
}

Bytes ApduHandler::version() {
    ++key_.counters.versionApdus;
    if (!selected_ || *selected_ == Applet::Identify || *selected_ == Applet::Ndef) {
        return status(SW_INS_NOT_SUPPORTED);
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
        return status(SW_INS_NOT_SUPPORTED);
    }
    return withStatus({0x46, 0x50, 0x4D, 0x00, 0x01, c.versionMajor, c.versionMinor}, SW_NO_ERROR);
}

Bytes ApduHandler::u2fRegister(const Apdu& a) {
    ++key_.counters.u2fRegisterApdus;
    if (!key_.profile.u2f) {
        return status(SW_INS_NOT_SUPPORTED);
    }
    if (a.extended && key_.profile.u2fExtendedWrongLength) {
        return status(SW_WRONG_LENGTH);
    }
    if (a.dataLength != 64) {
        return status(SW_WRONG_LENGTH);
    }
    if (!key_.presence.check()) {
        return status(SW_CONDITIONS_NOT_SATISFIED);
    }
    key_.presence.consume();
    Bytes response = registrationResponse(a.data, a.data + 32);
    ++key_.counters.u2fRegistrations;
    if (!key_.profile.u2fChaining) {
        return withStatus(std::move(response), SW_NO_ERROR);
    }
    // The answer waits for GET RESPONSE; this reply only says how much is there.
    pendingResponse_ = std::move(response);
    pendingOffset_ = 0;
    const size_t chunk = std::clamp<size_t>(key_.profile.u2fChunk, 1, 256);
    const size_t next = std::min(chunk, pendingResponse_.size());
    return status(static_cast<uint16_t>(0x6100 | (next & 0xFF)));
}

Bytes ApduHandler::getResponse(const Apdu& a) {
    ++key_.counters.getResponseApdus;
    if (pendingOffset_ >= pendingResponse_.size()) {
        return status(SW_CONDITIONS_NOT_SATISFIED);
    }
    const size_t chunk = std::clamp<size_t>(key_.profile.u2fChunk, 1, 256);
    size_t want = a.hasLe ? (a.le == 0 ? 256 : a.le) : 256;
    want = std::min({want, chunk, pendingResponse_.size() - pendingOffset_});
    Bytes data(pendingResponse_.begin() + static_cast<ptrdiff_t>(pendingOffset_),
               pendingResponse_.begin() + static_cast<ptrdiff_t>(pendingOffset_ + want));
    pendingOffset_ += want;
    const size_t left = pendingResponse_.size() - pendingOffset_;
    if (left == 0) {
        pendingResponse_.clear();
        pendingOffset_ = 0;
        return withStatus(std::move(data), SW_NO_ERROR);
    }
    const size_t next = std::min(chunk, left);
    return withStatus(std::move(data), static_cast<uint16_t>(0x6100 | (next & 0xFF)));
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
