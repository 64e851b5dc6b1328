// Writes the seed corpora of the harnesses from the virtual key's real replies:
//   make_seeds fuzz/corpus
// It runs the inspector's own flows (refresh, PIN token, certificate fetches) against
// virtual keys of several profiles, records every exchange's input reports, and writes
// each harness's seeds in the form its input takes.

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cert/fido2_fetch.h"
#include "cert/u2f_fetch.h"
#include "common/base64.h"
#include "common/hex_text.h"
#include "ctap/pin_token.h"
#include "fuzz_hid.h"
#include "info/device_context.h"
#include "info/device_refresh.h"
#include "info/getinfo_rows.h"
#include "sim/virtual_backend.h"
#include "support/scripted_prompts.h"
#include "transport/clock.h"
#include "transport/device_list.h"
#include "transport/exchange.h"

using namespace orvanta;
using Bytes = std::vector<uint8_t>;

namespace {

// One exchange as the key answered it.
struct Exchange {
    uint8_t requestCommand = 0;
    std::vector<Bytes> inputReports;  // as read, report ID first
    uint8_t replyCommand = 0;
    Bytes reply;  // reassembled, keepalives skipped
};

// Records every exchange that passes through a handle (the lock brackets one exchange).
class RecordingHandle final : public HidHandle {
  public:
    RecordingHandle(std::unique_ptr<HidHandle> inner, std::vector<Exchange>* log)
        : inner_(std::move(inner)), log_(log) {}
    int write(const uint8_t* report, size_t length) override {
        if (length > 5 && (report[5] & 0x80) != 0 && log_->back().requestCommand == 0) {
            log_->back().requestCommand = report[5];
        }
        return inner_->write(report, length);
    }
    int read(uint8_t* report, size_t capacity, uint32_t timeoutMs) override {
        int got = inner_->read(report, capacity, timeoutMs);
        if (got > 0) {
            log_->back().inputReports.emplace_back(report, report + got);
        }
        return got;
    }
    void flush() override { inner_->flush(); }
    size_t inputReportLength() const override { return inner_->inputReportLength(); }
    size_t outputReportLength() const override { return inner_->outputReportLength(); }
    bool lockExclusive() override {
        log_->emplace_back();
        return inner_->lockExclusive();
    }
    void unlock() override { inner_->unlock(); }

  private:
    std::unique_ptr<HidHandle> inner_;
    std::vector<Exchange>* log_;
};

class RecordingBackend final : public HidBackend {
  public:
    explicit RecordingBackend(std::shared_ptr<VirtualBackend> inner) : inner_(std::move(inner)) {}
    std::vector<HidInterfaceInfo> enumerate() override { return inner_->enumerate(); }
    std::unique_ptr<HidHandle> open(const std::string& path, std::string* error) override {
        auto handle = inner_->open(path, error);
        if (!handle) {
            return handle;
        }
        return std::make_unique<RecordingHandle>(std::move(handle), &log);
    }
    std::vector<Exchange> log;

  private:
    std::shared_ptr<VirtualBackend> inner_;
};

// Splits an exchange's input reports into the INIT reply (if any) and the reply message.
void reassemble(Exchange& e) {
    Bytes message;
    uint32_t length = 0;
    bool inMessage = false;
    for (const Bytes& r : e.inputReports) {
        if (r.size() < 8) {
            continue;
        }
        const uint8_t command = r[5];
        if (!inMessage) {
            if (command == CTAPHID_KEEPALIVE || command == CTAPHID_INIT || (command & 0x80) == 0) {
                continue;
            }
            e.replyCommand = command;
            length = (static_cast<uint32_t>(r[6]) << 8) | r[7];
            message.assign(r.begin() + 8, r.begin() + 8 + std::min<uint32_t>(length, 57));
            inMessage = true;
        } else {
            const uint32_t chunk = std::min<uint32_t>(length - message.size(), 59);
            message.insert(message.end(), r.begin() + 6, r.begin() + 6 + chunk);
        }
        if (message.size() >= length) {
            break;
        }
    }
    e.reply = message;
}

void writeFile(const std::string& path, const Bytes& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::perror(path.c_str());
        return;
    }
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

class Seeds {
  public:
    explicit Seeds(std::string root) : root_(std::move(root)) { ::mkdir(root_.c_str(), 0755); }
    void add(const std::string& harness, const std::string& name, const Bytes& bytes) {
        const std::string dir = root_ + "/" + harness;
        ::mkdir(dir.c_str(), 0755);
        writeFile(dir + "/" + name, bytes);
        ++count_;
    }
    int count() const { return count_; }

