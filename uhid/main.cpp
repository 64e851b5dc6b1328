// orvanta-uhid: presents virtual keys (or a firmware simulator reached over UDP) as devices of
// the kernel's HID stack through /dev/uhid, so hidraw, udev rules, device permissions,
// hot-plug events and the lock between programs are all real. For tests and demos; not
// installed. The devices are removed again on SIGINT or SIGTERM.

#include <signal.h>

#include <atomic>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/hex_text.h"
#include "sim/virtual_backend.h"
#include "transport/clock.h"
#include "transport/udp_backend.h"
#include "uhid/uhid_device.h"

using namespace orvanta;

namespace {

std::atomic<bool> stopFlag{false};

extern "C" void onSignal(int) {
    stopFlag.store(true);
}

constexpr unsigned MAX_DEVICES = 64;

const char* const USAGE =
    "Usage: orvanta-uhid [--virtual=A,B,...] [--copies=N] [--udp=HOST:PORT] [--keyboard]\n"
    "                    [--vid=HEX] [--pid=HEX] [--name=TEXT] [--bus=usb|bluetooth|virtual]\n"
    "Presents virtual keys as kernel HID devices through /dev/uhid until SIGINT or SIGTERM.\n"
    "  --virtual=LIST  one key per profile of the list (default \"default\")\n"
    "  --copies=N      N keys of each profile (default 1)\n"
    "  --udp=HOST:PORT one key backed by the CTAPHID-over-UDP simulator there instead\n"
    "  --keyboard      also a keyboard (a HID device that is no FIDO key)\n"
    "  --vid, --pid    the USB IDs the keys show (default: the profile's, 1209:5500 for UDP)\n"
    "  --name=TEXT     the product name the keys show (default: the profile's)\n"
    "  --bus=BUS       the bus the kernel is told of (default usb)\n";

struct Options {
    std::vector<std::string> profiles{"default"};
    unsigned copies = 1;
    std::optional<UdpEndpoints> udp;
    bool keyboard = false;
    std::optional<uint16_t> vendorId;
    std::optional<uint16_t> productId;
    std::optional<std::string> name;
    uhid::Bus bus = uhid::Bus::Usb;
};

std::optional<uint16_t> parseHexId(const std::string& text) {
    if (text.empty() || text.size() > 4) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (char c : text) {
        const int digit = hexDigitValue(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    return static_cast<uint16_t>(value);
}

bool fail(const std::string& message) {
    std::cerr << "orvanta-uhid: " << message << "\n";
    return false;
}

bool apply(Options& options, const std::string& name, const std::string& value) {
    if (name == "--virtual") {
        options.profiles = splitProfileList(value);
        for (const std::string& profile : options.profiles) {
            if (!isProfileName(profile)) {
                return fail("unknown profile \"" + profile + "\"");
            }
        }
    } else if (name == "--copies") {
        const std::optional<uint16_t> n = parsePort(value);  // 1..65535, then bounded
        if (!n || *n > MAX_DEVICES) {
            return fail("--copies needs 1 to " + std::to_string(MAX_DEVICES));
        }
        options.copies = *n;
    } else if (name == "--udp") {
        options.udp = parseUdpAddress(value);
        if (!options.udp) {
            return fail("--udp needs HOST:PORT");
        }
    } else if (name == "--vid" || name == "--pid") {
        const std::optional<uint16_t> id = parseHexId(value);
        if (!id) {
            return fail(name + " needs 1 to 4 hexadecimal digits");
        }
        (name == "--vid" ? options.vendorId : options.productId) = id;
    } else if (name == "--name") {
        options.name = value;
    } else if (name == "--bus") {
        if (value == "usb") {
            options.bus = uhid::Bus::Usb;
        } else if (value == "bluetooth") {
            options.bus = uhid::Bus::Bluetooth;
        } else if (value == "virtual") {
            options.bus = uhid::Bus::Virtual;
        } else {
            return fail("--bus needs usb, bluetooth or virtual");
        }
    } else {
        return fail("unknown option " + name + "\n" + USAGE);
    }
    return true;
}

// "--name=value" or "--name value"; --keyboard and --help stand alone.
bool parse(int argc, char** argv, Options& options, bool& help) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            help = true;
            return true;
        }
        if (arg == "--keyboard") {
            options.keyboard = true;
            continue;
        }
        std::string value;
        const size_t equals = arg.find('=');
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            return fail(arg + " needs a value");
        }
        if (!apply(options, arg, value)) {
            return false;
        }
    }
    if (options.profiles.size() * options.copies > MAX_DEVICES) {
        return fail("at most " + std::to_string(MAX_DEVICES) + " keys");
    }
    return true;
}

