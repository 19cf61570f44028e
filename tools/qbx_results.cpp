#include "qbx_results.h"

#include <sys/stat.h>

#include <cstdlib>
#include <map>

#include <nlohmann/json.hpp>

#include "files.h"
#include "platform.h"

using platform::Format;

namespace {

const char* const kUsage =
    "usage: qbx-results [--db DATABASE] COMMAND\n"
    "  list [--serial N] [--verdict PASS|FAIL|ENDED] [--bench NAME] [--since DAY] [--until DAY] [--limit N]\n"
    "                           boards tested, newest first\n"
    "  show SERIAL              every test of a board, with its diagnosis\n"
    "  yield [--by-bench] [--bench NAME] [--since DAY] [--until DAY]\n"
    "                           boards passed per day and vector file (and bench)\n"
    "  pareto [--by-bench] [--bench NAME] [--since DAY] [--until DAY] [--limit N]\n"
    "                           failing nets, most boards first (per bench)\n"
    "  export --csv|--json [filters as for list]       every record\n"
    "  verify                   checks that no record was changed or removed, bench by bench\n"
    "  report FILE.html [--bench NAME] [--since DAY] [--until DAY]   yield and Pareto charts in one page\n"
    "  copy FROM TO [--bench NAME]   copies the records of database FROM into TO, except those already there\n"
    "DATABASE: --db, else $QBX_RESULTS, else results.db; an SQLite file or a PostgreSQL connection string\n"
    "(postgresql://USER@HOST/DB, or host=HOST dbname=DB ...). DAY: YYYY-MM-DD (UTC).\n";

bool IsDay(const std::string& text)
{
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return false;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

bool ParseNumber(const std::string& text, uint64_t max, uint64_t& value)
{
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::strtoull(text.c_str(), nullptr, 10);
    return value <= max;
}

// The command's arguments after the command word: options with values, and the rest in order.
struct Arguments {
    RecordFilter filter;
    std::vector<std::string> positional;
    std::string format;  // export: "csv" or "json"
    bool byBench = false;
};

// Reads the options a command allows (a set of option names). "" when fine, else the message.
std::string Parse(const std::vector<std::string>& args, size_t from, const std::string& allowed, Arguments& a)
{
    for (size_t i = from; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            a.positional.push_back(arg);
            continue;
        }
        if (allowed.find(arg + " ") == std::string::npos)
            return "unknown option " + arg;
        if (arg == "--csv" || arg == "--json") {
            a.format = arg.substr(2);
            continue;
        }
        if (arg == "--by-bench") {
            a.byBench = true;
            continue;
        }
        if (i + 1 >= args.size())
            return arg + " needs a value";
        const std::string& value = args[++i];
        uint64_t number = 0;
        if (arg == "--serial") {
            if (!ParseNumber(value, UINT32_MAX, number))
                return "--serial needs a serial number (0 to 4294967295), not \"" + value + "\"";
            a.filter.serial = static_cast<uint32_t>(number);
        } else if (arg == "--verdict") {
            if (value != kVerdictPass && value != kVerdictFail && value != kVerdictEnded)
                return "--verdict is PASS, FAIL or ENDED, not \"" + value + "\"";
            a.filter.verdict = value;
        } else if (arg == "--since" || arg == "--until") {
            if (!IsDay(value))
                return arg + " needs a day as YYYY-MM-DD, not \"" + value + "\"";
            (arg == "--since" ? a.filter.since : a.filter.until) = value;
        } else if (arg == "--bench") {
            if (value.empty())
                return "--bench needs a bench name";
            a.filter.bench = value;
        } else if (arg == "--limit") {
            if (!ParseNumber(value, INT64_MAX, number) || number == 0)
                return "--limit needs a number of at least 1, not \"" + value + "\"";
            a.filter.limit = static_cast<int64_t>(number);
        }
    }
    return "";
}

std::string Optional(const std::optional<double>& value, const char* format)
{
    return value ? Format(format, *value) : std::string("-");
}

void PrintRecord(FILE* out, const BoardRecord& r)
{
    std::fprintf(out, "Test %lld of board %u: %s\n", static_cast<long long>(r.id), r.serial, r.verdict.c_str());
    std::fprintf(out, "  tested   %s to %s on bench %s (host %s), program %s\n", r.started.c_str(), r.ended.c_str(),
                 r.bench.c_str(), r.host.c_str(), r.programVersion.c_str());
    std::fprintf(out, "  BSDL     %s (SHA-256 %s)\n", r.bsdlFile.c_str(), r.bsdlDigest.c_str());
    std::fprintf(out, "  vectors  %s (vectors=%s)\n", r.vectorsFile.c_str(), r.vectorsDigest.c_str());
    std::fprintf(out, "  current  %s A typed\n", Optional(r.operatorCurrent, "%.3f").c_str());
    if (r.verdict == kVerdictEnded)
        return;
    std::fprintf(out, "  sensors  thermometer %s, adcsensor1 %s, adcsensor2 %s\n", r.thermometer.empty() ? "-" : r.thermometer.c_str(),
                 r.adcSensor1.empty() ? "-" : r.adcSensor1.c_str(), r.adcSensor2.empty() ? "-" : r.adcSensor2.c_str());
    std::fprintf(out, "  supply   Vin=%s Vmem=%s I=%s flags=%s; temperature %s\n", Optional(r.vin, "%f").c_str(),
                 Optional(r.vmem, "%f").c_str(), Optional(r.supplyCurrent, "%f").c_str(),
                 r.powerFlags ? std::to_string(*r.powerFlags).c_str() : "-", Optional(r.temperature, "%.2f").c_str());
    std::string codes;
    for (uint32_t code : r.idCodes)
        codes += Format(" %08X", code);
    std::fprintf(out, "  IDCODEs %s\n", codes.empty() ? " none read" : codes.c_str());
    if (!r.errorLines.empty()) {
        std::fprintf(out, "  errors (%zu):\n", r.errorLines.size());
        for (const std::string& line : r.errorLines)
            std::fprintf(out, "    %s\n", line.c_str());
    }
    if (!r.faults.empty()) {
        std::fprintf(out, "  diagnosis:\n");
        for (const FaultRecord& f : r.faults)
            std::fprintf(out, "    %s\n", f.description.c_str());
    }
    if (!r.reportFile.empty())
        std::fprintf(out, "  report   %s, signature %s\n", r.reportFile.c_str(), r.reportSignature.c_str());
}

std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

nlohmann::ordered_json RecordJson(const BoardRecord& r)
{
    auto optional = [](const auto& value) { return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr); };
    nlohmann::ordered_json j = {
        {"id", r.id}, {"started", r.started}, {"ended", r.ended}, {"bench", r.bench}, {"bench_seq", r.seq}, {"host", r.host},
        {"program_version", r.programVersion},
        {"bsdl_file", r.bsdlFile}, {"bsdl_sha256", r.bsdlDigest}, {"vectors_file", r.vectorsFile}, {"vectors_digest", r.vectorsDigest},
        {"serial", r.serial}, {"operator_current", optional(r.operatorCurrent)}, {"thermometer", r.thermometer},
        {"adc_sensor1", r.adcSensor1}, {"adc_sensor2", r.adcSensor2}, {"vin", optional(r.vin)}, {"vmem", optional(r.vmem)},
        {"supply_current", optional(r.supplyCurrent)}, {"power_flags", optional(r.powerFlags)},
        {"temperature", optional(r.temperature)}, {"idcodes", nlohmann::ordered_json::array()}, {"verdict", r.verdict},
        {"error_lines", r.errorLines}, {"pin_errors", nlohmann::ordered_json::array()}, {"diagnosis", nlohmann::ordered_json::array()},
        {"report_file", r.reportFile}, {"report_signature", r.reportSignature}, {"prev_hash", r.prevHash}, {"hash", r.hash}};
    for (uint32_t code : r.idCodes)
        j["idcodes"].push_back(Format("%08X", code));
    for (const PinErrorRecord& p : r.pinErrors)
        j["pin_errors"].push_back({{"line", p.line}, {"vector", p.vector}, {"abs", p.abs}, {"group", p.group}, {"fpga", p.fpga},
                                   {"pin", p.pin}, {"package_pin", p.packagePin}, {"read", p.read}, {"expected", p.expected}});
    for (const FaultRecord& f : r.faults)
        j["diagnosis"].push_back({{"kind", f.kind}, {"level", optional(f.level)}, {"description", f.description}, {"nets", f.nets}});
    return j;
}

