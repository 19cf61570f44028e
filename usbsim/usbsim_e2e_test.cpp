// The built Test_QBX_FPGA through libd2xx-ftdi.so on libftdi1 over the simulator's libusb, compared
// with the same run on the D2XX-level simulator libqbxsim.so.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include <nlohmann/json.hpp>

#include "platform.h"
#include "sim_board.h"
#include "test_files.h"

using namespace qbxtest;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const std::string kExamples = ExamplesDir();

enum class Driver { Simulator, Libftdi };

struct StationRun {
    ProcessResult process;
    std::map<std::string, std::string> files;  // the output folder: error file, truth table, reports
    nlohmann::json stats;                      // the simulator's counters
};

// The station on the board file and vectors, into the same output folder every time (the console
// names it), with the driver and libusb of the given path.
StationRun RunOn(Driver driver, const std::string& board, const TempDir& dir, const std::string& input,
        const std::string& trace = "")
{
    const std::string output = dir.File("out");
    std::filesystem::remove_all(output);
    std::filesystem::create_directories(output);
    // The boards' records go beside the output folder, whose files are compared byte for byte.
    using Value = std::optional<std::string>;
    const bool libftdi = driver == Driver::Libftdi;  // the default driver, libd2xx-ftdi.so
    ProcessOptions options;
    options.args = {kExamples + "/a3pe3000.bsd", kExamples + "/interconnect.vec", output};
    options.input = input;
    options.env = {{"QBXSIM_STATS", dir.File("stats.json")}, {"QBXSIM_TRACE", trace.empty() ? Value() : trace},
                   {"QBX_RESULTS", dir.File("results.db")}, {"USBWIRE_DRIVER", libftdi ? Value() : "libqbxsim.so"}};
    if (libftdi)
        options.env["LD_LIBRARY_PATH"] = QBX_USBSIM_LIBRARY_DIR;
    std::filesystem::remove(dir.File("stats.json"));
    StationRun run;
    run.process = RunStation(board, options);
    for (const auto& entry : std::filesystem::directory_iterator(output))
        run.files[entry.path().filename().string()] = ReadFile(entry.path().string());
    run.stats = nlohmann::json::parse(ReadFile(dir.File("stats.json")), nullptr, false);
    return run;
}

// The same console, files and end as the reference run.
void ExpectSameRun(const StationRun& run, const StationRun& reference)
{
    EXPECT_FALSE(run.process.timedOut);
    EXPECT_EQ(run.process.status, reference.process.status);
    EXPECT_EQ(run.process.out, reference.process.out);
    EXPECT_EQ(run.process.err, "");
    EXPECT_EQ(run.files, reference.files);
}

}  // namespace

TEST(UsbPathEndToEnd, TheDemoThroughLibftdiMatchesTheD2xxSimulatorByteForByte)
{
    TempDir dir;
    const std::string input = ReadFile(kExamples + "/operator-input.txt");
    const StationRun reference = RunOn(Driver::Simulator, ExampleBoards(dir, "sequence.json", 1, {{"present", true}}), dir, input);
    ASSERT_EQ(Occurrences(reference.process.out, "| Test Board SUCCESS"), 1u) << reference.process.out;
    ASSERT_EQ(Occurrences(reference.process.out, "| Test Board FAIL"), 1u);
    ASSERT_EQ(reference.files.size(), 3u);  // error file, truth table, one report

    const struct {
        const char* adapter;
        nlohmann::json usb;
    } variants[] = {
        {"the Mini Module as shipped", nlohmann::json::object()},
        {"the kernel's serial driver bound to both interfaces", {{"kernel_driver", true}}},
        {"a chip without serial number", {{"serial_number", nullptr}}},
    };
    for (const auto& variant : variants) {
        SCOPED_TRACE(variant.adapter);
        const StationRun run = RunOn(Driver::Libftdi, ExampleBoards(dir, "sequence.json", 1, {{"usb", variant.usb}}), dir, input);
        ExpectSameRun(run, reference);
        for (const char* channel : {"A", "B"}) {
            // Only the simulator's libusb counts USB transfers: it was the one under libftdi1.
            const nlohmann::json& counters = run.stats["channels"][channel];
            ASSERT_TRUE(counters.contains("usb")) << run.stats.dump();
            EXPECT_EQ(counters["transactions"], reference.stats["channels"][channel]["transactions"]);
            // One bulk IN per round trip: the latency timer held back only the polls of the
            // channel's set-up (drains and synchronisation), none of the thousands of round trips.
            EXPECT_LE(counters["usb"]["latency_waits"].get<uint64_t>(), 10u) << counters.dump();
        }
    }
}

