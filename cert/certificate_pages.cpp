#include "cert/certificate_pages.h"

#include "cert/certificate_file.h"
#include "cert/fido2_fetch.h"
#include "cert/u2f_fetch.h"

namespace orvanta {

namespace {

// What a row's action asks for; only the fetch differs between the two pages.
template <typename Fetch>
std::optional<FetchResult> onRowDoubleClick(CertificatePage& page, int row, UserPrompts& prompts,
                                            Fetch fetch) {
    switch (page.actionAt(row)) {
        case RowAction::Fetch:
            return fetch();
        case RowAction::ExportCertificate:
            exportCertificate(page, page.rows()[static_cast<size_t>(row)].certificate, prompts);
            break;
        case RowAction::None:
            break;
    }
    return std::nullopt;
}

}  // namespace

std::optional<FetchResult> onCertificateRowDoubleClick(DeviceContext& context, Fido2CertPage& page,
                                                       int row, UserPrompts& prompts) {
    return onRowDoubleClick(page, row, prompts, [&] {
        return fetchFido2Certificates(context.session(), context.clientPinSet(), page, prompts,
                                      context.pinProtocol(), context.metadata());
    });
}

std::optional<FetchResult> onU2fRowDoubleClick(DeviceContext& context, U2fCertPage& page, int row,
                                               UserPrompts& prompts) {
    return onRowDoubleClick(page, row, prompts, [&] {
        return fetchU2fCertificate(context.session(), page, prompts, context.metadata());
    });
}

}  // namespace orvanta