int Export(CResultsDb& db, const Arguments& a, FILE* out)
{
    if (a.format == "json") {
        std::fputs("[", out);
        bool first = true;
        db.ForEachRecord(a.filter, [&](const BoardRecord& r) {
            std::fprintf(out, "%s\n%s", first ? "" : ",", RecordJson(r).dump().c_str());
            first = false;
        });
        std::fputs(first ? "]\n" : "\n]\n", out);
        return 0;
    }
    std::fputs("id,started,ended,bench,bench_seq,host,program_version,bsdl_file,bsdl_sha256,vectors_file,vectors_digest,serial,"
               "operator_current,thermometer,adc_sensor1,adc_sensor2,vin,vmem,supply_current,power_flags,temperature,"
               "idcodes,verdict,errors,first_error,diagnosis,report_file,report_signature,hash\n",
               out);
    db.ForEachRecord(a.filter, [&](const BoardRecord& r) {
        std::string codes, diagnosis;
        for (uint32_t code : r.idCodes)
            codes += Format("%s%08X", codes.empty() ? "" : " ", code);
        for (const FaultRecord& f : r.faults)
            diagnosis += (diagnosis.empty() ? "" : "; ") + f.description;
        const std::vector<std::string> fields = {
            std::to_string(r.id), r.started, r.ended, r.bench, std::to_string(r.seq), r.host, r.programVersion, r.bsdlFile, r.bsdlDigest, r.vectorsFile,
            r.vectorsDigest, std::to_string(r.serial), Optional(r.operatorCurrent, "%.17g"), r.thermometer, r.adcSensor1,
            r.adcSensor2, Optional(r.vin, "%.17g"), Optional(r.vmem, "%.17g"), Optional(r.supplyCurrent, "%.17g"),
            r.powerFlags ? std::to_string(*r.powerFlags) : "", Optional(r.temperature, "%.17g"), codes, r.verdict,
            std::to_string(r.errorLines.size()), r.errorLines.empty() ? "" : r.errorLines[0], diagnosis, r.reportFile,
            r.reportSignature, r.hash};
        std::string line;
        for (const std::string& field : fields)
            line += (line.empty() ? "" : ",") + CsvField(field == "-" ? "" : field);
        std::fprintf(out, "%s\n", line.c_str());
    });
    return 0;
}

