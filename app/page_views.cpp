#include "app/page_views.h"

#include "cert/certificate_pages.h"
#include "report/page_report.h"

namespace orvanta {

namespace {
constexpr int HARDWARE_ITEM_WIDTH = 150;
constexpr int CERTIFICATE_ITEM_WIDTH = 120;
constexpr int VALUE_WIDTH = 500;
}  // namespace

CPageHardInfo::CPageHardInfo(HardInfoPage& model, QWidget* parent)
    : PageTable(model, report::HARDWARE_TITLE, HARDWARE_ITEM_WIDTH, VALUE_WIDTH, parent) {
    setObjectName(QStringLiteral("CPageHardInfo"));
    model.deleteAllRows();
}

CPageCertInfo::CPageCertInfo(Fido2CertPage& model, DeviceWork& work, QWidget* parent)
    : PageTable(model, report::FIDO2_TITLE, CERTIFICATE_ITEM_WIDTH, VALUE_WIDTH, parent),
      m_page(model),
      m_work(work) {
    setObjectName(QStringLiteral("CPageCertInfo"));
    m_page.clearCertificatePage();
}

void CPageCertInfo::onRowDoubleClicked(int row) {
    // The row's action is looked up by the job: the worker owns the page while it runs.
    m_work.runDeviceJob([this, row](DeviceContext& devices, UserPrompts& prompts) {
        return onCertificateRowDoubleClick(devices, m_page, row, prompts);
    });
}

CPageU2FCert::CPageU2FCert(U2fCertPage& model, DeviceWork& work, QWidget* parent)
    : PageTable(model, report::U2F_TITLE, CERTIFICATE_ITEM_WIDTH, VALUE_WIDTH, parent),
      m_page(model),
      m_work(work) {
    setObjectName(QStringLiteral("CPageU2FCert"));
    m_page.initialise();
}

void CPageU2FCert::onRowDoubleClicked(int row) {
    m_work.runDeviceJob([this, row](DeviceContext& devices, UserPrompts& prompts) {
        return onU2fRowDoubleClick(devices, m_page, row, prompts);
    });
}

}  // namespace orvanta
