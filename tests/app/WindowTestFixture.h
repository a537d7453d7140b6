#pragma once
#include <gtest/gtest.h>

#include <memory>

#include "app/Main.h"
#include "platform/ProgramDir.h"
#include "support/FastClock.h"
#include "support/TempDir.h"

// A test of the whole window: its settings and transmit list in a folder of
// its own, and the test clock installed before the window and removed after
// it, so that an opening's settle pauses only move the tick count on.
class TWindowTest : public ::testing::Test {
protected:
    const tcmtest::TScopedFastClock Clock;
    void SetUp() override { tcm::SetProgramDirOverride(Dir.Path()); }
    void TearDown() override
    {
        Window.reset();
        tcm::SetProgramDirOverride("");
    }
    TempDir Dir;
    std::unique_ptr<TfmMain> Window;
};
