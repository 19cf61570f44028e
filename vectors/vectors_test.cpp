#include "vectors.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <climits>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "error_report.h"
#include "files.h"
#include "test_files.h"

using namespace std::string_literals;

namespace {

// Records every pin line it is handed as "group/section/device/pin/bits"; accepts all of them
// unless told otherwise.
class CRecordingVectors : public CBsrVectors {
public:
    int AddPinVector(const std::string& group, int section, int device, const std::string& pin,
                     const std::string& bits) override
    {
        m_Calls.push_back(group + "/" + std::to_string(section) + "/" + std::to_string(device) + "/" + pin + "/" + bits);
        m_Bits.push_back(bits);
        return m_Accept ? m_Accept(pin, bits) : 1;
    }

    std::vector<std::string> m_Calls;
    std::vector<std::string> m_Bits;
    std::function<int(const std::string& pin, const std::string& bits)> m_Accept;
};

std::string Md5(std::string_view text)
{
    CDataHash hash;
    std::string hex;
    EXPECT_TRUE(hash.Init() && hash.AddString(text) && hash.GetHexString(hex));
    return hex;
}

std::string Join(const std::vector<std::string>& items)
{
    std::string s;
    for (const std::string& item : items)
        s += (s.empty() ? "" : " ") + item;
    return s;
}

class VectorFile : public ::testing::Test {
protected:
    void SetUp() override { g_BoardFail = 0; }

    std::string Write(const std::string& content, const std::string& name = "vectors.txt")
    {
        qbxtest::WriteFile(m_Dir.File(name), content);
        return m_Dir.File(name);
    }

    // Loads content with a fresh reader and returns the calls it made.
    std::string Calls(const std::string& content)
    {
        CRecordingVectors reader;
        reader.Load(Write(content).c_str());
        return Join(reader.m_Calls);
    }

    qbxtest::TempDir m_Dir;
};

}  // namespace

