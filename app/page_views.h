#pragma once
// The three tab pages: views over the page models.

#include <functional>
#include <optional>

#include "app/page_table.h"
#include "cert/fetch_outcome.h"
#include "ctap/user_prompts.h"
#include "info/device_context.h"

namespace orvanta {

// Where the pages' row actions run: on the window's device worker, with prompts that reach
// the window. A job that cannot start (another one still runs) is dropped. A job returns
// the result of the fetch it ran, if it ran one.
class DeviceWork {
  public:
    using Job =
        std::function<std::optional<FetchResult>(DeviceContext& devices, UserPrompts& prompts)>;
    virtual ~DeviceWork() = default;
    virtual bool runDeviceJob(Job job) = 0;
};

// "hardware info": clicks and double clicks only select.
class CPageHardInfo : public PageTable {
    Q_OBJECT

  public:
    CPageHardInfo(HardInfoPage& model, QWidget* parent = nullptr);
};

// "FIDO2 Certification": a double click starts a fetch or exports a certificate.
class CPageCertInfo : public PageTable {
    Q_OBJECT

  public:
    CPageCertInfo(Fido2CertPage& model, DeviceWork& work, QWidget* parent = nullptr);

  protected:
    void onRowDoubleClicked(int row) override;

  private:
    Fido2CertPage& m_page;
    DeviceWork& m_work;
};

// "U2F Certification".
class CPageU2FCert : public PageTable {
    Q_OBJECT

  public:
    CPageU2FCert(U2fCertPage& model, DeviceWork& work, QWidget* parent = nullptr);

  protected:
    void onRowDoubleClicked(int row) override;

  private:
    U2fCertPage& m_page;
    DeviceWork& m_work;
};

}  // namespace orvanta
