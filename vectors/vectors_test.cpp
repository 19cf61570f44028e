#include "vectors.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "error_report.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

struct PinCall {
    std::string group;
    int section;
    int device;
    std::string pin;
    std::string bits;
    bool operator==(const PinCall&) const = default;
};

std::ostream& operator<<(std::ostream& out, const PinCall& c)
{
    return out << "{" << c.group << "," << c.section << "," << c.device << "," << c.pin << "," << c.bits << "}";
}

// Records every pin line it is handed; accepts all of them unless told otherwise.
class CRecordingVectors : public CBsrVectors {
public:
    int AddPinVector(const std::string& group, int section, int device, const std::string& pin,
                     const std::string& bits) override
    {
        m_Calls.push_back({group, section, device, pin, bits});
        return m_Accept ? m_Accept(m_Calls.back()) : 1;
    }

    std::vector<PinCall> m_Calls;
    std::function<int(const PinCall&)> m_Accept;
};

std::string Md5(std::string_view text)
{
    CDataHash hash;
    EXPECT_TRUE(hash.Init());
    EXPECT_TRUE(hash.AddString(text));
    std::string hex;
    EXPECT_TRUE(hash.GetHexString(hex));
    return hex;
}

class VectorFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "qbx-vectors-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_Dir = pattern;
        g_BoardFail = 0;
    }
    void TearDown() override { fs::remove_all(m_Dir); }

    std::string Write(const std::string& content, const std::string& name = "vectors.txt")
    {
        fs::path path = m_Dir / name;
        std::ofstream out(path, std::ios::binary);
        out << content;
        return path.string();
    }

    // Loads content with a fresh reader and returns the calls it made.
    std::vector<PinCall> Calls(const std::string& content)
    {
        CRecordingVectors reader;
        EXPECT_EQ(reader.Load(Write(content).c_str()), 1) << content;
        return reader.m_Calls;
    }

    fs::path m_Dir;
};

const std::string BLOCK_HEAD = "<G1>\nDRIVE:\n";

}  // namespace

