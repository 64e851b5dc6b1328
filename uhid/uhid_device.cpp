#include "uhid/uhid_device.h"

#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sim/virtual_backend.h"
#include "transport/ctaphid_protocol.h"
#include "transport/device_list.h"

namespace orvanta::uhid {

namespace {

// How often a waiting device looks at the stop flag, and at its handle's input.
constexpr int STOP_POLL_MS = 100;
constexpr uint32_t INPUT_POLL_MS = 5;

void copyText(char* target, size_t capacity, const std::string& text) {
    const size_t n = std::min(capacity - 1, text.size());
    std::memcpy(target, text.data(), n);
    target[n] = '\0';
}

bool writeEvent(int fd, const uhid_event& event) {
    for (;;) {
        const ssize_t n = ::write(fd, &event, sizeof event);
        if (n == static_cast<ssize_t>(sizeof event)) {
            return true;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return false;
    }
}

}  // namespace

std::vector<uint8_t> fidoReportDescriptor() {
    const auto packet = static_cast<uint8_t>(CTAPHID_PACKET_SIZE);
    return {
        0x06,
        static_cast<uint8_t>(FIDO_USAGE_PAGE & 0xFF),
        static_cast<uint8_t>(FIDO_USAGE_PAGE >> 8),  // Usage Page (FIDO Alliance)
        0x09,
        static_cast<uint8_t>(FIDO_USAGE),  // Usage (CTAPHID)
        0xA1,
        0x01,  // Collection (Application)
        0x09,
        0x20,  //   Usage (Input Report Data)
        0x15,
        0x00,
        0x26,
        0xFF,
        0x00,  //   Logical 0..255
        0x75,
        0x08,
        0x95,
        packet,  //   8 bits x 64
        0x81,
        0x02,  //   Input (Data, Variable, Absolute)
        0x09,
        0x21,  //   Usage (Output Report Data)
        0x15,
        0x00,
        0x26,
        0xFF,
        0x00,  //   Logical 0..255
        0x75,
        0x08,
        0x95,
        packet,  //   8 bits x 64
        0x91,
        0x02,  //   Output (Data, Variable, Absolute)
        0xC0,  // End Collection
    };
}

std::vector<uint8_t> keyboardReportDescriptor() {
    return {
        0x05, 0x01, 0x09, 0x06, 0xA1, 0x01,  // Generic Desktop, Keyboard, Application
        0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7,  // modifier keys
        0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01,
        0x75, 0x08, 0x81, 0x01,              // reserved byte
        0x05, 0x08, 0x19, 0x01, 0x29, 0x05,  // LEDs
        0x95, 0x05, 0x75, 0x01, 0x91, 0x02, 0x95, 0x01, 0x75, 0x03, 0x91, 0x01,
        0x05, 0x07, 0x19, 0x00, 0x2A, 0xFF, 0x00,  // six key codes
        0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x06, 0x81, 0x00, 0xC0,
    };
}

UhidDevice::UhidDevice(const DeviceIdentity& identity, std::span<const uint8_t> descriptor,
                       std::unique_ptr<HidHandle> handle)
    : handle_(std::move(handle)) {
    UniqueFd fd(::open("/dev/uhid", O_RDWR | O_CLOEXEC));
    if (!fd.valid()) {
        error_ = std::string("/dev/uhid: ") + std::strerror(errno);
        return;
    }
    uhid_event event{};
    event.type = UHID_CREATE2;
    uhid_create2_req& create = event.u.create2;
    copyText(reinterpret_cast<char*>(create.name), sizeof create.name, identity.name);
    copyText(reinterpret_cast<char*>(create.phys), sizeof create.phys, "orvanta-uhid");
    copyText(reinterpret_cast<char*>(create.uniq), sizeof create.uniq, identity.uniq);
    if (descriptor.size() > sizeof create.rd_data) {
        error_ = "report descriptor too long";
        return;
    }
    std::copy(descriptor.begin(), descriptor.end(), create.rd_data);
    create.rd_size = static_cast<uint16_t>(descriptor.size());
    create.bus = static_cast<uint16_t>(identity.bus);
    create.vendor = identity.vendorId;
    create.product = identity.productId;
    create.version = identity.version;
    if (!writeEvent(fd.get(), event)) {
        error_ = std::string("creating the device: ") + std::strerror(errno);
        return;
    }
    fd_ = std::move(fd);
}

UhidDevice::~UhidDevice() {
    if (fd_.valid()) {
        uhid_event event{};
        event.type = UHID_DESTROY;
        writeEvent(fd_.get(), event);
    }
}

bool UhidDevice::serve(const std::atomic<bool>& stop) {
    while (!stop.load()) {
        pollfd wait{fd_.get(), POLLIN, 0};
        // A handle may have input of its own (a key's keepalives while it waits for a
        // touch, a simulator's late reply): look at it often while one is attached.
        const int ready =
            ::poll(&wait, 1, handle_ ? static_cast<int>(INPUT_POLL_MS) : STOP_POLL_MS);
        if (ready < 0 && errno != EINTR) {
            error_ = std::string("poll: ") + std::strerror(errno);
            return false;
        }
        if (ready > 0 && !handleEvent()) {
            return false;
        }
        if (handle_ && !forwardInput()) {
            return false;
        }
    }
    return true;
}

bool UhidDevice::handleEvent() {
    uhid_event event{};
    const ssize_t n = ::read(fd_.get(), &event, sizeof event);
    if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) {
            return true;
        }
        error_ = std::string("/dev/uhid: ") + std::strerror(errno);
        return false;
    }
    switch (event.type) {
        case UHID_OUTPUT: {
            if (!handle_) {
                return true;  // a keyboard's LEDs: nothing to do
            }
            const uhid_output_req& output = event.u.output;
            const size_t size = std::min<size_t>(output.size, sizeof output.data);
            // hidraw passes the report as written, report ID byte (0) first; the handle
            // expects it there.
            uint8_t report[1 + CTAPHID_PACKET_SIZE] = {};
            if (size == CTAPHID_PACKET_SIZE) {
                std::memcpy(report + 1, output.data, size);
                handle_->write(report, sizeof report);
            } else {
                handle_->write(output.data, size);
            }
            return true;
        }
        case UHID_GET_REPORT: {
            uhid_event reply{};
            reply.type = UHID_GET_REPORT_REPLY;
            reply.u.get_report_reply.id = event.u.get_report.id;
            reply.u.get_report_reply.err = EIO;
            return writeEvent(fd_.get(), reply);
        }
        case UHID_SET_REPORT: {
            uhid_event reply{};
            reply.type = UHID_SET_REPORT_REPLY;
            reply.u.set_report_reply.id = event.u.set_report.id;
            reply.u.set_report_reply.err = EIO;
            return writeEvent(fd_.get(), reply);
        }
        default:
            return true;  // start, stop, open, close
    }
}

bool UhidDevice::forwardInput() {
    uint8_t report[1 + CTAPHID_PACKET_SIZE];
    for (;;) {
        const int n = handle_->read(report, sizeof report, 0);
        if (n <= 0) {
            return true;  // nothing more now; a handle that failed stays quiet
        }
        // Without report IDs the kernel takes the report without its ID byte.
        if (!sendInput(std::span<const uint8_t>(report + 1, static_cast<size_t>(n) - 1))) {
            return false;
        }
        // A key waiting for a touch makes a keepalive at every read: one per round, so
        // that output (a cancel) is read in between.
        if (n > 5 && report[5] == CTAPHID_KEEPALIVE) {
            return true;
        }
    }
}

bool UhidDevice::sendInput(std::span<const uint8_t> report) {
    uhid_event event{};
    event.type = UHID_INPUT2;
    const size_t n = std::min(report.size(), sizeof event.u.input2.data);
    std::copy_n(report.begin(), n, event.u.input2.data);
    event.u.input2.size = static_cast<uint16_t>(n);
    if (!writeEvent(fd_.get(), event)) {
        error_ = std::string("sending input: ") + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace orvanta::uhid
