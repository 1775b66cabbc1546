// Shared fixture of the project tests: a fresh project, settings and callbacks per test, a text
// dump of the project for before/after comparisons, and a leak check at the end.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core/memory.h"
#include "project/project.h"
#include "settings/settings.h"
#include "support/scripted.h"

struct CallbackTally {
    int repaints = 0, thumbnailReleases = 0, undoEnabled = -1, viewResets = 0, tooltipCloses = 0;
};

class ProjectTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    CallbackTally calls;
    int32_t baselineBlocks = 0;
};

// One line per revision with its payload's fields.
std::string DumpRevisions();
// The project's numbers, one line per file, then DumpRevisions().
std::string DumpProject();

TitleRecord* MakeTitle(const char* text);
UnderlayRecord* MakeUnderlay(const char* file, int ranges);
std::string MediaPath(const std::string& name);
void SetProjectFileName(const std::string& name);
