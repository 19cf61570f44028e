// Test helpers: a 1-Wire master at slot level, and a host driving the DS2482 as the bus decoder does.
#pragma once

#include <cstdint>
#include <vector>

#include "ds2482.h"
#include "onewire.h"

namespace qbxsim::test {

// Bit-level 1-Wire master, LSB first.
struct SlotMaster {
    OneWireBus& bus;

    bool Reset() { return bus.Reset(); }
    void Write(const std::vector<uint8_t>& bytes)
    {
        for (uint8_t b : bytes)
            for (int i = 0; i < 8; ++i)
                bus.Slot(((b >> i) & 1) != 0);
    }
    std::vector<uint8_t> Read(size_t n)
    {
        std::vector<uint8_t> out(n, 0);
        for (uint8_t& b : out)
            for (int i = 0; i < 8; ++i)
                b = static_cast<uint8_t>(b | (bus.Slot(true) ? 1u << i : 0u));
        return out;
    }
    uint8_t ReadByte() { return Read(1)[0]; }
    // Reset, then the bytes; returns the n bytes read after them (empty without presence).
    std::vector<uint8_t> Transfer(const std::vector<uint8_t>& bytes, size_t n)
    {
        if (!Reset())
            return {};
        Write(bytes);
        return Read(n);
    }
};

// A host talking to the bridge through the I2cSlave calls, as the bus decoder makes them.
struct BridgeHost {
    I2cSlave& chip;

    // One write transfer, stopping at the first byte not acknowledged; the address's and bytes' acks.
    std::vector<bool> Write(const std::vector<uint8_t>& bytes, uint8_t address = 0x30)
    {
        std::vector<bool> acks;
        chip.Start();
        acks.push_back(chip.Address(address));
        for (size_t i = 0; acks.back() && i < bytes.size(); ++i)
            acks.push_back(chip.Write(bytes[i]));
        chip.Stop();
        return acks;
    }
    bool WriteOk(const std::vector<uint8_t>& bytes) { return Write(bytes) == std::vector<bool>(bytes.size() + 1, true); }
    // One read transfer of one byte, not acknowledged.
    uint8_t ReadOne()
    {
        uint8_t b = 0;
        chip.Start();
        if (chip.Address(0x31)) {
            b = chip.Read();
            chip.ReadAck(false);
        }
        chip.Stop();
        return b;
    }
    // Polls the status until 1WB is clear (at most 50 reads); returns it.
    uint8_t WaitIdle()
    {
        uint8_t status = 0xFF;
        for (int i = 0; i < 50 && (status & Ds2482::k1WB); ++i)
            status = ReadOne();
        return status;
    }
    bool OneWireReset() { return WriteOk({0xB4}) && (WaitIdle() & Ds2482::kPPD) != 0; }
    bool WriteByte(uint8_t b) { return WriteOk({0xA5, b}) && !(WaitIdle() & Ds2482::k1WB); }
    uint8_t ReadByte()
    {
        WriteOk({0x96});
        WaitIdle();
        WriteOk({0xE1, 0xE1});
        return ReadOne();
    }
    uint8_t Triplet(bool direction)
    {
        WriteOk({0x78, static_cast<uint8_t>(direction ? 0x80 : 0x00)});
        return WaitIdle();
    }
    void WriteConfig(uint8_t cfg) { WriteOk({0xD2, static_cast<uint8_t>((~cfg << 4) | (cfg & 0x0F))}); }

    // The ROM search of Maxim's AN187 (last-discrepancy method) over the triplet: every ROM on
    // the bus, in search order.
    std::vector<uint64_t> Search()
    {
        std::vector<uint64_t> found;
        uint64_t rom = 0;
        int lastDiscrepancy = -1;
        do {
            if (!OneWireReset() || !WriteByte(0xF0))
                break;
            int lastZero = -1;
            for (int i = 0; i < 64; ++i) {
                const bool direction = i < lastDiscrepancy ? ((rom >> i) & 1) != 0 : i == lastDiscrepancy;
                const uint8_t status = Triplet(direction);
                const bool id = status & Ds2482::kSBR, cmp = status & Ds2482::kTSB, taken = status & Ds2482::kDIR;
                if (id && cmp)
                    return found;   // nobody answered
                if (!id && !cmp && !taken)
                    lastZero = i;
                rom = taken ? rom | (uint64_t{1} << i) : rom & ~(uint64_t{1} << i);
            }
            found.push_back(rom);
            lastDiscrepancy = lastZero;
        } while (lastDiscrepancy >= 0 && found.size() < 100);
        return found;
    }
};

}  // namespace qbxsim::test
