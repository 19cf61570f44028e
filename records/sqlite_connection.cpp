#include "sqlite_connection.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform.h"

namespace {

// Resets a statement when a run of it ends, however it ends.
class CStatementRun {
public:
    explicit CStatementRun(sqlite3_stmt* statement) : m_Statement(statement) {}
    ~CStatementRun()
    {
        sqlite3_reset(m_Statement);
        sqlite3_clear_bindings(m_Statement);
    }
    CStatementRun(const CStatementRun&) = delete;
    CStatementRun& operator=(const CStatementRun&) = delete;

private:
    sqlite3_stmt* m_Statement;
};

}  // namespace

CSqliteConnection::CSqliteConnection(const std::string& path, Mode mode, Sync sync) : m_Path(path)
{
    const int flags = (mode == Mode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
                      SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX;
    const int rc = sqlite3_open_v2(path.c_str(), &m_Db, flags, nullptr);
    if (rc != SQLITE_OK) {
        std::string why = m_Db != nullptr ? sqlite3_errmsg(m_Db) : sqlite3_errstr(rc);
        if (const int error = m_Db != nullptr ? sqlite3_system_errno(m_Db) : 0; error != 0)
            why += std::string(" (") + std::strerror(error) + ")";
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
            why = "a symbolic link (the results database is not opened through one)";
        else if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            why = "a folder, not a database file";
        sqlite3_close(m_Db);
        m_Db = nullptr;
        throw CSqlError(path + ": " + why);
    }
    sqlite3_extended_result_codes(m_Db, 1);
    sqlite3_busy_timeout(m_Db, kBusyTimeoutMs);
    try {
        // Reading anything shows whether the file is a database at all; nothing is written yet.
        Query("SELECT COUNT(*) FROM sqlite_master", {}, [](const SqlRow&) {});
        if (mode == Mode::ReadWrite && sqlite3_db_readonly(m_Db, "main") == 1)
            throw CSqlError(path + ": the file or its folder is read-only");
        m_Sync = sync;
    } catch (const CSqlError& e) {
        for (auto& [sql, statement] : m_Statements)
            sqlite3_finalize(statement);
        m_Statements.clear();
        sqlite3_close(m_Db);
        m_Db = nullptr;
        // A database in WAL mode cannot even be read where its side files cannot be made.
        if (mode == Mode::ReadWrite && (::access(path.c_str(), W_OK) != 0 || ::access(platform::DirName(path).c_str(), W_OK) != 0))
            throw CSqlError(path + ": the file or its folder is read-only");
        throw;
    }
}

CSqliteConnection::~CSqliteConnection()
{
    for (auto& [sql, statement] : m_Statements)
        sqlite3_finalize(statement);
    sqlite3_close(m_Db);
}

void CSqliteConnection::Fail(int code) const
{
    std::string why = sqlite3_errmsg(m_Db);
    if (why.empty())
        why = sqlite3_errstr(code);
    throw CSqlError(m_Path + ": " + why);
}

sqlite3_stmt* CSqliteConnection::Prepare(const std::string& sql, const std::vector<SqlValue>& params)
{
    sqlite3_stmt*& statement = m_Statements[sql];
    if (statement == nullptr) {
        const int rc = sqlite3_prepare_v2(m_Db, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr);
        if (rc != SQLITE_OK) {
            m_Statements.erase(sql);
            Fail(rc);
        }
    }
    for (size_t i = 0; i < params.size(); ++i) {
        const int index = static_cast<int>(i) + 1;
        int rc = SQLITE_OK;
        if (const auto* number = std::get_if<int64_t>(&params[i]))
            rc = sqlite3_bind_int64(statement, index, *number);
        else if (const auto* real = std::get_if<double>(&params[i]))
            rc = sqlite3_bind_double(statement, index, *real);
        else if (const auto* text = std::get_if<std::string>(&params[i]))
            rc = sqlite3_bind_text(statement, index, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
        else
            rc = sqlite3_bind_null(statement, index);
        if (rc != SQLITE_OK) {
            sqlite3_reset(statement);
            sqlite3_clear_bindings(statement);
            Fail(rc);
        }
    }
    return statement;
}

void CSqliteConnection::Execute(const std::string& sql, const std::vector<SqlValue>& params)
{
    sqlite3_stmt* statement = Prepare(sql, params);
    CStatementRun run(statement);
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE)
        Fail(rc);
}

void CSqliteConnection::Query(const std::string& sql, const std::vector<SqlValue>& params,
                              const std::function<void(const SqlRow&)>& row)
{
    sqlite3_stmt* statement = Prepare(sql, params);
    CStatementRun run(statement);
    SqlRow values;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        const int columns = sqlite3_column_count(statement);
        values.assign(static_cast<size_t>(columns), nullptr);
        for (int c = 0; c < columns; ++c) {
            switch (sqlite3_column_type(statement, c)) {
            case SQLITE_INTEGER:
                values[static_cast<size_t>(c)] = static_cast<int64_t>(sqlite3_column_int64(statement, c));
                break;
            case SQLITE_FLOAT:
                values[static_cast<size_t>(c)] = sqlite3_column_double(statement, c);
                break;
            case SQLITE_NULL:
                break;
            default: {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, c));
                values[static_cast<size_t>(c)] = std::string(text ? text : "", static_cast<size_t>(sqlite3_column_bytes(statement, c)));
            }
            }
        }
        row(values);
    }
    if (rc != SQLITE_DONE)
        Fail(rc);
}

void CSqliteConnection::StartWriting()
{
    Query("PRAGMA journal_mode=WAL", {}, [](const SqlRow&) {});
    Execute(m_Sync == Sync::Full ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL");
}

void CSqliteConnection::BeginWrite()
{
    Execute("BEGIN IMMEDIATE");
}

void CSqliteConnection::Commit()
{
    Execute("COMMIT");
}

void CSqliteConnection::Rollback() noexcept
{
    if (sqlite3_get_autocommit(m_Db) == 0)
        sqlite3_exec(m_Db, "ROLLBACK", nullptr, nullptr, nullptr);
}

std::vector<std::string> CSqliteConnection::Tables()
{
    std::vector<std::string> names;
    Query("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name", {},
          [&](const SqlRow& row) { names.push_back(SqlText(row.at(0))); });
    return names;
}

std::string CSqliteConnection::QuickCheck()
{
    std::string problems;
    Query("PRAGMA quick_check", {}, [&](const SqlRow& row) {
        const std::string line = SqlText(row.at(0));
        if (line != "ok")
            problems += (problems.empty() ? "" : "; ") + line;
    });
    return problems;
}
