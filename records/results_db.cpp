#include "results_db.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>

#include "platform.h"
#include "sqlite_connection.h"

using platform::Format;

namespace {

// The columns of a board row, in the order the statements below use them.
const char* const kBoardColumns =
    "id, started, ended, test_day, host, program_version, bsdl_file, bsdl_digest, vectors_file, vectors_digest, serial, "
    "operator_current, thermometer, adc_sensor1, adc_sensor2, vin, vmem, supply_current, power_flags, temperature, "
    "idcodes, verdict, report_file, report_signature, prev_hash, hash, bench, bench_seq, hash_format";

// Records whose children are read with one query per table.
constexpr int64_t kLoadBatch = 256;

template <typename T>
SqlValue Optional(const std::optional<T>& value)
{
    if (!value)
        return nullptr;
    if constexpr (std::is_floating_point_v<T>)
        return static_cast<double>(*value);
    else
        return static_cast<int64_t>(*value);
}

std::optional<double> OptionalDouble(const SqlValue& value)
{
    return SqlIsNull(value) ? std::nullopt : std::optional<double>(SqlDouble(value));
}

std::optional<int> OptionalInt(const SqlValue& value)
{
    return SqlIsNull(value) ? std::nullopt : std::optional<int>(static_cast<int>(SqlInt(value)));
}

std::string IdCodesText(const std::vector<uint32_t>& codes)
{
    std::string text;
    for (uint32_t code : codes)
        text += Format("%s%08X", text.empty() ? "" : " ", code);
    return text;
}

std::vector<uint32_t> ParseIdCodes(const std::string& text)
{
    std::vector<uint32_t> codes;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find(' ', at), text.size());
        codes.push_back(static_cast<uint32_t>(std::strtoul(text.substr(at, end - at).c_str(), nullptr, 16)));
        at = end + 1;
    }
    return codes;
}

BoardRecord RecordFromRow(const SqlRow& row)
{
    BoardRecord r;
    size_t c = 0;
    r.id = SqlInt(row.at(c++));
    r.started = SqlText(row.at(c++));
    r.ended = SqlText(row.at(c++));
    ++c;  // test_day: the start's day
    r.host = SqlText(row.at(c++));
    r.programVersion = SqlText(row.at(c++));
    r.bsdlFile = SqlText(row.at(c++));
    r.bsdlDigest = SqlText(row.at(c++));
    r.vectorsFile = SqlText(row.at(c++));
    r.vectorsDigest = SqlText(row.at(c++));
    r.serial = static_cast<uint32_t>(SqlInt(row.at(c++)));
    r.operatorCurrent = OptionalDouble(row.at(c++));
    r.thermometer = SqlText(row.at(c++));
    r.adcSensor1 = SqlText(row.at(c++));
    r.adcSensor2 = SqlText(row.at(c++));
    r.vin = OptionalDouble(row.at(c++));
    r.vmem = OptionalDouble(row.at(c++));
    r.supplyCurrent = OptionalDouble(row.at(c++));
    r.powerFlags = OptionalInt(row.at(c++));
    r.temperature = OptionalDouble(row.at(c++));
    r.idCodes = ParseIdCodes(SqlText(row.at(c++)));
    r.verdict = SqlText(row.at(c++));
    r.reportFile = SqlText(row.at(c++));
    r.reportSignature = SqlText(row.at(c++));
    r.prevHash = SqlText(row.at(c++));
    r.hash = SqlText(row.at(c++));
    r.bench = SqlText(row.at(c++));
    r.seq = SqlInt(row.at(c++));
    r.format = static_cast<int>(SqlInt(row.at(c++)));
    return r;
}

