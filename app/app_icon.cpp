#include "app/app_icon.h"

// Resources of a static library must be registered by name from outside any namespace.
static void initialiseResources() {
    Q_INIT_RESOURCE(orvanta);
}

namespace orvanta {

QIcon applicationIcon() {
    static const bool registered = (initialiseResources(), true);
    (void)registered;
    return QIcon(QStringLiteral(":/orvanta/orvanta.png"));
}

}  // namespace orvanta
