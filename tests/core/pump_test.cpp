#include <gtest/gtest.h>

#include "core/pump.h"

TEST(AddDefaultExtension, OnlyNamesWhoseLastComponentHasNoDot) {
    for (auto [name, expected] : {std::pair<std::string, std::string>{"/work/demo", "/work/demo.CGP"},
                                  {"/home/jane.doe/demo", "/home/jane.doe/demo.CGP"},
                                  {"/home/jane/.local/demo", "/home/jane/.local/demo.CGP"},
                                  {"take.avi", "take.avi"},
                                  {"/my.dir/take.avi", "/my.dir/take.avi"}}) {
        AddDefaultExtension(name, "CGP");
        EXPECT_EQ(name, expected);
    }
    char folder[32] = "/a.b/clip";
    AddDefaultExtension(folder, sizeof folder, "gif");
    EXPECT_STREQ(folder, "/a.b/clip.gif");
    char buf[12] = "clip";
    AddDefaultExtension(buf, sizeof buf, "gif");
    EXPECT_STREQ(buf, "clip.gif");
    char tight[8] = "clip123";  // no room for ".gif": left as it is
    AddDefaultExtension(tight, sizeof tight, "gif");
    EXPECT_STREQ(tight, "clip123");
}
