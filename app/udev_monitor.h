#pragma once
// USB arrivals and removals from udev, delivered on the window's thread through the event
// loop.

#include <QObject>
#include <memory>
#include <string>

#include "app/device_event.h"

struct udev;
struct udev_monitor;
struct udev_device;
class QSocketNotifier;

namespace orvanta {

// The event for one udev message about a USB device: action "add" is an arrival, "remove" a
// removal; the IDs come from ID_VENDOR_ID and ID_MODEL_ID, else from PRODUCT
// ("vendor/product/release" in unpadded hexadecimal). False for every other action.
// A hidraw node counts only when no USB device carries it (a key made through uhid, or one
// on Bluetooth): a USB key already has its USB device's event. Its IDs come from its HID
// device's name in the path ("0003:1209:0001.0004": bus, vendor, product, number).
struct UdevMessage {
    std::string action;
    std::string vendorId;    // ID_VENDOR_ID
    std::string modelId;     // ID_MODEL_ID
    std::string product;     // PRODUCT
    std::string hidrawPath;  // DEVPATH of a hidraw node; empty for a USB device
};
bool deviceEventFromUdev(const UdevMessage& message, uintptr_t number, DeviceEvent& event);

class UdevMonitor : public QObject {
    Q_OBJECT

  public:
    explicit UdevMonitor(QObject* parent = nullptr);
    ~UdevMonitor() override;

    // Starts listening to USB devices and hidraw nodes; false when udev is not available (the
    // window then keeps what it showed at start).
    bool start();

  signals:
    void deviceChanged(const orvanta::DeviceEvent& event);

  private:
    void readEvents();

    struct UdevDeleter {
        void operator()(udev* context) const;
    };
    struct MonitorDeleter {
        void operator()(udev_monitor* monitor) const;
    };
    std::unique_ptr<udev, UdevDeleter> m_udev;
    std::unique_ptr<udev_monitor, MonitorDeleter> m_monitor;
    QSocketNotifier* m_notifier = nullptr;
    uintptr_t m_count = 0;
};

}  // namespace orvanta
