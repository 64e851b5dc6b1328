#include "cli/page_output.h"

namespace orvanta::cli {

void showPages(Context& context, const std::vector<PageView>& pages) {
    if (context.json) {
        context.document = pagesJson(pages);
    } else {
        printPagesText(context.out, pages);
    }
}

}  // namespace orvanta::cli