// Inserts rows of width values each into table ("name (columns)"), many rows per statement.
void InsertRows(CSqlConnection& sql, const std::string& table, size_t width, const std::vector<SqlValue>& values)
{
    // Well below the parameters a statement may have on SQLite (32766) and PostgreSQL (65535).
    constexpr size_t kRowsPerStatement = 200;
    std::string row = "(?";
    for (size_t i = 1; i < width; ++i)
        row += ", ?";
    row += ")";
    const size_t rows = values.size() / width;
    for (size_t first = 0; first < rows; first += kRowsPerStatement) {
        const size_t count = std::min(kRowsPerStatement, rows - first);
        std::string statement = "INSERT INTO " + table + " VALUES " + row;
        for (size_t i = 1; i < count; ++i)
            statement += ", " + row;
        const auto begin = values.begin() + static_cast<std::ptrdiff_t>(first * width);
        sql.Execute(statement, std::vector<SqlValue>(begin, begin + static_cast<std::ptrdiff_t>(count * width)));
    }
}

// Records numbered first..last, or one of them, named for a problem line.
std::string Range(int64_t first, int64_t last)
{
    return first == last ? Format("record %lld", static_cast<long long>(first))
                         : Format("records %lld to %lld", static_cast<long long>(first), static_cast<long long>(last));
}

std::string Missing(int64_t first, int64_t last)
{
    return Range(first, last) + (last > first ? " are missing (removed)" : " is missing (removed)");
}

// The bench that records made before benches were named belong to, when they come from several
// hosts (one database shared over a network); from one host they take its name.
const char* const kBeforeBenches = "before-benches";

}  // namespace

const std::vector<Migration>& Migrations()
{
    static const std::vector<Migration> migrations = {
        {1,
         {"CREATE TABLE schema_version (version INTEGER NOT NULL)",
          "CREATE TABLE boards (id INTEGER PRIMARY KEY, started TEXT NOT NULL, ended TEXT NOT NULL, test_day TEXT NOT NULL, "
          "host TEXT NOT NULL, program_version TEXT NOT NULL, bsdl_file TEXT NOT NULL, bsdl_digest TEXT NOT NULL, "
          "vectors_file TEXT NOT NULL, vectors_digest TEXT NOT NULL, serial BIGINT NOT NULL, operator_current DOUBLE PRECISION, "
          "thermometer TEXT NOT NULL, adc_sensor1 TEXT NOT NULL, adc_sensor2 TEXT NOT NULL, vin DOUBLE PRECISION, "
          "vmem DOUBLE PRECISION, supply_current DOUBLE PRECISION, power_flags INTEGER, temperature DOUBLE PRECISION, "
          "idcodes TEXT NOT NULL, verdict TEXT NOT NULL, report_file TEXT NOT NULL, report_signature TEXT NOT NULL, "
          "prev_hash TEXT NOT NULL, hash TEXT NOT NULL)",
          "CREATE TABLE error_lines (board_id INTEGER NOT NULL, seq INTEGER NOT NULL, line TEXT NOT NULL, "
          "PRIMARY KEY (board_id, seq))",
          "CREATE TABLE pin_errors (board_id INTEGER NOT NULL, seq INTEGER NOT NULL, line_seq INTEGER NOT NULL, "
          "vector INTEGER NOT NULL, abs_vector INTEGER NOT NULL, vector_group TEXT NOT NULL, fpga INTEGER NOT NULL, "
          "pin TEXT NOT NULL, package_pin TEXT NOT NULL, read_value INTEGER NOT NULL, expected INTEGER NOT NULL, "
          "PRIMARY KEY (board_id, seq))",
          "CREATE TABLE faults (board_id INTEGER NOT NULL, seq INTEGER NOT NULL, kind TEXT NOT NULL, level INTEGER, "
          "description TEXT NOT NULL, PRIMARY KEY (board_id, seq))",
          "CREATE TABLE fault_nets (board_id INTEGER NOT NULL, fault_seq INTEGER NOT NULL, seq INTEGER NOT NULL, "
          "net TEXT NOT NULL, kind TEXT NOT NULL, PRIMARY KEY (board_id, fault_seq, seq))",
          "CREATE TABLE chain_head (last_id INTEGER NOT NULL, last_hash TEXT NOT NULL)"}},
        // What the questions of a production line look up: a board's tests, days, nets.
        {2,
         {"CREATE INDEX boards_by_serial ON boards (serial, id)",
          "CREATE INDEX boards_by_day ON boards (test_day, vectors_file, verdict)",
          "CREATE INDEX fault_nets_by_net ON fault_nets (net, board_id, kind)"}},
        // Benches: every record names the bench that tested it, and each bench has a chain of its
        // own (its place in it, bench_seq; its head in bench_heads), so that records copied from a
        // bench's own file into a line's database keep a chain that verifies. The records before
        // were one chain: they become a bench's (see kBeforeBenches), keeping their hashes.
        {3,
         {"ALTER TABLE boards ADD COLUMN bench TEXT NOT NULL DEFAULT ''",
          "ALTER TABLE boards ADD COLUMN bench_seq BIGINT NOT NULL DEFAULT 0",
          "ALTER TABLE boards ADD COLUMN hash_format INTEGER NOT NULL DEFAULT 1",
          std::string("UPDATE boards SET bench_seq = id, bench = CASE WHEN (SELECT COUNT(DISTINCT host) FROM boards) = 1 "
                      "THEN host ELSE '") + kBeforeBenches + "' END",
          "CREATE TABLE bench_heads (bench TEXT PRIMARY KEY, last_seq BIGINT NOT NULL, last_hash TEXT NOT NULL)",
          std::string("INSERT INTO bench_heads (bench, last_seq, last_hash) SELECT COALESCE((SELECT MIN(bench) FROM boards), '") +
              kBeforeBenches + "'), last_id, last_hash FROM chain_head",
          "DROP TABLE chain_head",
          "CREATE UNIQUE INDEX boards_by_bench ON boards (bench, bench_seq)",
          "CREATE INDEX boards_by_bench_day ON boards (bench, test_day)",
          "DROP INDEX boards_by_day",
          "CREATE INDEX boards_by_day ON boards (test_day, vectors_file, verdict, bench)",
          // The Pareto per bench from the nets alone, as the Pareto of the whole line; both in the
          // order of their two questions (boards per net, and per net and kind).
          "ALTER TABLE fault_nets ADD COLUMN bench TEXT NOT NULL DEFAULT ''",
          "UPDATE fault_nets SET bench = (SELECT b.bench FROM boards b WHERE b.id = fault_nets.board_id)",
          "DROP INDEX fault_nets_by_net",
          "CREATE INDEX fault_nets_by_net ON fault_nets (net, kind, board_id)",
          "CREATE INDEX fault_nets_by_bench ON fault_nets (bench, net, kind, board_id)"}},
    };
    return migrations;
}

