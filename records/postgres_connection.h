// The PostgreSQL back end of the results database: the server that the benches of a production line
// share, reached through libpq. Statements take the same "?" placeholders as on SQLite (numbered
// $1, $2, ... here); a write transaction takes one lock for the whole database (a transaction-level
// advisory lock), so that writers run one after the other as they do on SQLite; answers are read as
// text and typed by their columns.
//
// Connecting gives up after kConnectTimeoutSeconds (libpq's shortest) unless the connection string
// says otherwise, so that a server that is down or unreachable costs a board little; on TCP,
// keep-alives and a user time-out notice a server that vanished while connected.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "sql.h"

struct pg_conn;
struct pg_result;

class CPostgresConnection final : public CSqlConnection {
public:
    // How long connecting may take before the server counts as unreachable (libpq's
    // connect_timeout; a connection string's own connect_timeout wins).
    static constexpr int kConnectTimeoutSeconds = 2;
    // How long a writer waits for another one's transaction before it gives up (as on SQLite).
    static constexpr int kLockTimeoutMs = 15000;

    // Connects; throws CSqlError with libpq's reason.
    explicit CPostgresConnection(const std::string& target);
    ~CPostgresConnection() override;
    CPostgresConnection(const CPostgresConnection&) = delete;
    CPostgresConnection& operator=(const CPostgresConnection&) = delete;

    void Execute(const std::string& sql, const std::vector<SqlValue>& params = {}) override;
    void Query(const std::string& sql, const std::vector<SqlValue>& params,
               const std::function<void(const SqlRow&)>& row) override;
    void BeginWrite() override;
    void Commit() override;
    void Rollback() noexcept override;
    std::vector<std::string> Tables() override;
    std::string Name() const override { return m_Name; }
    bool Broken() noexcept override;

private:
    struct ResultDeleter {
        void operator()(pg_result* result) const;
    };
    using Result = std::unique_ptr<pg_result, ResultDeleter>;

    // Runs one statement; throws CSqlError when the server refuses it or cannot be reached.
    Result Run(const std::string& sql, const std::vector<SqlValue>& params);
    // sql with its "?" placeholders numbered (kept for the next use).
    const std::string& Numbered(const std::string& sql);

    std::string m_Name;
    pg_conn* m_Conn = nullptr;
    std::map<std::string, std::string> m_Numbered;
};
