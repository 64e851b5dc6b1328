// orvanta: the window of the security-key inspector.

#include <QApplication>
#include <cstdlib>
#include <iostream>

#include "app/command_line.h"
#include "app/orvanta_app.h"
#include "app/probe.h"
#include "orvanta_version.h"

namespace {

// Qt ends the process when it cannot reach a display; say what is missing instead.
bool displayAvailable() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') {
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    const orvanta::AppOptions options = orvanta::parseCommandLine(argc, argv);
    if (options.help) {
        std::cout << orvanta::usageText();
        return 0;
    }
    if (options.version) {
        std::cout << orvanta::versionText();
        return 0;
    }
    if (!options.error.empty()) {
        std::cerr << "orvanta: " << options.error << "\n" << orvanta::usageText();
        return 2;
    }
    if (options.probe) {
        return orvanta::runProbe(std::cout);
    }
    if (!displayAvailable()) {
        std::cerr << "orvanta: a graphical display is needed (neither DISPLAY nor "
                     "WAYLAND_DISPLAY is set)\n";
        return 1;
    }
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Orvanta"));
    QApplication::setApplicationName(QStringLiteral("Orvanta"));
    QApplication::setApplicationVersion(QStringLiteral(ORVANTA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("orvanta"));
    orvanta::COrvantaApp app;
    return app.InitInstance(options);
}
