// PostgreSQL for the recording tests: the CTest fixture "postgres" names its server in QBX_TEST_POSTGRES;
// each test makes its own databases there, and tests that stop the server start a private one.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sql.h"
#include "test_files.h"

namespace qbxtest {

inline const std::string kThrowawayPostgres = std::string(QBX_SOURCE_DIR) + "/scripts/throwaway-postgres.sh";

// The first line of a file, without its line end.
inline std::string FirstLine(const std::string& path)
{
    const std::string text = ReadFile(path);
    return text.substr(0, text.find('\n'));
}

// A server for a test: its connection string, or why there is none and whether the test should
// skip (no server can run here, or the test runs outside ctest) rather than fail.
struct TestServer {
    std::string conninfo;
    std::string why;
    bool skip = false;
};

// The server a state folder of the script describes.
inline TestServer PostgresOfState(const std::string& state)
{
    if (!QBX_POSTGRES_BUILT)
        return {"", "this build has no PostgreSQL support (QBX_POSTGRES is off)", true};
    if (FileExists(state + "/skip"))
        return {"", "no PostgreSQL server can run here: " + FirstLine(state + "/skip"), true};
    const std::string conninfo = FirstLine(state + "/conninfo");
    return {conninfo, conninfo.empty() ? "no connection string in " + state + "/conninfo: the server did not start" : ""};
}

// The test command's server.
inline TestServer TestPostgresServer()
{
    const char* state = std::getenv("QBX_TEST_POSTGRES");
    if (state == nullptr || *state == '\0')
        return {"", QBX_POSTGRES_BUILT ? "QBX_TEST_POSTGRES is not set: run this test through ctest, whose postgres fixture starts the server"
                                       : "this build has no PostgreSQL support (QBX_POSTGRES is off)",
                true};
    return PostgresOfState(state);
}

// In a test or its SetUp: skips or fails unless the server is there.
#define QBX_REQUIRE_SERVER(server)          \
    do {                                    \
        if ((server).conninfo.empty()) {    \
            if ((server).skip)              \
                GTEST_SKIP() << (server).why; \
            FAIL() << (server).why;         \
        }                                   \
    } while (false)

// A new, empty database on a server (removed when the object goes).
class CTestDatabase {
public:
    explicit CTestDatabase(const std::string& server) : m_Server(server)
    {
        static std::atomic<int> count{0};
        m_Name = "qbx_test_" + std::to_string(::getpid()) + "_" + std::to_string(++count);
        OpenPostgres(m_Server)->Execute("CREATE DATABASE " + m_Name);
    }
    ~CTestDatabase()
    {
        try {
            OpenPostgres(m_Server)->Execute("DROP DATABASE IF EXISTS " + m_Name + " WITH (FORCE)");
        } catch (const CSqlError&) {  // a server stopped by the test takes its databases with it
        }
    }
    CTestDatabase(const CTestDatabase&) = delete;
    CTestDatabase& operator=(const CTestDatabase&) = delete;

    // Its connection string, as libpq's keyword=value pairs.
    std::string Target() const { return m_Server + " dbname=" + m_Name; }
    // The same as a URI (the script's server is "host=FOLDER port=PORT user=USER dbname=postgres").
    std::string Uri() const
    {
        char host[256] = {}, user[64] = {};
        int port = 0;
        std::sscanf(m_Server.c_str(), "host=%255s port=%d user=%63s", host, &port, user);
        return "postgresql://" + std::string(user) + "@/" + m_Name + "?host=" + host + "&port=" + std::to_string(port);
    }

private:
    std::string m_Server;
    std::string m_Name;
};

// A server of the test's own, which it may halt and resume; stopped and removed when the object
// goes. durable: commits are synced to the disk, as on a real server (for benchmarks).
class CPrivatePostgres {
public:
    explicit CPrivatePostgres(bool durable = false)
    {
        const ProcessResult r = Script("start", durable ? "--durable" : "");
        m_Server = r.status == 0 ? PostgresOfState(m_State.Path()) : TestServer{"", kThrowawayPostgres + " start failed: " + r.err};
    }
    ~CPrivatePostgres() { Script("stop"); }
    CPrivatePostgres(const CPrivatePostgres&) = delete;
    CPrivatePostgres& operator=(const CPrivatePostgres&) = delete;

    const TestServer& Server() const { return m_Server; }
    // Stops the server (as an administrator does: connections are ended) and starts it again.
    bool Halt() { return Script("halt").status == 0; }
    bool Resume() { return Script("resume").status == 0; }
    // Freezes the server's main process (SIGSTOP) and lets it go on (SIGCONT): a server that takes
    // connections but never answers them.
    bool Freeze(bool frozen)
    {
        const std::string pid = FirstLine(FirstLine(m_State.File("cluster")) + "/data/postmaster.pid");
        return !pid.empty() && ::kill(std::stoi(pid), frozen ? SIGSTOP : SIGCONT) == 0;
    }

private:
    ProcessResult Script(const std::string& command, const std::string& option = "")
    {
        ProcessOptions options;
        options.args = {command, m_State.Path(), option};
        return RunProcess(kThrowawayPostgres, options);
    }

    TempDir m_State;
    TestServer m_Server;
};

}  // namespace qbxtest
