#include <gtest/gtest.h>

#include "core/pump.h"
#include "support/scripted.h"

TEST(MessagePumps, EscapeDropsWhatFollows) {
    auto pump = std::make_shared<ScriptedPump>();
    auto previous = SetPumpProvider(pump);
    EXPECT_FALSE(PumpPendingMessages());  // empty queue

    int clicks = 0;
    pump->click([&] { clicks++; });
    pump->escape();
    pump->click([&] { clicks += 10; });
    EXPECT_TRUE(PumpPendingMessages());
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(pump->queue.empty());

    pump->click([&] { clicks++; });
    EXPECT_EQ(CaptureYieldPump(0), 1);
    EXPECT_EQ(clicks, 2);
    SetPumpProvider(previous);
    EXPECT_FALSE(PumpPendingMessages());
}

TEST(AddDefaultExtension, OnlyNamesWithoutAnyDot) {
    std::string a = "/work/demo";
    AddDefaultExtension(a, "CGP");
    EXPECT_EQ(a, "/work/demo.CGP");
    std::string b = "/my.dir/demo";
    AddDefaultExtension(b, "CGP");
    EXPECT_EQ(b, "/my.dir/demo");
    std::string c = "take.avi";
    AddDefaultExtension(c, "AVI");
    EXPECT_EQ(c, "take.avi");

    char buf[12] = "clip";
    AddDefaultExtension(buf, sizeof buf, "gif");
    EXPECT_STREQ(buf, "clip.gif");
    char tight[8] = "clip123";  // no room for ".gif": left as it is
    AddDefaultExtension(tight, sizeof tight, "gif");
    EXPECT_STREQ(tight, "clip123");
}