int LatestSchemaVersion()
{
    return Migrations().back().version;
}

CResultsDb::CResultsDb(std::unique_ptr<CSqlConnection> sql) : m_Sql(std::move(sql)) {}

int CResultsDb::SchemaVersion()
{
    const std::vector<std::string> tables = m_Sql->Tables();
    if (std::find(tables.begin(), tables.end(), "schema_version") == tables.end()) {
        if (!tables.empty())
            throw CSqlError(Name() + ": a database, but not one of test results (it has no schema_version table)");
        return 0;
    }
    int version = 0;
    m_Sql->Query("SELECT version FROM schema_version", {}, [&](const SqlRow& row) { version = static_cast<int>(SqlInt(row.at(0))); });
    return version;
}

void CResultsDb::Migrate(int upTo)
{
    for (const Migration& migration : Migrations()) {
        if (migration.version > upTo)
            break;
        // Another station may be migrating the same database: the version is read under the lock.
        CWriteTransaction transaction(*m_Sql);
        const int version = SchemaVersion();
        if (version > LatestSchemaVersion())
            throw CSqlError(Format("%s: schema version %d is newer than this program's %d", Name().c_str(), version,
                                   LatestSchemaVersion()));
        if (version >= migration.version)
            continue;
        for (const std::string& statement : migration.statements)
            m_Sql->Execute(statement);
        if (migration.version == 1)
            m_Sql->Execute("INSERT INTO schema_version (version) VALUES (1)");
        else
            m_Sql->Execute("UPDATE schema_version SET version = ?", {int64_t{migration.version}});
        transaction.Commit();
    }
}

