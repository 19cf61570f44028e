// A build without PostgreSQL (QBX_POSTGRES off): a connection string is refused with the reason.
#include "sql.h"

std::unique_ptr<CSqlConnection> OpenPostgres(const std::string& target)
{
    (void)target;
    throw CSqlError("this build has no PostgreSQL support (QBX_POSTGRES is off): a connection string cannot be used");
}
