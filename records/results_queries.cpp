// The questions of a production line: which boards, what yield, which nets fail most.
#include <algorithm>
#include <map>

#include "results_db.h"

std::vector<BoardSummary> CResultsDb::List(const RecordFilter& filter)
{
    std::vector<SqlValue> params;
    std::string sql = "SELECT b.id, b.started, b.serial, b.verdict, b.host, b.vectors_file, b.bench, "
                      "(SELECT COUNT(*) FROM error_lines e WHERE e.board_id = b.id), "
                      "(SELECT f.description FROM faults f WHERE f.board_id = b.id ORDER BY f.seq LIMIT 1), "
                      "(SELECT e.line FROM error_lines e WHERE e.board_id = b.id ORDER BY e.seq LIMIT 1) "
                      "FROM boards b" +
                      WhereClause(filter, params, "b.") + " ORDER BY b.started DESC, b.id DESC";
    if (filter.limit > 0)
        sql += " LIMIT " + std::to_string(filter.limit);
    std::vector<BoardSummary> boards;
    Sql().Query(sql, params, [&](const SqlRow& row) {
        boards.push_back({SqlInt(row[0]), SqlText(row[1]), SqlText(row[6]), static_cast<uint32_t>(SqlInt(row[2])), SqlText(row[3]),
                          SqlText(row[4]), SqlText(row[5]), SqlInt(row[7]), SqlIsNull(row[8]) ? SqlText(row[9]) : SqlText(row[8])});
    });
    return boards;
}

std::vector<YieldRow> CResultsDb::Yield(const RecordFilter& filter, bool byBench)
{
    std::vector<SqlValue> params;
    const std::string groups = byBench ? "test_day, bench, vectors_file" : "test_day, vectors_file";
    const std::string sql = "SELECT " + groups + ", verdict, COUNT(*) FROM boards" + WhereClause(filter, params, "") + " GROUP BY " +
                            groups + ", verdict ORDER BY " + groups;
    std::vector<YieldRow> rows;
    Sql().Query(sql, params, [&](const SqlRow& row) {
        size_t c = 0;
        const std::string day = SqlText(row[c++]), bench = byBench ? SqlText(row[c++]) : "", file = SqlText(row[c++]);
        const std::string verdict = SqlText(row[c++]);
        if (rows.empty() || rows.back().day != day || rows.back().bench != bench || rows.back().vectorsFile != file)
            rows.push_back({day, file, bench});
        (verdict == kVerdictPass ? rows.back().passed : verdict == kVerdictFail ? rows.back().failed : rows.back().ended) +=
            SqlInt(row[c]);
    });
    return rows;
}

std::vector<ParetoRow> CResultsDb::Pareto(const RecordFilter& filter, bool byBench)
{
    std::vector<SqlValue> params;
    const std::string where = WhereClause(filter, params, "b.");
    // Without a filter the nets' indexes answer alone; with one, each net's boards are looked up.
    const std::string from = where.empty() ? " FROM fault_nets n" : " FROM fault_nets n JOIN boards b ON b.id = n.board_id" + where;
    const std::string bench = byBench ? "n.bench" : "''";
    std::vector<ParetoRow> rows;
    std::map<std::pair<std::string, std::string>, size_t> byNet;
    Sql().Query("SELECT " + bench + ", n.net, COUNT(DISTINCT n.board_id)" + from + " GROUP BY " + (byBench ? "n.bench, " : "") + "n.net",
                params, [&](const SqlRow& row) {
                    byNet[{SqlText(row[0]), SqlText(row[1])}] = rows.size();
                    rows.push_back({SqlText(row[0]), SqlText(row[1]), SqlInt(row[2]), ""});
                });
    Sql().Query("SELECT " + bench + ", n.net, n.kind, COUNT(DISTINCT n.board_id)" + from + " GROUP BY " + (byBench ? "n.bench, " : "") +
                    "n.net, n.kind ORDER BY 1, 2, 4 DESC",
                params, [&](const SqlRow& row) {
                    std::string& kinds = rows[byNet.at({SqlText(row[0]), SqlText(row[1])})].kinds;
                    kinds += (kinds.empty() ? "" : ", ") + SqlText(row[2]) + " " + std::to_string(SqlInt(row[3]));
                });
    std::stable_sort(rows.begin(), rows.end(), [](const ParetoRow& a, const ParetoRow& b) {
        if (a.bench != b.bench)
            return a.bench < b.bench;
        return a.boards != b.boards ? a.boards > b.boards : a.net < b.net;
    });
    return rows;
}
