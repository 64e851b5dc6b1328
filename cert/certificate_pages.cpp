#include "cert/certificate_pages.h"

#include "cert/certificate_file.h"
#include "cert/fido2_fetch.h"
#include "cert/u2f_fetch.h"

namespace orvanta {

namespace {

constexpr const char* BASE64_LABEL = "Base64 encode";

}  // namespace

void onCertificateRowDoubleClick(DeviceContext& context, Fido2CertPage& page, int row,
                                 UserPrompts& prompts) {
    const std::string label = page.labelAt(row);
    if (label == TIPS_LABEL) {
        fetchFido2Certificates(context.session(), context.clientPinSet(), page, prompts);
    } else if (label == BASE64_LABEL) {
        exportBase64Row(page, page.valueAt(row), prompts);
    }
}

void onU2fRowDoubleClick(DeviceContext& context, U2fCertPage& page, int row, UserPrompts& prompts) {
    const std::string label = page.labelAt(row);
    if (label == TIPS_LABEL) {
        fetchU2fCertificate(context.session(), page, prompts);
    } else if (label == BASE64_LABEL) {
        exportBase64Row(page, page.valueAt(row), prompts);
    }
}

}  // namespace orvanta
