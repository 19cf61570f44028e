// A connection to an SQL database, as the results database uses one: statements with "?"
// placeholders (bound in order), rows of plain values, and write transactions. The results
// database's tables, migrations and queries are written once over this interface in plain SQL that
// SQLite and PostgreSQL both take; each back end implements it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

using SqlValue = std::variant<std::nullptr_t, int64_t, double, std::string>;
using SqlRow = std::vector<SqlValue>;

// What every failing call throws: the database's name and its reason, ready for a message.
class CSqlError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class CSqlConnection {
public:
    virtual ~CSqlConnection() = default;

    // Runs one statement with its parameters.
    virtual void Execute(const std::string& sql, const std::vector<SqlValue>& params = {}) = 0;
    // Runs one query and hands each row to row, in order.
    virtual void Query(const std::string& sql, const std::vector<SqlValue>& params,
                       const std::function<void(const SqlRow&)>& row) = 0;
    // A transaction that holds the database's write lock from its start (other writers wait for
    // it, up to the back end's busy time-out).
    virtual void BeginWrite() = 0;
    virtual void Commit() = 0;
    // Never throws: used on the way out of a failed transaction.
    virtual void Rollback() noexcept = 0;
    // The names of the database's tables (of the schema the connection works in).
    virtual std::vector<std::string> Tables() = 0;
    // The database as messages name it.
    virtual std::string Name() const = 0;
    // True once the connection to a server was lost: nothing more can be done through it. Never
    // waits for the server.
    virtual bool Broken() noexcept { return false; }
};

// A write transaction that rolls back unless committed.
class CWriteTransaction {
public:
    explicit CWriteTransaction(CSqlConnection& sql) : m_Sql(sql) { m_Sql.BeginWrite(); }
    ~CWriteTransaction()
    {
        if (!m_Done)
            m_Sql.Rollback();
    }
    CWriteTransaction(const CWriteTransaction&) = delete;
    CWriteTransaction& operator=(const CWriteTransaction&) = delete;
    void Commit()
    {
        m_Sql.Commit();
        m_Done = true;
    }

private:
    CSqlConnection& m_Sql;
    bool m_Done = false;
};

// A PostgreSQL connection string (a "postgresql://" or "postgres://" URI, or libpq's
// "keyword=value ..." form) rather than the path of an SQLite file.
bool IsPostgresTarget(const std::string& target);

// A PostgreSQL connection string as messages show it: a password in it replaced by "***".
std::string PostgresDisplayName(const std::string& target);

// Opens a PostgreSQL database (see postgres_connection.h). Throws CSqlError, also in a build
// without PostgreSQL.
std::unique_ptr<CSqlConnection> OpenPostgres(const std::string& target);

// Typed reads of a row's values: NULL reads as 0 or "".
int64_t SqlInt(const SqlValue& value);
double SqlDouble(const SqlValue& value);
std::string SqlText(const SqlValue& value);
bool SqlIsNull(const SqlValue& value);
