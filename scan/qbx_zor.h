// The model of one QBX board under test (the board's facts: qbx_board.h): eight ProASIC3 FPGAs in
// one JTAG chain behind one chain address, the board's thermometer and two A/D converters, and its
// supply values.
//
// The board model binds the pin lines of the vector file to boundary cells of the eight FPGAs
// (every value of a pin line creates or finds its vector slot in all eight, so the FPGAs always hold
// the same vectors in the same order), writes the truth table, and runs the interconnection test:
// for every vector each FPGA is preloaded with SAMPLE/PRELOAD, then EXTEST drives the vector's
// outputs while the input cells capture the board's response, and every claimed cell that differs
// from the vector is reported with its FPGA, pin and values.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "bsdl.h"
#include "ds18s20.h"
#include "ds2450.h"
#include "jtag_chain.h"
#include "proasic3.h"
#include "qbx_board.h"
#include "vectors.h"

// One claimed cell that read back wrong: the fields of its error line.
struct _WRONGCELL {
    int vector = 0;          // 1-based position of the vector within its group
    int abs = 0;             // 0-based index of the vector
    std::string group;       // the vector's group name
    int fpga = 0;            // 0..7
    std::string pin;         // port name of the cell's pin
    std::string packagePin;  // its package pin, such as "G29"
    int read = 0;            // captured value
    int expected = 0;        // the vector's value
};

class CQbx_zor final : public CBsrVectors {
public:
    // The board this model tests.
    static constexpr const _BOARDDESC& kBoard = kQbxBoard;
    static constexpr int kFpgaCount = kBoard.fpgaCount;
    // Vectors the model holds at most (each is a 303-byte image in each of the eight FPGAs): far
    // beyond any real test, and a bound that keeps a malformed file from exhausting memory.
    static constexpr int kMaxVectors = 4096;

    // Outcome of driving one vector through the chain.
    enum VectorResult : int {
        VECTOR_TRANSFER_FAILED = -1,  // an adapter transfer failed: nothing was compared
        VECTOR_WRONG = 0,             // at least one claimed cell read back wrong (each reported)
        VECTOR_PASSED = 1,
    };

    CQbx_zor() = default;
    ~CQbx_zor() = default;

    // Reads the BSDL file into FPGA 0's description and, when that succeeds, copies it into FPGAs
    // 1 to 7. 1 read, 0 not (the descriptions are then unchanged; why, when given, says why as
    // ReadBsdl does).
    int LoadBsdl(const char* path, std::string* why = nullptr);

    // Keeps the JTAG handle variable (not a copy of the handle) and the chain address, links the
    // FPGA models into the chain list (FPGA 7 first, FPGA 0 last) and returns each to BYPASS.
    void AttachChain(void*& handle, int32_t address);

    // Binds one pin line of the vector file (see vectors.h). The line's result is that of its last
    // value. Refused with a message through ReportError: a device number outside 0..7, a pin that
    // lacks the cell its section needs (DRIVE: an output cell, SENSOR: an input cell) or has one
    // outside the boundary register, more values than kMaxVectors; an empty bit string returns 0.
    int AddPinVector(const std::string& group, int section, int device, const std::string& pin,
                     const std::string& bits) override;

    // Binds value v at position i of a pin line into one FPGA. 1 bound, 0 refused (reported).
    int BindPinValue(const std::string& group, CProAsic3& fpga, int section, const std::string& pin, int value,
                     int position);

    // The index of the vector holding position i of group in fpga, created when missing: position
    // 0 is always vector 0 (created from the safe image); position i >= 1 is the i-th vector after
    // vector 0 named group, appended as a copy of vector 0 when there are fewer. -1 when that would
    // take more than kMaxVectors vectors.
    int FindVectorSlot(CProAsic3& fpga, const std::string& group, int position);

    // Drives the board's LOCKPLL port of fpga to value in vector j. 0, with "Error pin $LOCKPLL not
    // Found" reported, when the port is missing.
    int SetLockPll(CProAsic3& fpga, int vector, int value);

