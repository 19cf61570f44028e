// usbwire.dll on Windows: its export table, read from the file as the Windows loader reads it, and
// the loading of the D2XX driver that USBWIRE_DRIVER names (in separate processes, since the
// library resolves its driver once per process).
#include "test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

using qbxtest::BuiltProgram;

namespace {

// The export directory of a 64-bit PE file (a DLL): its own name, and each exported name with its
// ordinal. Throws std::runtime_error when the file is not such a DLL.
struct PeExports {
    std::string dllName;
    uint32_t functionCount = 0;
    std::map<std::string, uint32_t> ordinals;  // name -> ordinal
};

class PeReader {
public:
    explicit PeReader(std::string bytes) : m_Bytes(std::move(bytes)) {}

    PeExports Exports() const
    {
        constexpr uint16_t kPe32Plus = 0x20B;
        if (Read<uint16_t>(0) != 0x5A4D)  // "MZ"
            throw std::runtime_error("no DOS header");
        const uint32_t pe = Read<uint32_t>(0x3C);
        if (Read<uint32_t>(pe) != 0x00004550)  // "PE\0\0"
            throw std::runtime_error("no PE signature");
        const uint16_t sections = Read<uint16_t>(pe + 6);
        const uint16_t optionalSize = Read<uint16_t>(pe + 20);
        const uint32_t optional = pe + 24;
        if (Read<uint16_t>(optional) != kPe32Plus)
            throw std::runtime_error("not a 64-bit PE file");
        const uint32_t exportRva = Read<uint32_t>(optional + 112);  // data directory 0
        if (exportRva == 0)
            throw std::runtime_error("no export directory");
        const Sections table{optional + optionalSize, sections};
        auto Offset = [&](uint32_t rva) { return table.Offset(*this, rva); };

        const uint32_t directory = Offset(exportRva);
        PeExports exports;
        exports.dllName = String(Offset(Read<uint32_t>(directory + 12)));
        const uint32_t base = Read<uint32_t>(directory + 16);
        exports.functionCount = Read<uint32_t>(directory + 20);
        const uint32_t nameCount = Read<uint32_t>(directory + 24);
        const uint32_t names = Offset(Read<uint32_t>(directory + 32));
        const uint32_t nameOrdinals = Offset(Read<uint32_t>(directory + 36));
        for (uint32_t i = 0; i < nameCount; ++i) {
            const std::string name = String(Offset(Read<uint32_t>(names + 4 * i)));
            exports.ordinals[name] = base + Read<uint16_t>(nameOrdinals + 2 * i);
        }
        return exports;
    }

private:
    template <typename T>
    T Read(uint64_t at) const
    {
        if (at + sizeof(T) > m_Bytes.size())
            throw std::runtime_error("truncated PE file");
        T value;
        std::memcpy(&value, m_Bytes.data() + at, sizeof(T));
        return value;  // the PE format is little-endian, as x86-64 is
    }

    std::string String(uint32_t at) const
    {
        const size_t end = m_Bytes.find('\0', at);
        if (end == std::string::npos)
            throw std::runtime_error("unterminated name");
        return m_Bytes.substr(at, end - at);
    }

    // The section table: the file offset of a relative virtual address.
    struct Sections {
        uint32_t table;
        uint32_t count;
        uint32_t Offset(const PeReader& file, uint32_t rva) const
        {
            for (uint32_t i = 0; i < count; ++i) {
                const uint32_t section = table + 40 * i;
                const uint32_t virtualSize = file.Read<uint32_t>(section + 8);
                const uint32_t address = file.Read<uint32_t>(section + 12);
                const uint32_t rawOffset = file.Read<uint32_t>(section + 20);
                if (rva >= address && rva < address + virtualSize)
                    return rva - address + rawOffset;
            }
            throw std::runtime_error("address outside every section");
        }
    };

    std::string m_Bytes;
};

}  // namespace