void PrintYield(const std::vector<YieldRow>& rows, bool byBench, FILE* out)
{
    auto line = [&](const YieldRow& row) {
        std::fprintf(out, "%-10s  %-32s %s%6lld %6lld %6lld %7.1f%%\n", row.day.c_str(), row.vectorsFile.c_str(),
                     byBench ? Format("%-16s ", row.bench.c_str()).c_str() : "", static_cast<long long>(row.passed),
                     static_cast<long long>(row.failed), static_cast<long long>(row.ended), row.Percent());
    };
    std::fprintf(out, "%-10s  %-32s %s%6s %6s %6s %8s\n", "DAY", "VECTOR FILE", byBench ? "BENCH            " : "", "PASS", "FAIL",
                 "ENDED", "YIELD");
    YieldRow total{"TOTAL", ""};
    std::map<std::string, YieldRow> benches;
    for (const YieldRow& row : rows) {
        line(row);
        for (YieldRow* sum : {&total, &benches[row.bench]}) {
            sum->passed += row.passed;
            sum->failed += row.failed;
            sum->ended += row.ended;
        }
    }
    if (byBench)
        for (auto& [bench, sum] : benches) {
            sum.day = "TOTAL";
            sum.bench = bench;
            line(sum);
        }
    line(total);
}