struct Plan {
    uhid::DeviceIdentity identity;
    std::vector<uint8_t> descriptor;
    std::unique_ptr<HidHandle> handle;
};

// The devices to create, each with the handle behind it; empty (with a message) when a
// handle cannot be opened.
std::vector<Plan> plan(const Options& options, VirtualBackend& keys, UdpBackend* udp) {
    std::vector<Plan> plans;
    auto identityOf = [&](const std::string& name, uint16_t vendor, uint16_t product,
                          uint16_t version) {
        uhid::DeviceIdentity identity;
        identity.name = options.name.value_or(name);
        identity.vendorId = options.vendorId.value_or(vendor);
        identity.productId = options.productId.value_or(product);
        identity.version = version;
        identity.bus = options.bus;
        identity.uniq =
            "orvanta-uhid-" + std::to_string(::getpid()) + "-" + std::to_string(plans.size() + 1);
        return identity;
    };
    std::string error;
    if (udp != nullptr) {
        Plan p{identityOf("UDP " + udp->path(), UDP_VENDOR_ID, UDP_PRODUCT_ID, 0),
               uhid::fidoReportDescriptor(), udp->open(udp->path(), &error)};
        if (!p.handle) {
            std::cerr << "orvanta-uhid: " << udp->path() << ": " << error << "\n";
            return {};
        }
        plans.push_back(std::move(p));
    } else {
        for (const std::string& profile : options.profiles) {
            for (unsigned c = 0; c < options.copies; ++c) {
                VirtualKey& key = keys.addDevice(profile);
                const Profile& shape = key.profile();
                // The key's own FIDO collection: collection fidoPosition of its listing.
                const std::string path =
                    std::string(VIRTUAL_PATH_PREFIX) + std::to_string(key.serial()) + ":" +
                    std::to_string(std::min(shape.fidoPosition, shape.extraCollections.size()));
                Plan p{identityOf(shape.productString, shape.vendorId, shape.productId,
                                  shape.releaseNumber),
                       uhid::fidoReportDescriptor(), keys.open(path, &error)};
                if (!p.handle) {
                    std::cerr << "orvanta-uhid: virtual key \"" << profile << "\": " << error
                              << "\n";
                    return {};
                }
                plans.push_back(std::move(p));
            }
        }
    }
    if (options.keyboard) {
        // A keyboard of a maker the accepted-device table does not know (V-USB's shared
        // IDs), whatever --name, --vid and --pid give the keys.
        Plan p{identityOf("", 0, 0, 0x0100), uhid::keyboardReportDescriptor(), nullptr};
        p.identity.name = "Orvanta Keyboard";
        p.identity.vendorId = 0x16C0;
        p.identity.productId = 0x27DB;
        plans.push_back(std::move(p));
    }
    return plans;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    bool help = false;
    if (!parse(argc, argv, options, help)) {
        return 2;
    }
    if (help) {
        std::cout << USAGE;
        return 0;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    SystemClock clock;
    VirtualBackend keys(clock);
    std::unique_ptr<UdpBackend> udp;
    if (options.udp) {
        udp = std::make_unique<UdpBackend>(*options.udp);
    }
    std::vector<Plan> plans = plan(options, keys, udp.get());
    if (plans.empty()) {
        return 1;
    }
    std::vector<std::unique_ptr<uhid::UhidDevice>> devices;
    for (Plan& p : plans) {
        auto device =
            std::make_unique<uhid::UhidDevice>(p.identity, p.descriptor, std::move(p.handle));
        if (!device->valid()) {
            std::cerr << "orvanta-uhid: " << device->error() << "\n";
            return 1;
        }
        devices.push_back(std::move(device));
    }
    // One thread per device: a key that waits for a touch never holds up the others.
    std::atomic<int> failed{0};
    std::vector<std::thread> threads;
    for (auto& device : devices) {
        threads.emplace_back([&failed, d = device.get()] {
            if (!d->serve(stopFlag)) {
                std::cerr << "orvanta-uhid: " << d->error() << std::endl;
                failed.fetch_add(1);
                stopFlag.store(true);
            }
        });
    }
    std::cerr << "orvanta-uhid: " << devices.size() << " device(s) created" << std::endl;
    for (std::thread& t : threads) {
        t.join();
    }
    devices.clear();  // destroyed: udev sees them leave
    return failed.load() == 0 ? 0 : 1;
}