TEST(UsbwireDll, ExportsTheFifteenFunctionsByNameWithAlphabeticalOrdinals)
{
    const PeExports exports = PeReader(qbxtest::ReadFile(BuiltProgram("usbwire.dll"))).Exports();
    EXPECT_EQ(exports.dllName, "usbwire.dll");
    const std::map<std::string, uint32_t> expected = {
        {"I2C_Close", 1},  {"I2C_ForceLastAcknH", 2}, {"I2C_GPIODirection", 3}, {"I2C_GPIOWrite", 4},
        {"I2C_Open", 5},   {"I2C_Read", 6},           {"I2C_Write", 7},         {"JTAG_Addr", 8},
        {"JTAG_Close", 9}, {"JTAG_Open", 10},         {"JTAG_Out", 11},         {"JTAG_ShiftIn", 12},
        {"JTAG_ShiftInOut", 13}, {"JTAG_ShiftInOut_ex", 14}, {"JTAG_Tms", 15},
    };
    EXPECT_EQ(exports.ordinals, expected);
    // Nothing exported by ordinal only.
    EXPECT_EQ(exports.functionCount, 15u);
}

TEST(UsbwireDll, TheSimulatorExportsTheThirteenD2xxFunctionsOfFtd2xxDll)
{
    const PeExports exports = PeReader(qbxtest::ReadFile(BuiltProgram("qbxsim.dll"))).Exports();
    std::vector<std::string> names;
    for (const auto& entry : exports.ordinals)
        names.push_back(entry.first);
    EXPECT_EQ(names, (std::vector<std::string>{"FT_Close", "FT_CreateDeviceInfoList", "FT_GetDeviceInfoList",
                                               "FT_GetQueueStatus", "FT_OpenEx", "FT_Read", "FT_ResetDevice",
                                               "FT_SetBitMode", "FT_SetChars", "FT_SetLatencyTimer", "FT_SetTimeouts",
                                               "FT_SetUSBParameters", "FT_Write"}));
    EXPECT_EQ(exports.functionCount, 13u);
}

TEST(UsbwireDll, DriverByNameBesideTheLibraryByPathMissingOrIncomplete)
{
    const struct {
        const char* driver;  // null: USBWIRE_DRIVER unset
        const char* out;
        std::vector<std::string> error;  // what the one line on standard error names; empty: no line
    } cases[] = {
        {"d2xx-fake.dll", "I2C 1 1 JTAG 1 1\n", {}},
        {QBX_BIN_DIR "/d2xx-fake.dll", "I2C 1 1 JTAG 1 1\n", {}},
        {"qbx-missing-driver.dll", "I2C 0 0 JTAG 0 0\n", {"\"qbx-missing-driver.dll\""}},
        {"C:\\nonexistent\\folder\\d2xx.dll", "I2C 0 0 JTAG 0 0\n", {"C:\\nonexistent\\folder\\d2xx.dll"}},
        // A DLL of Windows without the D2XX functions.
        {"kernel32.dll", "I2C 0 0 JTAG 0 0\n", {"kernel32.dll", "FT_CreateDeviceInfoList"}},
        // Unset: FTD2XX.dll, the adapter maker's driver, which this machine does not have.
        {nullptr, "I2C 0 0 JTAG 0 0\n", {"\"FTD2XX.dll\""}},
    };
    for (const auto& c : cases) {
        qbxtest::ProcessOptions options;
        options.args = {"FT2232H MiniModule A", "FT2232H MiniModule B"};
        options.env["USBWIRE_DRIVER"] = c.driver ? std::optional<std::string>(c.driver) : std::nullopt;
        const qbxtest::ProcessResult run = qbxtest::RunProcess(BuiltProgram("usbwire_probe"), options);
        const std::string name = c.driver ? c.driver : "(unset)";
        EXPECT_EQ(run.status, 0) << name << run.err;
        EXPECT_EQ(run.out, c.out) << name;
        if (c.error.empty()) {
            EXPECT_EQ(run.err, "") << name;
            continue;
        }
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << name << ": " << run.err;
        EXPECT_TRUE(run.err.ends_with("\r\n")) << name;
        for (const std::string& part : c.error)
            EXPECT_NE(run.err.find(part), std::string::npos) << name << ": " << run.err;
    }
}
