#include "vectors.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "datahash_test_support.h"
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
        return m_Accept ? m_Accept(pin) : 1;
    }

    std::vector<std::string> m_Calls;
    std::function<int(const std::string& pin)> m_Accept;
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

// Each text holds lines that must not be taken for what they resemble before one that must: taking
// one of them would change the calls.
TEST_F(VectorFile, LinesAreClassifiedByTheirPatterns)
{
    const std::string head = "<G1>\nDRIVE:\n";
    const std::pair<std::string, const char*> cases[] = {
        // Opening tags: at least two characters; the first tag of the line names the group.
        {"<A>\n</AB>\n<>\n<ABC\nxx <AB> yy <CD>\nDRIVE:\n0-P1 1\n</AB>\n<My group 2>\nDRIVE:\n1-P1 1",
         "AB/1/0/P1/1 My group 2/1/1/P1/1"},
        // Section headers: either word in any letter case, blanks or TABs, then a colon.
        {"<AB>\nSENSOR\n0-P1 1\nSENS OR:\n1-P1 1\nsensor:\n2-P1 1\n\tDrive\t:\n3-P1 1\n"
         "text before sensor: and after\n4-P1 1",
         "AB/0/2/P1/1 AB/1/3/P1/1 AB/0/4/P1/1"},
        // Pin lines: device, "-", pin name, blanks or TABs, the first run of 0 and 1.
        {head + "  3-P12 0110 # note\n3-P12 2\n3-P12\n3-P12 abc 01\n\t7-$LOCKPLL\t\t1\n2-IO-A3 01\n3-P12 01x10\n"
                "3-P12  0110 1111",
         "G1/1/3/P12/0110 G1/1/7/$LOCKPLL/1 G1/1/2/IO-A3/01 G1/1/3/P12/01 G1/1/3/P12/0110"},
        // The device text runs to the first "-" and is read as atoi reads it; a line that begins
        // with "-" is matched from a later position.
        {head + "X-P12 01\n 12 -P3 1\n+4-P3 1\n4x-P3 1\n-5-P1 1\n99999999999999999999-P1 1",
         "G1/1/0/P12/01 G1/1/12/P3/1 G1/1/4/P3/1 G1/1/4/P3/1 G1/1/5/P1/1 G1/1/2147483647/P1/1"},
    };
    for (const auto& [text, calls] : cases)
        EXPECT_EQ(Calls(text), calls) << text;
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
                    "4-AFTER2 1\n"
                    "<FIRST>\n"
                    "DRIVE:\n"
                    "0-A 1\n"
                    "<SECOND>\n"  // does not rename the open group
                    "1-B 0\n"
                    "  sensor :\n"  // switches the section inside the group
                    "2-C 01\n"
                    "</FIRST> 3-D 1\n"  // a pin line first: it stays in the group
                    "</FIRST>\n"
                    "<THIRD>\n"
                    "Drive:\n"
                    "4-E 1\n"
                    "5-F 0\n"),  // a group never closed runs to the end (and is refused)
              "AB/0/2/IN/10 FIRST/1/0/A/1 FIRST/1/1/B/0 FIRST/0/2/C/01 FIRST/0/0/D/1 THIRD/1/4/E/1 "
              "THIRD/1/5/F/0");
}

TEST_F(VectorFile, CutFilesAndRefusedLinesFailWithTheReasonAndOddLinesAreWarnedAbout)
{
    // A file that ends inside a group, in its section or before it, is a file cut short; a refused
    // pin line fails the file too.
    const auto refuseBad = [](const std::string& pin) { return pin.rfind("BAD", 0) != 0; };
    const std::pair<const char*, const char*> failed[] = {
        {"<NETS>\nDRIVE:\n0-P1 01\n", "group <NETS> is not closed before the end of the file"},
        {"<A1>\nDRIVE:\n0-P1 01\n</A1>\n<NETS>\n", "group <NETS> has no SENSOR or DRIVE section before the end of the file"},
        {"<AB>\nDRIVE:\n0-BAD 1\n</AB>\n", "1 pin line refused"},
    };
    for (const auto& [text, why] : failed) {
        CRecordingVectors reader;
        reader.m_Accept = refuseBad;
        EXPECT_EQ(reader.Load(Write(text).c_str()), 0) << text;
        EXPECT_EQ(reader.m_LoadError, why);
    }

    // Refused pin lines fail the load, and reading goes on so that every one is seen; lines taken
    // other than they may have been meant are warned about.
    const std::string text = "<G1>\nDRIVE:\n0-P1 0101\nX-P2 0110\n+3 -P3 0011\n1-P4 011\n2-P5\n3 - P6 0101\n"
                             "text - not a pin line\n4-BAD1 0000\n</G1>\n<G2>\nSENSOR:\n1-P7 01\n5-BAD2 11\n</G2>\n";
    CRecordingVectors reader;
    reader.m_Accept = refuseBad;
    EXPECT_EQ(reader.Load(Write(text).c_str()), 0);
    EXPECT_EQ(reader.m_LoadError, "2 pin lines refused");
    std::string warnings;
    for (const CBsrVectors::Warning& warning : reader.m_Warnings)
        warnings += std::to_string(warning.line) + ": " + warning.text + "\n";
    EXPECT_EQ(warnings,
              "4: device number \"X\" is not a number, read as 0\n"
              "6: 3 values, where group G1 has 4\n"
              "7: not a pin line (no bit string of 0 and 1 after the pin), skipped\n"
              "8: not a pin line (no bit string of 0 and 1 after the pin), skipped\n");
    EXPECT_EQ(reader.m_Calls.size(), 7u);
    EXPECT_EQ(Join(reader.m_PinNames), "P1 P2 P3 P4 BAD1 P7 BAD2");
    EXPECT_EQ(reader.m_DeviceNumbers, (std::vector<int32_t>{0, 0, 3, 1, 4, 1, 5}));
    // The digest is made as for an accepted file; the refusal messages belong to AddPinVector.
    std::string hashed = text;
    std::erase(hashed, '\n');
    EXPECT_EQ(reader.m_VectorsDigest, Md5(hashed));
    EXPECT_EQ(g_BoardFail, 0);
}