TEST_F(VectorFile, EmptyFileReadsAsSuccessWithTheDigestOfNothing)
{
    CRecordingVectors reader;
    ASSERT_EQ(reader.Load(Write("").c_str()), 1);
    EXPECT_TRUE(reader.m_PinNames.empty());
    EXPECT_TRUE(reader.m_DeviceNumbers.empty());
    EXPECT_TRUE(reader.m_Calls.empty());
    EXPECT_EQ(reader.m_VectorsDigest, "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(g_BoardFail, 0);
}

TEST_F(VectorFile, FileThatCannotBeReadFailsAndKeepsTheDigest)
{
    CRecordingVectors reader;
    ASSERT_EQ(reader.Load(Write("<AB>\nDRIVE:\n0-P1 1\n").c_str()), 1);
    const std::string digest = reader.m_VectorsDigest;
    ASSERT_EQ(reader.m_PinNames.size(), 1u);

    EXPECT_EQ(reader.Load((m_Dir / "missing.txt").c_str()), 0);
    EXPECT_TRUE(reader.m_PinNames.empty());
    EXPECT_TRUE(reader.m_DeviceNumbers.empty());
    EXPECT_EQ(reader.m_VectorsDigest, digest);

    // A folder opens on Linux but cannot be read: that is a failure too, not an empty file.
    EXPECT_EQ(reader.Load(m_Dir.c_str()), 0);
    EXPECT_EQ(reader.m_VectorsDigest, digest);
    EXPECT_EQ(reader.Load(nullptr), 0);
    EXPECT_EQ(reader.m_Calls.size(), 1u);
    EXPECT_EQ(g_BoardFail, 0);
}

TEST_F(VectorFile, OpeningTagsNeedTwoCharactersAndTakeTheFirstTag)
{
    const std::string rest = "\nDRIVE:\n0-P1 1\n";
    EXPECT_TRUE(Calls("<A>" + rest).empty());
    ASSERT_EQ(Calls("<AB>" + rest).size(), 1u);
    EXPECT_EQ(Calls("<AB>" + rest)[0].group, "AB");
    EXPECT_EQ(Calls("xx <AB> yy" + rest)[0].group, "AB");
    EXPECT_EQ(Calls("<AB> <CD>" + rest)[0].group, "AB");
    EXPECT_EQ(Calls("<My group 2>" + rest)[0].group, "My group 2");
    // A closing tag does not open a group, and "<>" or an unclosed "<" are no tags.
    EXPECT_TRUE(Calls("</AB>" + rest).empty());
    EXPECT_TRUE(Calls("<>" + rest).empty());
    EXPECT_TRUE(Calls("<ABC" + rest).empty());
}

TEST_F(VectorFile, SectionHeadersIgnoreCaseAndNeedTheColon)
{
    auto section = [&](const std::string& header) {
        std::vector<PinCall> calls = Calls("<AB>\n" + header + "\n0-P1 1\n");
        return calls.empty() ? -1 : calls[0].section;
    };
    EXPECT_EQ(section("sensor:"), SECTION_SENSOR);
    EXPECT_EQ(section("  Drive :"), SECTION_DRIVE);
    EXPECT_EQ(section("SENSOR:"), SECTION_SENSOR);
    EXPECT_EQ(section("\tDRIVE\t:"), SECTION_DRIVE);
    EXPECT_EQ(section("text before sensor: and after"), SECTION_SENSOR);
    EXPECT_EQ(section("SENSOR"), -1);
    EXPECT_EQ(section("SENSOR -"), -1);
    EXPECT_EQ(section("SENS OR:"), -1);
}

TEST_F(VectorFile, PinLinesGiveDevicePinAndBits)
{
    auto pin = [&](const std::string& line) {
        std::vector<PinCall> calls = Calls(BLOCK_HEAD + line + "\n");
        return calls.empty() ? PinCall{"-", -1, -1, "-", "-"} : calls[0];
    };
    const PinCall none{"-", -1, -1, "-", "-"};
    EXPECT_EQ(pin("  3-P12 0110"), (PinCall{"G1", 1, 3, "P12", "0110"}));
    EXPECT_EQ(pin("3-P12 0110 # note"), (PinCall{"G1", 1, 3, "P12", "0110"}));
    EXPECT_EQ(pin("3-P12 2"), none);
    EXPECT_EQ(pin("3-P12"), none);
    EXPECT_EQ(pin("3-P12 abc 01"), none);
    EXPECT_EQ(pin("X-P12 01"), (PinCall{"G1", 1, 0, "P12", "01"}));
    // Tabs separate like blanks; "$" names and "-" inside names are kept.
    EXPECT_EQ(pin("\t7-$LOCKPLL\t\t1"), (PinCall{"G1", 1, 7, "$LOCKPLL", "1"}));
    EXPECT_EQ(pin("2-IO-A3 01"), (PinCall{"G1", 1, 2, "IO-A3", "01"}));
    // The bit string is the first run of 0 and 1.
    EXPECT_EQ(pin("3-P12 01x10"), (PinCall{"G1", 1, 3, "P12", "01"}));
    EXPECT_EQ(pin("3-P12  0110 1111"), (PinCall{"G1", 1, 3, "P12", "0110"}));
    // Device text runs to the first "-" and is read as atoi reads it.
    EXPECT_EQ(pin(" 12 -P3 1"), (PinCall{"G1", 1, 12, "P3", "1"}));
    EXPECT_EQ(pin("+4-P3 1"), (PinCall{"G1", 1, 4, "P3", "1"}));
    EXPECT_EQ(pin("4x-P3 1"), (PinCall{"G1", 1, 4, "P3", "1"}));
    // A line that begins with "-" is matched from a later position.
    EXPECT_EQ(pin("-5-P1 1"), (PinCall{"G1", 1, 5, "P1", "1"}));
    // Beyond the range of int the number saturates instead of wrapping.
    EXPECT_EQ(pin("99999999999999999999-P1 1").device, INT_MAX);
}

TEST_F(VectorFile, DeviceNumbersConvertAsAtoiWithoutOverflow)
{
    EXPECT_EQ(ParseDeviceNumber(""), 0);
    EXPECT_EQ(ParseDeviceNumber("abc"), 0);
    EXPECT_EQ(ParseDeviceNumber(" \t 42abc"), 42);
    EXPECT_EQ(ParseDeviceNumber("-7"), -7);
    EXPECT_EQ(ParseDeviceNumber("+0012"), 12);
    EXPECT_EQ(ParseDeviceNumber("- 3"), 0);
    EXPECT_EQ(ParseDeviceNumber("2147483647"), INT_MAX);
    EXPECT_EQ(ParseDeviceNumber("2147483648"), INT_MAX);
    EXPECT_EQ(ParseDeviceNumber("-2147483648"), INT_MIN);
    EXPECT_EQ(ParseDeviceNumber("-99999999999999999999999999"), INT_MIN);
}

TEST_F(VectorFile, OnlyPinLinesInsideASectionCount)
{
    CRecordingVectors reader;
    ASSERT_EQ(reader.Load(Write("0-OUT0 1\n"          // outside any group
                                "<AB>\n"
                                "0-EARLY 1\n"         // before the section header
                                "</AB>\n"             // a closing tag before any section is skipped
                                "1-STILL 1\n"
                                "SENSOR:\n"
                                "2-IN 10\n"
                                "</AB>\n"
                                "3-AFTER 1\n"         // outside again
                                "DRIVE:\n"            // a section header outside a group
                                "4-AFTER2 1\n")
                              .c_str()),
              1);
    ASSERT_EQ(reader.m_Calls.size(), 1u);
    EXPECT_EQ(reader.m_Calls[0], (PinCall{"AB", SECTION_SENSOR, 2, "IN", "10"}));
    EXPECT_EQ(reader.m_PinNames, std::vector<std::string>{"IN"});
    EXPECT_EQ(reader.m_DeviceNumbers, std::vector<int32_t>{2});
}

TEST_F(VectorFile, GroupsAndSectionsFollowTheStateTable)
{
    std::vector<PinCall> calls = Calls("<FIRST>\n"
                                       "DRIVE:\n"
                                       "0-A 1\n"
                                       "<SECOND>\n"          // does not rename the open group
                                       "1-B 0\n"
                                       "  sensor :\n"        // switches the section inside the group
                                       "2-C 01\n"
                                       "</FIRST> 3-D 1\n"    // a pin line first: it stays in the group
                                       "</FIRST>\n"
                                       "<THIRD>\n"
                                       "Drive:\n"
                                       "4-E 1\n"
                                       "5-F 0\n");          // a group never closed runs to the end
    std::vector<PinCall> expected = {
        {"FIRST", SECTION_DRIVE, 0, "A", "1"},  {"FIRST", SECTION_DRIVE, 1, "B", "0"},
        {"FIRST", SECTION_SENSOR, 2, "C", "01"}, {"FIRST", SECTION_SENSOR, 0, "D", "1"},
        {"THIRD", SECTION_DRIVE, 4, "E", "1"},   {"THIRD", SECTION_DRIVE, 5, "F", "0"},
    };
    EXPECT_EQ(calls, expected);
}

TEST_F(VectorFile, RefusedLinesFailTheLoadButReadingGoesOn)
{
    CRecordingVectors reader;
    reader.m_Accept = [](const PinCall& call) { return call.pin != "BAD1" && call.pin != "BAD2"; };
    const std::string path = Write("<AB>\nDRIVE:\n0-P1 1\n1-BAD1 0\n2-P2 1\n3-BAD2 1\n4-P3 0\n");
    EXPECT_EQ(reader.Load(path.c_str()), 0);
    EXPECT_EQ(reader.m_Calls.size(), 5u);
    EXPECT_EQ(reader.m_PinNames, (std::vector<std::string>{"P1", "BAD1", "P2", "BAD2", "P3"}));
    EXPECT_EQ(reader.m_DeviceNumbers, (std::vector<int32_t>{0, 1, 2, 3, 4}));
    // The digest is made as for an accepted file.
    EXPECT_EQ(reader.m_VectorsDigest, Md5("<AB>DRIVE:0-P1 11-BAD1 02-P2 13-BAD2 14-P3 0"));
    // The refusal messages belong to AddPinVector; the reader adds none.
    EXPECT_EQ(g_BoardFail, 0);
}

TEST_F(VectorFile, LineEndsAreLfCrLfOrCrWithTheNextByteDropped)
{
    const std::string lf = "<AB>\nDRIVE:\n0-P1 01\n1-P2 10";
    const std::string crlf = "<AB>\r\nDRIVE:\r\n0-P1 01\r\n1-P2 10\r\n";
    CRecordingVectors a;
    CRecordingVectors b;
    ASSERT_EQ(a.Load(Write(lf, "lf.txt").c_str()), 1);
    ASSERT_EQ(b.Load(Write(crlf, "crlf.txt").c_str()), 1);
    EXPECT_EQ(a.m_Calls, b.m_Calls);
    ASSERT_EQ(a.m_Calls.size(), 2u);  // the last line needs no line end
    EXPECT_EQ(a.m_Calls[1].pin, "P2");
    EXPECT_EQ(a.m_VectorsDigest, b.m_VectorsDigest);
    EXPECT_EQ(a.m_VectorsDigest, Md5("<AB>DRIVE:0-P1 011-P2 10"));

    // After a CR the next byte is dropped whatever it is.
    std::vector<PinCall> calls = Calls("<AB>\rxDRIVE:\r\n0-P1 1\r2-P2 1\n3-P3 1");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].pin, "P1");
    EXPECT_EQ(calls[1].pin, "P3");  // "2" was dropped, so "-P2 1" is no pin line
    // A CR at the very end of the file has no byte to drop.
    CRecordingVectors c;
    ASSERT_EQ(c.Load(Write("<AB>\r\nDRIVE:\r\n0-P1 01\r\n1-P2 10\r").c_str()), 1);
    EXPECT_EQ(c.m_VectorsDigest, a.m_VectorsDigest);
}