  private:
    std::string root_;
    int count_ = 0;
};

// The Messages playback of the replies of these exchanges, INIT excluded.
Bytes messages(const std::vector<Exchange>& log) {
    Bytes out;
    for (const Exchange& e : log) {
        if (e.replyCommand == 0) {
            continue;
        }
        out.push_back(static_cast<uint8_t>(e.reply.size() >> 8));
        out.push_back(static_cast<uint8_t>(e.reply.size()));
        out.insert(out.end(), e.reply.begin(), e.reply.end());
    }
    return out;
}

// The reports of one exchange for the CTAPHID harness: ChannelPackets (cid dropped) or
// RawPackets (cid set to the fuzz key's channel).
Bytes packets(const Exchange& e, bool raw) {
    Bytes out{static_cast<uint8_t>(raw ? 1 : 0)};
    for (const Bytes& r : e.inputReports) {
        if (r.size() < 65 || r[5] == CTAPHID_INIT) {
            continue;
        }
        if (raw) {
            out.insert(out.end(), fuzz::FUZZ_CID, fuzz::FUZZ_CID + 4);
        }
        out.insert(out.end(), r.begin() + 5, r.begin() + 65);
    }
    return out;
}

// Runs a flow against one virtual key and returns its exchanges.
std::vector<Exchange> record(const std::string& profile,
                             const std::function<void(DeviceContext&)>& flow) {
    ManualClock manual(1000);
    auto virtualBackend = std::make_shared<VirtualBackend>(manual);
    virtualBackend->addDevice(profile);
    auto recording = std::make_shared<RecordingBackend>(virtualBackend);
    DeviceContext devices(recording, manual);
    devices.enumerate();
    devices.select(0, 0);
    flow(devices);
    devices.close();
    std::vector<Exchange> log = recording->log;
    for (Exchange& e : log) {
        reassemble(e);
    }
    return log;
}

Bytes withoutStatus(const Bytes& reply) {
    return reply.empty() ? reply : Bytes(reply.begin() + 1, reply.end());
}

// The getInfo seeds of one profile's refresh: the rows, the CBOR and the command line's
// input forms.
void addGetInfoSeeds(Seeds& seeds, const std::string& profile, const Exchange& getInfo) {
    seeds.add("fuzz_getinfo_rows", profile, withoutStatus(getInfo.reply));
    seeds.add("fuzz_cbor", "getinfo-" + profile, withoutStatus(getInfo.reply));
    if (profile == "full") {
        const std::string hex = hexText(withoutStatus(getInfo.reply), "", HexCase::Lower);
        seeds.add("fuzz_cli_input", "getinfo-hex", Bytes(hex.begin(), hex.end()));
        seeds.add("fuzz_cli_input", "getinfo-binary", withoutStatus(getInfo.reply));
    }
}

// The CTAPHID harness asks for getInfo, then sends one APDU: both exchanges' reports, in
// either packet form.
void addCtaphidSeeds(Seeds& seeds, const std::string& profile, const Exchange* getInfo,
                     const Exchange* apdu) {
    for (bool raw : {false, true}) {
        Bytes both =
            getInfo != nullptr ? packets(*getInfo, raw) : Bytes{raw ? uint8_t{1} : uint8_t{0}};
        if (apdu != nullptr) {
            Bytes more = packets(*apdu, raw);
            both.insert(both.end(), more.begin() + 1, more.end());
        }
        if (both.size() > 1) {
            seeds.add("fuzz_ctaphid", (raw ? "raw-" : "channel-") + profile, both);
        }
    }
}

// The hardware refresh of one profile: vendor queries and getInfo.
void addRefreshSeeds(Seeds& seeds, const std::string& profile) {
    std::vector<Exchange> log = record(profile, [](DeviceContext& devices) {
        HardInfoPage hardware;
        Fido2CertPage fido2;
        U2fCertPage u2f;
        Pages pages{hardware, fido2, u2f};
        ShowDeviceInfo(devices, pages, "", "");
    });
    if (log.empty()) {
        return;
    }
    seeds.add("fuzz_device_refresh", profile, messages(log));
    const Exchange* getInfo = nullptr;
    const Exchange* apdu = nullptr;
    for (const Exchange& e : log) {
        if (e.requestCommand == CTAPHID_CBOR && e.replyCommand == CTAPHID_CBOR) {
            getInfo = &e;
        } else if (apdu == nullptr && e.requestCommand == CTAPHID_MSG &&
                   e.replyCommand == CTAPHID_MSG) {
            apdu = &e;
        }
    }
    if (getInfo != nullptr && getInfo->reply.size() > 1) {
        addGetInfoSeeds(seeds, profile, *getInfo);
    }
    addCtaphidSeeds(seeds, profile, getInfo, apdu);
}

// The PIN token of a key with a PIN.
void addPinTokenSeeds(Seeds& seeds) {
    std::vector<Exchange> log = record("pin", [](DeviceContext& devices) {
        test::ScriptedPrompts prompts;
        PinToken token;
        fetchPinToken(devices.session(), profileByName("pin").pin, prompts, token);
    });
    seeds.add("fuzz_pin_token", "pin", messages(log));
    for (size_t i = 0; i < log.size(); ++i) {
        seeds.add("fuzz_cbor", "clientpin-" + std::to_string(i), withoutStatus(log[i].reply));
    }
}

// The attestation certificates of the virtual key, as DER and as Base64 text.
void addCertificateSeeds(Seeds& seeds) {
    ManualClock manual(1000);
    auto backend = std::make_shared<VirtualBackend>(manual);
    VirtualKey& k = backend->addDevice("default");
    const Bytes& att = k.attestationCertificate();
    const Bytes& ca = k.caCertificate();
    seeds.add("fuzz_cert_rows", "attestation", att);
    seeds.add("fuzz_cert_rows", "ca", ca);
    const std::string text = base64Encode(att.data(), att.size());
    seeds.add("fuzz_base64", "attestation", Bytes(text.begin(), text.end()));
    std::string pem = "-----BEGIN CERTIFICATE-----\n";
    const std::string caText = base64Encode(ca.data(), ca.size());
    for (size_t at = 0; at < caText.size(); at += 64) {
        pem += caText.substr(at, 64) + "\n";
    }
    pem += "-----END CERTIFICATE-----\n";
    seeds.add("fuzz_base64", "ca-pem", Bytes(pem.begin(), pem.end()));
    // The text forms the command line reads from files.
    seeds.add("fuzz_cli_input", "ca-pem", Bytes(pem.begin(), pem.end()));
    std::string url = text;
    for (char& c : url) {
        c = c == '+' ? '-' : c == '/' ? '_' : c;
    }
    seeds.add("fuzz_cli_input", "attestation-base64url", Bytes(url.begin(), url.end()));
}

// The FIDO2 certificate fetch of one profile: the first byte tells the harness whether the
// key has a PIN.
void addFido2FetchSeeds(Seeds& seeds, const std::string& profile) {
    const bool pin = profileByName(profile).pinSet;
    std::vector<Exchange> log = record(profile, [&](DeviceContext& devices) {
        test::ScriptedPrompts prompts;
        prompts.okCancelDefault = true;
        prompts.pinDefault = profileByName(profile).pin;
        Fido2CertPage page;
        fetchFido2Certificates(devices.session(), pin, page, prompts);
        page.clearCertificatePage();
    });
    Bytes seed{static_cast<uint8_t>(pin ? 1 : 0)};
    Bytes all = messages(log);
    seed.insert(seed.end(), all.begin(), all.end());
    seeds.add("fuzz_fido2_cert", "fetch-" + profile, seed);
    if (!log.empty() && log.back().reply.size() > 1) {
        // The registration reply alone, as a saved response to decode.
        Bytes saved{0};
        const Bytes cbor = withoutStatus(log.back().reply);
        saved.insert(saved.end(), cbor.begin(), cbor.end());
        seeds.add("fuzz_fido2_cert", "saved-" + profile, saved);
        seeds.add("fuzz_cbor", "makecredential-" + profile, cbor);
    }
}

// The U2F certificate fetch of one profile.
void addU2fFetchSeeds(Seeds& seeds, const std::string& profile) {
    std::vector<Exchange> log = record(profile, [](DeviceContext& devices) {
        test::ScriptedPrompts prompts;
        prompts.okCancelDefault = true;
        U2fCertPage page;
        fetchU2fCertificate(devices.session(), page, prompts);
        page.clearCertificatePage();
    });
    seeds.add("fuzz_u2f_cert", "fetch-" + profile, messages(log));
    if (profile == "default" && !log.empty() && log.back().reply.size() > 2) {
        const Bytes& reply = log.back().reply;
        seeds.add("fuzz_u2f_cert", "saved-registration",
                  Bytes(reply.begin(), reply.end() - 2));  // status word dropped
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds CORPUS_DIR\n");
        return 2;
    }
    Seeds seeds(argv[1]);
    for (const std::string& profile : profileNames()) {
        addRefreshSeeds(seeds, profile);
    }
    addPinTokenSeeds(seeds);
    addCertificateSeeds(seeds);
    // FIDO2: without and with a PIN.
    for (const std::string profile : {"default", "pin", "full"}) {
        addFido2FetchSeeds(seeds, profile);
    }
    // U2F: extended form, chained replies, short form, and a key that waits for a few
    // attempts before its touch.
    for (const std::string profile : {"default", "u2f-chained", "u2f-short-form", "u2f-only"}) {
        addU2fFetchSeeds(seeds, profile);
    }
    std::printf("make_seeds: %d seeds written to %s\n", seeds.count(), argv[1]);
    return 0;
}