// Lines end at LF, CR LF or CR (next byte dropped); the digest covers every byte but line ends.
TEST_F(VectorFile, LineEndsNulBytesAndTheDigest)
{
    struct {
        std::string text;
        const char* calls;
        std::string hashed;
    } cases[] = {
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

// FIFOs, /dev files and an OpenSSL without MD5 are POSIX's; on Windows
// platform/files_win_test.cpp checks what the reader of input files refuses there.
#ifndef _WIN32
TEST_F(VectorFile, UnreadableFilesFailAndTheLastDigestStays)
{
    CRecordingVectors reader;
    ASSERT_EQ(reader.Load(Write("<AB>\nDRIVE:\n0-P1 1\n1-P2 0\n</AB>\n", "first.txt").c_str()), 1);
    ASSERT_EQ(reader.Load(Write("<CD>\nSENSOR:\n5-Q9 1\n</CD>", "second.txt").c_str()), 1);
    EXPECT_EQ(Join(reader.m_PinNames), "Q9");  // nothing of the first file carries over
    const std::string digest = reader.m_VectorsDigest;

    // A missing file, anything but a regular file (a FIFO is not waited on), a file beyond the
    // size limit and no name fail, empty the lists, keep the digest and say why.
    const std::string fifo = m_Dir.File("fifo"), big = Write("", "big.txt");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::resize_file(big, platform::kMaxInputFileSize + 1);
    const std::pair<std::string, const char*> cases[] = {
        {m_Dir.File("missing.txt"), ""},
        {m_Dir.Path(), "a folder, not a regular file"},
        {fifo, "a FIFO, not a regular file"},
        {"/dev/zero", "a device, not a regular file"},
        {big, "larger than 64 MiB"},
    };
    for (const auto& [path, why] : cases) {
        EXPECT_EQ(reader.Load(path.c_str()), 0);
        EXPECT_EQ(reader.m_LoadError, why);
        EXPECT_TRUE(reader.m_PinNames.empty() && reader.m_DeviceNumbers.empty());
        EXPECT_EQ(reader.m_VectorsDigest, digest);
    }
    EXPECT_EQ(reader.Load(nullptr), 0);
    EXPECT_EQ(reader.m_Calls.size(), 3u);
    EXPECT_EQ(g_BoardFail, 0);

    // Without MD5 the failure is reported, reading goes on and the last digest stays.
    qbxtest::ScopedNoMd5 noMd5;
    reader.m_Hash = CDataHash();  // one that does not hold the algorithm yet
    testing::internal::CaptureStdout();
    EXPECT_EQ(reader.Load(Write("<AB>\nDRIVE:\n0-P1 1\n</AB>\n").c_str()), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR Init Hash\r\n");
    EXPECT_EQ(g_BoardFail, 1);
    EXPECT_EQ(reader.m_Calls.size(), 4u);
    EXPECT_EQ(reader.m_VectorsDigest, digest);
}
#endif  // _WIN32

// A bit string of a megabyte, and lines that keep each pattern busy to their end without ever
// matching (a quadratic search would not finish).
TEST_F(VectorFile, HugeLinesAreReadWholeAndSkippedQuickly)
{
    const size_t size = 1u << 20;
    const std::string bits = std::string(size - 1, '0') + "1";
    EXPECT_EQ(Calls(std::string(size, '<') + "\n<AB>\n" + std::string(size, 'S') + "\nDRIVE:\n" +
                    std::string(size, 'x') + "\n" + std::string(size, ' ') + "\n0-P1 " + bits + "\n1-P2 1\n</AB>\n"),
              "AB/1/0/P1/" + bits + " AB/1/1/P2/1");
}
