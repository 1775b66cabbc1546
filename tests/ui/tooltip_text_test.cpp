#include <gtest/gtest.h>

#include <string>

#include "ui/tooltip_text.h"

namespace {

const TooltipEntry kTable[] = {
    {1152, "Play AVI File"},
    {9, "Invoke Help System\nSHIFT-Click To See ABOUT Window"},
    {1152, "second row for the same id"},
    {0, nullptr},
    {77, "after the end"},
};

HWND H(uintptr_t v) {
    return reinterpret_cast<HWND>(v);
}

}  // namespace

TEST(TooltipTables, FirstMatchUpToTheClosingRow) {
    EXPECT_STREQ(LookupTooltip(kTable, 1152), "Play AVI File");
    EXPECT_STREQ(LookupTooltip(kTable, 9), "Invoke Help System\nSHIFT-Click To See ABOUT Window");
    EXPECT_EQ(LookupTooltip(kTable, 77), nullptr);
    EXPECT_EQ(LookupTooltip(kTable, 0), nullptr);
    EXPECT_EQ(LookupTooltip(nullptr, 9), nullptr);
}

TEST(TooltipText, LinesAndSize) {
    TooltipLines lines;
    const char* text = "Invoke Help System\nSHIFT-Click To See ABOUT Window";
    ASSERT_EQ(SplitTooltipLines(text, lines), 2);
    EXPECT_EQ(std::string(text + lines.starts[0], text + lines.ends[0]), "Invoke Help System");
    EXPECT_EQ(std::string(text + lines.starts[1], text + lines.ends[1]), "SHIFT-Click To See ABOUT Window");
    // 7 pixels a character, lines 13 high: two lines high, as wide as the wider line.
    auto measure = [](const char*, int32_t n) { return (13u << 16) | static_cast<uint32_t>(n * 7); };
    int32_t lineHeight = 0;
    uint32_t size = TooltipTextSize(text, lines, measure, &lineHeight);
    EXPECT_EQ(size >> 16, 26u);
    EXPECT_EQ(size & 0xFFFF, 31u * 7);
    EXPECT_EQ(lineHeight, 13);

    EXPECT_EQ(SplitTooltipLines("", lines), 1);  // one empty line
    EXPECT_EQ(SplitTooltipLines("a\n", lines), 2);
    EXPECT_EQ(SplitTooltipLines(nullptr, lines), 0);
    // More than 200 lines: the rest is left out, never written past the tables.
    std::string many(1000, '\n');
    EXPECT_EQ(SplitTooltipLines(many.c_str(), lines), kMaxTooltipLines);
    // A height past 16 bits is held at the top instead of spilling into the width.
    auto tall = [](const char*, int32_t) { return (0xFFFFu << 16) | 5u; };
    size = TooltipTextSize(many.c_str(), lines, tall);
    EXPECT_EQ(size, (0xFFFFu << 16) | 5u);
}

TEST(TooltipRule, ShownOncePerControlUntilThePointerMovesOn) {
    TooltipMemory m;
    HWND dlg = H(1), play = H(2), help = H(3), other = H(4);
    // Not allowed: nothing happens at all.
    TooltipDecision d = DecideTooltip(m, false, false, dlg, play, 1152, kTable);
    EXPECT_EQ(d.text, nullptr);
    EXPECT_EQ(m.lastControl, nullptr);

    d = DecideTooltip(m, false, true, dlg, play, 1152, kTable);
    EXPECT_STREQ(d.text, "Play AVI File");
    EXPECT_FALSE(d.closeShown);
    EXPECT_EQ(m.lastOwner, dlg);
    EXPECT_EQ(m.lastControl, play);
    // While shown it stays; after it closed by its timer it is not shown again.
    d = DecideTooltip(m, true, true, dlg, play, 1152, kTable);
    EXPECT_FALSE(d.closeShown);
    EXPECT_EQ(d.text, nullptr);
    d = DecideTooltip(m, false, true, dlg, play, 1152, kTable);
    EXPECT_EQ(d.text, nullptr);
    // A control without a row shows nothing and keeps the memory.
    d = DecideTooltip(m, false, true, dlg, other, 555, kTable);
    EXPECT_EQ(d.text, nullptr);
    EXPECT_EQ(m.lastControl, play);
    EXPECT_EQ(DecideTooltip(m, false, true, dlg, play, 1152, kTable).text, nullptr);
    // Off any control clears the memory, so the same control shows again.
    d = DecideTooltip(m, false, true, dlg, dlg, 0, kTable);
    EXPECT_EQ(d.text, nullptr);
    EXPECT_EQ(m.lastControl, nullptr);
    EXPECT_STREQ(DecideTooltip(m, false, true, dlg, play, 1152, kTable).text, "Play AVI File");
    // Another listed control replaces the shown tooltip at once.
    d = DecideTooltip(m, true, true, dlg, help, 9, kTable);
    EXPECT_TRUE(d.closeShown);
    EXPECT_STREQ(d.text, kTable[1].text);
    EXPECT_EQ(m.lastControl, help);
    // An unlisted control closes the shown one and remembers the last listed control.
    d = DecideTooltip(m, true, true, dlg, other, 555, kTable);
    EXPECT_TRUE(d.closeShown);
    EXPECT_EQ(d.text, nullptr);
    EXPECT_EQ(m.lastControl, help);
    // The same control id in another dialog is another control.
    EXPECT_STREQ(DecideTooltip(m, false, true, H(9), help, 9, kTable).text, kTable[1].text);
}
