#include "quillory/startup.h"

#include <QApplication>
#include <QIcon>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "capture/capture_gui.h"
#include "core/appstate.h"
#include "core/diag.h"
#include "core/memory.h"
#include "platform/display/display.h"
#include "platform/gdi/gdi.h"
#include "platform/instance/instance.h"
#include "platform/mapi/loader.h"
#include "platform/qtui/fontchooser.h"
#include "platform/qtui/qtui.h"
#include "platform/winini/winini.h"
#include "render/compressor_dialog.h"
#include "settings/settings.h"
#include "studio/storyboard.h"
#include "ui/splash.h"

namespace {

constexpr uint32_t kMailEntryBytes = 128;

void InstallProviders() {
    InstallQtProviders();
    InstallGdiTextExtentProvider();
    InstallQtCompressorDialog();
    InstallQtFontChooser();
    // Cameras and microphones are capture drivers 1-9 beside the built-in test pattern.
    InstallCameraDrivers();
    if (const char* m = std::getenv("QUILLORY_MESSAGES"); m && std::strcmp(m, "console") == 0)
        SetMessageBoxProvider(std::make_shared<ConsoleMessageBoxProvider>(true));
}

int Run(int argc, char** argv, const StartupHooks& hooks) {
    InstallProviders();
    InstanceLock* lock = nullptr;
    InstanceLockResult locked = AcquireInstanceLock(kInstanceName, &lock);
    if (locked == InstanceLockResult::HeldElsewhere) {
        MessageBoxA(nullptr, "HEY!!! You can't do this!!!!\nQuillory is already running!", "Notify",
                    MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    if (locked == InstanceLockResult::Unavailable)
        DebugLog("start-up: no single-instance lock could be taken; running without it");

    LoadStartupSettings();
    gCommandLine.clear();
    for (int i = 1; i < argc; i++)
        if (argv[i] && *argv[i]) gCommandLine.emplace_back(argv[i]);

    // The mail provider's installation step: a provider beside the program offers mail unless the
    // user's win.ini already says otherwise.
    if (!ProfileEntryExists("Mail", "MAPI") && MailProviderPresent() &&
        !WriteProfileStringA("Mail", "MAPI", "1"))
        NotifyBox("Couldn't save settings file <%s>\n%s", WinIniPath().c_str(), std::strerror(errno));
    char mail[kMailEntryBytes];
    GetProfileStringA("Mail", "MAPI", "0", mail, kMailEntryBytes);
    gMailAvailable = ParseMailAvailable(mail);

    DisplayMetrics display;
    if (GetDisplayMetrics(display)) {
        gSettings.gDesktopWidth = display.width;
        gSettings.gDesktopHeight = display.height;
        gSettings.gDesktopDepth = display.depth;
    }

    if (gCommandLine.empty()) ShowSplash(nullptr);
    int made = hooks.runMainDialog ? hooks.runMainDialog() : RunStoryboardDialog();
    if (!made) NotifyBox("cannot make main dialog");

    CloseSplash();
    // The settings of this run are lost when they cannot be written: the user is told why.
    if (RegSaveSettings(nullptr) != ERROR_SUCCESS)
        NotifyBox("Couldn't save settings file <%s>\n%s", RegistryFilePath().c_str(),
                  std::strerror(RegistryWriteError() ? RegistryWriteError() : EIO));
    WrapupMemoryMonitor();
    ReleaseInstanceLock(lock);
    return 0;
}

}  // namespace

int QuilloryMain(int argc, char** argv, const StartupHooks& hooks) {
    if (QCoreApplication::instance()) return Run(argc, argv, hooks);
    QApplication app(argc, argv);  // takes the toolkit's own options out of argv
    QApplication::setApplicationName("Quillory");
    QApplication::setOrganizationName("Brellmont");
    // The desktop entry and the icon share the program's id, so docks and task bars match the
    // running window with its entry and show its icon.
    QApplication::setDesktopFileName(QUILLORY_APP_ID);
    QApplication::setWindowIcon(QIcon::fromTheme(QUILLORY_APP_ID));
    return Run(argc, argv, hooks);
}
