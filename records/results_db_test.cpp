// The results database on SQLite: records read back as written, the chain names every record
// changed or removed, a first-version database is migrated, files that are no results database are
// refused untouched, and the production questions count right.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <filesystem>

#include "results_db.h"
#include "sqlite_connection.h"
#include "test_files.h"

using ::testing::HasSubstr;
using namespace qbxtest;

namespace {

// A failing board with everything a record holds; serial and day vary.
BoardRecord Board(uint32_t serial, const std::string& day = "2024-05-01", const char* verdict = kVerdictFail)
{
    BoardRecord r;
    r.started = day + "T10:00:00.000Z";
    r.ended = day + "T10:00:05.250Z";
    r.host = "bench-1";
    r.programVersion = "1.0";
    r.bsdlFile = "a3pe3000.bsd";
    r.bsdlDigest = std::string(64, 'a');
    r.vectorsFile = "interconnect.vec";
    r.vectorsDigest = "0123456789ABCDEF0123456789ABCDEF";
    r.serial = serial;
    r.verdict = verdict;
    if (r.verdict == kVerdictEnded)
        return r;  // ended at the current prompt: nothing measured
    r.operatorCurrent = 0.5;
    r.thermometer = "4600080157A3B210";
    r.vin = 3.287109375;
    r.vmem = 1.79296875;
    r.supplyCurrent = 0.1 + 0.2;  // not exactly representable in few digits
    r.powerFlags = 1;
    r.temperature = 24.5;
    r.idCodes = {0x3E74E1CF, 0x2E74E1CF};
    if (r.verdict == kVerdictPass) {
        r.reportFile = "out/QBX_1_4600080157A3B210.txt";
        r.reportSignature = "0123456789ABCDEF0123456789ABCDEF";
        return r;
    }
    r.errorLines = {"Vector 2 (abs=1) INTERCONNECT ERROR fpga 0 pin:LNK6 (G29) read=0 expected=1", "Read Temperature ERROR"};
    r.pinErrors = {{0, 2, 1, "INTERCONNECT", 0, "LNK6", "G29", 0, 1}};
    r.faults = {{"short", std::nullopt, "short between net a and net b", {"fpga 2 pin:L2 (L2)", "fpga 5 pin:LNK247 (W30)"}},
                {"open-or-stuck", 1, "net c: all receivers read 1", {"fpga 6 pin:Y4 (Y4)"}}};
    return r;
}

class ResultsDb : public testing::Test {
protected:
    std::string Path() const { return m_Dir.File("results.db"); }
    std::unique_ptr<CResultsDb> Open(bool readWrite = true) { return OpenResultsDb(Path(), readWrite); }
    void Append(CResultsDb& db, BoardRecord r)
    {
        std::string why;
        ASSERT_TRUE(db.Append(r, why)) << why;
    }
    std::vector<BoardRecord> All(CResultsDb& db, const RecordFilter& filter = {})
    {
        std::vector<BoardRecord> all;
        db.ForEachRecord(filter, [&](const BoardRecord& r) { all.push_back(r); });
        return all;
    }
    TempDir m_Dir;
};

}  // namespace

TEST_F(ResultsDb, RecordsReadBackAsWrittenAndChainFromTheFirst)
{
    const std::vector<BoardRecord> written = {Board(7, "2024-05-01", kVerdictPass), Board(8), Board(9, "2024-05-02", kVerdictEnded)};
    {
        auto db = Open();
        for (const BoardRecord& r : written)
            Append(*db, r);
    }
    auto db = Open(false);
    const std::vector<BoardRecord> read = All(*db);
    ASSERT_EQ(read.size(), written.size());
    std::string previous = kChainStart;
    for (size_t i = 0; i < read.size(); ++i) {
        BoardRecord expected = written[i];
        expected.id = static_cast<int64_t>(i) + 1;
        expected.prevHash = previous;
        expected.hash = RecordHash(expected);
        EXPECT_EQ(CanonicalText(read[i]), CanonicalText(expected));
        EXPECT_EQ(read[i].hash, expected.hash);
        previous = expected.hash;
    }
    const ChainCheck check = db->Verify();
    EXPECT_EQ(check.records, 3);
    EXPECT_EQ(check.head, previous);
    EXPECT_EQ(check.problems, std::vector<std::string>{});
}

