// The desktop program's start-up and shutdown: the order of its steps in one process, and a second
// copy refused while the first runs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "core/appstate.h"
#include "core/diskio.h"
#include "platform/instance/instance.h"
#include "quillory/startup.h"
#include "settings/settings.h"
#include "support/qtapp.h"
#include "support/scripted.h"
#include "ui/splash.h"

namespace {

constexpr const char* kRefusal = "Notify: HEY!!! You can't do this!!!!\nQuillory is already running!";

// A home of its own: configuration, win.ini and the lock's runtime folder.
struct Home {
    TempDir dir;
    std::string config = dir.file("config");
    std::string runtime = dir.file("run");
    std::string registry = config + "/Brellmont/Quillory/registry.reg";
    Home() {
        mkdir(config.c_str(), 0700);
        mkdir(runtime.c_str(), 0700);
    }
    void Enter() const {
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        setenv("QUILLORY_MESSAGES", "console", 1);
        unsetenv("QUILLORY_REGISTRY");
        unsetenv("QUILLORY_WININI");
    }
    QProcessEnvironment Environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(config));
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime));
        env.insert("QUILLORY_MESSAGES", "console");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.remove("QUILLORY_REGISTRY");
        env.remove("QUILLORY_WININI");
        return env;
    }
};

// Whether the lock is free now (taken and given back at once).
bool LockFree() {
    InstanceLock* lock = nullptr;
    if (AcquireInstanceLock(kInstanceName, &lock) != InstanceLockResult::Acquired) return false;
    ReleaseInstanceLock(lock);
    return true;
}

struct Observed {
    bool splash = false;
    bool lockHeld = false;
    int32_t mail = -1;
    int32_t desktopWidth = 0;
    std::vector<std::string> commandLine;
};

int RunInProcess(std::vector<std::string> args, Observed& seen, int result = 1) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    StartupHooks hooks;
    hooks.runMainDialog = [&seen, result] {
        seen.splash = SplashWindow() != nullptr;
        seen.lockHeld = !LockFree();
        seen.mail = gMailAvailable;
        seen.desktopWidth = gSettings.gDesktopWidth;
        seen.commandLine = gCommandLine;
        gSettings.cellW = 40;  // a change made during the run reaches the registry at the end
        return result;
    };
    return QuilloryMain(static_cast<int>(args.size()), argv.data(), hooks);
}

}  // namespace

