#pragma once
// The double-click handlers of the two certification pages: a row's action says what a
// double click does ("Tips" starts a fetch, "Base64 encode" exports its certificate, other
// rows do nothing).

#include <optional>

#include "cert/fetch_outcome.h"
#include "ctap/user_prompts.h"
#include "info/device_context.h"
#include "info/page_model.h"

namespace orvanta {

// "FIDO2 Certification": row index of the double click (outside the list: nothing). The
// fetch's result when the row started one.
std::optional<FetchResult> onCertificateRowDoubleClick(DeviceContext& context, Fido2CertPage& page,
                                                       int row, UserPrompts& prompts);
// "U2F Certification".
std::optional<FetchResult> onU2fRowDoubleClick(DeviceContext& context, U2fCertPage& page, int row,
                                               UserPrompts& prompts);

}  // namespace orvanta