TEST_F(ResultsDb, VerifyNamesEveryRecordChangedOrRemoved)
{
    struct Case {
        std::vector<std::string> tamper;
        std::vector<std::string> problems;
    };
    const std::string changed3 = "record 3 (serial 3, tested 2024-05-01T10:00:00.000Z) was changed";
    const Case cases[] = {
        {{"UPDATE boards SET vin = 3.3 WHERE id = 3"}, {changed3}},
        {{"UPDATE boards SET verdict = 'PASS' WHERE id = 3"}, {changed3}},
        {{"UPDATE error_lines SET line = 'x' WHERE board_id = 3 AND seq = 1"}, {changed3}},
        {{"DELETE FROM fault_nets WHERE board_id = 3 AND seq = 1"}, {changed3}},
        {{"DELETE FROM pin_errors WHERE board_id = 3"}, {changed3}},
        {{"DELETE FROM boards WHERE id IN (2, 3)"}, {"records 2 to 3 are missing (removed)"}},
        {{"DELETE FROM boards WHERE id = 4"}, {"record 4 is missing (removed)"}},
        // Removing the last record and moving the head back leaves a sound, shorter chain: only a
        // head noted elsewhere (qbx-results verify prints it) shows that.
        {{"DELETE FROM boards WHERE id = 4", "UPDATE chain_head SET last_id = 3, last_hash = (SELECT hash FROM boards WHERE id = 3)"}, {}},
        {{"DELETE FROM chain_head"}, {"the chain head is missing (removed)"}},
    };
    auto fourBoards = [&]() {
        std::filesystem::remove(Path());
        auto db = Open();
        for (uint32_t serial = 1; serial <= 4; ++serial)
            Append(*db, Board(serial));
        return db;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tamper[0]);
        auto db = fourBoards();
        for (const std::string& statement : c.tamper)
            db->Sql().Execute(statement);
        EXPECT_EQ(db->Verify().problems, c.problems);
    }

    // A record whose hash was recomputed after the change: the next record still carries the old one.
    auto db = fourBoards();
    BoardRecord two = All(*db, {.serial = 2u}).at(0);
    two.vin = 3.3;
    db->Sql().Execute("UPDATE boards SET vin = 3.3, hash = ? WHERE id = 2", {RecordHash(two)});
    EXPECT_EQ(db->Verify().problems, std::vector<std::string>{"record 2 was changed (record 3 carries another hash for it)"});
}

TEST_F(ResultsDb, AFirstVersionDatabaseIsMigratedWithItsRecordsKept)
{
    {
        // Built by the first migration alone, as the first program version left it.
        auto sqlite = std::make_unique<CSqliteConnection>(Path(), CSqliteConnection::Mode::ReadWrite);
        sqlite->StartWriting();
        auto first = std::make_unique<CResultsDb>(std::move(sqlite));
        first->Migrate(1);
        EXPECT_EQ(first->SchemaVersion(), 1);
        Append(*first, Board(1));
    }
    auto db = Open();
    EXPECT_EQ(db->SchemaVersion(), LatestSchemaVersion());
    Append(*db, Board(2));
    EXPECT_EQ(All(*db).size(), 2u);
    EXPECT_EQ(db->Verify().problems, std::vector<std::string>{});
    bool indexed = false;
    db->Sql().Query("SELECT 1 FROM sqlite_master WHERE type = 'index' AND name = 'fault_nets_by_net'", {},
                    [&](const SqlRow&) { indexed = true; });
    EXPECT_TRUE(indexed);
}

