// Tooltip texts: the table lookup, lines and size (bounded however long the text), and the rule
// that shows a control's tooltip once until the pointer moves on.
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

}  // namespace

TEST(TooltipText, LookupLinesAndSize) {
    EXPECT_STREQ(LookupTooltip(kTable, 1152), "Play AVI File");  // the first match
    EXPECT_EQ(LookupTooltip(kTable, 77), nullptr);               // nothing after the closing row
    EXPECT_EQ(LookupTooltip(nullptr, 9), nullptr);
    TooltipLines lines;
    const char* text = kTable[1].text;
    ASSERT_EQ(SplitTooltipLines(text, lines), 2);
    EXPECT_EQ(std::string(text + lines.starts[1], text + lines.ends[1]), "SHIFT-Click To See ABOUT Window");
    // 7 pixels a character, lines 13 high: two lines high, as wide as the wider line.
    auto measure = [](const char*, int32_t n) { return (13u << 16) | static_cast<uint32_t>(n * 7); };
    int32_t lineHeight = 0;
    EXPECT_EQ(TooltipTextSize(text, lines, measure, &lineHeight), (26u << 16) | (31u * 7));
    EXPECT_EQ(lineHeight, 13);
    EXPECT_EQ(SplitTooltipLines("", lines) + SplitTooltipLines("a\n", lines), 3);
    EXPECT_EQ(SplitTooltipLines(nullptr, lines), 0);
    // More than 200 lines: the rest is left out; a height past 16 bits is held at the top.
    std::string many(1000, '\n');
    EXPECT_EQ(SplitTooltipLines(many.c_str(), lines), kMaxTooltipLines);
    auto tall = [](const char*, int32_t) { return (0xFFFFu << 16) | 5u; };
    EXPECT_EQ(TooltipTextSize(many.c_str(), lines, tall), (0xFFFFu << 16) | 5u);
}

TEST(TooltipText, ShownOncePerControlUntilThePointerMovesOn) {
    TooltipMemory m;
    auto H = [](uintptr_t v) { return reinterpret_cast<HWND>(v); };
    HWND dlg = H(1), play = H(2), help = H(3), other = H(4);
    struct Step {
        bool shown, allowed;
        HWND owner, control;
        int32_t id;
        const char* text;
        bool close;
        HWND remembered;
    } const steps[] = {
        {false, false, dlg, play, 1152, nullptr, false, nullptr},  // not allowed: nothing at all
        {false, true, dlg, play, 1152, kTable[0].text, false, play},
        {true, true, dlg, play, 1152, nullptr, false, play},   // while shown it stays
        {false, true, dlg, play, 1152, nullptr, false, play},  // closed by its timer: not again
        {false, true, dlg, other, 555, nullptr, false, play},  // no row: nothing, memory kept
        {false, true, dlg, play, 1152, nullptr, false, play},
        {false, true, dlg, dlg, 0, nullptr, false, nullptr},  // off any control clears the memory
        {false, true, dlg, play, 1152, kTable[0].text, false, play},
        {true, true, dlg, help, 9, kTable[1].text, true, help},     // another control replaces it at once
        {true, true, dlg, other, 555, nullptr, true, help},         // an unlisted one closes it
        {false, true, H(9), help, 9, kTable[1].text, false, help},  // the same id in another dialog
    };
    int n = 0;
    for (const Step& s : steps) {
        TooltipDecision d = DecideTooltip(m, s.shown, s.allowed, s.owner, s.control, s.id, kTable);
        EXPECT_EQ(d.text, s.text) << "step " << n;
        EXPECT_EQ(d.closeShown, s.close) << "step " << n;
        EXPECT_EQ(m.lastControl, s.remembered) << "step " << n++;
    }
}
