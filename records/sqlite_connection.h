// The SQLite back end of the results database: one file, written in WAL mode, so that a reader
// never blocks the station and a killed station leaves at most its unfinished transaction behind
// (SQLite drops it at the next open).
#pragma once

#include <map>
#include <memory>
#include <string>

#include "sql.h"

struct sqlite3;
struct sqlite3_stmt;

class CSqliteConnection final : public CSqlConnection {
public:
    // How long a writer waits for another station's transaction before it gives up.
    static constexpr int kBusyTimeoutMs = 15000;

    enum class Mode { ReadOnly, ReadWrite };
    // Durability of each commit: Full waits until the transaction is on the disk; Fast leaves that
    // to the operating system (a power cut may lose the last transactions, a crash of the program
    // loses nothing). Fast is for bulk loads, such as building a test database.
    enum class Sync { Full, Fast };

    // Opens (ReadWrite: creates when missing) the database file; symbolic links are refused.
    // Throws CSqlError.
    CSqliteConnection(const std::string& path, Mode mode, Sync sync = Sync::Full);
    ~CSqliteConnection() override;
    CSqliteConnection(const CSqliteConnection&) = delete;
    CSqliteConnection& operator=(const CSqliteConnection&) = delete;

    void Execute(const std::string& sql, const std::vector<SqlValue>& params = {}) override;
    void Query(const std::string& sql, const std::vector<SqlValue>& params,
               const std::function<void(const SqlRow&)>& row) override;
    void BeginWrite() override;
    void Commit() override;
    void Rollback() noexcept override;
    std::vector<std::string> Tables() override;
    std::string Name() const override { return m_Path; }

    // Write-ahead logging and the durability of commits; called once the file is known to be a
    // results database (or empty), so that no other file is ever changed.
    void StartWriting();
    // SQLite's own check of the file's structure: "" when sound, else what is wrong.
    std::string QuickCheck();

private:
    // The prepared statement of sql (kept for the next use), reset and with params bound.
    sqlite3_stmt* Prepare(const std::string& sql, const std::vector<SqlValue>& params);
    [[noreturn]] void Fail(int code) const;

    std::string m_Path;
    Sync m_Sync = Sync::Full;
    sqlite3* m_Db = nullptr;
    std::map<std::string, sqlite3_stmt*> m_Statements;
};
