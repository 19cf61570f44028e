#include "tap.h"

#include <set>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace qbxsim {
namespace {

// A walk that takes every one of the 32 transitions of the IEEE 1149.1 state diagram at least
// once, with the state expected after each TCK (so five TMS ones reset from every state too).
TEST(TapController, WalkThroughEveryTransition)
{
    const std::vector<std::pair<int, const char*>> walk = {
        {1, "Test-Logic-Reset"}, {0, "Run-Test/Idle"},  {0, "Run-Test/Idle"},  {1, "Select-DR-Scan"},
        {0, "Capture-DR"},       {0, "Shift-DR"},       {0, "Shift-DR"},       {1, "Exit1-DR"},
        {0, "Pause-DR"},         {0, "Pause-DR"},       {1, "Exit2-DR"},       {0, "Shift-DR"},
        {1, "Exit1-DR"},         {1, "Update-DR"},      {1, "Select-DR-Scan"}, {0, "Capture-DR"},
        {1, "Exit1-DR"},         {0, "Pause-DR"},       {1, "Exit2-DR"},       {1, "Update-DR"},
        {0, "Run-Test/Idle"},    {1, "Select-DR-Scan"}, {1, "Select-IR-Scan"}, {0, "Capture-IR"},
        {0, "Shift-IR"},         {0, "Shift-IR"},       {1, "Exit1-IR"},       {0, "Pause-IR"},
        {0, "Pause-IR"},         {1, "Exit2-IR"},       {0, "Shift-IR"},       {1, "Exit1-IR"},
        {1, "Update-IR"},        {1, "Select-DR-Scan"}, {1, "Select-IR-Scan"}, {0, "Capture-IR"},
        {1, "Exit1-IR"},         {0, "Pause-IR"},       {1, "Exit2-IR"},       {1, "Update-IR"},
        {0, "Run-Test/Idle"},    {1, "Select-DR-Scan"}, {1, "Select-IR-Scan"}, {1, "Test-Logic-Reset"},
    };
    CTapController tap;
    std::set<std::pair<int, int>> taken;
    for (size_t i = 0; i < walk.size(); ++i) {
        TapState before = tap.State();
        tap.Clock(walk[i].first != 0);
        taken.insert({static_cast<int>(before), walk[i].first});
        EXPECT_STREQ(TapStateName(tap.State()), walk[i].second) << "step " << i;
    }
    EXPECT_EQ(taken.size(), 32u) << "the walk must take every transition";
    tap.Clock(false);
    tap.PowerOn();
    EXPECT_EQ(tap.State(), TapState::TestLogicReset);
}

}  // namespace
}  // namespace qbxsim
