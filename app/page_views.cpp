#include "app/page_views.h"

#include "cert/certificate_pages.h"

namespace orvanta {

namespace {
constexpr int HARDWARE_ITEM_WIDTH = 150;
constexpr int CERTIFICATE_ITEM_WIDTH = 120;
constexpr int VALUE_WIDTH = 500;
}  // namespace

CPageHardInfo::CPageHardInfo(HardInfoPage& model, QWidget* parent)
    : PageTable(model, HARDWARE_ITEM_WIDTH, VALUE_WIDTH, parent) {
    setObjectName(QStringLiteral("CPageHardInfo"));
    model.deleteAllRows();
}

CPageCertInfo::CPageCertInfo(Fido2CertPage& model, DeviceContext& devices, UserPrompts& prompts,
                             QWidget* parent)
    : PageTable(model, CERTIFICATE_ITEM_WIDTH, VALUE_WIDTH, parent),
      m_page(model),
      m_devices(devices),
      m_prompts(prompts) {
    setObjectName(QStringLiteral("CPageCertInfo"));
    m_page.clearCertificatePage();
}

void CPageCertInfo::onRowDoubleClicked(int row) {
    onCertificateRowDoubleClick(m_devices, m_page, row, m_prompts);
}

CPageU2FCert::CPageU2FCert(U2fCertPage& model, DeviceContext& devices, UserPrompts& prompts,
                           QWidget* parent)
    : PageTable(model, CERTIFICATE_ITEM_WIDTH, VALUE_WIDTH, parent),
      m_page(model),
      m_devices(devices),
      m_prompts(prompts) {
    setObjectName(QStringLiteral("CPageU2FCert"));
    m_page.initialise();
}

void CPageU2FCert::onRowDoubleClicked(int row) {
    onU2fRowDoubleClick(m_devices, m_page, row, m_prompts);
}

}  // namespace orvanta
