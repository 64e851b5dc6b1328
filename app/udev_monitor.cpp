#include "app/udev_monitor.h"

#include <libudev.h>

#include <QSocketNotifier>

namespace orvanta {

namespace {

std::string text(const char* value) {
    return value != nullptr ? value : "";
}

// PRODUCT of a USB device: "vendor/product/release", each in hexadecimal without padding.
void idsFromProduct(const std::string& product, std::string& vendor, std::string& model) {
    const size_t first = product.find('/');
    if (first == std::string::npos) {
        return;
    }
    const size_t second = product.find('/', first + 1);
    vendor = normaliseUsbId(product.substr(0, first));
    model = normaliseUsbId(product.substr(
        first + 1, second == std::string::npos ? std::string::npos : second - first - 1));
}

// "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:1050:0407.0001/hidraw/hidraw0":
// a USB host controller's root hub ("usb" and its bus number) is on the way.
bool onUsbDevice(const std::string& devpath) {
    for (size_t at = devpath.find("/usb"); at != std::string::npos;
         at = devpath.find("/usb", at + 1)) {
        size_t end = at + 4;
        while (end < devpath.size() && devpath[end] >= '0' && devpath[end] <= '9') {
            ++end;
        }
        if (end > at + 4 && (end == devpath.size() || devpath[end] == '/')) {
            return true;
        }
    }
    return false;
}

// The IDs in the name of the HID device that holds the hidraw node.
void idsFromHidraw(const std::string& devpath, std::string& vendor, std::string& model) {
    const size_t node = devpath.rfind("/hidraw/");
    if (node == std::string::npos) {
        return;
    }
    const size_t start = devpath.rfind('/', node - 1);
    const std::string name = devpath.substr(start + 1, node - start - 1);  // BBBB:VVVV:PPPP.NNNN
    if (name.size() == 19 && name[4] == ':' && name[9] == ':' && name[14] == '.') {
        vendor = normaliseUsbId(name.substr(5, 4));
        model = normaliseUsbId(name.substr(10, 4));
    }
}

}  // namespace

bool deviceEventFromUdev(const UdevMessage& message, uintptr_t number, DeviceEvent& event) {
    if (!message.hidrawPath.empty() && onUsbDevice(message.hidrawPath)) {
        return false;
    }
    if (message.action == "add") {
        event.code = DeviceChange::Arrival;
    } else if (message.action == "remove") {
        event.code = DeviceChange::RemoveComplete;
    } else {
        return false;
    }
    if (!message.hidrawPath.empty()) {
        event.vendorId.clear();
        event.productId.clear();
        idsFromHidraw(message.hidrawPath, event.vendorId, event.productId);
        event.data = number;
        return true;
    }
    event.vendorId = normaliseUsbId(message.vendorId);
    event.productId = normaliseUsbId(message.modelId);
    if (event.vendorId.empty() || event.productId.empty()) {
        event.vendorId.clear();
        event.productId.clear();
        idsFromProduct(message.product, event.vendorId, event.productId);
    }
    event.data = number;
    return true;
}

void UdevMonitor::UdevDeleter::operator()(udev* context) const {
    udev_unref(context);
}

void UdevMonitor::MonitorDeleter::operator()(udev_monitor* monitor) const {
    udev_monitor_unref(monitor);
}

UdevMonitor::UdevMonitor(QObject* parent) : QObject(parent) {}

UdevMonitor::~UdevMonitor() = default;

bool UdevMonitor::start() {
    if (m_monitor) {
        return true;
    }
    std::unique_ptr<udev, UdevDeleter> context(udev_new());
    if (!context) {
        return false;
    }
    std::unique_ptr<udev_monitor, MonitorDeleter> monitor(
        udev_monitor_new_from_netlink(context.get(), "udev"));
    if (!monitor ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "usb", "usb_device") < 0 ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor.get()) < 0) {
        return false;
    }
    const int fd = udev_monitor_get_fd(monitor.get());
    if (fd < 0) {
        return false;
    }
    m_udev = std::move(context);
    m_monitor = std::move(monitor);
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &UdevMonitor::readEvents);
    return true;
}

void UdevMonitor::readEvents() {
    // The socket is non-blocking: take every message that is queued.
    while (udev_device* device = udev_monitor_receive_device(m_monitor.get())) {
        const bool hidraw = text(udev_device_get_subsystem(device)) == "hidraw";
        const UdevMessage message{text(udev_device_get_action(device)),
                                  text(udev_device_get_property_value(device, "ID_VENDOR_ID")),
                                  text(udev_device_get_property_value(device, "ID_MODEL_ID")),
                                  text(udev_device_get_property_value(device, "PRODUCT")),
                                  hidraw ? text(udev_device_get_devpath(device)) : std::string()};
        DeviceEvent event;
        const bool relevant = deviceEventFromUdev(message, m_count + 1, event);
        udev_device_unref(device);
        if (relevant) {
            ++m_count;
            emit deviceChanged(event);
        }
    }
}

}  // namespace orvanta
