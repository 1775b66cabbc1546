// The base of the window tests: the project fixture on Qt's offscreen platform with tooltips off
// and the artwork loaded (it stays for the program's life).
#pragma once

#include "project/project_support.h"
#include "support/qtapp.h"
#include "ui/artwork.h"
#include "ui/buttons.h"

class GuiTest : public ProjectTest {
  protected:
    void SetUp() override {
        TestApp();
        for (const char* art : {kToolbarBitmapName, kVcrBitmapName})
            FreeButtonList(AddBitmapButton(nullptr, nullptr, 1, art, 0, 0, 28, 26));
        ProjectTest::SetUp();
        gSettings.useToolTips = 0;
    }
};
