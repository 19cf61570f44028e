#include "board_file.h"

#include <gtest/gtest.h>

#include "boardsim_test_support.h"
#include "test_files.h"

namespace qbxsim {
namespace {

using testing::kIn1, testing::kOut1, testing::kIo1, testing::kIo2;

class BoardFileTest : public ::testing::Test {
protected:
    void SetUp() override { qbxtest::WriteFile(m_Dir.File("tiny.bsd"), testing::TinyBsdlText()); }
    std::unique_ptr<_SIMCONFIG> Parse(const std::string& text, std::string* error)
    {
        return ParseBoardFile(text, m_Dir.File("board.json"), error);
    }
    std::string Prefix() const { return "board file " + m_Dir.File("board.json") + ": "; }

    qbxtest::TempDir m_Dir;
};

TEST_F(BoardFileTest, FullBoardFileIsRead)
{
    const char* text = R"({
      "bsdl": "tiny.bsd",
      "adapter": {"present": true, "fail_after_writes": 12, "mute_after_writes": null},
      "bridge": {"present": false, "busy_reads": 3, "stuck_busy": true},
      "boards": [
        {"name": "first", "chain_address": 5, "idcodes": ["0x3E74E1CF", null, "0x1"], "pull": 0,
         "nets": [["0:A1", "1:B2"], ["1:$IO1", "2:AA14", "0:C3"]],
         "faults": [{"open": "1:B2"}, {"short": ["0:A1", "2:$IO2"]}, {"stuck": "2:AA14", "value": 1}],
         "tdo_stuck": 1,
         "onewire": [{"type": "DS18S20", "serial": "00080157A3B2"}]},
        {"idcodes": []}
      ]
    })";
    std::string error;
    auto config = Parse(text, &error);
    ASSERT_TRUE(config) << error;
    EXPECT_EQ(config->bsdlPath, m_Dir.File("tiny.bsd")) << "relative to the board file";
    EXPECT_EQ(config->layout->Length(), 10u);
    EXPECT_EQ(config->failAfterWrites, 12u);
    EXPECT_FALSE(config->muteAfterWrites);
    EXPECT_FALSE(config->bridgePresent);
    EXPECT_EQ(config->bridge.busyReads, 3);
    EXPECT_TRUE(config->bridge.stuckBusy);
    ASSERT_EQ(config->boards.size(), 2u);
    const _SIMBOARDSPEC& b = config->boards[0];
    EXPECT_EQ(b.name, "first");
    EXPECT_EQ(b.chainAddress, 5);
    EXPECT_EQ(b.idcodes, (std::vector<std::optional<uint32_t>>{0x3E74E1CF, std::nullopt, 1}));
    EXPECT_EQ(b.pull, 0);
    EXPECT_EQ(b.tdoStuck, 1);
    EXPECT_EQ(b.nets, (std::vector<std::vector<_SIMPINREF>>{{{0, kIn1}, {1, kOut1}}, {{1, kIo1}, {2, kIo2}, {0, kIo1}}}));
    EXPECT_EQ(b.opens, (std::vector<_SIMPINREF>{{1, kOut1}}));
    EXPECT_EQ(b.shorts, (std::vector<std::pair<_SIMPINREF, _SIMPINREF>>{{{0, kIn1}, {2, kIo2}}}));
    EXPECT_EQ(b.stucks, (std::vector<std::pair<_SIMPINREF, int>>{{{2, kIo2}, 1}}));
    EXPECT_EQ(config->oneWire[0].size(), 1u);
    EXPECT_EQ(config->boards[1].chainAddress, 1) << "default";
    EXPECT_EQ(config->boards[1].pull, 1) << "default";
    EXPECT_EQ(config->boards[1].tdoStuck, -1);
}

