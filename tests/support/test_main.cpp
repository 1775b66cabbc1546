// The main of every test program: the environment the tests expect, whether they run under ctest
// or by hand. Configuration and data live under the build folder so that tests never touch the
// developer's own settings or recently used files; Qt draws offscreen unless told otherwise; the
// sample media come from the build.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "support/scripted.h"

// System libraries that keep memory for the life of the process (fontconfig's configuration) are
// not reported by sanitizer builds.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

// Every test ends within five minutes (the longest take well under one; sanitizer builds get four
// times that) or the program ends naming it, long before ctest's own timeout; waits with a closer
// deadline of their own name what they waited for.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kTestSeconds = 1200;
#else
constexpr int kTestSeconds = 300;
#endif
class EveryTestHasADeadline : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override {
        deadline_ = std::make_unique<Deadline>("the test", kTestSeconds);
    }
    void OnTestEnd(const testing::TestInfo&) override { deadline_.reset(); }
    std::unique_ptr<Deadline> deadline_;
};

int main(int argc, char** argv) {
    const std::string build = QUILLORY_TEST_BUILD_DIR;
    setenv("XDG_CONFIG_HOME", (build + "/testhome/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (build + "/testhome/data").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("QUILLORY_TEST_DATA", (build + "/testdata").c_str(), 0);
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new EveryTestHasADeadline);
    return RUN_ALL_TESTS();
}
