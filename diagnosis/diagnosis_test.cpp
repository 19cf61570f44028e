// Hand-written vector files whose codes do not form nets: each problem is named, the pins it
// concerns stay off the nets, and their failures are shown unexplained rather than blamed on a net.
#include <gtest/gtest.h>

#include "diagnosis.h"
#include "vectors.h"

namespace {

_PINLINE Drive(int fpga, const std::string& pin, const std::string& bits, const std::string& group = "G")
{
    return {group, SECTION_DRIVE, fpga, pin, bits};
}

_PINLINE Sense(int fpga, const std::string& pin, const std::string& bits, const std::string& group = "G")
{
    return {group, SECTION_SENSOR, fpga, pin, bits};
}

}  // namespace

TEST(NetModel, ProblemsOfHandWrittenFilesAreNamedAndTheirPinsStayOffTheNets)
{
    struct Case {
        std::vector<_PINLINE> lines;
        std::string problem;  // the first problem named ("" none)
        size_t nets;
        size_t loose;
    };
    const Case cases[] = {
        {{Drive(0, "A1", "0110"), Sense(1, "B1", "0110"), Drive(0, "A2", "0101"), Sense(1, "B2", "0101")}, "", 2, 0},
        {{Sense(1, "B1", "0110")}, "the vector file has no DRIVE line: there is no net to name", 0, 1},
        {{Drive(0, "A1", "0110"), Drive(0, "A2", "0110"), Sense(1, "B1", "0110")},
         "DRIVE lines with the same values (nets that cannot be told apart): 0-A2 and 0-A1", 1, 0},
        {{Drive(0, "A1", "1111"), Sense(1, "B1", "1111")}, "DRIVE lines that never change level (stuck nets cannot be seen): 0-A1", 1, 0},
        {{Drive(0, "A1", "0110"), Sense(1, "B1", "0111"), Sense(1, "B2", "1"), Sense(1, "B3", "0"), Sense(1, "B4", "00")},
         "SENSOR lines whose values are no DRIVE line's (pins on no net): 1-B1, 1-B2, 1-B3 and 1 more", 1, 4},
        {{Drive(0, "A1", "0110"), Sense(1, "B1", "0110"), Sense(1, "B1", "0110")}, "pins on more than one line (left out): 1-B1", 1, 0},
    };
    for (const Case& c : cases) {
        CNetModel model;
        std::vector<std::string> problems;
        model.Build(c.lines, _BSDLDATA{}, problems);
        EXPECT_EQ(problems.empty() ? "" : problems[0], c.problem);
        EXPECT_EQ(model.nets.size(), c.nets) << c.problem;
        EXPECT_EQ(model.loose.size(), c.loose) << c.problem;
    }
}

TEST(NetModel, ValuesAreLaidIntoVectorsAsTheBoardModelLaysThemAcrossGroups)
{
    // Vector 0, then G's vectors 1 and 2, then H's vector 3: a line's first value holds in every
    // vector its group does not set.
    CNetModel model;
    std::vector<std::string> problems;
    model.Build({Drive(0, "A1", "011"), Drive(0, "A2", "10", "H"), Sense(1, "B1", "01", "H"), Sense(1, "B2", "011")}, _BSDLDATA{}, problems);
    ASSERT_EQ(model.vectorCount, 4u);
    ASSERT_EQ(model.nets.size(), 2u);
    EXPECT_EQ(model.nets[0].driver.values, "0110");
    EXPECT_EQ(model.nets[1].driver.values, "1110");
    EXPECT_EQ(model.nets[0].receivers.at(0).pin, "B2");
    EXPECT_EQ(model.loose.at(0).values, "0001") << "B1 expects what no driver drives";
    EXPECT_EQ(problems.size(), 1u);

    // A wrong cell on a pin of no net, and a receiver reading neither a constant nor a short.
    const std::vector<_NETFAULT> faults =
        Diagnose(model, {{1, "B1", "", 3, 0}, {1, "B2", "", 1, 0}, {1, "B2", "", 3, 1}});
    ASSERT_EQ(faults.size(), 2u);
    EXPECT_EQ(DescribeNetFault(model, faults[0]), "net fpga 0 pin:A1 (A1): unexplained: fpga 1 pin:B2 (B2) reads 0011, expected 0110");
    EXPECT_EQ(DescribeNetFault(model, faults[1]), "unexplained: fpga 1 pin:B1 (B1) read wrong in vectors 3=0 and is on no net");
}