TEST_F(VectorFile, DigestCoversEveryLineButNoLineEnd)
{
    CRecordingVectors reader;
    const std::string text = "header\n\n<AB>\nignored text\nDRIVE:\n0-P1 1\n</AB>\ntrailer";
    ASSERT_EQ(reader.Load(Write(text).c_str()), 1);
    EXPECT_EQ(reader.m_VectorsDigest, Md5("header<AB>ignored textDRIVE:0-P1 1</AB>trailer"));
    EXPECT_EQ(reader.m_VectorsDigest.size(), HASH_HEX_LENGTH);

    // Changing a skipped line changes the digest.
    CRecordingVectors other;
    ASSERT_EQ(other.Load(Write("header\n\n<AB>\nIgnored text\nDRIVE:\n0-P1 1\n</AB>\ntrailer").c_str()), 1);
    EXPECT_NE(other.m_VectorsDigest, reader.m_VectorsDigest);
    EXPECT_EQ(other.m_Calls, reader.m_Calls);
}

TEST_F(VectorFile, NulEndsTheUsableTextButTheDigestCoversTheWholeLine)
{
    // Behind the NUL of the fourth line is a closing tag that must not end the group.
    const std::string text = "<AB>\nDRIVE:\n0-P1 01\0 1-P2 1\n\0</AB>\n3-P3 1\n"s;
    CRecordingVectors reader;
    ASSERT_EQ(reader.Load(Write(text).c_str()), 1);
    ASSERT_EQ(reader.m_Calls.size(), 2u);
    EXPECT_EQ(reader.m_Calls[0], (PinCall{"AB", SECTION_DRIVE, 0, "P1", "01"}));
    EXPECT_EQ(reader.m_Calls[1], (PinCall{"AB", SECTION_DRIVE, 3, "P3", "1"}));
    EXPECT_EQ(reader.m_VectorsDigest, Md5("<AB>DRIVE:0-P1 01\0 1-P2 1\0</AB>3-P3 1"s));
    // So a file that differs only behind a NUL has another digest.
    CRecordingVectors other;
    ASSERT_EQ(other.Load(Write("<AB>\nDRIVE:\n0-P1 01\0 1-P2 0\n\0</AB>\n3-P3 1\n"s).c_str()), 1);
    EXPECT_EQ(other.m_Calls, reader.m_Calls);
    EXPECT_NE(other.m_VectorsDigest, reader.m_VectorsDigest);
}

