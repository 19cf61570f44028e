// A build without the results database (QBX_RECORDS off): the station tests and writes its files,
// and says that it records nothing.
#include "board_record.h"

bool ResultsDatabaseBuilt()
{
    return false;
}

std::unique_ptr<CBoardRecorder> OpenBoardRecorder(const std::string& /*target*/, const std::string& /*fallbackFile*/, std::string& why)
{
    why = "this build has no results database";
    return nullptr;
}
