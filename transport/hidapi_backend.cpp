#include "transport/hidapi_backend.h"

#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>

#include "common/utf8.h"
#include "transport/clock.h"
#include "transport/unique_fd.h"

namespace orvanta {

namespace {

constexpr size_t FIDO_REPORT_LENGTH = 65;
// How long we wait for another program to finish its exchange with the same key.
constexpr uint32_t LOCK_WAIT_MS = 3000;
constexpr uint32_t LOCK_POLL_MS = 20;

// hidapi keeps the error of its last enumeration or open in one string of the process,
// replaced by every such call: keys opened from several threads (--all-keys) take turns.
// Reads and writes keep their errors per device and need no turn.
std::mutex& hidapiCallMutex() {
    static std::mutex mutex;
    return mutex;
}

// hidapi hands product strings over as wide characters: UTF-32 code points on Linux.
std::string toUtf8(const wchar_t* text) {
    std::string out;
    if (text == nullptr) {
        return out;
    }
    for (; *text != 0; ++text) {
        appendUtf8(out, static_cast<uint32_t>(*text));
    }
    return out;
}

// /dev/hidrawN -> the report descriptor that the kernel exposes for it.
ReportLengths lengthsFromSysfs(const std::string& path) {
    ReportLengths lengths;
    auto slash = path.rfind('/');
    std::string node = slash == std::string::npos ? path : path.substr(slash + 1);
    std::ifstream in("/sys/class/hidraw/" + node + "/device/report_descriptor", std::ios::binary);
    if (!in) {
        return lengths;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    return parseReportLengths(bytes.data(), bytes.size());
}

class HidapiHandle final : public HidHandle {
  public:
    HidapiHandle(hid_device* device, std::string path, ReportLengths lengths, Clock& clock)
        : device_(device), path_(std::move(path)), lengths_(lengths), clock_(clock) {}
    ~HidapiHandle() override {
        unlock();
        lockFd_.close();
        hid_close(device_);
    }

    int write(const uint8_t* report, size_t length) override {
        return hid_write(device_, report, length);
    }

    int read(uint8_t* report, size_t capacity, uint32_t timeoutMs) override {
        if (capacity < 2) {
            return -1;
        }
        // hidraw delivers the report without the ID byte when the device uses no report
        // IDs; the framing expects it at offset 0.
        int got = hid_read_timeout(device_, report + 1, capacity - 1, static_cast<int>(timeoutMs));
        if (got <= 0) {
            return got;
        }
        report[0] = 0;
        return got + 1;
    }

    void flush() override {
        uint8_t scratch[FIDO_REPORT_LENGTH];
        for (int i = 0; i < 256 && hid_read_timeout(device_, scratch, sizeof scratch, 0) > 0; ++i) {
        }
    }

    size_t inputReportLength() const override {
        return lengths_.input ? lengths_.input : FIDO_REPORT_LENGTH;
    }
    size_t outputReportLength() const override {
        return lengths_.output ? lengths_.output : FIDO_REPORT_LENGTH;
    }

    // The same advisory lock other FIDO clients take on the hidraw node, held only for
    // one exchange so their messages and ours never interleave.
    bool lockExclusive() override {
        if (!lockFd_.valid()) {
            lockFd_ = UniqueFd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
            if (!lockFd_.valid()) {
                return true;  // nothing to lock on (not a device node): go on unlocked
            }
        }
        uint32_t start = clock_.tickCount();
        while (::flock(lockFd_.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EINTR) {
                continue;  // a signal is no reason to give up the exchange
            }
            if (errno != EWOULDBLOCK || clock_.tickCount() - start >= LOCK_WAIT_MS) {
                return false;
            }
            clock_.sleep(LOCK_POLL_MS);
        }
        locked_ = true;
        return true;
    }

    void unlock() override {
        if (locked_ && lockFd_.valid()) {
            ::flock(lockFd_.get(), LOCK_UN);
        }
        locked_ = false;
    }

  private:
    hid_device* device_;
    std::string path_;
    ReportLengths lengths_;
    Clock& clock_;
    UniqueFd lockFd_;  // opened for the first exchange, kept until the handle ends
    bool locked_ = false;
};

}  // namespace

ReportLengths parseReportLengths(const uint8_t* descriptor, size_t length) {
    // Sums Report Size x Report Count of the Input and Output main items per report ID.
    std::map<uint8_t, size_t> inputBits;
    std::map<uint8_t, size_t> outputBits;
    uint32_t reportSize = 0;
    uint32_t reportCount = 0;
    uint8_t reportId = 0;
    bool usesIds = false;
    size_t i = 0;
    while (i < length) {
        uint8_t prefix = descriptor[i];
        if (prefix == 0xFE) {  // long item: skip it whole
            if (i + 2 >= length) {
                break;
            }
            i += 3 + descriptor[i + 1];
            continue;
        }
        size_t size = prefix & 0x03;
        if (size == 3) {
            size = 4;
        }
        if (i + 1 + size > length) {
            break;
        }
        uint32_t value = 0;
        for (size_t k = 0; k < size; ++k) {
            value |= static_cast<uint32_t>(descriptor[i + 1 + k]) << (8 * k);
        }
        switch (prefix & 0xFC) {
            case 0x74:
                reportSize = value;
                break;
            case 0x94:
                reportCount = value;
                break;
            case 0x84:
                reportId = static_cast<uint8_t>(value);
                usesIds = true;
                break;
            case 0x80:
                inputBits[reportId] += static_cast<size_t>(reportSize) * reportCount;
                break;
            case 0x90:
                outputBits[reportId] += static_cast<size_t>(reportSize) * reportCount;
                break;
            default:
                break;
        }
        i += 1 + size;
    }
    (void)usesIds;  // the ID byte is always counted: it travels with every report
    ReportLengths lengths;
    for (auto& [id, bits] : inputBits) {
        size_t bytes = (bits + 7) / 8 + 1;
        if (bytes > lengths.input) {
            lengths.input = bytes;
        }
    }
    for (auto& [id, bits] : outputBits) {
        size_t bytes = (bits + 7) / 8 + 1;
        if (bytes > lengths.output) {
            lengths.output = bytes;
        }
    }
    return lengths;
}

HidapiBackend::HidapiBackend() : clock_(ownClock_) {
    hid_init();
}

HidapiBackend::HidapiBackend(Clock& clock) : clock_(clock) {
    hid_init();
}

HidapiBackend::~HidapiBackend() {
    hid_exit();
}

std::vector<HidInterfaceInfo> HidapiBackend::enumerate() {
    std::vector<HidInterfaceInfo> list;
    std::lock_guard lock(hidapiCallMutex());
    hid_device_info* all = hid_enumerate(0, 0);
    for (hid_device_info* d = all; d != nullptr; d = d->next) {
        HidInterfaceInfo info;
        info.path = d->path ? d->path : "";
        info.vendorId = d->vendor_id;
        info.productId = d->product_id;
        info.releaseNumber = d->release_number;
        info.productString = toUtf8(d->product_string);
        info.usagePage = d->usage_page;
        info.usage = d->usage;
        list.push_back(std::move(info));
    }
    hid_free_enumeration(all);
    return list;
}

std::unique_ptr<HidHandle> HidapiBackend::open(const std::string& path, std::string* error) {
    // Ask the kernel first, so a refusal comes with its reason (hidapi does not say why).
    UniqueFd probe(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (!probe.valid()) {
        if (error) {
            *error = errno == EACCES || errno == EPERM ? "permission denied" : std::strerror(errno);
        }
        return nullptr;
    }
    probe.close();  // hidapi opens the node itself
    hid_device* device = nullptr;
    {
        std::lock_guard lock(hidapiCallMutex());
        device = hid_open_path(path.c_str());
    }
    if (device == nullptr) {
        if (error) {
            *error = "cannot be opened";
        }
        return nullptr;
    }
    return std::make_unique<HidapiHandle>(device, path, lengthsFromSysfs(path), clock_);
}

}  // namespace orvanta
