#include "postgres_connection.h"

#include <libpq-fe.h>

#include <charconv>

namespace {

// Type numbers of the server's built-in types (pg_type's oid column; fixed for every server).
constexpr Oid kBoolOid = 16;
constexpr Oid kInt8Oid = 20;
constexpr Oid kInt2Oid = 21;
constexpr Oid kInt4Oid = 23;
constexpr Oid kTextOid = 25;
constexpr Oid kOidOid = 26;
constexpr Oid kFloat4Oid = 700;
constexpr Oid kFloat8Oid = 701;
constexpr Oid kNumericOid = 1700;

// The advisory lock every write transaction of the results database takes ("QBXR").
constexpr int64_t kWriteLockKey = 0x51425852;

// libpq's messages end with a line end and may continue on indented lines: one line of them.
std::string OneLine(const char* message)
{
    std::string line;
    bool blank = false;
    for (const char* c = message != nullptr ? message : ""; *c != '\0'; ++c) {
        if (*c == '\n' || *c == '\r' || *c == '\t' || *c == ' ') {
            blank = !line.empty();
            continue;
        }
        if (blank)
            line += ' ';
        blank = false;
        line += *c;
    }
    return line.empty() ? "unknown error" : line;
}

std::string DoubleText(double value)
{
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc() ? std::string(text, end) : "NaN";
}

SqlValue Value(const pg_result* result, int row, int column)
{
    if (PQgetisnull(result, row, column))
        return nullptr;
    const char* text = PQgetvalue(result, row, column);
    const char* end = text + PQgetlength(result, row, column);
    switch (PQftype(result, column)) {
    case kInt8Oid:
    case kInt4Oid:
    case kInt2Oid:
    case kOidOid: {
        int64_t number = 0;
        std::from_chars(text, end, number);
        return number;
    }
    case kFloat8Oid:
    case kFloat4Oid:
    case kNumericOid: {
        double real = 0.0;
        std::from_chars(text, end, real);
        return real;
    }
    case kBoolOid:
        return int64_t{*text == 't'};
    default:
        return std::string(text, end);
    }
}

}  // namespace

void CPostgresConnection::ResultDeleter::operator()(pg_result* result) const
{
    PQclear(result);
}

CPostgresConnection::CPostgresConnection(const std::string& target) : m_Name(PostgresDisplayName(target))
{
    // Defaults first: the connection string (expanded in place of dbname) overrides them.
    const std::string timeout = std::to_string(kConnectTimeoutSeconds);
    const char* const keywords[] = {"connect_timeout", "gssencmode", "application_name", "keepalives_idle",
                                    "keepalives_interval", "tcp_user_timeout", "dbname", nullptr};
    const char* const values[] = {timeout.c_str(), "disable", "qbx", "10", "5", "20000", target.c_str(), nullptr};
    m_Conn = PQconnectdbParams(keywords, values, 1);
    if (m_Conn == nullptr)
        throw CSqlError(m_Name + ": out of memory");
    if (PQstatus(m_Conn) != CONNECTION_OK) {
        const std::string why = OneLine(PQerrorMessage(m_Conn));
        PQfinish(m_Conn);
        m_Conn = nullptr;
        throw CSqlError(m_Name + ": " + why);
    }
    // The server's notices ("table ... does not exist, skipping") are not for the operator.
    PQsetNoticeProcessor(m_Conn, [](void*, const char*) {}, nullptr);
    try {
        Execute("SET lock_timeout = " + std::to_string(kLockTimeoutMs));
        // Doubles as text that reads back to the same value.
        Execute("SET extra_float_digits = 3");
    } catch (const CSqlError&) {
        PQfinish(m_Conn);
        m_Conn = nullptr;
        throw;
    }
}

CPostgresConnection::~CPostgresConnection()
{
    PQfinish(m_Conn);
}

