#pragma once
// Real keys through hidapi's hidraw backend.

#include "transport/hid_backend.h"

namespace orvanta {

class HidapiBackend final : public HidBackend {
  public:
    HidapiBackend();
    ~HidapiBackend() override;
    std::vector<HidInterfaceInfo> enumerate() override;
    std::unique_ptr<HidHandle> open(const std::string& path, std::string* error) override;
};

// Input and output report lengths (report ID byte included) from a HID report descriptor;
// 0 for a direction the descriptor does not describe.
struct ReportLengths {
    size_t input = 0;
    size_t output = 0;
};
ReportLengths parseReportLengths(const uint8_t* descriptor, size_t length);

}  // namespace orvanta
