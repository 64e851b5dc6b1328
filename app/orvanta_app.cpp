#include "app/orvanta_app.h"

#include <QSettings>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "app/crash_dump.h"
#include "app/modal.h"
#include "app/orvanta_dlg.h"
#include "app/qt_user_prompts.h"
#include "app/raise_channel.h"
#include "app/single_instance.h"
#include "info/device_context.h"
#include "transport/hidapi_backend.h"

namespace orvanta {

COrvantaApp::COrvantaApp(UserPrompts* prompts, std::string lockDirectory,
                         std::shared_ptr<HidBackend> backend, Clock* clock,
                         std::function<void()> endProcess)
    : m_prompts(prompts),
      m_lockDirectory(std::move(lockDirectory)),
      m_backend(std::move(backend)),
      m_clock(clock != nullptr ? *clock : m_systemClock),
      m_endProcess(std::move(endProcess)) {
    if (!m_endProcess) {
        m_endProcess = [] {
            std::fflush(nullptr);
            std::_Exit(0);
        };
    }
    if (m_lockDirectory.empty()) {
        m_lockDirectory = instanceLockDirectory();
    }
}

namespace {

// The BLOB named on the command line, else by $ORVANTA_MDS, else the last one loaded (the
// settings remember a BLOB that loaded). One that fails its checks is refused with a
// message and the window works without metadata. Runs on the window's worker (QSettings is
// made there, for that thread alone).
void loadMetadata(const AppOptions& options, DeviceContext& devices, UserPrompts& prompts) {
    QSettings settings;
    std::string blob = options.device.mds;
    std::string root = options.device.mdsRoot;
    if (blob.empty()) {
        if (const char* fromEnvironment = std::getenv("ORVANTA_MDS")) {
            blob = fromEnvironment;
        }
    }
    const bool remembered = blob.empty();
    if (remembered) {
        blob = settings.value("metadata/blob").toString().toStdString();
        if (root.empty()) {
            root = settings.value("metadata/root").toString().toStdString();
        }
    }
    if (blob.empty()) {
        return;
    }
    MetadataLoad load = loadMetadataBlobFiles(blob, root, std::time(nullptr));
    if (!load.blob) {
        prompts.showMessage(load.error, MessageIcon::Exclamation);
        return;
    }
    if (!load.warning.empty()) {
        prompts.showMessage(load.warning, MessageIcon::Exclamation);
    }
    if (!remembered) {
        settings.setValue("metadata/blob", QString::fromStdString(blob));
        settings.setValue("metadata/root", QString::fromStdString(root));
    }
    devices.setMetadata(std::make_shared<const MetadataBlob>(std::move(*load.blob)));
}

}  // namespace

int COrvantaApp::InitInstance(const AppOptions& options) {
    m_ranMainWindow = false;
    installCrashHandler();

    // Held until this function returns, which is when the program ends.
    InstanceLock lock;
    if (lock.acquire(m_lockDirectory) == InstanceLock::Result::HeldElsewhere) {
        // The window of this display comes to the front; the message is for when it cannot
        // (it runs on another display, or does not answer).
        if (askRunningWindowToRaise(raiseChannelPath(m_lockDirectory))) {
            return 0;
        }
        QtUserPrompts windowless;
        UserPrompts& prompts = m_prompts != nullptr ? *m_prompts : windowless;
        prompts.showMessage(ALREADY_RUNNING_TEXT, MessageIcon::Information);
        return 0;
    }

    DeviceChoice choice = deviceChoice(options);
    choice.backend = m_backend;
    m_closed.store(false);
    choice.cardStop = &m_closed;
    std::shared_ptr<KeySource> keys = makeKeySource(choice, m_clock, nullptr);
    if (!keys) {
        // Only an unknown virtual profile fails, and the options refuse those.
        keys = hidKeys(std::make_shared<HidapiBackend>(m_clock));
    }
    DeviceContext devices(keys, m_clock);
    // The BLOB is read on the window's worker: the window is up at once, whatever the file.
    COrvantaDlg dialog(devices, m_prompts, nullptr, choice.vidText, choice.pidText,
                       [options](DeviceContext& blobDevices, UserPrompts& prompts) {
                           loadMetadata(options, blobDevices, prompts);
                       });
    dialog.registerDeviceNotifications();
    if (listsCards(choice)) {
        dialog.watchCards();
    }
    RaiseListener raiser(raiseChannelPath(m_lockDirectory));
    QObject::connect(&raiser, &RaiseListener::raiseRequested, &dialog, [&dialog] {
        dialog.setWindowState(dialog.windowState() & ~Qt::WindowMinimized);
        dialog.show();
        dialog.raise();
        dialog.activateWindow();
    });
    raiser.listen();
    m_ranMainWindow = true;
    execModal(dialog);  // OK or Cancel: the program ends either way
    // The window is gone: the next start may begin now, and nothing waits on a card.
    m_closed.store(true);
    lock.release();
    if (!dialog.endDeviceWork(DEVICE_WORK_END_LIMIT)) {
        // A job is stuck in a library call nothing can end, using the window and the keys:
        // the program ends without it.
        m_endProcess();
    }
    return 0;
}

}  // namespace orvanta
