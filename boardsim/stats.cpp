#include "stats.h"

#include <cerrno>
#include <cstring>

#include <nlohmann/json.hpp>

namespace qbxsim {

namespace {

nlohmann::ordered_json ChannelJson(const _SIMCHANNELREPORT& r)
{
    nlohmann::ordered_json j;
    j["writes"] = r.usb.writes;
    j["reads"] = r.usb.reads;
    j["bytes_written"] = r.usb.bytesWritten;
    j["bytes_read"] = r.usb.bytesRead;
    j["transactions"] = r.usb.transactions;
    j["tck_clocks"] = r.tckClocks;
    j["i2c_bytes"] = r.i2cBytes;
    j["onewire_resets"] = r.oneWireResets;
    j["onewire_bytes"] = r.oneWireBytes;
    j["modelled_seconds"] = r.ModelledSeconds();
    for (const auto& [name, value] : r.usbTransfers)
        j["usb"][name] = value;
    return j;
}

}  // namespace

std::string StatsJson(const _SIMCHANNELREPORT& a, const _SIMCHANNELREPORT& b)
{
    nlohmann::ordered_json j;
    j["channels"]["A"] = ChannelJson(a);
    j["channels"]["B"] = ChannelJson(b);
    j["usb_round_trip_seconds"] = kUsbRoundTripSeconds;
    j["modelled_seconds"] = a.ModelledSeconds() + b.ModelledSeconds();
    std::string text = j.dump(2);
    // The system's files end their lines in CR LF.
    std::string out;
    out.reserve(text.size() + text.size() / 16 + 2);
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    out += "\r\n";
    return out;
}

CSimTrace::CSimTrace(const std::string& path, std::string* error)
{
    if (path.empty())
        return;
    m_File.reset(std::fopen(path.c_str(), "wb"));
    if (!m_File && error)
        *error = std::string("cannot create trace file ") + path + ": " + std::strerror(errno);
}

void CSimTrace::Record(char channel, char direction, const uint8_t* data, size_t size)
{
    if (!m_File)
        return;
    static const char kHex[] = "0123456789ABCDEF";
    m_Line.clear();
    m_Line += channel;
    m_Line += ' ';
    m_Line += direction;
    for (size_t i = 0; i < size; ++i) {
        m_Line += ' ';
        m_Line += kHex[data[i] >> 4];
        m_Line += kHex[data[i] & 15];
    }
    m_Line += "\r\n";
    std::fwrite(m_Line.data(), 1, m_Line.size(), m_File.get());
    std::fflush(m_File.get());
}

}  // namespace qbxsim
