// What the simulator counts, and the trace of every USB transfer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qbxsim {

// The modelled cost of one USB round trip at high speed (a bulk OUT, the chip's answer and a
// bulk IN within the 125 us microframes).
inline constexpr double kUsbRoundTripSeconds = 125e-6;

// Counters of one channel. A transaction is one host round trip: it begins with the first
// FT_Write after the host last read data from the channel (or after the channel was opened) and
// takes in every further write until a read returns data. Writes that nothing reads back
// (a TMS move, a pin write) ride with the next round trip.
struct _SIMCHANNELSTATS {
    uint64_t writes = 0;         // successful FT_Write calls
    uint64_t reads = 0;          // successful FT_Read calls
    uint64_t bytesWritten = 0;
    uint64_t bytesRead = 0;
    uint64_t transactions = 0;
    bool inTransaction = false;

    void CountWrite(uint64_t bytes)
    {
        ++writes;
        bytesWritten += bytes;
        if (!inTransaction) {
            ++transactions;
            inTransaction = true;
        }
    }
    void CountRead(uint64_t bytes)
    {
        ++reads;
        bytesRead += bytes;
        if (bytes > 0)
            inTransaction = false;
    }
};

// Everything one channel contributes to the stats file.
struct _SIMCHANNELREPORT {
    _SIMCHANNELSTATS usb;
    uint64_t tckClocks = 0;
    double clockSeconds = 0;      // TCK/SK pulses at the rates in force
    uint64_t i2cBytes = 0;
    uint64_t oneWireResets = 0;
    uint64_t oneWireBytes = 0;
    double oneWireSeconds = 0;    // reset and slot times at standard speed
    // Counters only the USB device front keeps (its transfers), written as the channel's "usb".
    std::vector<std::pair<std::string, uint64_t>> usbTransfers;

    double ModelledSeconds() const
    {
        return clockSeconds + oneWireSeconds + static_cast<double>(usb.transactions) * kUsbRoundTripSeconds;
    }
};

// The stats file: {"channels": {"A": {...}, "B": {...}}, "usb_round_trip_seconds": ...,
// "modelled_seconds": ...}; each channel lists writes, reads, bytes_written, bytes_read,
// transactions, tck_clocks, i2c_bytes, onewire_resets, onewire_bytes and its own
// modelled_seconds (and "usb", the USB device front's transfer counters); the top-level
// modelled_seconds is their sum.
std::string StatsJson(const _SIMCHANNELREPORT& a, const _SIMCHANNELREPORT& b);

// The trace file: one line per FT_Write or FT_Read, "<channel> W|R <bytes in hex>\r\n", e.g.
// "B W 80 00 FB 3B 07 00\r\n" or "B R FA AA\r\n" (a read that returned nothing is "A R").
class CSimTrace {
public:
    // An empty path traces nothing. A file that cannot be created is reported in *error.
    explicit CSimTrace(const std::string& path, std::string* error = nullptr);

    bool Enabled() const { return m_File != nullptr; }
    void Record(char channel, char direction, const uint8_t* data, size_t size);

private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> m_File;
    std::string m_Line;
};

}  // namespace qbxsim