// Every problem gives one message that names the key and where it is; so does a file that cannot
// be read.
TEST_F(BoardFileTest, ProblemsAreNamedWithTheirKey)
{
    qbxtest::WriteFile(m_Dir.File("empty.bsd"), "entity X is\nend X;\n");
    const std::string top = R"({"bsdl": "tiny.bsd", "boards": [], )";
    const std::pair<std::string, std::string> files[] = {
        {top + R"("bsdll": 1})", "unknown key \"bsdll\""},
        {top + R"("adapter": {"fail_after": 1}})", "adapter: unknown key \"fail_after\""},
        {top + R"("adapter": {"fail_after_writes": -1}})", "adapter.fail_after_writes: must be null or a whole number"},
        {top + R"("adapter": {"present": 1}})", "adapter.present: must be true or false"},
        {top + R"("adapter": {"usb": {"serial": "X"}}})", "adapter.usb: unknown key \"serial\""},
        {top + R"("adapter": {"usb": {"serial_number": "FT-1"}}})", "adapter.usb.serial_number: must be null (no serial"},
        {top + R"("adapter": {"usb": {"interfaces_in_use": ["A", "C"]}}})", "adapter.usb.interfaces_in_use[1]: must be"},
        {top + R"("adapter": {"usb": {"adapters": 5}}})", "adapter.usb.adapters: must be a whole number from 1 to 4"},
        {top + R"("bridge": {"busy_reads": -2}})", "bridge.busy_reads: must be"},
        {top + R"("bridge": []})", "bridge: must be an object"},
        {R"({"boards": []})", "bsdl: missing"},
        {R"({"bsdl": "tiny.bsd"})", "boards: missing"},
        {R"({"bsdl": "tiny.bsd", "boards": {}})", "boards: must be an array"},
        {R"({"bsdl": "nothere.bsd", "boards": []})", "bsdl: cannot read \"" + m_Dir.File("nothere.bsd") + "\""},
        {R"({"bsdl": "empty.bsd", "boards": []})", "bsdl: \"" + m_Dir.File("empty.bsd") + "\" has no "},
        {R"({"bsdl": "", "boards": []})", "bsdl: must be the name of a BSDL file"},
        {"[]", "the file must hold one JSON object"},
        {"{\"bsdl\": ", "not valid JSON"},
    };
    const std::pair<const char*, const char*> boards[] = {
        {R"({"idcodes": ["0x1"], "faults": [{"open": "0:A1"}, {"shrt": ["0:A1", "0:B2"]}]})",
         "boards[0].faults[1]: unknown key \"shrt\""},
        {R"({"idcodes": ["0x1"], "faults": [{"open": "0:A1", "value": 1}]})",
         "boards[0].faults[0]: unknown key \"value\" (only a \"stuck\" fault has a value)"},
        {R"({"idcodes": [], "chain_address": 16})", "boards[0].chain_address: must be a whole number from 0 to 15"},
        {R"({"idcodes": ["0x1", "0x12345G78"]})", "boards[0].idcodes[1]: must be a hexadecimal code"},
        {R"({"idcodes": ["0x1","0x1","0x1","0x1","0x1","0x1","0x1","0x1","0x1"]})",
         "boards[0].idcodes: must be an array of at most 8 codes"},
        {R"({})", "boards[0].idcodes: missing"},
        {R"({"idcodes": [], "pull": 2})", "boards[0].pull: must be 0 or 1"},
        {R"({"idcodes": [], "tdo_stuck": "1"})", "boards[0].tdo_stuck: must be 0, 1 or null"},
        {R"({"idcodes": ["0x1"], "nets": [["0:A1", "1:A1"]]})",
         "boards[0].nets[0][1]: \"1:A1\" names FPGA 1, but the chain has 1 device"},
        {R"({"idcodes": ["0x1"], "nets": [["0:ZZ9"]]})", "boards[0].nets[0][0]: no pin \"ZZ9\" in"},
        {R"({"idcodes": ["0x1"], "nets": [["0:$NOPE"]]})", "boards[0].nets[0][0]: no pin \"$NOPE\" in"},
        {R"({"idcodes": ["0x1"], "nets": [["0A1"]]})", "boards[0].nets[0][0]: must be an endpoint"},
        {R"({"idcodes": ["0x1"], "nets": ["0:A1"]})", "boards[0].nets[0]: must be an array of endpoints"},
        {R"({"idcodes": ["0x1"], "faults": [{}]})", "boards[0].faults[0]: a fault needs"},
        {R"({"idcodes": ["0x1"], "faults": [{"open": "0:A1", "stuck": "0:A1", "value": 0}]})",
         "boards[0].faults[0]: one fault per entry"},
        {R"({"idcodes": ["0x1"], "faults": [{"stuck": "0:A1"}]})", "boards[0].faults[0].value: missing"},
        {R"({"idcodes": ["0x1"], "faults": [{"stuck": "0:A1", "value": 2}]})", "boards[0].faults[0].value: must be 0 or 1"},
        {R"({"idcodes": ["0x1"], "faults": [{"short": ["0:A1", "0:B2", "0:C3"]}]})",
         "boards[0].faults[0].short: must be an array of two endpoints"},
        {R"({"idcodes": [], "onewire": [{"type": "DS9999", "serial": "000000000001"}]})", "boards[0].onewire[0]: "},
        {R"({"idcodes": [], "onewire": {}})", "boards[0].onewire: must be an array"},
        {R"(7)", "boards[0]: must be an object"},
    };
    std::vector<std::pair<std::string, std::string>> cases(std::begin(files), std::end(files));
    for (const auto& [board, message] : boards)
        cases.emplace_back(R"({"bsdl": "tiny.bsd", "boards": [)" + std::string(board) + "]}", message);
    for (const auto& [text, message] : cases) {
        std::string error;
        EXPECT_FALSE(Parse(text, &error)) << text;
        EXPECT_EQ(error.rfind(Prefix() + message, 0), 0u) << text << "\ngave " << error;
    }
    std::string error;
    EXPECT_FALSE(LoadBoardFile(m_Dir.File("none.json"), &error));
    EXPECT_EQ(error.rfind("board file " + m_Dir.File("none.json") + ": cannot read it", 0), 0u) << error;
}

}  // namespace
}  // namespace qbxsim
