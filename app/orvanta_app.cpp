#include "app/orvanta_app.h"

#include "app/crash_dump.h"
#include "app/modal.h"
#include "app/orvanta_dlg.h"
#include "app/qt_user_prompts.h"
#include "app/single_instance.h"
#include "app/use_virtual_key.h"

namespace orvanta {

COrvantaApp::COrvantaApp(UserPrompts* prompts, std::string lockDirectory)
    : m_prompts(prompts), m_lockDirectory(std::move(lockDirectory)) {
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

    if (options.virtualKey) {
        useVirtualKey(options.profile);
    }
    COrvantaDlg dialog(m_prompts);
    dialog.registerDeviceNotifications();
    m_ranMainWindow = true;
    execModal(dialog);  // OK or Cancel: the program ends either way
    return 0;
}

}  // namespace orvanta
