// Tests through the real libusbwire.so: its exported symbols, null handles, and the loading of
// the driver named by USBWIRE_DRIVER (in separate processes, since the library resolves its driver
// once per process).
#include "usbwire.h"

#include "fake_d2xx.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using qbxtest::BuiltProgram;

// The shared object's symbols; the DLL's export table is checked by cmake/CheckDllExports.cmake.
#ifndef _WIN32
TEST(UsbwireExports, ExactlyTheFifteenFunctions)
{
    qbxtest::ProcessOptions options;
    options.args = {"-D", "--defined-only", BuiltProgram("libusbwire.so")};
    qbxtest::ProcessResult run = qbxtest::RunProcess("/usr/bin/nm", options);
    ASSERT_EQ(run.status, 0) << run.err;
    std::set<std::string> names;
    std::istringstream lines(run.out);
    std::string address, type, name;
    while (lines >> address >> type >> name)
        names.insert(name);
    std::set<std::string> expected = {"I2C_Close",    "I2C_ForceLastAcknH", "I2C_GPIODirection", "I2C_GPIOWrite",
                                      "I2C_Open",     "I2C_Read",           "I2C_Write",         "JTAG_Addr",
                                      "JTAG_Close",   "JTAG_Open",          "JTAG_Out",          "JTAG_ShiftIn",
                                      "JTAG_ShiftInOut", "JTAG_ShiftInOut_ex", "JTAG_Tms"};
    EXPECT_EQ(names, expected) << run.out;
}

#endif  // _WIN32

TEST(UsbwireLibrary, NullHandlesAreRefused)
{
    unsigned char buffer[4] = {};
    EXPECT_EQ(I2C_Write(nullptr, 0x30, buffer, 1, 1), -1);
    EXPECT_EQ(I2C_Read(nullptr, 0x30, buffer, 1, 1), -1);
    EXPECT_EQ(I2C_GPIOWrite(nullptr, 4, 1), -1);
    I2C_ForceLastAcknH(nullptr);
    I2C_GPIODirection(nullptr, 4, 1);
    I2C_Close(nullptr);
    EXPECT_EQ(JTAG_Tms(nullptr, 0x1F, 5), 0);
    EXPECT_EQ(JTAG_Addr(nullptr, 1), 0);
    EXPECT_EQ(JTAG_Out(nullptr, 0, 8, buffer, buffer, 1), 0);
    EXPECT_EQ(JTAG_ShiftIn(nullptr, 0, 8, buffer, 1), 0);
    EXPECT_EQ(JTAG_ShiftInOut(nullptr, 8, buffer, buffer), 0);
    EXPECT_EQ(JTAG_ShiftInOut_ex(nullptr, 8, buffer, buffer, 0), 0);
    JTAG_Close(nullptr);
}

// ---- the driver, in separate processes ------------------------------------------------------------

TEST(UsbwireDriverLoading, DriverByNameBesideTheLibraryByPathMissingOrIncomplete)
{
    const struct {
        const char* driver;  // null: USBWIRE_DRIVER unset
        const char* description;
        const char* out;
        std::vector<std::string> error;  // what the one line on standard error names; empty: no line
    } cases[] = {
#ifdef _WIN32
        {"d2xx-fake.dll", "FT2232H MiniModule", "I2C 1 1 JTAG 1 1\n", {}},
        {QBX_BIN_DIR "/d2xx-fake.dll", "FT2232H MiniModule", "I2C 1 1 JTAG 1 1\n", {}},
        {"qbx-missing-driver.dll", "FT2232H MiniModule", "I2C 0 0 JTAG 0 0\n", {"\"qbx-missing-driver.dll\""}},
        {"C:\\nonexistent\\folder\\d2xx.dll", "FT2232H MiniModule", "I2C 0 0 JTAG 0 0\n", {"C:\\nonexistent\\folder\\d2xx.dll"}},
        // A DLL of Windows without the D2XX functions.
        {"kernel32.dll", "FT2232H MiniModule", "I2C 0 0 JTAG 0 0\n", {"kernel32.dll", "FT_CreateDeviceInfoList"}},
        // Unset: FTD2XX.dll, the adapter maker's driver, which this machine does not have.
        {nullptr, "FT2232H MiniModule", "I2C 0 0 JTAG 0 0\n", {"\"FTD2XX.dll\""}},
#else
        {"libd2xx-fake.so", "FT2232H MiniModule", "I2C 1 1 JTAG 1 1\n", {}},
        {QBX_BIN_DIR "/libd2xx-fake.so", "FT2232H MiniModule", "I2C 1 1 JTAG 1 1\n", {}},
        {"libqbx-missing-driver.so", "FT2232H MiniModule", "I2C 0 0 JTAG 0 0\n",
         {"libqbx-missing-driver.so", "No such file"}},
        {"/nonexistent/folder/libd2xx.so", "FT2232H MiniModule", "I2C 0 0 JTAG 0 0\n",
         {"/nonexistent/folder/libd2xx.so"}},
        {"libz.so.1", "FT2232H MiniModule", "I2C 0 0 JTAG 0 0\n", {"libz.so.1", "FT_CreateDeviceInfoList"}},
        // Unset: the libftdi1 driver beside the library loads; there is just no such adapter.
        {nullptr, "QBX test: no such adapter", "I2C 0 0 JTAG 0 0\n", {}},
#endif
    };
    for (const auto& c : cases) {
        std::string description = c.description;
        qbxtest::ProcessOptions options;
        options.args = {description + " A", description + " B"};
        options.env["USBWIRE_DRIVER"] = c.driver ? std::optional<std::string>(c.driver) : std::nullopt;
        qbxtest::ProcessResult run = qbxtest::RunProcess(BuiltProgram("usbwire_probe"), options);
        std::string name = c.driver ? c.driver : "(unset)";
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
