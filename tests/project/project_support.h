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

// A fresh project, settings and project callbacks for each test (see ScriptedTest for the rest).
class ProjectTest : public ScriptedTest {
  protected:
    void SetUp() override;
    void TearDown() override;
    CallbackTally calls;
};

// One line per revision with its payload's fields.
std::string DumpRevisions();
// The project's numbers, one line per file, then DumpRevisions().
std::string DumpProject();

TitleRecord* MakeTitle(const char* text);
UnderlayRecord* MakeUnderlay(const char* file, int ranges);
std::string MediaPath(const std::string& name);
void SetProjectFileName(const std::string& name);