bool CResultsDb::Append(BoardRecord& r, std::string& why)
{
    try {
        CWriteTransaction transaction(*m_Sql);
        // The bench's chain goes on from its head; a head that is missing or behind the bench's
        // last record (both only by hand) gives way to the last record.
        int64_t headSeq = -1, lastSeq = 0;
        std::string headHash, lastHash = kChainStart;
        m_Sql->Query("SELECT last_seq, last_hash FROM bench_heads WHERE bench = ?", {r.bench}, [&](const SqlRow& row) {
            headSeq = SqlInt(row.at(0));
            headHash = SqlText(row.at(1));
        });
        m_Sql->Query("SELECT bench_seq, hash FROM boards WHERE bench = ? ORDER BY bench_seq DESC LIMIT 1", {r.bench},
                     [&](const SqlRow& row) {
                         lastSeq = SqlInt(row.at(0));
                         lastHash = SqlText(row.at(1));
                     });
        r.id = 1;
        m_Sql->Query("SELECT MAX(id) FROM boards", {}, [&](const SqlRow& row) { r.id = SqlInt(row.at(0)) + 1; });
        r.seq = headSeq >= lastSeq ? headSeq + 1 : lastSeq + 1;
        r.prevHash = headSeq >= lastSeq ? headHash : lastHash;
        r.format = kRecordFormat;
        r.hash = RecordHash(r);
        if (r.hash.empty())
            throw CSqlError("the record's SHA-256 cannot be computed");

        m_Sql->Execute(std::string("INSERT INTO boards (") + kBoardColumns +
                           ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                       {r.id, r.started, r.ended, r.Day(), r.host, r.programVersion, r.bsdlFile, r.bsdlDigest, r.vectorsFile,
                        r.vectorsDigest, int64_t{r.serial}, Optional(r.operatorCurrent), r.thermometer, r.adcSensor1,
                        r.adcSensor2, Optional(r.vin), Optional(r.vmem), Optional(r.supplyCurrent), Optional(r.powerFlags),
                        Optional(r.temperature), IdCodesText(r.idCodes), r.verdict, r.reportFile, r.reportSignature,
                        r.prevHash, r.hash, r.bench, r.seq, int64_t{r.format}});
        // The children in one statement per table: a round trip less per row on a server.
        std::vector<SqlValue> lines, pins, faults, nets;
        for (size_t i = 0; i < r.errorLines.size(); ++i)
            lines.insert(lines.end(), {r.id, static_cast<int64_t>(i), r.errorLines[i]});
        for (size_t i = 0; i < r.pinErrors.size(); ++i) {
            const PinErrorRecord& p = r.pinErrors[i];
            pins.insert(pins.end(), {r.id, static_cast<int64_t>(i), int64_t{p.line}, int64_t{p.vector}, int64_t{p.abs}, p.group,
                                     int64_t{p.fpga}, p.pin, p.packagePin, int64_t{p.read}, int64_t{p.expected}});
        }
        for (size_t i = 0; i < r.faults.size(); ++i) {
            const FaultRecord& f = r.faults[i];
            faults.insert(faults.end(), {r.id, static_cast<int64_t>(i), f.kind, Optional(f.level), f.description});
            for (size_t n = 0; n < f.nets.size(); ++n)
                nets.insert(nets.end(), {r.id, static_cast<int64_t>(i), static_cast<int64_t>(n), f.nets[n], f.kind, r.bench});
        }
        InsertRows(*m_Sql, "error_lines (board_id, seq, line)", 3, lines);
        InsertRows(*m_Sql, "pin_errors (board_id, seq, line_seq, vector, abs_vector, vector_group, fpga, pin, package_pin, read_value, expected)",
                   11, pins);
        InsertRows(*m_Sql, "faults (board_id, seq, kind, level, description)", 5, faults);
        InsertRows(*m_Sql, "fault_nets (board_id, fault_seq, seq, net, kind, bench)", 6, nets);
        m_Sql->Execute("INSERT INTO bench_heads (bench, last_seq, last_hash) VALUES (?, ?, ?) "
                       "ON CONFLICT (bench) DO UPDATE SET last_seq = excluded.last_seq, last_hash = excluded.last_hash",
                       {r.bench, r.seq, r.hash});
        transaction.Commit();
        return true;
    } catch (const CSqlError& e) {
        why = e.what();
        r.id = r.seq = 0;
        return false;
    }
}

