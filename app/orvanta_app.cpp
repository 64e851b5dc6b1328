#include "app/orvanta_app.h"

#include "app/crash_dump.h"
#include "app/modal.h"
#include "app/orvanta_dlg.h"
#include "app/qt_user_prompts.h"
#include "app/single_instance.h"
#include "info/device_context.h"
#include "transport/hidapi_backend.h"

namespace orvanta {

COrvantaApp::COrvantaApp(UserPrompts* prompts, std::string lockDirectory,
                         std::shared_ptr<HidBackend> backend, Clock* clock)
    : m_prompts(prompts),
      m_lockDirectory(std::move(lockDirectory)),
      m_backend(std::move(backend)),
      m_clock(clock != nullptr ? *clock : m_systemClock) {
    if (m_lockDirectory.empty()) {
        m_lockDirectory = instanceLockDirectory();
    }
}

int COrvantaApp::InitInstance(const AppOptions& options) {
    m_ranMainWindow = false;
    installCrashHandler();

    // Held until this function returns, which is when the program ends.
    InstanceLock lock;
    if (lock.acquire(m_lockDirectory) == InstanceLock::Result::HeldElsewhere) {
        QtUserPrompts windowless;
        UserPrompts& prompts = m_prompts != nullptr ? *m_prompts : windowless;
        prompts.showMessage(ALREADY_RUNNING_TEXT, MessageIcon::Information);
        return 0;
    }

    DeviceChoice choice = deviceChoice(options);
    choice.backend = m_backend;
    std::shared_ptr<HidBackend> backend = makeBackend(choice, m_clock, nullptr);
    if (!backend) {
        // Only an unknown virtual profile fails, and the options refuse those.
        backend = std::make_shared<HidapiBackend>(m_clock);
    }
    DeviceContext devices(backend, m_clock);
    COrvantaDlg dialog(devices, m_prompts, nullptr, choice.vidText, choice.pidText);
    dialog.registerDeviceNotifications();
    m_ranMainWindow = true;
    execModal(dialog);  // OK or Cancel: the program ends either way
    return 0;
}

}  // namespace orvanta
