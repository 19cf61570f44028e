// The results database: the tables of the board records, their schema versions and migrations,
// appending a record to the hash chain, checking the chain, and the questions a production line
// asks (which boards, what yield, which nets fail). Written once in plain SQL over CSqlConnection,
// for every back end.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "board_record.h"
#include "sql.h"

// One step of the schema: the statements that take a database from version - 1 to version.
struct Migration {
    int version;
    std::vector<std::string> statements;
};

// Every migration, from the first version on.
const std::vector<Migration>& Migrations();
// The version this program writes.
int LatestSchemaVersion();

// Which boards a question is about. Days are "YYYY-MM-DD" (UTC), both ends included.
struct RecordFilter {
    std::optional<uint32_t> serial{};
    std::string bench{};    // "" any
    std::string verdict{};  // "" any
    std::string since{};
    std::string until{};
    int64_t limit = 0;    // 0: all
};

// A board in a list.
struct BoardSummary {
    int64_t id = 0;
    std::string started;
    std::string bench;
    uint32_t serial = 0;
    std::string verdict;
    std::string host;
    std::string vectorsFile;
    int64_t errors = 0;
    std::string firstProblem;  // the first fault of the diagnosis, else the first error line
};

struct YieldRow {
    std::string day;
    std::string vectorsFile;
    std::string bench{};  // when grouped by bench
    int64_t passed = 0;
    int64_t failed = 0;
    int64_t ended = 0;
    // Passed boards out of those with a verdict, in percent; 0 when there are none.
    double Percent() const { return passed + failed > 0 ? 100.0 * static_cast<double>(passed) / static_cast<double>(passed + failed) : 0.0; }
};

struct ParetoRow {
    std::string bench{};  // when grouped by bench
    std::string net;
    int64_t boards = 0;  // boards on which a fault named the net
    std::string kinds;   // "short 12, open-or-stuck 3"
};

// The chain of one bench.
struct BenchChain {
    std::string bench;
    int64_t records = 0;
    std::string head;  // its last record's hash
};

struct ChainCheck {
    int64_t records = 0;
    std::vector<BenchChain> benches;    // by name
    std::vector<std::string> problems;  // each record changed or removed, one line each
};

// What copying records from one database into another did, for one bench.
struct CopyCount {
    std::string bench;
    int64_t copied = 0;
    int64_t present = 0;  // already in the target: not copied again
};

class CResultsDb final : public CBoardRecorder {
public:
    explicit CResultsDb(std::unique_ptr<CSqlConnection> sql);

    // The database's schema version: 0 for an empty database. Throws CSqlError for a database that
    // holds other tables than the results.
    int SchemaVersion();
    // Brings the schema to the given version (latest by default) in one transaction per step.
    // Throws CSqlError for a database newer than this program.
    void Migrate(int upTo = LatestSchemaVersion());

    bool Append(BoardRecord& record, std::string& why) override;
    std::string Name() const override { return m_Sql->Name(); }

    // Newest first.
    std::vector<BoardSummary> List(const RecordFilter& filter);
    // Whole records, oldest first, handed over one at a time (children included).
    void ForEachRecord(const RecordFilter& filter, const std::function<void(const BoardRecord&)>& each);
    // Per day and vector file (and bench), oldest day first.
    std::vector<YieldRow> Yield(const RecordFilter& filter, bool byBench = false);
    // Nets named by the diagnosis, on most boards first (per bench, benches by name).
    std::vector<ParetoRow> Pareto(const RecordFilter& filter, bool byBench = false);
    // Recomputes every record's hash and follows each bench's chain.
    ChainCheck Verify();

    CSqlConnection& Sql() { return *m_Sql; }

private:
    std::unique_ptr<CSqlConnection> m_Sql;
};

// The WHERE clause (with its leading blank, "" for no condition) that selects the filter's boards,
// its values appended to params; table ("b.") prefixes the columns.
std::string WhereClause(const RecordFilter& filter, std::vector<SqlValue>& params, const std::string& table);

// Opens the database target names (an SQLite file, or a PostgreSQL connection string) for the
// station (readWrite: created and migrated when needed, an SQLite file's structure checked) or for
// reading (it must hold results; an older schema is brought up to date first). fast: commits to
// an SQLite file are not synced (for bulk loads). Throws CSqlError with a message that names the
// database.
std::unique_ptr<CResultsDb> OpenResultsDb(const std::string& target, bool readWrite, bool fast = false);

// Copies the records of from (those filter selects) into to, each bench's records joining that
// bench's chain there, except the tests already in to (the same content: recorded in both, or
// copied before). from's chains must verify, else nothing is copied. Throws CSqlError.
std::vector<CopyCount> CopyRecords(CResultsDb& from, CResultsDb& to, const RecordFilter& filter = {});
