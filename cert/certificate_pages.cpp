#include "cert/certificate_pages.h"

#include "cert/certificate_file.h"
#include "cert/fido2_fetch.h"
#include "cert/u2f_fetch.h"

namespace orvanta {

void onCertificateRowDoubleClick(DeviceContext& context, Fido2CertPage& page, int row,
                                 UserPrompts& prompts) {
    switch (page.actionAt(row)) {
        case RowAction::Fetch:
            fetchFido2Certificates(context.session(), context.clientPinSet(), page, prompts);
            break;
        case RowAction::ExportCertificate:
            exportCertificate(page, page.rows()[static_cast<size_t>(row)].certificate, prompts);
            break;
        case RowAction::None:
            break;
    }
}

void onU2fRowDoubleClick(DeviceContext& context, U2fCertPage& page, int row, UserPrompts& prompts) {
    switch (page.actionAt(row)) {
        case RowAction::Fetch:
            fetchU2fCertificate(context.session(), page, prompts);
            break;
        case RowAction::ExportCertificate:
            exportCertificate(page, page.rows()[static_cast<size_t>(row)].certificate, prompts);
            break;
        case RowAction::None:
            break;
    }
}

}  // namespace orvanta
