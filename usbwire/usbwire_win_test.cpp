// usbwire.dll on Windows: the loading of the D2XX driver that USBWIRE_DRIVER names, in separate
// processes, since the library resolves its driver once per process. (Its export table:
// cmake/CheckDllExports.cmake.)
#include "test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

using qbxtest::BuiltProgram;

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
