// The station's results database: an SQLite file, or the line's PostgreSQL server with a local
// SQLite file to fall back on while the server cannot be reached.
#include <chrono>

#include "results_db.h"

namespace {

// Records into the line's server while it answers, else into the fallback file (opened, and
// created, at the first board that needs it). Each board tries the server again, so recording
// goes back to it as soon as it answers; `qbx-results copy` brings the fallback's records over.
// A server that did not even refuse (no answer until the connect time-out: its machine is off or
// cut off) is tried again only after a while, so that it costs the boards meanwhile nothing.
class CLineRecorder final : public CBoardRecorder {
public:
    using Clock = std::chrono::steady_clock;
    // A connection attempt at least this long is one that waited for the time-out.
    static constexpr auto kSlowConnect = std::chrono::milliseconds(1000);
    // How long the boards go straight to the fallback file after such an attempt.
    static constexpr auto kRetryAfterSlowConnect = std::chrono::seconds(30);

    CLineRecorder(std::string target, std::string fallbackFile) : m_Target(std::move(target)), m_FallbackFile(std::move(fallbackFile)) {}

    // Connects to the server: "" when it answers, else why not.
    std::string Connect()
    {
        const Clock::time_point start = Clock::now();
        try {
            m_Line = OpenResultsDb(m_Target, true);
            return "";
        } catch (const CSqlError& e) {
            m_Line.reset();
            m_LastWhy = e.what();
            if (Clock::now() - start >= kSlowConnect)
                m_NextTry = Clock::now() + kRetryAfterSlowConnect;
            return m_LastWhy;
        }
    }

    bool Append(BoardRecord& record, std::string& why) override
    {
        if (m_Line && m_Line->Sql().Broken())
            m_Line.reset();
        std::string lineWhy = m_Line ? "" : Clock::now() < m_NextTry ? m_LastWhy : Connect();
        if (m_Line) {
            if (m_Line->Append(record, lineWhy))
                return true;
            if (m_Line->Sql().Broken())
                m_Line.reset();
        }
        try {
            if (!m_Fallback)
                m_Fallback = OpenResultsDb(m_FallbackFile, true);
        } catch (const CSqlError& e) {
            why = lineWhy + "; " + e.what();
            return false;
        }
        std::string fallbackWhy;
        if (!m_Fallback->Append(record, fallbackWhy)) {
            why = lineWhy + "; " + fallbackWhy;
            return false;
        }
        why = "recorded in " + m_FallbackFile + ": " + lineWhy;
        return true;
    }

    std::string Name() const override { return PostgresDisplayName(m_Target); }

private:
    std::string m_Target;
    std::string m_FallbackFile;
    std::unique_ptr<CResultsDb> m_Line;
    std::unique_ptr<CResultsDb> m_Fallback;
    std::string m_LastWhy;
    Clock::time_point m_NextTry{};
};

}  // namespace

bool ResultsDatabaseBuilt()
{
    return true;
}

std::unique_ptr<CBoardRecorder> OpenBoardRecorder(const std::string& target, const std::string& fallbackFile, std::string& why)
{
    if (IsPostgresTarget(target)) {
        auto line = std::make_unique<CLineRecorder>(target, fallbackFile);
        if (const std::string reason = line->Connect(); !reason.empty())
            why = reason + "; the boards are recorded in " + fallbackFile + " until it answers";
        return line;
    }
    try {
        return OpenResultsDb(target, true);
    } catch (const CSqlError& e) {
        why = e.what();
        return nullptr;
    }
}
