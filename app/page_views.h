#pragma once
// The three tab pages: views over the page models.

#include "app/page_table.h"
#include "ctap/user_prompts.h"
#include "info/device_context.h"

namespace orvanta {

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
    CPageCertInfo(Fido2CertPage& model, DeviceContext& devices, UserPrompts& prompts,
                  QWidget* parent = nullptr);

  protected:
    void onRowDoubleClicked(int row) override;

  private:
    Fido2CertPage& m_page;
    DeviceContext& m_devices;
    UserPrompts& m_prompts;
};

// "U2F Certification".
class CPageU2FCert : public PageTable {
    Q_OBJECT

  public:
    CPageU2FCert(U2fCertPage& model, DeviceContext& devices, UserPrompts& prompts,
                 QWidget* parent = nullptr);

  protected:
    void onRowDoubleClicked(int row) override;

  private:
    U2fCertPage& m_page;
    DeviceContext& m_devices;
    UserPrompts& m_prompts;
};

}  // namespace orvanta
