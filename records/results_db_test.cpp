// The results database on SQLite and PostgreSQL: read-back, chains, migration, copy, refused files, queries.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <filesystem>

#include "postgres_test_support.h"
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
    r.host = "pc-1";
    r.bench = "bench-1";
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

enum class Backend { SQLite, PostgreSQL };

void PrintTo(Backend backend, std::ostream* out)
{
    *out << (backend == Backend::SQLite ? "SQLite" : "PostgreSQL");
}

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

// Each test runs on both back ends: in a file of a temporary folder, and in a database of its own
// on the test command's PostgreSQL server.
class ResultsDb : public testing::TestWithParam<Backend> {
protected:
    void SetUp() override
    {
        if (GetParam() == Backend::PostgreSQL) {
            m_Server = TestPostgresServer();
            QBX_REQUIRE_SERVER(m_Server);
        }
        m_Target = NewTarget();
    }
    // A new, empty database of the back end under test.
    std::string NewTarget()
    {
        if (GetParam() == Backend::SQLite)
            return m_Dir.File("results" + std::to_string(m_Databases.size() + m_Files++) + ".db");
        return m_Databases.emplace_back(std::make_unique<CTestDatabase>(m_Server.conninfo))->Target();
    }
    std::unique_ptr<CResultsDb> Open(bool readWrite = true) { return OpenResultsDb(m_Target, readWrite); }

    TempDir m_Dir;
    TestServer m_Server;
    std::vector<std::unique_ptr<CTestDatabase>> m_Databases;
    size_t m_Files = 0;
    std::string m_Target;
};

}  // namespace

TEST_P(ResultsDb, RecordsReadBackAsWrittenAndChainFromTheFirst)
{
    BoardRecord many = Board(10);  // more wrong cells than one statement inserts
    many.errorLines.assign(450, many.errorLines[0]);
    many.pinErrors.assign(450, many.pinErrors[0]);
    const std::vector<BoardRecord> written = {Board(7, "2024-05-01", kVerdictPass), Board(8), Board(9, "2024-05-02", kVerdictEnded), many};
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
        expected.id = expected.seq = static_cast<int64_t>(i) + 1;
        expected.prevHash = previous;
        expected.hash = RecordHash(expected);
        EXPECT_EQ(CanonicalText(read[i]), CanonicalText(expected));
        EXPECT_EQ(read[i].hash, expected.hash);
        previous = expected.hash;
    }
    const ChainCheck check = db->Verify();
    EXPECT_EQ(check.records, 4);
    ASSERT_EQ(check.benches.size(), 1u);
    EXPECT_EQ(check.benches[0].head, previous);
    EXPECT_EQ(check.problems, std::vector<std::string>{});
}

