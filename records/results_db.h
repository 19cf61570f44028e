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
    std::string verdict{};  // "" any
    std::string since{};
    std::string until{};
    int64_t limit = 0;    // 0: all
};

// A board in a list.
struct BoardSummary {
    int64_t id = 0;
    std::string started;
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
    int64_t passed = 0;
    int64_t failed = 0;
    int64_t ended = 0;
    // Passed boards out of those with a verdict, in percent; 0 when there are none.
    double Percent() const { return passed + failed > 0 ? 100.0 * static_cast<double>(passed) / static_cast<double>(passed + failed) : 0.0; }
};

struct ParetoRow {
    std::string net;
    int64_t boards = 0;  // boards on which a fault named the net
    std::string kinds;   // "short 12, open-or-stuck 3"
};

struct ChainCheck {
    int64_t records = 0;
    std::string head;  // the last record's hash
    std::vector<std::string> problems;  // each record changed or removed, one line each
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
    // Per day and vector file, oldest day first.
    std::vector<YieldRow> Yield(const RecordFilter& filter);
    // Nets named by the diagnosis, on most boards first.
    std::vector<ParetoRow> Pareto(const RecordFilter& filter);
    // Recomputes every record's hash and follows the chain.
    ChainCheck Verify();

    CSqlConnection& Sql() { return *m_Sql; }

private:
    std::unique_ptr<CSqlConnection> m_Sql;
};

// The WHERE clause (with its leading blank, "" for no condition) that selects the filter's boards,
// its values appended to params; table ("b.") prefixes the columns.
std::string WhereClause(const RecordFilter& filter, std::vector<SqlValue>& params, const std::string& table);

// Opens the database at path for the station (ReadWrite: created and migrated when needed, its
// structure checked) or for reading (its schema must be one this program knows). Throws
// CSqlError with a message that names the file.
std::unique_ptr<CResultsDb> OpenResultsDb(const std::string& path, bool readWrite, bool fast = false);
