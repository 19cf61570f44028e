// The MPSSE engine of one FT2232H channel: parses the command bytes the host writes, moves the
// channel's pins, clocks TCK/SK and queues the reply bytes, as FTDI's AN_108 describes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qbxsim {

// Low-byte pin bits of a channel (ADBUS/BDBUS 0..7).
enum : uint8_t {
    kPinTck = 0x01,    // TCK/SK
    kPinTdi = 0x02,    // TDI/DO
    kPinTdo = 0x04,    // TDO/DI
    kPinTms = 0x08,    // TMS/CS
    kPinGpiol0 = 0x10,
    kPinGpiol1 = 0x20,
    kPinGpiol2 = 0x40,
    kPinGpiol3 = 0x80,
};

// What is wired to a channel's low-byte pins.
class CPinTarget {
public:
    virtual ~CPinTarget() = default;
    // The adapter's pins changed: `value` as latched, `direction` bit set = output. A pin that is
    // an input is released (the target decides what a released line reads). Called after every
    // change of a latch or a direction, including each half of every clock pulse.
    virtual void Drive(uint8_t value, uint8_t direction) = 0;
    // The levels on the eight pins as seen from outside the adapter now (the engine uses the
    // bits of its input pins only).
    virtual uint8_t Sense() = 0;
    // A shortcut the engine offers for n clock pulses (1 to 8) of a data shift: TCK idles low
    // and is an output; on pulse k the DO pin carries bit k of doBits (set up before the rising
    // edge), every other pin stays as in value/direction. DI is sampled just before each rising
    // edge (sampleOnRise) or just before each falling edge, into bit k of *diBits. Afterwards the
    // target must stand as after Drive() with DO at the last bit. A target that cannot take the
    // pulses at once returns false and gets them edge by edge through Drive().
    virtual bool Pulses(unsigned /*n*/, uint8_t /*doBits*/, bool /*sampleOnRise*/, uint8_t /*value*/,
                        uint8_t /*direction*/, uint32_t* /*diBits*/)
    {
        return false;
    }
    // The engine runs the commands of one host write between these two calls. Nothing but the
    // engine's own pins changes meanwhile, so a target may keep what it worked out at the start.
    virtual void BeginCommands() {}
    virtual void EndCommands() {}
};

class CMpsseEngine {
public:
    explicit CMpsseEngine(CPinTarget* target) : m_Target(target) { UpdateBitSeconds(); }

    // FT_SetBitMode: FT_BITMODE_RESET (the engine leaves MPSSE, drops a partial command, returns
    // to its power-on settings and releases every pin); FT_BITMODE_MPSSE enters MPSSE. In any
    // other mode the engine is idle. Until MPSSE is entered, written bytes are ignored. The mask is
    // not used: in MPSSE mode the directions come from the set-low/high-byte commands.
    void SetBitMode(uint8_t mask, uint8_t mode);
    bool InMpsse() const { return m_Mpsse; }

    // Bytes written by the host. A command may be split across writes at any byte; the part
    // that has arrived waits for the rest. Reply bytes are appended to `reply`.
    void Write(const uint8_t* data, size_t size, std::vector<uint8_t>& reply);

    // Drops a partial command and ends a wait (FT_ResetDevice purges the chip's buffers).
    void Purge();

    // Clock pulses given on TCK/SK so far, and the time they take at the rates in force when
    // they were given (three-phase clocking makes a bit 1.5 periods long).
    uint64_t Clocks() const { return m_Clocks; }
    double ClockSeconds() const { return m_ClockSeconds; }
    // The TCK/SK frequency from the divisor and the divide-by-5 setting.
    double ClockHz() const;

    uint8_t LowValue() const { return m_LowValue; }
    uint8_t LowDirection() const { return m_LowDirection; }
    uint8_t HighValue() const { return m_HighValue; }
    uint8_t HighDirection() const { return m_HighDirection; }
    uint16_t Divisor() const { return m_Divisor; }
    bool DivideBy5() const { return m_DivideBy5; }
    bool ThreePhase() const { return m_ThreePhase; }
    bool Adaptive() const { return m_Adaptive; }
    bool Loopback() const { return m_Loopback; }
    // The engine waits for a level that never comes (a wait or clock-until on GPIOL1, or any
    // clocking with adaptive clocking on, since nothing on the board returns RTCK): it executes
    // nothing more until a reset or purge.
    bool Stalled() const { return m_Stalled; }
    size_t PartialBytes() const { return m_Partial.size(); }
    // The size the reply had when the last send-immediate (0x87) of the latest Write ran, or
    // kNoSendImmediate: the chip sends the reply bytes before that point to the host at once.
    static constexpr size_t kNoSendImmediate = static_cast<size_t>(-1);
    size_t SendImmediateAt() const { return m_SendImmediateAt; }

    // mpsse::kBadCommand and the opcode answer a command the chip does not know.
    static bool IsBadOpcode(uint8_t op);

private:
    size_t Process(const uint8_t* data, size_t size, std::vector<uint8_t>& reply);
    static size_t CommandLength(const uint8_t* data, size_t available);  // 0 = not known yet
    void Execute(const uint8_t* cmd, std::vector<uint8_t>& reply);
    void ExecuteShift(const uint8_t* cmd, std::vector<uint8_t>& reply);
    uint32_t Clock(unsigned n, uint8_t outBits, bool writeDo, bool writeTms, bool negWrite, bool negRead);
    void CountClocks(uint64_t n);
    uint8_t ReadLow();
    bool SampleDi();
    void SetLow(uint8_t value);

    CPinTarget* m_Target;
    bool m_Mpsse = false;
    bool m_Stalled = false;
    std::vector<uint8_t> m_Partial;
    uint8_t m_LowValue = 0, m_LowDirection = 0, m_HighValue = 0, m_HighDirection = 0;
    uint16_t m_Divisor = 0;
    bool m_DivideBy5 = true;
    bool m_ThreePhase = false;
    bool m_Adaptive = false;
    bool m_Loopback = false;
    size_t m_SendImmediateAt = kNoSendImmediate;
    uint64_t m_Clocks = 0;
    double m_ClockSeconds = 0;
    double m_BitSeconds = 0;  // one clock period at the current rate, three-phase included
    void UpdateBitSeconds();
};

}  // namespace qbxsim