TEST_P(ResultsDb, VerifyNamesEveryRecordChangedOrRemovedBenchByBench)
{
    struct Case {
        std::vector<std::string> tamper;
        std::vector<std::string> problems;
    };
    const std::string changed3 = "bench bench-1: record 3 (serial 3, tested 2024-05-01T10:00:00.000Z) was changed";
    const Case cases[] = {
        {{"UPDATE boards SET vin = 3.3 WHERE id = 3"}, {changed3}},
        {{"UPDATE boards SET verdict = 'PASS' WHERE id = 3"}, {changed3}},
        {{"UPDATE error_lines SET line = 'x' WHERE board_id = 3 AND seq = 1"}, {changed3}},
        {{"DELETE FROM fault_nets WHERE board_id = 3 AND seq = 1"}, {changed3}},
        {{"DELETE FROM pin_errors WHERE board_id = 3"}, {changed3}},
        {{"UPDATE boards SET bench = 'bench-2' WHERE id = 3"}, {"bench bench-1: record 3 is missing (removed)",
                                                               "bench bench-2: records 1 to 2 are missing (removed)",
                                                               "bench bench-2: record 3 (serial 3, tested 2024-05-01T10:00:00.000Z) was changed",
                                                               "bench bench-2: record 3 was changed (the copy of its bench or fault kinds kept "
                                                               "with its nets differs)",
                                                               "bench bench-2: the chain head is missing (removed)"}},
        {{"DELETE FROM boards WHERE id IN (2, 3)"}, {"bench bench-1: records 2 to 3 are missing (removed)"}},
        {{"DELETE FROM boards WHERE id = 4"}, {"bench bench-1: record 4 is missing (removed)"}},
        // Removing the last record and moving the head back leaves a sound, shorter chain: only a
        // head noted elsewhere (qbx-results verify prints it) shows that.
        {{"DELETE FROM boards WHERE id = 4", "UPDATE bench_heads SET last_seq = 3, last_hash = (SELECT hash FROM boards WHERE id = 3) "
                                                 "WHERE bench = 'bench-1'"},
         {}},
        {{"DELETE FROM bench_heads WHERE bench = 'bench-1'"}, {"bench bench-1: the chain head is missing (removed)"}},
    };
    // Four records of bench-1 (ids 1 to 4), then two of another bench, whose chain stays whole.
    auto fourBoards = [&]() {
        m_Target = NewTarget();
        auto db = Open();
        for (uint32_t serial = 1; serial <= 6; ++serial) {
            BoardRecord r = Board(serial);
            r.bench = serial <= 4 ? "bench-1" : "bench-0";
            Append(*db, r);
        }
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
    EXPECT_EQ(db->Verify().problems, std::vector<std::string>{"bench bench-1: record 2 was changed (record 3 carries another hash for it)"});
}

// A record as the first program version wrote it, row by row: one chain for the whole database,
// the hash over the record's id. previous is the chain's last hash, then this record's.
void AppendFirstVersion(CSqlConnection& sql, BoardRecord r, std::string& previous)
{
    r.format = kRecordFormatBeforeBenches;
    r.prevHash = previous;
    r.hash = previous = RecordHash(r);
    sql.Execute("INSERT INTO boards (id, started, ended, test_day, host, program_version, bsdl_file, bsdl_digest, vectors_file, "
                "vectors_digest, serial, operator_current, thermometer, adc_sensor1, adc_sensor2, vin, vmem, supply_current, "
                "power_flags, temperature, idcodes, verdict, report_file, report_signature, prev_hash, hash) "
                "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                {r.seq, r.started, r.ended, r.Day(), r.host, r.programVersion, r.bsdlFile, r.bsdlDigest, r.vectorsFile,
                 r.vectorsDigest, int64_t{r.serial}, *r.operatorCurrent, r.thermometer, r.adcSensor1, r.adcSensor2, *r.vin, *r.vmem,
                 *r.supplyCurrent, int64_t{*r.powerFlags}, *r.temperature, std::string("3E74E1CF 2E74E1CF"), r.verdict, r.reportFile,
                 r.reportSignature, r.prevHash, r.hash});
    sql.Execute(r.seq == 1 ? "INSERT INTO chain_head (last_id, last_hash) VALUES (?, ?)" : "UPDATE chain_head SET last_id = ?, last_hash = ?",
                {r.seq, r.hash});
}

TEST_P(ResultsDb, AFirstVersionDatabaseIsMigratedAndItsChainGoesOn)
{
    struct Case {
        std::vector<std::string> hosts;
        std::string bench;  // its records' bench after the migration
    };
    for (const Case& c : {Case{{"pc-1", "pc-1"}, "pc-1"}, Case{{"pc-1", "pc-2"}, "before-benches"}}) {
        SCOPED_TRACE(c.bench);
        m_Target = NewTarget();
        std::string previous = kChainStart;
        {
            std::unique_ptr<CSqlConnection> sql = GetParam() == Backend::PostgreSQL
                                                      ? OpenPostgres(m_Target)
                                                      : std::make_unique<CSqliteConnection>(m_Target, CSqliteConnection::Mode::ReadWrite);
            CResultsDb first(std::move(sql));
            first.Migrate(1);
            ASSERT_EQ(first.SchemaVersion(), 1);
            for (size_t i = 0; i < c.hosts.size(); ++i) {
                BoardRecord r = Board(static_cast<uint32_t>(i + 1), "2024-05-01", kVerdictPass);
                r.host = c.hosts[i];
                r.seq = static_cast<int64_t>(i + 1);
                AppendFirstVersion(first.Sql(), r, previous);
            }
        }
        auto db = Open();
        EXPECT_EQ(db->SchemaVersion(), LatestSchemaVersion());
        BoardRecord next = Board(3);
        next.bench = c.bench;
        Append(*db, next);
        const std::vector<BoardRecord> all = All(*db);
        ASSERT_EQ(all.size(), 3u);
        EXPECT_EQ(std::make_tuple(all[0].bench, all[0].seq, all[0].format), std::make_tuple(c.bench, int64_t{1}, kRecordFormatBeforeBenches));
        EXPECT_EQ(std::make_tuple(all[2].seq, all[2].prevHash), std::make_tuple(int64_t{3}, previous));
        EXPECT_EQ(db->Verify().problems, std::vector<std::string>{});
    }
}

