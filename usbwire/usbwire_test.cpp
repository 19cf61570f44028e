// End-to-end tests through the real libusbwire.so: its exported symbols, a whole I2C and JTAG
// session on the fake driver, and the loading of the driver named by USBWIRE_DRIVER (in separate
// processes, since the library resolves its driver once per process).
#include "usbwire.h"

#include "fake_d2xx_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

const std::string kBin = QBX_BIN_DIR;

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs a shell command; returns its exit status, standard output and standard error.
struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

RunResult Shell(const std::string& command)
{
    fs::path folder = fs::temp_directory_path() / ("usbwire-test-" + std::to_string(getpid()));
    fs::create_directories(folder);
    fs::path out = folder / "out";
    fs::path err = folder / "err";
    RunResult run;
    run.status = std::system((command + " >" + out.string() + " 2>" + err.string()).c_str());
    run.out = ReadFile(out);
    run.err = ReadFile(err);
    fs::remove_all(folder);
    return run;
}

RunResult Probe(const std::string& environment, const std::string& i2c = "FT2232H MiniModule A",
          const std::string& jtag = "FT2232H MiniModule B")
{
    return Shell("env " + environment + " '" + kBin + "/usbwire_probe' '" + i2c + "' '" + jtag + "'");
}

size_t CountLines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

class UsbwireLibrary : public ::testing::Test {
protected:
    void SetUp() override { fake::UseFake(); }
};

}  // namespace

TEST(UsbwireExports, ExactlyTheFifteenFunctions)
{
    RunResult run = Shell("nm -D --defined-only '" + kBin + "/libusbwire.so'");
    ASSERT_EQ(run.status, 0) << run.err;
    std::set<std::string> names;
    std::istringstream lines(run.out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type >> name;
        if (!name.empty())
            names.insert(name);
    }
    std::set<std::string> expected = {"I2C_Close",    "I2C_ForceLastAcknH", "I2C_GPIODirection", "I2C_GPIOWrite",
                                      "I2C_Open",     "I2C_Read",           "I2C_Write",         "JTAG_Addr",
                                      "JTAG_Close",   "JTAG_Open",          "JTAG_Out",          "JTAG_ShiftIn",
                                      "JTAG_ShiftInOut", "JTAG_ShiftInOut_ex", "JTAG_Tms"};
    EXPECT_EQ(names, expected) << run.out;
}

TEST_F(UsbwireLibrary, WholeSessionOnBothChannels)
{
    const fake::Api& f = fake::Fake();
    void* i2c = I2C_Open("FT2232H MiniModule A", 100000);
    ASSERT_NE(i2c, nullptr);
    void* jtag = JTAG_Open("FT2232H MiniModule B");
    ASSERT_NE(jtag, nullptr);
    EXPECT_EQ(f.Divisor(0), 299u);
    EXPECT_EQ(f.Divisor(1), 29u);

    // Board enable on line 4, a bridge register write and read.
    I2C_GPIODirection(i2c, 4, 1);
    EXPECT_EQ(I2C_GPIOWrite(i2c, 4, 1), 1);
    EXPECT_EQ(f.LowPins(0), 0x8383u);
    const unsigned char status[1] = {0x42};
    f.SetI2CReadData(status, 1);
    const unsigned char pointer[2] = {0xE1, 0xF0};
    EXPECT_EQ(I2C_Write(i2c, 0x30, pointer, 2, 0), 0);
    unsigned char value = 0;
    EXPECT_EQ(I2C_Read(i2c, 0x30, &value, 1, 1), 0);
    EXPECT_EQ(value, 0x42);
    EXPECT_EQ(fake::I2CTrace(0), "S 30+ E1+ F0+ S 31+ r42- P");
    f.SetI2CNack(0);
    EXPECT_EQ(I2C_Write(i2c, 0x30, pointer, 1, 1), 1);

    // A TAP reset, an address, a 2424-bit capture.
    EXPECT_EQ(JTAG_Tms(jtag, 0x1F, 5), 1);
    EXPECT_EQ(JTAG_Addr(jtag, 1), 1);
    std::mt19937 random(7);
    std::vector<unsigned char> source(303), destination(303);
    for (unsigned char& byte : source)
        byte = static_cast<unsigned char>(random());
    EXPECT_EQ(JTAG_Out(jtag, 0, 2424, source.data(), destination.data(), 1), 1);
    EXPECT_EQ(destination, source);
    EXPECT_EQ(JTAG_ShiftIn(jtag, 0, 16, source.data(), 1), 1);
    EXPECT_EQ(JTAG_ShiftInOut(jtag, 16, source.data(), destination.data()), 1);
    EXPECT_EQ(JTAG_ShiftInOut_ex(jtag, 16, source.data(), destination.data(), 0), 1);
    EXPECT_EQ(destination[1], source[1]);

    JTAG_Close(jtag);
    I2C_Close(i2c);
    std::vector<std::string> calls = fake::Calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 2], "FT_Close(1) = 0");
    EXPECT_EQ(calls.back(), "FT_Close(0) = 0");
}