TEST_F(VectorFile, LoadingAgainStartsAfresh)
{
    CRecordingVectors reader;
    const std::string first = Write("<AB>\nDRIVE:\n0-P1 1\n1-P2 0\n", "first.txt");
    const std::string second = Write("<CD>\nSENSOR:\n5-Q9 1\n", "second.txt");
    ASSERT_EQ(reader.Load(first.c_str()), 1);
    const std::string digest = reader.m_VectorsDigest;
    ASSERT_EQ(reader.Load(first.c_str()), 1);
    EXPECT_EQ(reader.m_VectorsDigest, digest);
    EXPECT_EQ(reader.m_PinNames, (std::vector<std::string>{"P1", "P2"}));
    EXPECT_EQ(reader.m_DeviceNumbers, (std::vector<int32_t>{0, 1}));
    EXPECT_EQ(reader.m_Calls.size(), 4u);

    ASSERT_EQ(reader.Load(second.c_str()), 1);
    EXPECT_EQ(reader.m_PinNames, std::vector<std::string>{"Q9"});
    EXPECT_EQ(reader.m_DeviceNumbers, std::vector<int32_t>{5});
    EXPECT_EQ(reader.m_VectorsDigest, Md5("<CD>SENSOR:5-Q9 1"));
    // The group and section of the first file do not carry over.
    EXPECT_EQ(reader.m_Calls.back(), (PinCall{"CD", SECTION_SENSOR, 5, "Q9", "1"}));
}

