#include "e2e_support.h"

#include <cinttypes>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "bsdl.h"
#include "platform.h"
#include "romid.h"

namespace qbxtest {

std::string StationPath()
{
    return std::string(QBX_BIN_DIR) + "/Test_QBX_FPGA";
}

std::string VerifyReportPath()
{
    return std::string(QBX_BIN_DIR) + "/qbx-verify-report";
}


std::string SensorId(uint8_t family, const std::string& serialText)
{
    const uint64_t serial = std::strtoull(serialText.c_str(), nullptr, 16);
    return RomText(_ROMID::FromSerial(family, serial));
}

// ---- scenario ---------------------------------------------------------------------------------

StationScenario::StationScenario(int nets, int receivers, const std::string& group) : m_Group(group)
{
    m_Bsdl = BsdlForTests(m_Dir);
    _BSDLDATA data;
    if (!ReadBsdl(m_Bsdl.c_str(), data))
        throw std::runtime_error("cannot read " + m_Bsdl);

    std::vector<const _PINDESC*> usable;
    for (const _PINDESC& pin : data.pins) {
        if (pin.inCell >= 0 && pin.outCell >= 0 && pin.ctrlCell >= 0 && pin.row >= 0 && pin.number >= 0 &&
            pin.name != "LOCKPLL")
            usable.push_back(&pin);
    }
    const size_t needed = static_cast<size_t>(nets) * static_cast<size_t>(1 + receivers);
    if (usable.size() < needed)
        throw std::runtime_error("not enough pins in " + m_Bsdl);

    int bits = 1;
    while ((1 << bits) < nets + 2)
        ++bits;
    size_t next = 0;
    auto take = [&](int fpga) {
        const _PINDESC& pin = *usable[next++];
        return PinRef{fpga, PinLabel(pin), pin.name};
    };
    for (int i = 0; i < nets; ++i) {
        TestNet net;
        net.driver = take(i % 8);
        for (int r = 0; r < receivers; ++r)
            net.receivers.push_back(take((i + 1 + r) % 8));
        const int code = i + 1;
        for (int b = bits - 1; b >= 0; --b)
            net.bits += static_cast<char>('0' + ((code >> b) & 1));
        for (int b = bits - 1; b >= 0; --b)
            net.bits += static_cast<char>('0' + (((code >> b) & 1) ^ 1));
        m_Nets.push_back(std::move(net));
    }

    m_BoardFile = HealthyBoard(m_Bsdl);
    m_BoardFile["bridge"]["busy_reads"] = 0;
    nlohmann::json netList = nlohmann::json::array();
    for (const TestNet& net : m_Nets) {
        nlohmann::json endpoints = nlohmann::json::array({net.driver.Endpoint()});
        for (const PinRef& receiver : net.receivers)
            endpoints.push_back(receiver.Endpoint());
        netList.push_back(endpoints);
    }
    Board()["nets"] = netList;
}

nlohmann::json& StationScenario::AddBoard(uint64_t serialOffset)
{
    nlohmann::json board = Board(0);
    board["name"] = "board " + std::to_string(m_BoardFile["boards"].size() + 1);
    for (nlohmann::json& device : board["onewire"]) {
        const uint64_t serial = std::strtoull(device["serial"].get<std::string>().c_str(), nullptr, 16);
        device["serial"] = SerialText(serial + serialOffset);
    }
    m_BoardFile["boards"].push_back(board);
    return m_BoardFile["boards"].back();
}

std::string StationScenario::VectorText() const
{
    std::string text = "# vectors of the test board\r\n<" + m_Group + ">\r\nDRIVE:\r\n";
    for (const TestNet& net : m_Nets)
        text += std::to_string(net.driver.fpga) + "-" + net.driver.pin + " " + net.bits + "\r\n";
    text += "SENSOR:\r\n";
    for (const TestNet& net : m_Nets)
        for (const PinRef& receiver : net.receivers)
            text += std::to_string(receiver.fpga) + "-" + receiver.pin + " " + net.bits + "\r\n";
    text += "</" + m_Group + ">\r\n";
    return text;
}

std::string StationScenario::WriteVectors(const std::string& name) const
{
    const std::string path = m_Dir.File(name);
    WriteFile(path, VectorText());
    return path;
}

std::string StationScenario::WriteBoard(const std::string& name) const
{
    return WriteBoardFile(m_Dir, m_BoardFile, name);
}

std::string StationScenario::MakeOutput(const std::string& name) const
{
    const std::string path = m_Dir.File(name);
    std::filesystem::create_directories(path);
    return path;
}

ProcessResult StationScenario::Run(const std::string& vectors, const std::string& output, const std::string& input,
                                   std::map<std::string, std::optional<std::string>> env, bool stderrOnTerminal) const
{
    const std::string board = WriteBoard();
    ProcessOptions options;
    options.args = {m_Bsdl, vectors, output};
    options.input = input;
    options.env = {{"USBWIRE_DRIVER", SimulatorPath()},
                   {"QBXSIM_BOARD", board},
                   {"QBXSIM_STATS", std::nullopt},
                   {"QBXSIM_TRACE", std::nullopt}};
    for (auto& [name, value] : env)
        options.env[name] = value;
    options.stderrOnTerminal = stderrOnTerminal;
    return RunProcess(StationPath(), options);
}

std::string StationScenario::ExpectedTruthTable() const
{
    size_t width = 0;
    for (const TestNet& net : m_Nets) {
        width = std::max(width, net.driver.pin.size());
        for (const PinRef& receiver : net.receivers)
            width = std::max(width, receiver.pin.size());
    }
    auto line = [&](const PinRef& pin, char kind, const std::string& bits) {
        return platform::Format("%d-%*s_%c %s\r\n", pin.fpga, static_cast<int>(width), pin.pin.c_str(), kind, bits.c_str());
    };
    std::string table;
    for (const TestNet& net : m_Nets)
        table += line(net.driver, 'O', net.bits);
    for (const TestNet& net : m_Nets)
        for (const PinRef& receiver : net.receivers)
            table += line(receiver, 'I', net.bits);
    return table;
}

std::string StationScenario::VectorError(int j, const PinRef& receiver, int read, int expected) const
{
    return platform::Format("Vector %d (abs=%d) %s ERROR fpga %d pin:%s (%s) read=%d expected=%d", j + 1, j,
                            m_Group.c_str(), receiver.fpga, receiver.port.c_str(), receiver.pin.c_str(), read, expected);
}

}  // namespace qbxtest
