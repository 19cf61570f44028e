// The simulated FT2232H below its host interface: the board file's settings, the two MPSSE
// engines, the QBX board wired to the channels, the counters and the trace, and the faults of the
// USB link. Both fronts of the simulator stand on it: the D2XX driver (CSimAdapter, libqbxsim.so)
// and the USB device (usbsim/, libusb-1.0.so.0). It takes no lock; its front serialises the calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "board_file.h"
#include "ds2482.h"
#include "i2c_bus.h"
#include "mpsse.h"
#include "onewire.h"
#include "socket.h"
#include "stats.h"
#include "wiring.h"

namespace qbxsim {

// Where the simulator's files go; all optional.
struct _SIMFILES {
    std::string stats;  // QBXSIM_STATS: the counters, written when the host has let go of the chip
    std::string trace;  // QBXSIM_TRACE: every write and read
};

// The board file of QBXSIM_BOARD (or the example healthy board when it is not set) and the files
// of QBXSIM_STATS and QBXSIM_TRACE. A board file that cannot be used gives one message on standard
// error and a null config: the adapter then lists no device.
struct _SIMSETUP {
    std::unique_ptr<_SIMCONFIG> config;
    _SIMFILES files;
};
_SIMSETUP SetupFromEnvironment();

// The board file the simulator loads when QBXSIM_BOARD is not set: examples/boards/healthy.json
// beside the simulator's library, else in the source tree.
std::string DefaultBoardFile();

// One line on standard error, "qbxsim: <message>".
void SimComplain(const std::string& message);

class CSimChip {
public:
    static constexpr int kChannels = 2;

    // A null config stands for a board file that could not be loaded: no device.
    explicit CSimChip(std::unique_ptr<_SIMCONFIG> config, _SIMFILES files = {});
    CSimChip(const CSimChip&) = delete;
    CSimChip& operator=(const CSimChip&) = delete;

    bool HasDevices() const { return m_Config && m_Config->adapterPresent; }
    // The board file's settings; null when it could not be loaded.
    const _SIMCONFIG* Config() const { return m_Config.get(); }

    // One host write of MPSSE bytes to a channel, counted across both channels: the write after
    // fail_after_writes kills the link, and from then on every write returns false and does
    // nothing. After mute_after_writes the engine still runs the commands but its reply bytes are
    // dropped; otherwise they are appended to `reply`. Traced and counted.
    bool Write(int channel, const uint8_t* bytes, size_t count, std::vector<uint8_t>& reply);
    // The host read `count` bytes (possibly none) of what the channel sent: traced and counted.
    void Read(int channel, const uint8_t* bytes, size_t count);
    // A host opened the channel: the next write begins a round trip.
    void Opened(int channel) { m_Stats[channel].inTransaction = false; }
    bool LinkDead() const { return m_LinkDead; }
    // The writes so far exceed mute_after_writes: replies are dropped.
    bool Muted() const { return m_Config && m_Config->muteAfterWrites && m_Writes > *m_Config->muteAfterWrites; }

    // The channel's eight low pins as the chip reads them: its outputs as latched, its inputs as
    // the board drives them.
    uint8_t Pins(int channel);
    CMpsseEngine& Engine(int channel) { return m_Engines[channel]; }
    CSimTrace& Trace() { return m_Trace; }
    static char Letter(int channel) { return static_cast<char>('A' + channel); }

    // For tests and the stats file.
    CSimSocket* Socket() { return m_Socket.get(); }
    OneWireBus& OneWire() { return m_OneWire; }
    CJtagWiring* JtagPort() { return m_JtagWiring.get(); }
    _SIMCHANNELREPORT Report(int channel) const;
    std::string StatsText() const { return StatsJson(Report(0), Report(1)); }
    // Writes `text` (crash-safe) to the QBXSIM_STATS file, if one was named.
    void WriteStats(const std::string& text);
    void WriteStats() { WriteStats(StatsText()); }

private:
    std::unique_ptr<_SIMCONFIG> m_Config;
    _SIMFILES m_Files;
    CSimTrace m_Trace;

    OneWireBus m_OneWire;
    std::unique_ptr<Ds2482> m_Bridge;
    std::unique_ptr<I2cBus> m_I2c;
    std::unique_ptr<CSimSocket> m_Socket;
    std::unique_ptr<CBridgeWiring> m_BridgeWiring;
    std::unique_ptr<CJtagWiring> m_JtagWiring;
    std::vector<CMpsseEngine> m_Engines;
    _SIMCHANNELSTATS m_Stats[kChannels];

    uint64_t m_Writes = 0;  // host writes on either channel: the link is one USB device
    bool m_LinkDead = false;
    std::vector<uint8_t> m_Scratch;
};

}  // namespace qbxsim
