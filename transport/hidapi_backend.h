#pragma once
// Real keys through hidapi's hidraw backend.

#include "transport/clock.h"
#include "transport/hid_backend.h"

namespace orvanta {

class HidapiBackend final : public HidBackend {
  public:
    // Waits for other programs' device locks on the machine's clock, or on the one given.
    HidapiBackend();
    explicit HidapiBackend(Clock& clock);
    ~HidapiBackend() override;
    std::vector<HidInterfaceInfo> enumerate() override;
    std::unique_ptr<HidHandle> open(const std::string& path, std::string* error) override;

  private:
    SystemClock ownClock_;
    Clock& clock_;
};

// Input and output report lengths (report ID byte included) from a HID report descriptor;
// 0 for a direction the descriptor does not describe.
struct ReportLengths {
    size_t input = 0;
    size_t output = 0;
};
ReportLengths parseReportLengths(const uint8_t* descriptor, size_t length);

}  // namespace orvanta