TEST_P(ResultsDb, CopyBringsEachBenchOverOnceAndItsChainStaysWhole)
{
    // A bench's own file: three tests of bench-a; the line's database already holds the first of
    // them (recorded in both) and a test of bench-b.
    auto bench = OpenResultsDb(m_Dir.File("bench-a.db"), true);
    auto line = Open();
    for (uint32_t serial : {10, 11, 12}) {
        BoardRecord r = Board(serial, "2024-05-0" + std::to_string(serial - 9));
        r.bench = "bench-a";
        Append(*bench, r);
        if (serial == 10)
            Append(*line, r);
    }
    Append(*line, Board(20));
    auto counts = [](const std::vector<CopyCount>& copied) {
        std::string text;
        for (const CopyCount& c : copied)
            text += c.bench + ": " + std::to_string(c.copied) + " copied, " + std::to_string(c.present) + " there; ";
        return text;
    };
    EXPECT_EQ(counts(CopyRecords(*bench, *line)), "bench-a: 2 copied, 1 there; ");
    EXPECT_EQ(counts(CopyRecords(*bench, *line)), "bench-a: 0 copied, 3 there; ");

    std::vector<std::tuple<std::string, int64_t, uint32_t>> records;
    for (const BoardRecord& r : All(*line))
        records.emplace_back(r.bench, r.seq, r.serial);
    EXPECT_EQ(records, (std::vector<std::tuple<std::string, int64_t, uint32_t>>{
                           {"bench-a", 1, 10}, {"bench-1", 1, 20}, {"bench-a", 2, 11}, {"bench-a", 3, 12}}));
    EXPECT_EQ(line->Verify().problems, std::vector<std::string>{});

    // A file whose chain does not verify is not copied from.
    bench->Sql().Execute("UPDATE boards SET vin = 1.0 WHERE serial = 11");
    BoardRecord more = Board(13);
    more.bench = "bench-a";
    Append(*bench, more);
    try {
        CopyRecords(*bench, *line);
        ADD_FAILURE() << "copied";
    } catch (const CSqlError& e) {
        EXPECT_THAT(e.what(), HasSubstr("bench-a.db: its chains do not verify (bench bench-a: record 2 (serial 11"));
    }
    EXPECT_EQ(All(*line).size(), 4u);
}

TEST(ResultsDbFile, FilesThatAreNoResultsDatabaseAreRefusedUntouched)
{
    TempDir m_Dir;
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

TEST_P(ResultsDb, ListsYieldAndParetoCountTheRightBoards)
{
    auto db = Open();
    Append(*db, Board(1, "2024-05-01", kVerdictPass));
    Append(*db, Board(2, "2024-05-01"));
    Append(*db, Board(3, "2024-05-02", kVerdictPass));
    Append(*db, Board(2, "2024-05-02", kVerdictPass));  // repaired and tested again
    Append(*db, Board(4, "2024-05-02", kVerdictEnded));
    BoardRecord other = Board(5, "2024-05-02");
    other.vectorsFile = "other.vec";
    other.bench = "bench-2";
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

    std::vector<std::tuple<std::string, std::string, int64_t>> byBench;
    for (const ParetoRow& row : db->Pareto({}, true))
        byBench.emplace_back(row.bench, row.net, row.boards);
    const std::string a = "fpga 2 pin:L2 (L2)", b = "fpga 5 pin:LNK247 (W30)";
    EXPECT_EQ(byBench, (std::vector<std::tuple<std::string, std::string, int64_t>>{
                           {"bench-1", a, 1}, {"bench-1", b, 1}, {"bench-1", "fpga 6 pin:Y4 (Y4)", 1}, {"bench-2", a, 1}, {"bench-2", b, 1}}));
    const std::vector<YieldRow> yieldByBench = db->Yield({.since = "2024-05-02"}, true);
    ASSERT_EQ(yieldByBench.size(), 2u);
    EXPECT_EQ(std::make_tuple(yieldByBench[1].bench, yieldByBench[1].failed), std::make_tuple(std::string("bench-2"), int64_t{1}));
    EXPECT_EQ(db->List({.bench = "bench-2"}).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Backends, ResultsDb, testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const testing::TestParamInfo<Backend>& info) { return info.param == Backend::SQLite ? "SQLite" : "PostgreSQL"; });