TEST_F(VectorFile, LinesAreClassifiedByTheirPatterns)
{
    const std::string head = "<G1>\nDRIVE:\n";
    struct {
        std::string text;
        const char* calls;
    } cases[] = {
        // Opening tags: at least two characters; the first tag of the line names the group.
        {"<A>\nDRIVE:\n0-P1 1", ""},
        {"xx <AB> yy <CD>\nDRIVE:\n0-P1 1", "AB/1/0/P1/1"},
        {"<My group 2>\nDRIVE:\n0-P1 1", "My group 2/1/0/P1/1"},
        {"</AB>\nDRIVE:\n0-P1 1", ""},
        {"<>\nDRIVE:\n0-P1 1", ""},
        {"<ABC\nDRIVE:\n0-P1 1", ""},
        // Section headers: either word in any letter case, blanks or TABs, then a colon.
        {"<AB>\nsensor:\n0-P1 1", "AB/0/0/P1/1"},
        {"<AB>\n\tDrive\t:\n0-P1 1", "AB/1/0/P1/1"},
        {"<AB>\ntext before sensor: and after\n0-P1 1", "AB/0/0/P1/1"},
        {"<AB>\nSENSOR\n0-P1 1", ""},
        {"<AB>\nSENS OR:\n0-P1 1", ""},
        // Pin lines: device, "-", pin name, blanks or TABs, the first run of 0 and 1.
        {head + "  3-P12 0110 # note", "G1/1/3/P12/0110"},
        {head + "3-P12 2\n3-P12\n3-P12 abc 01", ""},
        {head + "\t7-$LOCKPLL\t\t1", "G1/1/7/$LOCKPLL/1"},
        {head + "2-IO-A3 01", "G1/1/2/IO-A3/01"},
        {head + "3-P12 01x10\n3-P12  0110 1111", "G1/1/3/P12/01 G1/1/3/P12/0110"},
        // The device text runs to the first "-" and is read as atoi reads it; a line that begins
        // with "-" is matched from a later position.
        {head + "X-P12 01\n 12 -P3 1\n+4-P3 1\n4x-P3 1", "G1/1/0/P12/01 G1/1/12/P3/1 G1/1/4/P3/1 G1/1/4/P3/1"},
        {head + "-5-P1 1\n99999999999999999999-P1 1", "G1/1/5/P1/1 G1/1/2147483647/P1/1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Calls(c.text), c.calls) << c.text;

    for (auto [text, value] : {std::pair{"", 0}, {"abc", 0}, {" \t 42abc", 42}, {"-7", -7}, {"+0012", 12}, {"- 3", 0},
                               {"2147483648", INT_MAX}, {"-2147483648", INT_MIN}, {"-99999999999999999999999", INT_MIN}})
        EXPECT_EQ(ParseDeviceNumber(text), value) << text;
}

TEST_F(VectorFile, GroupsAndSectionsFollowTheStateTable)
{
    EXPECT_EQ(Calls("0-OUT0 1\n"   // outside any group
                    "<AB>\n"
                    "0-EARLY 1\n"  // before the section header
                    "</AB>\n"      // a closing tag before any section is skipped
                    "1-STILL 1\n"
                    "SENSOR:\n"
                    "2-IN 10\n"
                    "</AB>\n"
                    "3-AFTER 1\n"  // outside again
                    "DRIVE:\n"     // a section header outside a group
                    "4-AFTER2 1\n"),
              "AB/0/2/IN/10");
    EXPECT_EQ(Calls("<FIRST>\n"
                    "DRIVE:\n"
                    "0-A 1\n"
                    "<SECOND>\n"        // does not rename the open group
                    "1-B 0\n"
                    "  sensor :\n"      // switches the section inside the group
                    "2-C 01\n"
                    "</FIRST> 3-D 1\n"  // a pin line first: it stays in the group
                    "</FIRST>\n"
                    "<THIRD>\n"
                    "Drive:\n"
                    "4-E 1\n"
                    "5-F 0\n"),         // a group never closed runs to the end (and is refused)
              "FIRST/1/0/A/1 FIRST/1/1/B/0 FIRST/0/2/C/01 FIRST/0/0/D/1 THIRD/1/4/E/1 THIRD/1/5/F/0");
}

TEST_F(VectorFile, ACutFileIsRefusedAndLinesTakenAsTheyWereNotMeantAreWarnedAbout)
{
    // A file that ends inside a group, in its section or before it, is a file cut short.
    const std::pair<const char*, const char*> cut[] = {
        {"<NETS>\nDRIVE:\n0-P1 01\n", "group <NETS> is not closed before the end of the file"},
        {"<A1>\nDRIVE:\n0-P1 01\n</A1>\n<NETS>\n", "group <NETS> has no SENSOR or DRIVE section before the end of the file"},
    };
    for (const auto& [text, why] : cut) {
        CRecordingVectors reader;
        EXPECT_EQ(reader.Load(Write(text).c_str()), 0) << text;
        EXPECT_EQ(reader.m_LoadError, why);
    }

    CRecordingVectors reader;
    ASSERT_EQ(reader.Load(Write("<G1>\nDRIVE:\n0-P1 0101\nX-P2 0110\n+3 -P3 0011\n1-P4 011\n2-P5\n3 - P6 0101\n"
                                "text - not a pin line\n</G1>\n<G2>\nSENSOR:\n1-P7 01\n</G2>\n")
                              .c_str()),
              1);
    std::string warnings;
    for (const CBsrVectors::Warning& warning : reader.m_Warnings)
        warnings += std::to_string(warning.line) + ": " + warning.text + "\n";
    EXPECT_EQ(warnings,
              "4: device number \"X\" is not a number, read as 0\n"
              "6: 3 values, where group G1 has 4\n"
              "7: not a pin line (no bit string of 0 and 1 after the pin), skipped\n"
              "8: not a pin line (no bit string of 0 and 1 after the pin), skipped\n");
    EXPECT_EQ(Join(reader.m_PinNames), "P1 P2 P3 P4 P7");
    EXPECT_EQ(reader.m_LoadError, "");
}

TEST_F(VectorFile, RefusedLinesFailTheLoadButReadingGoesOn)
{
    CRecordingVectors reader;
    reader.m_Accept = [](const std::string& pin, const std::string&) { return pin.rfind("BAD", 0) != 0; };
    EXPECT_EQ(reader.Load(Write("<AB>\nDRIVE:\n0-P1 1\n1-BAD1 0\n2-P2 1\n3-BAD2 1\n4-P3 0\n</AB>").c_str()), 0);
    EXPECT_EQ(reader.m_LoadError, "2 pin lines refused");
    EXPECT_EQ(reader.m_Calls.size(), 5u);
    EXPECT_EQ(Join(reader.m_PinNames), "P1 BAD1 P2 BAD2 P3");
    EXPECT_EQ(reader.m_DeviceNumbers, (std::vector<int32_t>{0, 1, 2, 3, 4}));
    // The digest is made as for an accepted file; the refusal messages belong to AddPinVector.
    EXPECT_EQ(reader.m_VectorsDigest, Md5("<AB>DRIVE:0-P1 11-BAD1 02-P2 13-BAD2 14-P3 0</AB>"));
    EXPECT_EQ(g_BoardFail, 0);
}

// A line ends at LF, at CR LF, or at CR with the next byte dropped whatever it is; the digest
// covers every byte of every line, a NUL and what follows it included, and no line end; the
// patterns see a line up to its first NUL.
TEST_F(VectorFile, LineEndsNulBytesAndTheDigest)
{
    struct {
        std::string text;
        const char* calls;
        std::string hashed;
    } cases[] = {
        {"<AB>\nDRIVE:\n0-P1 01\n1-P2 10\n</AB>", "AB/1/0/P1/01 AB/1/1/P2/10", "<AB>DRIVE:0-P1 011-P2 10</AB>"},
        {"<AB>\r\nDRIVE:\r\n0-P1 01\r\n1-P2 10\r\n</AB>\r\n", "AB/1/0/P1/01 AB/1/1/P2/10", "<AB>DRIVE:0-P1 011-P2 10</AB>"},
        {"<AB>\r\nDRIVE:\r\n0-P1 01\r\n1-P2 10\r\n</AB>\r", "AB/1/0/P1/01 AB/1/1/P2/10", "<AB>DRIVE:0-P1 011-P2 10</AB>"},
        {"<AB>\rxDRIVE:\r\n0-P1 1\r2-P2 1\n3-P3 1\n</AB>", "AB/1/0/P1/1 AB/1/3/P3/1", "<AB>DRIVE:0-P1 1-P2 13-P3 1</AB>"},
        {"header\n\n<AB>\nignored text\nDRIVE:\n0-P1 1\n</AB>\ntrailer", "AB/1/0/P1/1",
         "header<AB>ignored textDRIVE:0-P1 1</AB>trailer"},
        // Behind the NUL of the fourth line is a closing tag that must not end the group.
        {"<AB>\nDRIVE:\n0-P1 01\0 1-P2 1\n\0</AB>\n3-P3 1\n</AB>"s, "AB/1/0/P1/01 AB/1/3/P3/1",
         "<AB>DRIVE:0-P1 01\0 1-P2 1\0</AB>3-P3 1</AB>"s},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        CRecordingVectors reader;
        ASSERT_EQ(reader.Load(Write(c.text).c_str()), 1) << c.text << reader.m_LoadError;
        EXPECT_EQ(Join(reader.m_Calls), c.calls) << c.text;
        EXPECT_EQ(reader.m_VectorsDigest, Md5(c.hashed)) << c.text;
    }
}

TEST_F(VectorFile, LoadingAgainStartsAfreshAndUnreadableFilesFail)
{
    CRecordingVectors reader;
    const std::string first = Write("<AB>\nDRIVE:\n0-P1 1\n1-P2 0\n</AB>\n", "first.txt");
    ASSERT_EQ(reader.Load(first.c_str()), 1);
    ASSERT_EQ(reader.Load(first.c_str()), 1);
    EXPECT_EQ(Join(reader.m_PinNames), "P1 P2");
    EXPECT_EQ(reader.m_DeviceNumbers, (std::vector<int32_t>{0, 1}));
    ASSERT_EQ(reader.Load(Write("<CD>\nSENSOR:\n5-Q9 1\n</CD>", "second.txt").c_str()), 1);
    EXPECT_EQ(Join(reader.m_PinNames), "Q9");
    EXPECT_EQ(reader.m_Calls.back(), "CD/0/5/Q9/1");  // nothing of the first file carries over
    const std::string digest = reader.m_VectorsDigest;
    EXPECT_EQ(digest, Md5("<CD>SENSOR:5-Q9 1</CD>"));

    // A missing file, anything but a regular file (a FIFO is not waited on), a file beyond the
    // size limit and no name fail, empty the lists, keep the digest and say why.
    const std::string missing = m_Dir.File("missing.txt"), fifo = m_Dir.File("fifo"), big = Write("", "big.txt");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::resize_file(big, platform::kMaxInputFileSize + 1);
    const std::pair<const char*, const char*> cases[] = {
        {missing.c_str(), ""},
        {m_Dir.Path().c_str(), "a folder, not a regular file"},
        {fifo.c_str(), "a FIFO, not a regular file"},
        {"/dev/zero", "a device, not a regular file"},
        {big.c_str(), "larger than 64 MiB"},
        {nullptr, ""},
    };
    for (const auto& [path, why] : cases) {
        EXPECT_EQ(reader.Load(path), 0);
        EXPECT_EQ(reader.m_LoadError, why);
        EXPECT_TRUE(reader.m_PinNames.empty() && reader.m_DeviceNumbers.empty());
        EXPECT_EQ(reader.m_VectorsDigest, digest);
    }
    EXPECT_EQ(reader.m_Calls.size(), 5u);
    EXPECT_EQ(g_BoardFail, 0);
}

TEST_F(VectorFile, DigestFailureIsReportedAndReadingGoesOn)
{
    const std::string path = Write("<AB>\nDRIVE:\n0-P1 1\n</AB>\n");
    CRecordingVectors reader;
    ASSERT_EQ(reader.Load(path.c_str()), 1);
    const std::string digest = reader.m_VectorsDigest;

    CDataHash::ScopedInitFailure failure;
    testing::internal::CaptureStdout();
    EXPECT_EQ(reader.Load(path.c_str()), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR Init Hash\r\n");
    EXPECT_EQ(g_BoardFail, 1);
    EXPECT_EQ(reader.m_Calls.size(), 2u);
    EXPECT_EQ(reader.m_VectorsDigest, digest);  // the previous digest stays

    CRecordingVectors fresh;
    testing::internal::CaptureStdout();
    EXPECT_EQ(fresh.Load(path.c_str()), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR Init Hash\r\n");
    EXPECT_TRUE(fresh.m_VectorsDigest.empty());
}

TEST_F(VectorFile, HugeLinesAreReadWholeAndSkippedQuickly)
{
    // A bit string longer than any read block, and lines that keep each pattern busy to their end
    // without ever matching (a quadratic search would not finish).
    const size_t size = 1u << 20;
    std::string bits(size, '0');
    bits.back() = '1';
    const std::string text = std::string(size, '<') + "\n<AB>\n" + std::string(size, 'S') + "\nDRIVE:\n" +
                             std::string(size, 'x') + "\n" + std::string(size, ' ') + "\n0-P1 " + bits + "\n1-P2 1\n</AB>\n";
    CRecordingVectors reader;
    ASSERT_EQ(reader.Load(Write(text).c_str()), 1);
    ASSERT_EQ(reader.m_Calls.size(), 2u);
    EXPECT_EQ(reader.m_Bits[0], bits);
    EXPECT_EQ(reader.m_Calls[1], "AB/1/1/P2/1");
}

// Random files built from the file's own tokens and arbitrary bytes: the two lists stay parallel
// and agree with the calls, the result is the AND of the answers, and the digest is the MD5 of
// the bytes without line ends.
TEST_F(VectorFile, RandomFilesKeepTheReaderConsistent)
{
    const std::string tokens[] = {"<", ">", "</", "<AB>", "</AB>", "SENSOR", "drive", ":", "-", "0", "1", "01",
                                  " ", "\t", "\n", "\r", "\r\n", "$", "P12", "7", "\0"s};
    std::mt19937 rng(20240601);
    for (int round = 0; round < 100; ++round) {
        std::string text;
        for (int pieces = std::uniform_int_distribution<int>(0, 400)(rng); pieces > 0; --pieces)
            text += rng() % 5 == 0 ? std::string(1, static_cast<char>(rng() & 0xFF)) : tokens[rng() % std::size(tokens)];
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
        reader.m_Accept = [&](const std::string&, const std::string& bits) {
            int accept = (bits.size() & refuseMask) == 0 ? 1 : 0;
            expected &= accept;
            return accept;
        };
        const int loaded = reader.Load(Write(text).c_str());
        // A file whose last group is open is refused whatever its lines said.
        const bool cut = reader.m_LoadError.rfind("group <", 0) == 0;
        ASSERT_EQ(loaded, cut ? 0 : expected) << "round " << round;
        ASSERT_EQ(reader.m_PinNames.size(), reader.m_Calls.size());
        ASSERT_EQ(reader.m_DeviceNumbers.size(), reader.m_Calls.size());
        for (size_t i = 0; i < reader.m_Calls.size(); ++i) {
            const std::string listed = std::to_string(reader.m_DeviceNumbers[i]) + "/" + reader.m_PinNames[i] + "/";
            EXPECT_NE(reader.m_Calls[i].find("/" + listed + reader.m_Bits[i]), std::string::npos) << reader.m_Calls[i];
            EXPECT_EQ(reader.m_Bits[i].find_first_not_of("01"), std::string::npos);
        }
        ASSERT_EQ(reader.m_VectorsDigest, Md5(hashed)) << "round " << round;
    }
}
