#include "report/pages.h"

#include "cert/certificate_pages.h"
#include "cert/fido2_fetch.h"
#include "cert/u2f_fetch.h"
#include "report/page_data.h"

namespace orvanta::report {

namespace {

constexpr int HARDWARE_LABEL_WIDTH = 150;
constexpr int CERTIFICATE_LABEL_WIDTH = 120;

nlohmann::json certificationData(const DeviceRecord&, const DeviceContext::Facts&,
                                 const PageModel& page) {
    return certificatePageData(dynamic_cast<const CertificatePage&>(page));
}

const PageDefinition PAGES[] = {
    {
        .name = "info",
        .help = "Show the hardware info page",
        .title = HARDWARE_TITLE,
        .labelWidth = HARDWARE_LABEL_WIDTH,
        .model = [](const Pages& pages) -> PageModel& { return pages.hardware; },
        .clear = [](const Pages& pages) { pages.hardware.deleteAllRows(); },
        .build = nullptr,  // the refresh builds it
        .fetch = nullptr,
        .fetchName = nullptr,
        .rowAction = nullptr,
        .data = [](const DeviceRecord& device, const DeviceContext::Facts& facts,
                   const PageModel& page) { return hardwareData(device, facts, &page); },
    },
    {
        .name = "fido2",
        .help = "Fetch and show the FIDO2 attestation certificates (touch the key)",
        .title = FIDO2_TITLE,
        .labelWidth = CERTIFICATE_LABEL_WIDTH,
        .model = [](const Pages& pages) -> PageModel& { return pages.fido2; },
        .clear = [](const Pages& pages) { pages.fido2.clearCertificatePage(); },
        .build = nullptr,
        .fetch =
            [](DeviceContext& context, const Pages& pages, UserPrompts& prompts) {
                return fetchFido2Certificates(context.session(), context.clientPinSet(),
                                              pages.fido2, prompts, context.pinProtocol(),
                                              context.metadata());
            },
        .fetchName = "FIDO2",
        .rowAction =
            [](DeviceContext& context, const Pages& pages, int row, UserPrompts& prompts) {
                return onCertificateRowDoubleClick(context, pages.fido2, row, prompts);
            },
        .data = certificationData,
    },
    {
        .name = "u2f",
        .help = "Fetch and show the U2F attestation certificate (touch the key)",
        .title = U2F_TITLE,
        .labelWidth = CERTIFICATE_LABEL_WIDTH,
        .model = [](const Pages& pages) -> PageModel& { return pages.u2f; },
        .clear = [](const Pages& pages) { pages.u2f.initialise(); },
        .build = nullptr,
        .fetch =
            [](DeviceContext& context, const Pages& pages, UserPrompts& prompts) {
                return fetchU2fCertificate(context.session(), pages.u2f, prompts,
                                           context.metadata());
            },
        .fetchName = "U2F",
        .rowAction =
            [](DeviceContext& context, const Pages& pages, int row, UserPrompts& prompts) {
                return onU2fRowDoubleClick(context, pages.u2f, row, prompts);
            },
        .data = certificationData,
    },
};

}  // namespace

void refreshPages(DeviceContext& context, const Pages& pages, const std::string& vidText,
                  const std::string& pidText) {
    Pages refreshed = pages;
    ShowDeviceInfo(context, refreshed, vidText, pidText);
    for (const PageDefinition& page : PAGES) {
        if (page.build != nullptr) {
            page.clear(pages);
            if (context.session().present()) {
                page.build(context, pages);
            }
        }
    }
}

PageView PageDefinition::view(const DeviceRecord& device, const DeviceContext::Facts& facts,
                              const Pages& pages) const {
    const PageModel& page = model(pages);
    return PageView{title, page.rows(), data(device, facts, page)};
}

std::span<const PageDefinition> pageList() {
    return PAGES;
}

const PageDefinition* findPage(std::string_view name) {
    for (const PageDefinition& page : PAGES) {
        if (page.name == name) {
            return &page;
        }
    }
    return nullptr;
}

PageSelection pagesFor(std::string_view command) {
    PageSelection selection;
    for (const PageDefinition& page : PAGES) {
        if (command == "all" || page.name == command) {
            selection.push_back(&page);
        }
    }
    return selection;
}

std::vector<PageView> pageViews(const PageSelection& selection, const DeviceRecord& device,
                                const DeviceContext::Facts& facts, const Pages& pages) {
    std::vector<PageView> views;
    views.reserve(selection.size());
    for (const PageDefinition* page : selection) {
        views.push_back(page->view(device, facts, pages));
    }
    return views;
}

}  // namespace orvanta::report