void CResultsDb::ForEachRecord(const RecordFilter& filter, const std::function<void(const BoardRecord&)>& each)
{
    std::vector<SqlValue> params;
    const std::string where = WhereClause(filter, params, "");
    std::string sql = std::string("SELECT ") + kBoardColumns + " FROM boards" + where;
    // Read in batches by id, so that the whole database is never held at once and a back end need
    // not run a second query while one is open.
    sql += std::string(where.empty() ? " WHERE " : " AND ") + "id > ? ORDER BY id LIMIT ?";
    params.push_back(int64_t{0});
    params.push_back(int64_t{0});
    int64_t left = filter.limit > 0 ? filter.limit : INT64_MAX;

    std::vector<BoardRecord> batch;
    auto flush = [&]() {
        if (batch.empty())
            return;
        std::map<int64_t, BoardRecord*> byId;
        for (BoardRecord& r : batch)
            byId[r.id] = &r;
        // A dense run of ids is read by range, scattered ones one by one.
        std::vector<std::pair<int64_t, int64_t>> ranges;
        if (batch.back().id - batch.front().id < static_cast<int64_t>(4 * batch.size()))
            ranges.emplace_back(batch.front().id, batch.back().id);
        else
            for (const BoardRecord& r : batch)
                ranges.emplace_back(r.id, r.id);
        for (const auto& [first, last] : ranges) {
            const std::vector<SqlValue> span = {first, last};
            auto owner = [&](const SqlValue& id) {
                const auto it = byId.find(SqlInt(id));
                return it == byId.end() ? nullptr : it->second;
            };
            m_Sql->Query("SELECT board_id, line FROM error_lines WHERE board_id BETWEEN ? AND ? ORDER BY board_id, seq", span,
                         [&](const SqlRow& row) {
                             if (BoardRecord* r = owner(row[0]))
                                 r->errorLines.push_back(SqlText(row[1]));
                         });
            m_Sql->Query("SELECT board_id, line_seq, vector, abs_vector, vector_group, fpga, pin, package_pin, read_value, "
                         "expected FROM pin_errors WHERE board_id BETWEEN ? AND ? ORDER BY board_id, seq",
                         span, [&](const SqlRow& row) {
                             if (BoardRecord* r = owner(row[0]))
                                 r->pinErrors.push_back({static_cast<int>(SqlInt(row[1])), static_cast<int>(SqlInt(row[2])),
                                                         static_cast<int>(SqlInt(row[3])), SqlText(row[4]),
                                                         static_cast<int>(SqlInt(row[5])), SqlText(row[6]), SqlText(row[7]),
                                                         static_cast<int>(SqlInt(row[8])), static_cast<int>(SqlInt(row[9]))});
                         });
            m_Sql->Query("SELECT board_id, kind, level, description FROM faults WHERE board_id BETWEEN ? AND ? "
                         "ORDER BY board_id, seq",
                         span, [&](const SqlRow& row) {
                             if (BoardRecord* r = owner(row[0]))
                                 r->faults.push_back({SqlText(row[1]), OptionalInt(row[2]), SqlText(row[3]), {}});
                         });
            m_Sql->Query("SELECT board_id, fault_seq, net FROM fault_nets WHERE board_id BETWEEN ? AND ? "
                         "ORDER BY board_id, fault_seq, seq",
                         span, [&](const SqlRow& row) {
                             BoardRecord* r = owner(row[0]);
                             const auto fault = static_cast<size_t>(SqlInt(row[1]));
                             if (r != nullptr && fault < r->faults.size())
                                 r->faults[fault].nets.push_back(SqlText(row[2]));
                         });
        }
        for (const BoardRecord& r : batch)
            each(r);
        batch.clear();
    };
    for (int64_t after = 0; left > 0;) {
        params[params.size() - 2] = after;
        params.back() = std::min<int64_t>(left, kLoadBatch);
        m_Sql->Query(sql, params, [&](const SqlRow& row) { batch.push_back(RecordFromRow(row)); });
        if (batch.empty())
            break;
        after = batch.back().id;
        left -= static_cast<int64_t>(batch.size());
        flush();
    }
}

