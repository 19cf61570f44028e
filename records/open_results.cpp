// The station's results database: SQLite.
#include "results_db.h"

bool ResultsDatabaseBuilt()
{
    return true;
}

std::unique_ptr<CBoardRecorder> OpenBoardRecorder(const std::string& target, std::string& why)
{
    try {
        return OpenResultsDb(target, true);
    } catch (const CSqlError& e) {
        why = e.what();
        return nullptr;
    }
}