void PrintPareto(const std::vector<ParetoRow>& rows, int64_t limit, bool byBench, FILE* out)
{
    std::map<std::string, int64_t> sums;
    for (const ParetoRow& row : rows)
        sums[row.bench] += row.boards;
    std::fprintf(out, "%s%4s %7s %7s %7s  %-34s %s\n", byBench ? "BENCH            " : "", "RANK", "BOARDS", "SHARE", "CUMUL.",
                 "NET (its driver pin)", "FAULTS");
    int64_t running = 0, rank = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i == 0 || rows[i].bench != rows[i - 1].bench)
            running = rank = 0;
        if (limit > 0 && rank >= limit)
            continue;
        running += rows[i].boards;
        const double sum = static_cast<double>(sums[rows[i].bench]);
        std::fprintf(out, "%s%4lld %7lld %6.1f%% %6.1f%%  %-34s %s\n", byBench ? Format("%-16s ", rows[i].bench.c_str()).c_str() : "",
                     static_cast<long long>(++rank), static_cast<long long>(rows[i].boards),
                     100.0 * static_cast<double>(rows[i].boards) / sum, 100.0 * static_cast<double>(running) / sum, rows[i].net.c_str(),
                     rows[i].kinds.c_str());
    }
    if (rows.empty())
        std::fprintf(out, "no failing nets recorded\n");
}

// copy FROM TO: each bench's records, the tests already in TO left out.
int Copy(const Arguments& a, FILE* out)
{
    auto from = OpenResultsDb(a.positional[0], false);
    auto to = OpenResultsDb(a.positional[1], true);
    int64_t copied = 0;
    for (const CopyCount& count : CopyRecords(*from, *to, a.filter)) {
        std::fprintf(out, "bench %s: %lld copied, %lld already there\n", count.bench.c_str(), static_cast<long long>(count.copied),
                     static_cast<long long>(count.present));
        copied += count.copied;
    }
    std::fprintf(out, "%lld records copied from %s into %s\n", static_cast<long long>(copied), from->Name().c_str(), to->Name().c_str());
    return 0;
}

}  // namespace