ChainCheck CResultsDb::Verify()
{
    struct Chain {
        int64_t headSeq = -1;
        std::string headHash;
        int64_t next = 1;
        std::string previous = kChainStart;
        int64_t records = 0;
    };
    std::map<std::string, Chain> chains;
    m_Sql->Query("SELECT bench, last_seq, last_hash FROM bench_heads", {}, [&](const SqlRow& row) {
        Chain& chain = chains[SqlText(row.at(0))];
        chain.headSeq = SqlInt(row.at(1));
        chain.headHash = SqlText(row.at(2));
    });
    ChainCheck check;
    std::vector<std::pair<std::string, std::string>> problems;  // bench, problem
    ForEachRecord({}, [&](const BoardRecord& r) {
        Chain& chain = chains[r.bench];
        ++check.records;
        ++chain.records;
        auto problem = [&](std::string text) { problems.emplace_back(r.bench, std::move(text)); };
        if (r.seq > chain.next)
            problem(Missing(chain.next, r.seq - 1));
        if (RecordHash(r) != r.hash)
            problem(Format("record %lld (serial %u, tested %s) was changed", static_cast<long long>(r.seq), r.serial, r.started.c_str()));
        else if (r.seq == chain.next && r.prevHash != chain.previous)
            problem(Format("record %lld was changed (record %lld carries another hash for it)", static_cast<long long>(r.seq - 1),
                           static_cast<long long>(r.seq)));
        chain.previous = r.hash;
        chain.next = r.seq + 1;
    });
    // The nets' copies of their fault's kind and their board's bench, which the questions read.
    m_Sql->Query("SELECT DISTINCT b.bench, b.bench_seq FROM fault_nets n JOIN boards b ON b.id = n.board_id LEFT JOIN faults f "
                 "ON f.board_id = n.board_id AND f.seq = n.fault_seq WHERE n.bench <> b.bench OR f.kind IS NULL OR n.kind <> f.kind",
                 {}, [&](const SqlRow& row) {
                     problems.emplace_back(SqlText(row.at(0)), Format("record %lld was changed (the copy of its bench or fault kinds kept with its nets differs)",
                                                                       static_cast<long long>(SqlInt(row.at(1)))));
                 });
    for (auto& [bench, chain] : chains) {
        auto problem = [&, &bench = bench](std::string text) { problems.emplace_back(bench, std::move(text)); };
        const int64_t last = chain.next - 1;
        if (chain.headSeq < 0 && chain.records > 0)
            problem("the chain head is missing (removed)");
        else if (chain.headSeq > last)
            problem(Missing(chain.next, chain.headSeq));
        else if (chain.headSeq >= 0 && chain.headSeq < last)
            problem(Range(chain.headSeq + 1, last) + " came after the chain head (added by hand)");
        else if (chain.headSeq == last && last > 0 && chain.headHash != chain.previous)
            problem(Format("record %lld was changed (the chain head carries another hash for it)", static_cast<long long>(last)));
        check.benches.push_back({bench, chain.records, chain.previous});
    }
    // Each bench's problems together, in the order found.
    std::stable_sort(problems.begin(), problems.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [bench, text] : problems)
        check.problems.push_back("bench " + bench + ": " + text);
    return check;
}