TEST_F(ResultsDb, FilesThatAreNoResultsDatabaseAreRefusedUntouched)
{
    struct Case {
        std::string name;
        std::function<void(const std::string&)> make;
        std::string why;
    };
    auto sqlite = [](const std::string& path, const char* sql) {
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
        sqlite3_close(db);
    };
    const Case cases[] = {
        {"text", [](const std::string& p) { WriteFile(p, "serial,verdict\n1,PASS\n"); }, "file is not a database"},
        {"other", [&](const std::string& p) { sqlite(p, "CREATE TABLE parts (id INTEGER)"); }, "not one of test results"},
        {"newer", [&](const std::string& p) { sqlite(p, "CREATE TABLE schema_version (version INTEGER); INSERT INTO schema_version VALUES (99)"); },
         "schema version 99 is newer than this program's"},
        {"damaged",
         [&](const std::string& p) {
             {
                 auto db = OpenResultsDb(p, true);
                 for (uint32_t serial = 1; serial <= 200; ++serial) {
                     BoardRecord r = Board(serial);
                     std::string why;
                     db->Append(r, why);
                 }
                 db->Sql().Execute("PRAGMA wal_checkpoint(TRUNCATE)");
             }
             std::string bytes = ReadFile(p);
             for (size_t i = 4096 + 100; i < 4096 * 3; i += 7)
                 bytes[i] = static_cast<char>(0xA5);
             WriteFile(p, bytes);
         },
         "malformed"},
        {"link", [&](const std::string& p) { std::filesystem::create_symlink(m_Dir.File("elsewhere.db"), p); }, "symbolic link"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = m_Dir.File(c.name + ".db");
        c.make(path);
        const std::string before = ReadFile(path);
        try {
            OpenResultsDb(path, true);
            ADD_FAILURE() << "opened";
        } catch (const CSqlError& e) {
            EXPECT_THAT(e.what(), HasSubstr(path + ": "));
            EXPECT_THAT(e.what(), HasSubstr(c.why));
        }
        EXPECT_TRUE(ReadFile(path) == before) << "the file was changed";
    }
    EXPECT_FALSE(FileExists(m_Dir.File("elsewhere.db")));
}

TEST_F(ResultsDb, ListsYieldAndParetoCountTheRightBoards)
{
    auto db = Open();
    Append(*db, Board(1, "2024-05-01", kVerdictPass));
    Append(*db, Board(2, "2024-05-01"));
    Append(*db, Board(3, "2024-05-02", kVerdictPass));
    Append(*db, Board(2, "2024-05-02", kVerdictPass));  // repaired and tested again
    Append(*db, Board(4, "2024-05-02", kVerdictEnded));
    BoardRecord other = Board(5, "2024-05-02");
    other.vectorsFile = "other.vec";
    other.faults.pop_back();
    Append(*db, other);

    std::vector<std::pair<int64_t, std::string>> listed;
    for (const BoardSummary& b : db->List({}))
        listed.emplace_back(b.id, b.firstProblem);
    EXPECT_EQ(listed.size(), 6u);
    EXPECT_EQ(listed.front().first, 6) << "newest first";
    EXPECT_EQ(listed.back(), std::make_pair(int64_t{1}, std::string()));
    EXPECT_EQ(db->List({.serial = 2u}).size(), 2u);
    EXPECT_EQ(db->List({.verdict = kVerdictFail}).size(), 2u);
    EXPECT_EQ(db->List({.since = "2024-05-02", .until = "2024-05-02"}).size(), 4u);
    EXPECT_EQ(db->List({.limit = 1}).at(0).id, 6);

    const std::vector<YieldRow> yield = db->Yield({});
    ASSERT_EQ(yield.size(), 3u);
    EXPECT_EQ((std::vector<int64_t>{yield[0].passed, yield[0].failed, yield[0].ended}), (std::vector<int64_t>{1, 1, 0}));
    EXPECT_EQ(yield[1].vectorsFile, "interconnect.vec");
    EXPECT_EQ((std::vector<int64_t>{yield[1].passed, yield[1].failed, yield[1].ended}), (std::vector<int64_t>{2, 0, 1}));
    EXPECT_DOUBLE_EQ(yield[2].Percent(), 0.0);

    const std::vector<ParetoRow> pareto = db->Pareto({});
    ASSERT_EQ(pareto.size(), 3u);
    EXPECT_EQ(pareto[0].boards, 2);
    EXPECT_EQ(pareto[0].kinds, "short 2");
    EXPECT_EQ(pareto[2].net, "fpga 6 pin:Y4 (Y4)");
    EXPECT_EQ(pareto[2].boards, 1);
    EXPECT_EQ(db->Pareto({.since = "2024-05-02"}).size(), 2u);
}
