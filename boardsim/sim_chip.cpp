#include "sim_chip.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "files.h"
#include "platform.h"

#ifndef QBXSIM_SOURCE_EXAMPLES
#define QBXSIM_SOURCE_EXAMPLES ""
#endif

namespace qbxsim {

namespace {

bool FileExists(const std::string& path)
{
    std::ifstream in(path);
    return static_cast<bool>(in);
}

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

void SimComplain(const std::string& message)
{
    std::fprintf(stderr, "qbxsim: %s\r\n", message.c_str());
}

std::string DefaultBoardFile()
{
    const std::string relative = "examples/boards/healthy.json";
    std::string library = platform::ModuleFile(reinterpret_cast<const void*>(&DefaultBoardFile));
    if (!library.empty()) {
        std::string beside = platform::JoinPath(platform::DirName(library), relative);
        if (FileExists(beside))
            return beside;
    }
    std::string examples = QBXSIM_SOURCE_EXAMPLES;
    if (!examples.empty())
        return platform::JoinPath(examples, "boards/healthy.json");
    return relative;
}

_SIMSETUP SetupFromEnvironment()
{
    _SIMSETUP setup;
    std::string path = Environment("QBXSIM_BOARD");
    std::string error;
    if (path.empty()) {
        path = DefaultBoardFile();
        if (!FileExists(path))
            SimComplain("no board file: QBXSIM_BOARD is not set and the example board " + path +
                        " is missing; the adapter lists no device");
        else if (!(setup.config = LoadBoardFile(path, &error)))
            SimComplain(error + "; the adapter lists no device");
    } else if (!(setup.config = LoadBoardFile(path, &error))) {
        SimComplain(error + "; the adapter lists no device");
    }
    setup.files = {Environment("QBXSIM_STATS"), Environment("QBXSIM_TRACE")};
    return setup;
}

CSimChip::CSimChip(std::unique_ptr<_SIMCONFIG> config, _SIMFILES files)
    : m_Config(std::move(config)), m_Files(std::move(files)), m_Trace(std::string())
{
    std::string traceError;
    m_Trace = CSimTrace(m_Files.trace, &traceError);
    if (!traceError.empty())
        SimComplain(traceError);

    std::vector<std::unique_ptr<CSimBoard>> boards;
    if (m_Config) {
        if (m_Config->bridgePresent)
            m_Bridge = std::make_unique<Ds2482>(m_Config->bridge, m_OneWire);
        for (size_t i = 0; i < m_Config->boards.size(); ++i)
            boards.push_back(std::make_unique<CSimBoard>(m_Config->boards[i], m_Config->layout,
                                                         std::move(m_Config->oneWire[i])));
    }
    m_I2c = std::make_unique<I2cBus>(m_Bridge.get());
    m_Socket = std::make_unique<CSimSocket>(std::move(boards), m_OneWire);
    m_BridgeWiring = std::make_unique<CBridgeWiring>(*m_I2c, *m_Socket);
    m_JtagWiring = std::make_unique<CJtagWiring>(*m_Socket, m_OneWire);
    m_Engines.reserve(kChannels);
    m_Engines.emplace_back(m_BridgeWiring.get());
    m_Engines.emplace_back(m_JtagWiring.get());
}

bool CSimChip::Write(int channel, const uint8_t* bytes, size_t count, std::vector<uint8_t>& reply)
{
    if (m_LinkDead)
        return false;
    ++m_Writes;
    if (m_Config && m_Config->failAfterWrites && m_Writes > *m_Config->failAfterWrites) {
        m_LinkDead = true;
        return false;
    }
    m_Trace.Record(Letter(channel), 'W', bytes, count);
    m_Stats[channel].CountWrite(count);
    if (Muted()) {
        m_Scratch.clear();
        m_Engines[channel].Write(bytes, count, m_Scratch);  // the pins still move; no answer comes back
    } else {
        m_Engines[channel].Write(bytes, count, reply);
    }
    return true;
}

void CSimChip::Read(int channel, const uint8_t* bytes, size_t count)
{
    m_Trace.Record(Letter(channel), 'R', bytes, count);
    m_Stats[channel].CountRead(count);
}

uint8_t CSimChip::Pins(int channel)
{
    const CMpsseEngine& engine = m_Engines[channel];
    CPinTarget* target = channel == 0 ? static_cast<CPinTarget*>(m_BridgeWiring.get()) : m_JtagWiring.get();
    const uint8_t outputs = engine.LowDirection();
    return static_cast<uint8_t>((engine.LowValue() & outputs) | (target->Sense() & ~outputs));
}

_SIMCHANNELREPORT CSimChip::Report(int channel) const
{
    _SIMCHANNELREPORT r;
    r.usb = m_Stats[channel];
    r.tckClocks = m_Engines[channel].Clocks();
    r.clockSeconds = m_Engines[channel].ClockSeconds();
    if (channel == 0) {
        r.i2cBytes = m_I2c->Bytes();
        r.oneWireResets = m_OneWire.Resets();
        r.oneWireBytes = m_OneWire.Bytes();
        r.oneWireSeconds = m_OneWire.ModelledSeconds();
    }
    return r;
}

void CSimChip::WriteStats(const std::string& text)
{
    if (m_Files.stats.empty())
        return;
    std::string error;
    if (!platform::WriteFileAtomically(m_Files.stats, text, &error))
        SimComplain("cannot write stats file " + m_Files.stats + ": " + error);
}

}  // namespace qbxsim