std::string WhereClause(const RecordFilter& filter, std::vector<SqlValue>& params, const std::string& table)
{
    std::string where;
    auto condition = [&](const char* column, const char* test, SqlValue value) {
        where += (where.empty() ? " WHERE " : " AND ") + table + column + test;
        params.push_back(std::move(value));
    };
    if (filter.serial)
        condition("serial", " = ?", int64_t{*filter.serial});
    if (!filter.bench.empty())
        condition("bench", " = ?", filter.bench);
    if (!filter.verdict.empty())
        condition("verdict", " = ?", filter.verdict);
    if (!filter.since.empty())
        condition("test_day", " >= ?", filter.since);
    if (!filter.until.empty())
        condition("test_day", " <= ?", filter.until);
    return where;
}

std::unique_ptr<CResultsDb> OpenResultsDb(const std::string& target, bool readWrite, bool fast)
{
    const bool postgres = IsPostgresTarget(target);
    std::unique_ptr<CSqlConnection> connection;
    CSqliteConnection* sqlite = nullptr;
    if (postgres) {
        connection = OpenPostgres(target);
    } else {
        auto file = std::make_unique<CSqliteConnection>(target, readWrite ? CSqliteConnection::Mode::ReadWrite : CSqliteConnection::Mode::ReadOnly,
                                                        fast ? CSqliteConnection::Sync::Fast : CSqliteConnection::Sync::Full);
        sqlite = file.get();
        connection = std::move(file);
    }
    auto db = std::make_unique<CResultsDb>(std::move(connection));
    const int version = db->SchemaVersion();
    if (version > LatestSchemaVersion())
        throw CSqlError(Format("%s: schema version %d is newer than this program's %d", db->Name().c_str(), version, LatestSchemaVersion()));
    if (!readWrite && version == 0)
        throw CSqlError(db->Name() + ": holds no test results");
    if (!readWrite && version == LatestSchemaVersion())
        return db;
    if (sqlite != nullptr) {
        if (!readWrite)  // an older schema: brought up to date through a connection that writes
            return OpenResultsDb(target, true, fast);
        if (const std::string damage = sqlite->QuickCheck(); !damage.empty())
            throw CSqlError(target + ": the database is damaged (" + damage + ")");
        sqlite->StartWriting();
    }
    db->Migrate();
    return db;
}

std::vector<CopyCount> CopyRecords(CResultsDb& from, CResultsDb& to, const RecordFilter& filter)
{
    const ChainCheck check = from.Verify();
    if (!check.problems.empty())
        throw CSqlError(Format("%s: its chains do not verify (%s%s): nothing copied", from.Name().c_str(), check.problems[0].c_str(),
                               check.problems.size() > 1 ? ", ..." : ""));
    std::vector<CopyCount> counts;
    for (const BenchChain& chain : check.benches) {
        if (chain.records == 0 || (!filter.bench.empty() && filter.bench != chain.bench))
            continue;
        RecordFilter selected = filter;
        selected.bench = chain.bench;
        // The tests of the bench that the target holds from the first day copied on.
        std::string firstDay;
        std::vector<SqlValue> params;
        from.Sql().Query("SELECT MIN(test_day) FROM boards" + WhereClause(selected, params, ""), params,
                         [&](const SqlRow& row) { firstDay = SqlText(row.at(0)); });
        std::set<std::string> present;
        to.ForEachRecord({.bench = chain.bench, .since = firstDay}, [&](const BoardRecord& r) { present.insert(ContentDigest(r)); });

        CopyCount count{chain.bench};
        from.ForEachRecord(selected, [&](const BoardRecord& r) {
            if (!present.insert(ContentDigest(r)).second) {
                ++count.present;
                return;
            }
            BoardRecord copy = r;
            std::string why;
            if (!to.Append(copy, why))
                throw CSqlError(why);
            ++count.copied;
        });
        counts.push_back(count);
    }
    return counts;
}