TEST_F(VectorFile, DigestFailureIsReportedAndReadingGoesOn)
{
    const std::string path = Write("<AB>\nDRIVE:\n0-P1 1\n");
    CRecordingVectors reader;
    ASSERT_EQ(reader.Load(path.c_str()), 1);
    const std::string digest = reader.m_VectorsDigest;
    ASSERT_EQ(g_BoardFail, 0);

    CDataHash::ScopedInitFailure failure;
    testing::internal::CaptureStdout();
    EXPECT_EQ(reader.Load(path.c_str()), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR Init Hash\r\n");
    EXPECT_EQ(g_BoardFail, 1);
    EXPECT_EQ(reader.m_Calls.size(), 2u);
    EXPECT_EQ(reader.m_PinNames.size(), 1u);
    EXPECT_EQ(reader.m_VectorsDigest, digest);  // the previous digest stays

    CRecordingVectors fresh;
    testing::internal::CaptureStdout();
    EXPECT_EQ(fresh.Load(path.c_str()), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR Init Hash\r\n");
    EXPECT_TRUE(fresh.m_VectorsDigest.empty());
    EXPECT_EQ(fresh.m_Calls.size(), 1u);
}

TEST_F(VectorFile, HugeLinesAreReadWhole)
{
    const size_t size = 10u << 20;
    std::string bits(size, '0');
    bits[size - 1] = '1';
    std::string garbage(size, 'a');
    std::string text = "<AB>\nDRIVE:\n" + garbage + "\n0-P1 " + bits + "\n1-P2 1\n";
    CRecordingVectors reader;
    ASSERT_EQ(reader.Load(Write(text).c_str()), 1);
    ASSERT_EQ(reader.m_Calls.size(), 2u);
    EXPECT_EQ(reader.m_Calls[0].bits.size(), size);
    EXPECT_EQ(reader.m_Calls[0].bits.back(), '1');
    EXPECT_EQ(reader.m_Calls[1].pin, "P2");
}

TEST_F(VectorFile, HugeLinesOfTagAndPinFragmentsAreSkipped)
{
    // Lines that keep each pattern busy to their end without ever matching (2 MB each, so that
    // the suite stays quick under the sanitizers; the 10 MB case is above).
    const size_t size = 2u << 20;
    std::string text = std::string(size, '<') + "\n<AB>\n" + std::string(size, 'S') + "\nDRIVE:\n" +
                       std::string(size, 'x') + "\n" + std::string(size, ' ') + "\n0-P1 1\n";
    CRecordingVectors reader;
    ASSERT_EQ(reader.Load(Write(text).c_str()), 1);
    ASSERT_EQ(reader.m_Calls.size(), 1u);
    EXPECT_EQ(reader.m_Calls[0], (PinCall{"AB", SECTION_DRIVE, 0, "P1", "1"}));
}

// Random files built from the file's own tokens and arbitrary bytes: the reader must never crash
// or hang, the two lists must stay parallel and agree with the calls, the result must be the AND
// of the answers, and the digest must be the MD5 of the bytes without line ends.
TEST_F(VectorFile, RandomFilesKeepTheReaderConsistent)
{
    const char* const tokens[] = {"<", ">", "</", "<AB>", "</AB>", "SENSOR", "drive", ":", "-", "0", "1",
                                  "01", " ", "\t", "\n", "\r", "\r\n", "$", "P12", "7", "\0"};
    std::mt19937 rng(20240601);
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const int pieces = std::uniform_int_distribution<int>(0, 400)(rng);
        for (int i = 0; i < pieces; ++i) {
            if (rng() % 5 == 0) {
                text += static_cast<char>(rng() & 0xFF);
            } else {
                const char* token = tokens[rng() % std::size(tokens)];
                text += token[0] == '\0' ? std::string(1, '\0') : std::string(token);
            }
        }
        // The digest input: every byte except LF, CR and the byte after a CR.
        std::string hashed;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r')
                ++i;
            else if (text[i] != '\n')
                hashed += text[i];
        }

        CRecordingVectors reader;
        const unsigned refuseMask = rng() % 4;  // refuse some lines in some rounds
        int expected = 1;
        reader.m_Accept = [&](const PinCall& call) {
            int accept = (call.bits.size() & refuseMask) == 0 ? 1 : 0;
            expected &= accept;
            return accept;
        };
        ASSERT_EQ(reader.Load(Write(text).c_str()), expected) << "round " << round;
        ASSERT_EQ(reader.m_PinNames.size(), reader.m_Calls.size());
        ASSERT_EQ(reader.m_DeviceNumbers.size(), reader.m_Calls.size());
        for (size_t i = 0; i < reader.m_Calls.size(); ++i) {
            const PinCall& call = reader.m_Calls[i];
            EXPECT_EQ(reader.m_PinNames[i], call.pin);
            EXPECT_EQ(reader.m_DeviceNumbers[i], call.device);
            EXPECT_FALSE(call.pin.empty());
            EXPECT_FALSE(call.bits.empty());
            EXPECT_EQ(call.bits.find_first_not_of("01"), std::string::npos);
            EXPECT_TRUE(call.section == SECTION_SENSOR || call.section == SECTION_DRIVE);
            EXPECT_GE(call.group.size(), 2u);
        }
        ASSERT_EQ(reader.m_VectorsDigest, Md5(hashed)) << "round " << round;
    }
}