const std::string& CPostgresConnection::Numbered(const std::string& sql)
{
    auto [it, added] = m_Numbered.try_emplace(sql);
    if (added) {
        bool quoted = false;
        int number = 0;
        for (char c : sql) {
            quoted = c == '\'' ? !quoted : quoted;
            if (c == '?' && !quoted)
                it->second += "$" + std::to_string(++number);
            else
                it->second += c;
        }
    }
    return it->second;
}

CPostgresConnection::Result CPostgresConnection::Run(const std::string& sql, const std::vector<SqlValue>& params)
{
    if (m_Conn == nullptr || PQstatus(m_Conn) != CONNECTION_OK)
        throw CSqlError(m_Name + ": the connection to the server was lost");
    std::vector<std::string> texts(params.size());
    std::vector<const char*> values(params.size(), nullptr);
    std::vector<Oid> types(params.size(), 0);
    for (size_t i = 0; i < params.size(); ++i) {
        if (const auto* number = std::get_if<int64_t>(&params[i])) {
            texts[i] = std::to_string(*number);
            types[i] = kInt8Oid;
        } else if (const auto* real = std::get_if<double>(&params[i])) {
            texts[i] = DoubleText(*real);
            types[i] = kFloat8Oid;
        } else if (const auto* text = std::get_if<std::string>(&params[i])) {
            texts[i] = *text;
            types[i] = kTextOid;
        } else {
            continue;  // NULL
        }
        values[i] = texts[i].c_str();
    }
    Result result(PQexecParams(m_Conn, Numbered(sql).c_str(), static_cast<int>(params.size()), types.data(), values.data(),
                               nullptr, nullptr, 0));
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        throw CSqlError(m_Name + ": " + OneLine(result ? PQresultErrorMessage(result.get()) : PQerrorMessage(m_Conn)));
    return result;
}

void CPostgresConnection::Execute(const std::string& sql, const std::vector<SqlValue>& params)
{
    Run(sql, params);
}

void CPostgresConnection::Query(const std::string& sql, const std::vector<SqlValue>& params,
                                const std::function<void(const SqlRow&)>& row)
{
    const Result result = Run(sql, params);
    const int rows = PQntuples(result.get()), columns = PQnfields(result.get());
    SqlRow values(static_cast<size_t>(columns));
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c)
            values[static_cast<size_t>(c)] = Value(result.get(), r, c);
        row(values);
    }
}

void CPostgresConnection::BeginWrite()
{
    Execute("BEGIN");
    Execute("SELECT pg_advisory_xact_lock(?)", {kWriteLockKey});
}

void CPostgresConnection::Commit()
{
    Execute("COMMIT");
}

void CPostgresConnection::Rollback() noexcept
{
    if (m_Conn != nullptr && PQstatus(m_Conn) == CONNECTION_OK && PQtransactionStatus(m_Conn) != PQTRANS_IDLE)
        PQclear(PQexec(m_Conn, "ROLLBACK"));
}

std::vector<std::string> CPostgresConnection::Tables()
{
    std::vector<std::string> names;
    Query("SELECT tablename::text FROM pg_catalog.pg_tables WHERE schemaname = current_schema() ORDER BY 1", {},
          [&](const SqlRow& row) { names.push_back(SqlText(row.at(0))); });
    return names;
}

bool CPostgresConnection::Broken() noexcept
{
    // What the server sent while the connection was idle (a shutdown says so, then closes it) is
    // read without waiting; the end of the connection shows on the read after its last message.
    for (int read = 0; read < 2 && m_Conn != nullptr && PQstatus(m_Conn) == CONNECTION_OK; ++read)
        if (PQtransactionStatus(m_Conn) != PQTRANS_IDLE || PQconsumeInput(m_Conn) == 0)
            break;
    return m_Conn == nullptr || PQstatus(m_Conn) != CONNECTION_OK;
}

std::unique_ptr<CSqlConnection> OpenPostgres(const std::string& target)
{
    return std::make_unique<CPostgresConnection>(target);
}
