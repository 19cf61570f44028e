// Runs the built `qbx-inspect vectors` and checks what it tells about vector files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "sim_board.h"
#include "test_files.h"

using namespace qbxtest;
using ::testing::HasSubstr;

namespace {

ProcessResult RunInspect(const std::vector<std::string>& args)
{
    ProcessOptions options;
    options.args = {"vectors"};
    options.args.insert(options.args.end(), args.begin(), args.end());
    return RunProcess(BuiltProgram("qbx-inspect"), options);
}

// The test-support BSDL: A12 is port IO_11, B5 is IO_36, every I/O has input, output and control
// cells.
class InspectVectors : public ::testing::Test {
protected:
    ProcessResult Run(const std::string& vectors)
    {
        WriteFile(m_Dir.File("test.vec"), vectors);
        return RunInspect({m_Bsdl, m_Dir.File("test.vec")});
    }
    TempDir m_Dir;
    std::string m_Bsdl = WriteFallbackBsdl(m_Dir.Path());
};

}  // namespace

TEST_F(InspectVectors, AnAcceptedFileShowsItsVectorsDigestAndTruthTable)
{
    const ProcessResult r = Run("<NETS>\r\nDRIVE:\r\n0-A12 0101\r\nSENSOR:\r\n1-$IO_36 0101\r\n</NETS>\r\n"
                                "<MORE>\r\nSENSOR:\r\n2-B7 10\r\n</MORE>\r\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_THAT(r.out, HasSubstr("vectors " + m_Dir.File("test.vec") +
                                 ": 3 pin lines, 5 vectors, 2 groups\n"
                                 "group NETS: 4 vectors\n"
                                 "group MORE: 1 vectors\n"));
    EXPECT_TRUE(std::regex_search(r.out, std::regex("\ndigest [0-9A-F]{32}\n"))) << r.out;
    EXPECT_THAT(r.out, HasSubstr("truth table:\n"
                                 "0-   A12_O 01010\n"
                                 "1-$IO_36_I 01010\n"
                                 "2-    B7_I 11110\n"
                                 "the station accepts this file\n"));
    EXPECT_THAT(r.out, ::testing::Not(HasSubstr("\r")));
}

TEST_F(InspectVectors, TheStationsMessagesAreShownAndARefusedFileExitsWithOne)
{
    const std::string refused = "the station refuses this file (\"vectors file " + m_Dir.File("test.vec") + " not found\"): ";
    ProcessResult r = Run("<NETS>\r\nDRIVE:\r\n0-A12 01\r\n9-B5 10\r\n3-ZZ99 1\r\n</NETS>\r\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, HasSubstr("warning: line 5: 1 values, where group NETS has 2\n"
                                 "reported: Error device 9 of pin B5 not in the chain (0 to 7)\n"
                                 "reported: Error pin ZZ99 not Found\n"));
    EXPECT_THAT(r.out, HasSubstr("\n9-  B5_? --\n3-ZZ99_? --\n"));
    EXPECT_THAT(r.out, HasSubstr(refused + "2 pin lines refused\n"));

    // A file that senses nothing would pass every board.
    r = Run("<NETS>\r\nDRIVE:\r\n0-A12 01\r\n</NETS>\r\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, HasSubstr(refused + "no vector senses a pin: the file would test nothing and pass every board\n"));

    // The second line's first value finds A12 claimed; its later value binds, so the station
    // starts, having printed the message.
    r = Run("<NETS>\r\nDRIVE:\r\n0-A12 01\r\n0-A12 10\r\nSENSOR:\r\n1-B7 01\r\n</NETS>\r\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("reported: Error pin A12 already used\n"
                                 "truth table:\n"));
    EXPECT_THAT(r.out, HasSubstr("the station accepts this file, with the messages above\n"));
}

TEST_F(InspectVectors, FilesThatCannotBeReadWrongUseAndTheExampleFiles)
{
    ProcessResult r = RunInspect({m_Dir.File("none.bsd"), m_Bsdl});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("cannot read BSDL file"));
    r = RunInspect({m_Bsdl, m_Dir.File("none.vec")});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("cannot read vector file"));
    r = RunInspect({m_Bsdl});
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("usage: qbx-inspect vectors BSDL VECTORS"));

    const std::string examples = std::string(QBX_SOURCE_DIR) + "/examples";
    r = RunInspect({examples + "/a3pe3000.bsd", examples + "/interconnect.vec"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_THAT(r.out, ::testing::EndsWith("\nthe station accepts this file\n"));
    EXPECT_THAT(r.out, ::testing::Not(HasSubstr("reported:")));
}
