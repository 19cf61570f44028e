// qbx-results: the production line's questions over the station's results database.
//
//   qbx-results [--db DB] list [--serial N] [--verdict PASS|FAIL|ENDED] [--bench NAME] [--since DAY] [--until DAY] [--limit N]
//   qbx-results [--db DB] show SERIAL
//   qbx-results [--db DB] yield [--by-bench] [--bench NAME] [--since DAY] [--until DAY]
//   qbx-results [--db DB] pareto [--by-bench] [--bench NAME] [--since DAY] [--until DAY] [--limit N]
//   qbx-results [--db DB] export --csv|--json [filters as for list]
//   qbx-results [--db DB] verify
//   qbx-results [--db DB] report FILE.html [--bench NAME] [--since DAY] [--until DAY]
//   qbx-results copy FROM TO [--bench NAME]
//
// The database is --db DB, else the one QBX_RESULTS names, else results.db in the current folder:
// an SQLite file or a PostgreSQL connection string. It is only read (an older schema is brought up
// to date first); copy writes into TO. Days are YYYY-MM-DD (UTC).
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
