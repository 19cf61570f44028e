// qbx-results over a database of known boards: what each command answers, and the report page as
// a headless Chromium draws it (the bars found in the screenshot, their heights measured).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <png.h>

#include <filesystem>
#include <map>

#include <nlohmann/json.hpp>

#include "qbx_results.h"
#include "test_files.h"

using ::testing::HasSubstr;
using namespace qbxtest;

namespace {

// Three days: 2 of 4, 3 of 4 and 1 of 5 boards pass (13 boards, serial 100 + record id). Failing boards name net A five times, B
// three times, C once; one failure is on no net. The first two days were on bench-1, the third on bench-2.
class ResultsTool : public testing::Test {
protected:
    void SetUp() override
    {
        auto db = OpenResultsDb(m_Db, true);
        const std::vector<std::pair<std::string, std::vector<std::string>>> failures[] = {
            {{"2024-05-01", {"A"}}, {"2024-05-01", {"A", "B"}}},
            {{"2024-05-02", {"A", "B"}}},
            {{"2024-05-03", {"A"}}, {"2024-05-03", {"A", "B"}}, {"2024-05-03", {"C"}}, {"2024-05-03", {}}},
        };
        const int passes[] = {2, 3, 1};
        uint32_t serial = 100;
        for (int day = 0; day < 3; ++day) {
            for (int i = 0; i < passes[day]; ++i)
                Append(*db, Board(++serial, "2024-05-0" + std::to_string(day + 1), kVerdictPass, {}));
            for (const auto& [date, nets] : failures[day])
                Append(*db, Board(++serial, date, kVerdictFail, nets));
        }
    }

    static BoardRecord Board(uint32_t serial, const std::string& day, const char* verdict, const std::vector<std::string>& nets)
    {
        BoardRecord r;
        r.started = day + "T08:00:00.000Z";
        r.ended = day + "T08:00:04.000Z";
        r.vectorsFile = "interconnect.vec";
        r.serial = serial;
        r.bench = day < "2024-05-03" ? "bench-1" : "bench-2";
        r.verdict = verdict;
        if (r.verdict == kVerdictFail)
            r.errorLines = {"Vector 1 (abs=0) INTERCONNECT ERROR fpga 1 pin:X (A1) read=0 expected=1"};
        for (const std::string& net : nets)
            r.faults.push_back({"open-or-stuck", 1, "net " + net + ": all receivers read 1", {"net " + net}});
        return r;
    }

    static void Append(CResultsDb& db, BoardRecord r)
    {
        std::string why;
        ASSERT_TRUE(db.Append(r, why)) << why;
    }

    ProcessResult Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--db", m_Db});
        return CaptureStreams([&](FILE* out, FILE* err) { return RunQbxResults(args, out, err); });
    }

    TempDir m_Dir;
    std::string m_Db = m_Dir.File("results.db");
};

// The bars of one colour in an RGBA image: their heights in pixels, left to right.
std::vector<int> BarHeights(const std::vector<uint8_t>& rgba, int width, int height, uint32_t rgb)
{
    std::vector<int> bars;
    bool inBar = false;
    for (int x = 0; x < width; ++x) {
        int count = 0;
        for (int y = 0; y < height; ++y) {
            const uint8_t* p = &rgba[4 * (static_cast<size_t>(y) * width + x)];
            count += (static_cast<uint32_t>(p[0]) << 16 | p[1] << 8 | p[2]) == rgb;
        }
        if (count > 0 && !inBar)
            bars.push_back(0);
        if (count > 0)
            bars.back() = std::max(bars.back(), count);
        inBar = count > 0;
    }
    return bars;
}

}  // namespace