int RunQbxResults(const std::vector<std::string>& args, FILE* out, FILE* err)
{
    auto usage = [&](const std::string& message) {
        if (!message.empty())
            std::fprintf(err, "qbx-results: %s\n", message.c_str());
        std::fputs(kUsage, err);
        return 2;
    };
    size_t at = 0;
    const char* named = std::getenv("QBX_RESULTS");
    std::string path = named != nullptr && *named != '\0' ? named : "results.db";
    if (at < args.size() && args[at] == "--db") {
        if (at + 1 >= args.size())
            return usage("--db needs a database");
        path = args[at + 1];
        at += 2;
    }
    if (at >= args.size())
        return usage("");
    const std::string command = args[at];
    if (command == "-h" || command == "--help") {
        std::fputs(kUsage, out);
        return 0;
    }
    static const std::map<std::string, std::pair<std::string, size_t>> kCommands = {
        {"list", {"--serial --verdict --bench --since --until --limit ", 0}},
        {"show", {"", 1}},
        {"yield", {"--by-bench --bench --since --until ", 0}},
        {"pareto", {"--by-bench --bench --since --until --limit ", 0}},
        {"export", {"--csv --json --serial --verdict --bench --since --until --limit ", 0}},
        {"verify", {"", 0}},
        {"report", {"--bench --since --until ", 1}},
        {"copy", {"--bench ", 2}},
    };
    const auto known = kCommands.find(command);
    if (known == kCommands.end())
        return usage("unknown command \"" + command + "\"");
    Arguments a;
    if (const std::string problem = Parse(args, at + 1, known->second.first, a); !problem.empty())
        return usage(command + ": " + problem);
    if (a.positional.size() != known->second.second)
        return usage(command + (known->second.second == 2 ? ": needs two databases, FROM and TO"
                                : known->second.second ? ": needs one argument" : ": takes no argument"));
    if (command == "export" && a.format.empty())
        return usage("export: --csv or --json");
    uint64_t serial = 0;
    if (command == "show" && !ParseNumber(a.positional[0], UINT32_MAX, serial))
        return usage("show: a serial number (0 to 4294967295), not \"" + a.positional[0] + "\"");

    // An SQLite file is only read: one that is not there is not created.
    for (const std::string& source : {command == "copy" ? a.positional[0] : path}) {
        struct stat info {};
        if (!IsPostgresTarget(source) && ::stat(source.c_str(), &info) != 0) {
            std::fprintf(err, "qbx-results: no results database at %s\n", source.c_str());
            return 1;
        }
    }
    try {
        if (command == "copy")
            return Copy(a, out);
        auto db = OpenResultsDb(path, false);
        if (command == "list") {
            const std::vector<BoardSummary> boards = db->List(a.filter);
            std::fprintf(out, "%6s  %-24s %-16s %10s  %-7s %6s  %s\n", "TEST", "STARTED (UTC)", "BENCH", "SERIAL", "VERDICT", "ERRORS",
                         "FIRST PROBLEM");
            for (const BoardSummary& b : boards)
                std::fprintf(out, "%6lld  %-24s %-16s %10u  %-7s %6lld  %s\n", static_cast<long long>(b.id), b.started.c_str(),
                             b.bench.c_str(), b.serial, b.verdict.c_str(), static_cast<long long>(b.errors), b.firstProblem.c_str());
            if (boards.empty())
                std::fprintf(out, "no boards recorded\n");
        } else if (command == "show") {
            size_t tests = 0;
            db->ForEachRecord({.serial = static_cast<uint32_t>(serial)}, [&](const BoardRecord& r) {
                std::fputs(tests++ ? "\n" : "", out);
                PrintRecord(out, r);
            });
            if (tests == 0) {
                std::fprintf(err, "qbx-results: no test of board %llu recorded\n", static_cast<unsigned long long>(serial));
                return 1;
            }
        } else if (command == "yield") {
            PrintYield(db->Yield(a.filter, a.byBench), a.byBench, out);
        } else if (command == "pareto") {
            PrintPareto(db->Pareto(a.filter, a.byBench), a.filter.limit, a.byBench, out);
        } else if (command == "export") {
            return Export(*db, a, out);
        } else if (command == "verify") {
            const ChainCheck check = db->Verify();
            for (const std::string& problem : check.problems)
                std::fprintf(out, "%s\n", problem.c_str());
            if (!check.problems.empty()) {
                std::fprintf(out, "NOT INTACT: %lld records, %zu problems\n", static_cast<long long>(check.records), check.problems.size());
                return 1;
            }
            for (const BenchChain& chain : check.benches)
                std::fprintf(out, "bench %s: %lld records, chain head %s\n", chain.bench.c_str(), static_cast<long long>(chain.records),
                             chain.head.c_str());
            std::fprintf(out, "OK: %lld records, %zu bench%s\n", static_cast<long long>(check.records), check.benches.size(),
                         check.benches.size() == 1 ? "" : "es");
        } else {
            const std::string html = ResultsReportHtml(db->Name(), db->Yield(a.filter, true), db->Pareto(a.filter), UtcNow());
            std::string why;
            if (!platform::WriteOutputFile(a.positional[0], html, &why)) {
                std::fprintf(err, "qbx-results: cannot write %s: %s\n", a.positional[0].c_str(), why.c_str());
                return 1;
            }
        }
    } catch (const CSqlError& e) {
        std::fprintf(err, "qbx-results: %s\n", e.what());
        return 1;
    }
    return 0;
}
