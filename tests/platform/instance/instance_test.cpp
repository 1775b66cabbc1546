#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/instance/instance.h"
#include "support/scripted.h"

namespace {

constexpr const char* kName = "Quillory Main Process";

// Runs fn in a child process and returns its exit code.
template <typename Fn>
int InChild(Fn fn) {
    pid_t pid = fork();
    if (pid == 0) _exit(fn());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int TryInChild() {
    InstanceLock* lock = nullptr;
    InstanceLockResult r = AcquireInstanceLock(kName, &lock);
    return static_cast<int>(r);
}

class RuntimeDir : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        hadOld_ = old != nullptr;
        if (old) old_ = old;
        setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
    }
    void TearDown() override {
        if (hadOld_)
            setenv("XDG_RUNTIME_DIR", old_.c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
    }
    TempDir dir_;
    std::string old_;
    bool hadOld_ = false;
};

}  // namespace

TEST_F(RuntimeDir, SecondProcessIsRefusedUntilTheFirstLetsGo) {
    InstanceLock* lock = nullptr;
    ASSERT_EQ(AcquireInstanceLock(kName, &lock), InstanceLockResult::Acquired);
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(InstanceLockPath(kName), dir_.file("Quillory_Main_Process.lock"));

    // Another process, and another lock of this one, are refused.
    EXPECT_EQ(InChild(TryInChild), static_cast<int>(InstanceLockResult::HeldElsewhere));
    InstanceLock* again = nullptr;
    EXPECT_EQ(AcquireInstanceLock(kName, &again), InstanceLockResult::HeldElsewhere);
    EXPECT_EQ(again, nullptr);

    ReleaseInstanceLock(lock);
    EXPECT_EQ(InChild(TryInChild), static_cast<int>(InstanceLockResult::Acquired));

    // A holder that dies without releasing leaves the lock free: the kernel drops it.
    EXPECT_EQ(InChild([] {
                  InstanceLock* l = nullptr;
                  AcquireInstanceLock(kName, &l);
                  return 0;  // exits holding it
              }),
              0);
    ASSERT_EQ(AcquireInstanceLock(kName, &lock), InstanceLockResult::Acquired);
    ReleaseInstanceLock(lock);
    ReleaseInstanceLock(nullptr);  // ignored
}

TEST_F(RuntimeDir, LockFileNamesAndPlaces) {
    EXPECT_EQ(InstanceLockPath("a/../b c"), dir_.file("a____b_c.lock"));
    EXPECT_EQ(InstanceLockPath(""), dir_.file("lock.lock"));
    EXPECT_EQ(InstanceLockPath(nullptr), dir_.file("lock.lock"));
    EXPECT_EQ(AcquireInstanceLock(kName, nullptr), InstanceLockResult::Unavailable);

    // Without a usable runtime folder the temporary folder is used, with the user's number.
    setenv("XDG_RUNTIME_DIR", "relative/dir", 1);
    std::string p = InstanceLockPath(kName);
    EXPECT_NE(p.find("Quillory_Main_Process-" + std::to_string(getuid()) + ".lock"), std::string::npos);
    EXPECT_EQ(p.find("relative"), std::string::npos);

    // A runtime path that is no folder falls back to the temporary folder too.
    setenv("XDG_RUNTIME_DIR", dir_.file("missing-then-file").c_str(), 1);
    WriteWholeFile(dir_.file("missing-then-file"), "x");  // a file, not a folder
    EXPECT_NE(InstanceLockPath(kName).find("-" + std::to_string(getuid())), std::string::npos);
}
