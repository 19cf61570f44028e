// The chain operations over a list of CJtagStream devices, and the JTAG channel of the adapter.
// All bus work goes through JTAG_Addr, JTAG_Tms and JTAG_Out; the TAP state follows from the fixed
// TMS patterns, and between operations the TAPs rest in Run-Test/Idle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "jtag_stream.h"

inline constexpr const char* kJtagDescription = "FT2232H MiniModule B";

// The chain descriptor, owned by its user. The list runs from the device nearest the adapter's TDO
// input (first, whose register leaves the chain first) to the one nearest its TDI output.
struct _JTAGCHAIN {
    CJtagStream* first = nullptr;
    void** handle = nullptr;  // the user's JTAG handle variable, read afresh at every operation
    int32_t address = 0;      // chain address; its low byte goes to JTAG_Addr before each operation
};

// TMS patterns (bit 0 clocked first; bit 7 is the TDI level meanwhile) and their lengths.
enum : uint8_t {
    TMS_IDLE_TO_SHIFT_IR = 6,   TMS_IDLE_TO_SHIFT_IR_BITS = 5,  // 0 1 1 0 0
    TMS_IDLE_TO_SHIFT_DR = 2,   TMS_IDLE_TO_SHIFT_DR_BITS = 4,  // 0 1 0 0
    TMS_EXIT1_TO_IDLE = 1,      TMS_EXIT1_TO_IDLE_BITS = 2,     // 1 0, through Update
    TMS_TEST_LOGIC_RESET = 255, TMS_TEST_LOGIC_RESET_BITS = 5,  // 1 1 1 1 1, TDI high
};

// ReadIdCodes reads at most this many codes: a chain that never ends its codes with 0 or
// 0xFFFFFFFF cannot keep the station reading.
inline constexpr size_t kMaxIdCodes = 32;

// Loads every device's instruction (Update-IR), ending in Run-Test/Idle. A device of an unknown
// family resets all TAPs instead and ends the scan. True when the scan was done and every adapter
// call succeeded; the first failed call ends the scan at once with a TAP reset (a dead or mute link
// would otherwise fail, or wait for its time-out, on every further call) and gives false, as do a
// null handle and a reset for an unknown family. An empty chain list does nothing and gives true.
bool ScanIR(const _JTAGCHAIN& chain);

// Data-register scan in two passes through Shift-DR: the capture pass shifts zeros through the whole
// chain and collects every register in m_Capture; the update pass drives, per bit, m_Shift where
// m_Mask is 1 and the captured bit where it is 0; Update-DR, Run-Test/Idle. Afterwards m_Shift
// holds what each register captured. A device that cannot be scanned resets all TAPs instead.
// The result is that of ScanIR.
bool ScanDR(const _JTAGCHAIN& chain);

// Resets the TAPs (each data path is then the identification register) and reads 32-bit codes
// until one is 0 or 0xFFFFFFFF, at most kMaxIdCodes of them. ids is replaced by the codes, one per
// device in list order. Ends with the TAPs in Test-Logic-Reset.
void ReadIdCodes(std::vector<uint32_t>& ids, const _JTAGCHAIN& chain);

// Closes a handle still held in the variable, then opens the JTAG channel into it. On failure shows
// the error box "Error Open Device: FT2232H MiniModule B" and returns false.
bool OpenJtag(void*& handle);

// Closes the channel if the variable holds one; the variable becomes null.
void CloseJtag(void*& handle);