TEST_F(UsbwireLibrary, MissingDevicesAndBadArgumentsGiveNull)
{
    EXPECT_EQ(I2C_Open("FT2232H MiniModule C", 100000), nullptr);
    EXPECT_EQ(I2C_Open("FT2232H MiniModule A", 0), nullptr);
    EXPECT_EQ(JTAG_Open(nullptr), nullptr);
    EXPECT_EQ(I2C_Write(nullptr, 0x30, nullptr, 0, 1), -1);
    EXPECT_EQ(JTAG_Out(nullptr, 0, 8, nullptr, nullptr, 1), 0);
}

// ---- the driver, in separate processes ------------------------------------------------------------

TEST(UsbwireDriverLoading, DriverNamedBesideTheLibrary)
{
    RunResult run = Probe("USBWIRE_DRIVER=libd2xx-fake.so");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "I2C 1 1 JTAG 1 1\n");
    EXPECT_EQ(run.err, "");
}

TEST(UsbwireDriverLoading, DriverByPath)
{
    RunResult run = Probe("USBWIRE_DRIVER='" + fake::LibraryPath() + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "I2C 1 1 JTAG 1 1\n");
}

TEST(UsbwireDriverLoading, MissingDriverFailsEveryOpenWithOneLine)
{
    RunResult run = Probe("USBWIRE_DRIVER=libqbx-missing-driver.so");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "I2C 0 0 JTAG 0 0\n");
    EXPECT_EQ(CountLines(run.err), 1u) << run.err;
    EXPECT_NE(run.err.find("libqbx-missing-driver.so"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("No such file"), std::string::npos) << run.err;

    run = Probe("USBWIRE_DRIVER=/nonexistent/folder/libd2xx.so");
    EXPECT_EQ(run.out, "I2C 0 0 JTAG 0 0\n");
    EXPECT_EQ(CountLines(run.err), 1u) << run.err;
    EXPECT_NE(run.err.find("/nonexistent/folder/libd2xx.so"), std::string::npos) << run.err;
}

TEST(UsbwireDriverLoading, DriverLackingAFunctionIsRefused)
{
    RunResult run = Probe("USBWIRE_DRIVER=libz.so.1");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "I2C 0 0 JTAG 0 0\n");
    EXPECT_EQ(CountLines(run.err), 1u) << run.err;
    EXPECT_NE(run.err.find("libz.so.1"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("FT_CreateDeviceInfoList"), std::string::npos) << run.err;
}

TEST(UsbwireDriverLoading, DefaultIsTheLibftdiDriverBesideTheLibrary)
{
    ASSERT_TRUE(fs::exists(kBin + "/libd2xx-ftdi.so"));
    RunResult run = Probe("-u USBWIRE_DRIVER", "QBX test: no such adapter A", "QBX test: no such adapter B");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "I2C 0 0 JTAG 0 0\n");
    EXPECT_EQ(run.err, "");  // loaded: nothing to report, just no such adapter
}
