// qbx-results: the production line's questions over the station's results database.
//
//   qbx-results [--db FILE] list [--serial N] [--verdict PASS|FAIL|ENDED] [--since DAY] [--until DAY] [--limit N]
//   qbx-results [--db FILE] show SERIAL
//   qbx-results [--db FILE] yield [--since DAY] [--until DAY]
//   qbx-results [--db FILE] pareto [--since DAY] [--until DAY] [--limit N]
//   qbx-results [--db FILE] export --csv|--json [filters as for list]
//   qbx-results [--db FILE] verify
//   qbx-results [--db FILE] report FILE.html [--since DAY] [--until DAY]
//
// The database is --db FILE, else the file QBX_RESULTS names, else results.db in the current
// folder; it is only read. Days are YYYY-MM-DD (UTC).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "results_db.h"

// The whole command; writes to out, messages to err. Exit status: 0 done, 1 the database cannot
// be read, a file cannot be written, or verify found a problem; 2 usage error.
int RunQbxResults(const std::vector<std::string>& args, FILE* out, FILE* err);

// The report page: yield per day and the Pareto of failing nets as inline SVG, tables beneath, no
// script and nothing fetched. title names the database.
std::string ResultsReportHtml(const std::string& title, const std::vector<YieldRow>& yield,
                              const std::vector<ParetoRow>& pareto, const std::string& generated);