    // The LOCKPLL pattern of a board's cycle: with n vectors and step = n / kFpgaCount (1 when that is 0),
    // FPGA k's LOCKPLL is driven 1 in every vector j >= (k + 1) * step and 0 in vectors 1 to that;
    // vector 0 is left as the vector file made it. 1 when every SetLockPll succeeded.
    int WriteLockPllPattern();

    // The truth table: one line per pin line of the vector file, "d-<pin right-aligned>_<kind> "
    // followed by the pin's value in every vector of its FPGA; kind 'I' (input cell claimed), 'O'
    // (output cell claimed), or '?' for a line that claimed neither, whose values show as '-'.
    std::string TruthTable() const;
    // Writes the truth table to path, replacing the file in one step. False when it cannot be
    // written; why, when given, then says why.
    bool WriteTruthTable(const std::string& path, std::string* why = nullptr) const;

    // Why the vectors read so far would test nothing, or "" when at least one vector compares a
    // sensed pin. A file without such a vector (empty, comments only, no SENSOR line that binds)
    // would pass every board, a board with a short included.
    std::string VectorsProblem() const;

    // Switches the board's JTAG switch on through adcsensor2's switch output. False when either
    // converter slot is empty or the write fails.
    bool SwitchJtagOn();

    // One IR and one DR scan over the chain, then each FPGA takes the captured cells and returns to
    // BYPASS. False when an adapter transfer failed (the capture is then not taken) or there is no
    // channel; true for an empty chain list.
    bool ScanChain();

    // One interconnection run: switches the JTAG switch on, drives and checks every vector. 1 when
    // every vector passed (or the switch failed: that is reported, which fails the board); 0 when a
    // vector read back wrong or an adapter transfer failed, which ends the run with one reported
    // line.
    int RunVectors();

    // Drives vector j (SAMPLE/PRELOAD, then EXTEST) and checks what the FPGAs captured.
    VectorResult DriveVector(int vector);

    // Compares the captured image of every FPGA with vector j on the claimed cells, reporting each
    // wrong cell. True when nothing differs.
    bool CheckVector(int vector);

    // The 1-based position of vector j within the run of consecutive vectors of its name.
    int NumberInGroup(int vector) const;

    // After a failed run: switches the JTAG switch on and drives vector 0 onto the board. Returns 0.
    int ApplyFirstVector();

    // Reads the supply values from the two converters: -1 when a slot is empty (values unchanged),
    // the first failing operation's code (values 0), or 0.
    int ReadPower();

    // Vectors of FPGA 0 (all FPGAs hold the same number).
    int VectorCount() const { return static_cast<int>(m_Fpga[0].m_Vectors.size()); }

    // SENSOR pins whose input cell a pin line claimed, over all FPGAs.
    int m_SensedPins = 0;

    CDs18s20 m_TempSensor;
    CDs2450 m_AdcSensor1;
    CDs2450 m_AdcSensor2;
    int32_t m_BusSelect = 0;
    float m_Current = 0.0f;
    float m_Vmem = 0.0f;
    float m_Vin = 0.0f;
    uint8_t m_PowerFlags = 0;  // _POWERFLAGS packed
    _JTAGCHAIN m_Chain;
    std::array<CProAsic3, kFpgaCount> m_Fpga;

    // Called before each vector of a run with the vector's index and the number of vectors; the
    // station shows progress with it. Empty: nothing is called.
    std::function<void(int vector, int count)> m_OnVector;
    // Called for each wrong cell right after its error line was reported. Empty: nothing is called.
    std::function<void(const _WRONGCELL&)> m_OnWrongCell;

private:
    // The last slot FindVectorSlot found in each FPGA of this board. A pin line asks for positions
    // 1, 2, 3, ... in turn, and vectors are only ever appended, so the next position's search can
    // go on from there instead of walking the vectors from the start: binding a line stays linear
    // in its length.
    struct SlotMemo {
        std::string group;
        int position = 0;
        size_t index = 0;
    };
    std::array<SlotMemo, kFpgaCount> m_SlotMemo;
};
