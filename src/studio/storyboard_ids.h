// Command ids of the storyboard window: its toolbar buttons (shared with the menu items that do the
// same), the menu bar, the background popup and the range popup.
#pragma once

#include <cstdint>

constexpr int32_t kStoryboardDialogId = 1176;
constexpr int32_t kTimelinePanelId = 2082;  // hidden frame: the timeline panel's rectangle
constexpr int32_t kInfoPanelId = 2083;      // hidden frame: the information panel's rectangle
constexpr int32_t kSplashTimerId = 323;
constexpr int32_t kSplashTimerMs = 4000;

// Toolbar buttons, in the order of the toolbar.
constexpr int32_t kCmdNewProject = 1997;
constexpr int32_t kCmdOpenProject = 1861;
constexpr int32_t kCmdSaveProject = 1595;
constexpr int32_t kCmdOpenAVI = 2076;
constexpr int32_t kCmdRender = 1264;
constexpr int32_t kCmdPlayAVI = 1152;
constexpr int32_t kCmdCapture = 1588;
constexpr int32_t kCmdPreview = 1043;
constexpr int32_t kCmdSend = 2099;
constexpr int32_t kCmdLargerSpan = 1732;
constexpr int32_t kCmdSmallerSpan = 1596;
constexpr int32_t kCmdActivate = 2084;
constexpr int32_t kCmdInactivate = 2085;
constexpr int32_t kCmdAddTitle = 2086;
constexpr int32_t kCmdUndo = 2081;
constexpr int32_t kCmdPreferences = 1946;  // hidden, no command
constexpr int32_t kCmdViewFrame = 2091;
constexpr int32_t kCmdFileInfo = 2090;
constexpr int32_t kCmdHelp = 9;

// Menu bar items without a button.
constexpr int32_t kCmdExit = 2;
constexpr int32_t kCmdAddUnderlay = 158;
constexpr int32_t kCmdSelectAll = 139;
constexpr int32_t kCmdEditRevisions = 144;
constexpr int32_t kCmdSmallImages = 143;
constexpr int32_t kCmdMediumImages = 145;
constexpr int32_t kCmdLargeImages = 146;
constexpr int32_t kCmdEveryFrame = 147;  // 147..152: every 1, 2, 5, 15, 30, 60-th frame
constexpr int32_t kCmdEvery60th = 152;
constexpr int32_t kCmdFitAll = 155;
constexpr int32_t kCmdShowEdits = 159;
constexpr int32_t kCmdHelpTopics = 153;
constexpr int32_t kCmdOverview = 157;
constexpr int32_t kCmdTutorial = 156;
constexpr int32_t kCmdTooltipsHelp = 140;
constexpr int32_t kCmdAbout = 135;
constexpr int32_t kCmdFirstDriver = 8000;  // 8000 + driver index
constexpr int32_t kCmdLastDriver = 8100;
constexpr int32_t kCmdFirstRecent = 8200;  // 8200 + n: the n-th of Recent Projects, most recent first
constexpr int32_t kCmdLastRecent = 8207;

// Background popup.
constexpr int32_t kPopSmallImages = 7001;  // 7001..7003: small, medium, large
constexpr int32_t kPopLargeImages = 7003;
constexpr int32_t kPopEveryFrame = 7010;  // 7010..7015 as 147..152
constexpr int32_t kPopEvery60th = 7015;
constexpr int32_t kPopSelectAll = 7032;
constexpr int32_t kPopEditRevisions = 7030;
constexpr int32_t kPopTooltips = 7031;

// Range popup.
constexpr int32_t kPopCancel = 7999;
constexpr int32_t kPopFineTune = 7047;
constexpr int32_t kPopActivate = 7041;
constexpr int32_t kPopInactivate = 7042;
constexpr int32_t kPopAddTitle = 7043;
constexpr int32_t kPopEditGrayed = 7044;
constexpr int32_t kPopPreview = 7045;
constexpr int32_t kPopAddUnderlay = 7046;
constexpr int32_t kPopDrops = 7048;
constexpr int32_t kPopEditTitle = 7100;  // 7100 + n: the n-th title covering the selected frame
constexpr int32_t kMaxTitleEditItems = 100;