TEST(UsbPathEndToEnd, AnAdapterThatCannotBeUsedGivesOneLineWhyAndTheOpenErrorBox)
{
    TempDir dir;
    const std::string where = "on USB bus 001 device 005";
    const struct {
        nlohmann::json usb;
        std::string line;   // standard error
        char channel;       // the channel whose open fails
    } cases[] = {
        {{{"permission_denied", true}},
         "d2xx-ftdi: no permission to open the FTDI chip 0403:6010 " + where +
             ": install the udev rule 60-qbx-ft2232h.rules (cmake --install puts it in place), reload the rules with "
             "\"udevadm control --reload-rules && udevadm trigger\" and plug the adapter in again",
         'B'},
        {{{"interfaces_in_use", {"B"}}}, "d2xx-ftdi: channel B of \"FT2232H MiniModule\" " + where + " is in use by another program", 'B'},
        {{{"interfaces_in_use", {"A"}}}, "d2xx-ftdi: channel A of \"FT2232H MiniModule\" " + where + " is in use by another program", 'A'},
        {{{"adapters", 2}},
         "d2xx-ftdi: more than one adapter \"FT2232H MiniModule\" is present (FTQBXSIM " + where +
             ", FTQBXSIM2 on USB bus 001 device 006): none of them is opened; unplug all but one",
         'B'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.usb.dump());
        const StationRun run = RunOn(Driver::Libftdi, ExampleBoards(dir, "healthy.json", 1, {{"usb", c.usb}}), dir, "1\n0.5\n0\n");
        EXPECT_FALSE(run.process.timedOut);
        EXPECT_EQ(run.process.status, 0);
        EXPECT_EQ(run.process.err, c.line + "\r\n");
        const std::string box = "Error Open Device: FT2232H MiniModule " + std::string(1, c.channel);
        EXPECT_EQ(Occurrences(run.process.out, platform::FormatMessageBox(box, platform::BoxIcon::Error)), 1u)
            << run.process.out;
        EXPECT_THAT(run.process.out, Not(HasSubstr("enter serial number")));
    }
}

TEST(UsbPathEndToEnd, AnAdapterUnpluggedMidRunFailsTheBoardAsTheD2xxSimulatorsDeadLinkDoes)
{
    TempDir dir;
    const std::string healthy = ExampleBoards(dir, "healthy.json", 1, {{"present", true}});
    // Where the first interconnection run is, in writes (one bulk OUT each on this path), from the
    // trace of a passing run.
    RunOn(Driver::Simulator, healthy, dir, "1\n0.5\n0\n", dir.File("trace.txt"));
    const uint64_t insideTheRun = WritesIntoFirstRun(ReadFile(dir.File("trace.txt")));
    ASSERT_GT(insideTheRun, 100u);

    const std::string unplugged = ExampleBoards(dir, "healthy.json", 1, {{"fail_after_writes", insideTheRun}});
    const StationRun reference = RunOn(Driver::Simulator, unplugged, dir, "1\n0.5\n0\n");
    const StationRun run = RunOn(Driver::Libftdi, unplugged, dir, "1\n0.5\n0\n");
    ExpectSameRun(run, reference);
    EXPECT_THAT(CrLfLines(run.files.at("error.txt")).at(0),
                ::testing::MatchesRegex("Vector [0-9]+ \\(abs=[0-9]+\\) INTERCONNECT ERROR JTAG transfer failed"));
    EXPECT_THAT(run.process.out, HasSubstr("| Test Board FAIL"));
    EXPECT_EQ(run.files.size(), 2u) << "no report";
}
