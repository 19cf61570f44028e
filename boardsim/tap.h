// The IEEE 1149.1 TAP controller: sixteen states stepped by TMS on the rising edge of TCK.
#pragma once

#include <cstdint>

namespace qbxsim {

enum class TapState : uint8_t {
    TestLogicReset,
    RunTestIdle,
    SelectDrScan,
    CaptureDr,
    ShiftDr,
    Exit1Dr,
    PauseDr,
    Exit2Dr,
    UpdateDr,
    SelectIrScan,
    CaptureIr,
    ShiftIr,
    Exit1Ir,
    PauseIr,
    Exit2Ir,
    UpdateIr,
};

inline constexpr int kTapStateCount = 16;

// The state the controller enters on a rising TCK edge with this TMS level.
TapState NextTapState(TapState state, bool tms);

// The state's name as IEEE 1149.1 writes it ("Test-Logic-Reset", "Shift-DR", ...).
const char* TapStateName(TapState state);

inline bool IsShiftState(TapState state)
{
    return state == TapState::ShiftDr || state == TapState::ShiftIr;
}

// One controller. Power-up (and TRST, which the QBX board does not wire) puts it in
// Test-Logic-Reset.
class CTapController {
public:
    TapState State() const { return m_State; }
    void PowerOn() { m_State = TapState::TestLogicReset; }
    // A rising TCK edge: returns the new state.
    TapState Clock(bool tms)
    {
        m_State = NextTapState(m_State, tms);
        return m_State;
    }

private:
    TapState m_State = TapState::TestLogicReset;
};

}  // namespace qbxsim