TEST_F(ResultsTool, EachCommandAnswersFromTheRecords)
{
    struct Case {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> shown;  // on standard output, or standard error for a failure
    };
    const Case cases[] = {
        {{"list"}, 0, {"    13  2024-05-03T08:00:00.000Z", "net C: all receivers read 1", "Vector 1 (abs=0)"}},
        {{"list", "--verdict", "FAIL", "--since", "2024-05-02", "--limit", "2"}, 0, {"    13  ", "    12  "}},
        {{"show", "108"}, 0, {"Test 8 of board 108: FAIL", "diagnosis:\n    net A: all receivers read 1\n    net B"}},
        {{"yield"}, 0, {"2024-05-02  interconnect.vec", "      3      1      0    75.0%", "TOTAL", "      6      7      0    46.2%"}},
        {{"pareto"}, 0, {"   1       5   55.6%   55.6%  net A", "   3       1   11.1%  100.0%  net C"}},
        {{"verify"}, 0, {"bench bench-1: 8 records, chain head ", "\nOK: 13 records, 2 benches\n"}},
        {{"yield", "--by-bench"}, 0, {"bench-2               1      4      0    20.0%\nTOTAL  ", "bench-1               5      3      0    62.5%"}},
        {{"pareto", "--by-bench", "--limit", "1"}, 0, {"\nbench-1             1       3   60.0%   60.0%  net A ", "\nbench-2             1       2   50.0%"}},
        {{"copy", m_Dir.File("results.db"), m_Dir.File("copy.db")}, 0, {"bench bench-2: 5 copied, 0 already there", "13 records copied"}},
        {{"copy", m_Dir.File("results.db"), m_Dir.File("copy.db")}, 0, {"bench bench-1: 0 copied, 8 already there", "\n0 records copied"}},
        {{"copy", m_Dir.File("results.db")}, 2, {"copy: needs two databases, FROM and TO"}},
        {{"export", "--csv", "--serial", "104"}, 0, {"id,started,", "\n4,2024-05-01T08:00:00.000Z,", ",FAIL,1,Vector 1 (abs=0)"}},
        {{"show", "99"}, 1, {"no test of board 99 recorded"}},
        {{"list", "--since", "May"}, 2, {"--since needs a day as YYYY-MM-DD"}},
        {{"export"}, 2, {"export: --csv or --json"}},
        {{"frobnicate"}, 2, {"unknown command \"frobnicate\""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
        const ProcessResult r = Run(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        for (const std::string& text : c.shown)
            EXPECT_THAT(c.status == 0 ? r.out : r.err, HasSubstr(text));
    }
    const std::string one = Run({"list", "--serial", "103"}).out;
    EXPECT_EQ(std::count(one.begin(), one.end(), '\n'), 2) << one;

    const nlohmann::json all = nlohmann::json::parse(Run({"export", "--json"}).out);
    ASSERT_EQ(all.size(), 13u);
    EXPECT_EQ(all[12]["diagnosis"].size(), 0u);
    EXPECT_EQ(all[11]["diagnosis"][0]["nets"], nlohmann::json::array({"net C"}));
    EXPECT_EQ(all[0]["hash"].get<std::string>().size(), 64u);

    OpenResultsDb(m_Db, true)->Sql().Execute("UPDATE error_lines SET line = 'nothing wrong' WHERE board_id = 8");
    const ProcessResult tampered = Run({"verify"});
    EXPECT_EQ(tampered.status, 1);
    EXPECT_THAT(tampered.out, HasSubstr("record 8 (serial 108, tested 2024-05-02T08:00:00.000Z) was changed"));
    m_Db = m_Dir.File("none.db");
    EXPECT_THAT(Run({"list"}).err, HasSubstr("no results database at " + m_Db));
}

TEST_F(ResultsTool, TheReportPageIsDrawnByABrowserWithTheBarsTheRecordsGive)
{
    const std::string chromium = "/usr/bin/chromium";
    if (!FileExists(chromium))
        GTEST_SKIP() << "chromium is not installed (scripts/deps.sh installs it)";
    const std::string page = m_Dir.File("report.html"), shot = m_Dir.File("report.png");
    ASSERT_EQ(Run({"report", page}).status, 0);
    const std::string html = ReadFile(page);
    for (const char* fetched : {"<script", "<link", "<img", "src=", "href=", "@import", "url("})
        EXPECT_THAT(html, ::testing::Not(HasSubstr(fetched))) << "the page must need nothing from elsewhere";

    ProcessOptions options;
    options.args = {"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
                    "--disable-component-update", "--disable-sync", "--user-data-dir=" + m_Dir.File("profile"),
                    "--hide-scrollbars", "--force-device-scale-factor=1", "--window-size=1000,1400",
                    "--screenshot=" + shot, "file://" + page};
    const ProcessResult browser = RunProcess(chromium, options);
    ASSERT_EQ(browser.status, 0) << browser.err;

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_NE(png_image_begin_read_from_file(&image, shot.c_str()), 0) << image.message;
    image.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(image));
    ASSERT_NE(png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr), 0) << image.message;
    const int width = static_cast<int>(image.width), height = static_cast<int>(image.height);

    // 220 pixels are 100 %: yields of 50, 75 and 20 %; nets on 5, 3 and 1 boards (5 is the top).
    // The cumulative line and its dots cross the red bars, so a few pixels may be covered.
    auto near = [](const std::vector<int>& bars, const std::vector<int>& expected) {
        bool ok = bars.size() == expected.size();
        for (size_t i = 0; ok && i < bars.size(); ++i)
            ok = std::abs(bars[i] - expected[i]) <= 6;
        return ok;
    };
    const std::vector<int> yield = BarHeights(rgba, width, height, 0x2E7D32);
    const std::vector<int> pareto = BarHeights(rgba, width, height, 0xC62828);
    EXPECT_TRUE(near(yield, {110, 165, 44})) << ::testing::PrintToString(yield);
    EXPECT_TRUE(near(pareto, {220, 132, 44})) << ::testing::PrintToString(pareto);
    EXPECT_GT(BarHeights(rgba, width, height, 0x1565C0).size(), 0u) << "no cumulative line";
}