TEST(StartUp, StepsRunInOrderAndShutdownSavesAndReleases) {
    TestApp();
    Home home;
    home.Enter();
    ResetSettings();

    // A first start: no settings yet, no mail entry; the splash shows for an empty command line.
    Observed first;
    EXPECT_EQ(RunInProcess({"quillory"}, first), 0);
    EXPECT_TRUE(first.splash && first.lockHeld && first.mail == 0 && first.desktopWidth > 0 &&
                first.commandLine.empty());
    EXPECT_TRUE(SplashWindow() == nullptr &&
                LockFree());  // the splash closed and the lock let go at shutdown
    std::string saved = ReadWholeFile(home.registry);
    EXPECT_NE(saved.find("\"User\"=\"User\""), std::string::npos);
    EXPECT_NE(saved.find("\"cellW\"=\"40\""), std::string::npos);

    // A file on the command line: no splash; win.ini offers mail.
    WriteWholeFile(home.config + "/Brellmont/win.ini", "[Mail]\nMAPI=1\n");
    Observed second;
    EXPECT_EQ(RunInProcess({"quillory", "trip.cgp"}, second), 0);
    EXPECT_TRUE(!second.splash && second.mail == 1);
    EXPECT_EQ(second.commandLine, std::vector<std::string>{"trip.cgp"});

    // A main window that cannot be made is reported, and shutdown still runs.
    testing::internal::CaptureStderr();
    Observed third;
    EXPECT_EQ(RunInProcess({"quillory"}, third, 0), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Notify: cannot make main dialog"), std::string::npos);
    EXPECT_TRUE(LockFree());

    // A mail provider beside the program offers mail, unless win.ini already says otherwise.
    const std::string winIni = home.config + "/Brellmont/win.ini";
    setenv("QUILLORY_MAPI", home.registry.c_str(), 1);  // any readable file stands for the provider
    WriteWholeFile(winIni, "[Mail]\nMAPI=0\n");
    Observed refused;
    RunInProcess({"quillory", "x"}, refused);
    EXPECT_EQ(refused.mail, 0);
    EXPECT_EQ(ReadWholeFile(winIni), "[Mail]\nMAPI=0\n");
    WriteWholeFile(winIni, "[Fonts]\nx=1\n");
    Observed installed;
    RunInProcess({"quillory", "x"}, installed);
    unsetenv("QUILLORY_MAPI");
    EXPECT_EQ(installed.mail, 1);
    EXPECT_EQ(ReadWholeFile(winIni), "[Fonts]\nx=1\n\n[Mail]\nMAPI=1\n");
}

TEST(StartUp, AFailingDiskCostsNoSettingsAndIsReported) {
    TestApp();
    Home home;
    home.Enter();
    ResetSettings();
    Observed once;
    RunInProcess({"quillory", "x"}, once);
    // Settings to keep, which a save of the run (cellW 40) would change.
    std::string registry = ReadWholeFile(home.registry);
    const size_t cell = registry.find("\"cellW\"=\"40\"");
    ASSERT_NE(cell, std::string::npos);
    registry.replace(cell, 12, "\"cellW\"=\"41\"");
    WriteWholeFile(home.registry, registry);
    const std::string winIni = home.config + "/Brellmont/win.ini";
    WriteWholeFile(winIni, "[Fonts]\nx=1\n");
    setenv("QUILLORY_MAPI", home.registry.c_str(), 1);  // a provider to install
    for (const auto& [fault, why] :
         {std::pair<DiskFault, std::string>{{ENOSPC, 10}, "No space left on device"},
          {{.renameError = EIO}, "Input/output error"}}) {
        SetDiskFault(fault);
        testing::internal::CaptureStderr();
        Observed seen;
        EXPECT_EQ(RunInProcess({"quillory", "x"}, seen), 0);
        const std::string err = testing::internal::GetCapturedStderr();
        ClearDiskFault();
        for (const std::string& file : {winIni, home.registry})
            EXPECT_NE(err.find("Notify: Couldn't save settings file <" + file + ">\n" + why),
                      std::string::npos)
                << err;
        EXPECT_EQ(ReadWholeFile(home.registry), registry);
        EXPECT_EQ(ReadWholeFile(winIni), "[Fonts]\nx=1\n");
        EXPECT_TRUE(LockFree());  // shutdown ran to its end
    }
    Observed after;
    RunInProcess({"quillory", "x"}, after);
    unsetenv("QUILLORY_MAPI");
    EXPECT_EQ(after.mail, 1);
    EXPECT_NE(ReadWholeFile(home.registry).find("\"cellW\"=\"40\""), std::string::npos);
}

TEST(StartUp, SecondCopyIsRefusedWhileTheFirstRuns) {
    Home home;
    QProcess first;
    first.setProcessEnvironment(home.Environment());
    first.start(QUILLORY_BINARY, {"missing.avi"});
    ASSERT_TRUE(first.waitForStarted(10000));
    // The first copy is up once its storyboard has reported the clip it could not open.
    std::string firstErr;
    for (int i = 0; i < 100 && firstErr.find("Failed to open file") == std::string::npos; i++) {
        first.waitForReadyRead(200);
        firstErr += first.readAllStandardError().toStdString();
    }
    ASSERT_NE(firstErr.find("Notify: Failed to open file"), std::string::npos) << firstErr;
    const std::string registryBefore = ReadWholeFile(home.registry);

    QProcess second;
    second.setProcessEnvironment(home.Environment());
    second.start(QUILLORY_BINARY, {});
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_NE(second.readAllStandardError().toStdString().find(kRefusal), std::string::npos);
    EXPECT_EQ(ReadWholeFile(home.registry), registryBefore);  // no settings touched
    EXPECT_EQ(first.state(), QProcess::Running);              // the first copy goes on

    first.kill();
    ASSERT_TRUE(first.waitForFinished(10000));
    // Whatever way the first copy ended, its lock went with it.
    setenv("XDG_RUNTIME_DIR", home.runtime.c_str(), 1);
    EXPECT_TRUE(LockFree());
}
