// The supervisor's page: yield per day and the Pareto of failing nets, drawn as inline SVG in one
// HTML file that needs nothing else (no script, no style sheet, no font or image to fetch).
#include <algorithm>
#include <map>

#include "platform.h"
#include "qbx_results.h"

using platform::Format;

namespace {

// Chart geometry, in CSS pixels: the drawing area and the margins for the axes' labels.
constexpr int kWidth = 920;
constexpr int kLeft = 60;
constexpr int kRight = 60;
constexpr int kTop = 20;
constexpr int kPlotHeight = 220;
constexpr int kLabelRoom = 70;
constexpr int kMaxBarWidth = 40;
constexpr size_t kParetoBars = 20;
// The fills the charts are told apart by (a test finds the bars by them).
constexpr const char* kYieldFill = "#2e7d32";
constexpr const char* kParetoFill = "#c62828";
constexpr const char* kCumulativeStroke = "#1565c0";

std::string Escape(const std::string& text)
{
    std::string html;
    for (char c : text) {
        switch (c) {
        case '<': html += "&lt;"; break;
        case '>': html += "&gt;"; break;
        case '&': html += "&amp;"; break;
        case '"': html += "&quot;"; break;
        default: html += c;
        }
    }
    return html;
}

double Percent(int64_t part, int64_t whole)
{
    return whole > 0 ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0.0;
}

// A horizontal grid line with its percent label, at the left or the right axis.
std::string PercentGrid(int percent, bool right)
{
    const double y = kTop + kPlotHeight - kPlotHeight * percent / 100.0;
    return Format("<line x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\" stroke=\"#dddddd\"/>", kLeft, y, kWidth - kRight, y) +
           Format("<text x=\"%d\" y=\"%.1f\" font-size=\"11\" text-anchor=\"%s\" fill=\"#444444\">%d %%</text>",
                  right ? kWidth - kRight + 6 : kLeft - 6, y + 4, right ? "start" : "end", percent);
}

// Places n bars across the plot: the x of bar i and their common width.
struct Slots {
    double step;
    double width;
    explicit Slots(size_t n)
        : step(static_cast<double>(kWidth - kLeft - kRight) / static_cast<double>(std::max<size_t>(n, 1))),
          width(std::max(1.0, std::min<double>(kMaxBarWidth, step * 0.7)))
    {
    }
    double X(size_t i) const { return kLeft + step * static_cast<double>(i) + (step - width) / 2; }
};

std::string Bar(double x, double width, double height, const char* fill, const std::string& title)
{
    return Format("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"%s\" shape-rendering=\"crispEdges\">", x,
                  kTop + kPlotHeight - height, width, height, fill) +
           "<title>" + Escape(title) + "</title></rect>";
}

std::string Svg(const std::string& label, const std::string& body)
{
    return Format("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" role=\"img\" aria-label=\"%s\">", kWidth,
                  kTop + kPlotHeight + kLabelRoom, Escape(label).c_str()) +
           body + "</svg>\n";
}

std::string YieldChart(const std::vector<std::pair<std::string, YieldRow>>& days)
{
    std::string body;
    for (int percent = 0; percent <= 100; percent += 25)
        body += PercentGrid(percent, false);
    const Slots slots(days.size());
    // Every label when they fit, else every k-th.
    const size_t labelEvery = std::max<size_t>(1, static_cast<size_t>(70.0 / slots.step) + 1);
    for (size_t i = 0; i < days.size(); ++i) {
        const YieldRow& row = days[i].second;
        const double height = kPlotHeight * row.Percent() / 100.0;
        const double x = slots.X(i);
        body += Bar(x, slots.width, height, kYieldFill,
                    Format("%s: %.1f %% (%lld of %lld passed)", days[i].first.c_str(), row.Percent(), static_cast<long long>(row.passed),
                           static_cast<long long>(row.passed + row.failed)));
        if (i % labelEvery == 0)
            body += Format("<text x=\"%.1f\" y=\"%d\" font-size=\"11\" text-anchor=\"end\" fill=\"#444444\" "
                           "transform=\"rotate(-40 %.1f %d)\">%s</text>",
                           x + slots.width / 2, kTop + kPlotHeight + 14, x + slots.width / 2, kTop + kPlotHeight + 14,
                           Escape(days[i].first).c_str());
    }
    return Svg("Yield per day", body);
}

std::string ParetoChart(const std::vector<ParetoRow>& rows, int64_t sum)
{
    const size_t n = std::min(rows.size(), kParetoBars);
    std::string body;
    for (int percent = 0; percent <= 100; percent += 25)
        body += PercentGrid(percent, true);
    const int64_t most = n > 0 ? rows[0].boards : 1;
    body += Format("<text x=\"%d\" y=\"%d\" font-size=\"11\" text-anchor=\"end\" fill=\"#444444\">%lld</text>", kLeft - 6, kTop + 4,
                   static_cast<long long>(most));
    const Slots slots(n);
    std::string line;
    int64_t running = 0;
    for (size_t i = 0; i < n; ++i) {
        const double x = slots.X(i);
        running += rows[i].boards;
        body += Bar(x, slots.width, kPlotHeight * static_cast<double>(rows[i].boards) / static_cast<double>(most), kParetoFill,
                    Format("%zu. %s: %lld boards", i + 1, rows[i].net.c_str(), static_cast<long long>(rows[i].boards)));
        body += Format("<text x=\"%.1f\" y=\"%d\" font-size=\"11\" text-anchor=\"middle\" fill=\"#444444\">%zu</text>", x + slots.width / 2,
                       kTop + kPlotHeight + 14, i + 1);
        const double y = kTop + kPlotHeight - kPlotHeight * Percent(running, sum) / 100.0;
        line += Format("%s%.1f,%.1f", line.empty() ? "" : " ", x + slots.width / 2, y);
        body += Format("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3\" fill=\"%s\"/>", x + slots.width / 2, y, kCumulativeStroke);
    }
    body += Format("<polyline points=\"%s\" fill=\"none\" stroke=\"%s\" stroke-width=\"2\"/>", line.c_str(), kCumulativeStroke);
    return Svg("Pareto of failing nets", body);
}

}  // namespace

std::string ResultsReportHtml(const std::string& title, const std::vector<YieldRow>& yield, const std::vector<ParetoRow>& pareto,
                              const std::string& generated)
{
    // The days across all vector files and benches, in order; each bench's boards.
    std::map<std::string, YieldRow> byDay, byBench;
    YieldRow total{"", ""};
    for (const YieldRow& row : yield) {
        YieldRow& day = byDay[row.day];
        day.day = row.day;
        for (YieldRow* sum : {&day, &total, &byBench[row.bench]}) {
            sum->passed += row.passed;
            sum->failed += row.failed;
            sum->ended += row.ended;
        }
    }
    const std::vector<std::pair<std::string, YieldRow>> days(byDay.begin(), byDay.end());
    int64_t netSum = 0;
    for (const ParetoRow& row : pareto)
        netSum += row.boards;

    std::string html = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>QBX production results</title></head>\n"
                       "<body style=\"font-family: sans-serif; color: #222222; margin: 24px\">\n";
    html += "<h1 style=\"font-size: 22px\">QBX production results</h1>\n";
    html += "<p>Database " + Escape(title) + ", page made " + Escape(generated) + ".</p>\n";
    html += Format("<p id=\"summary\">%lld boards with a verdict: %lld passed, %lld failed, yield %.1f %%; %lld ended at the current "
                   "prompt.</p>\n",
                   static_cast<long long>(total.passed + total.failed), static_cast<long long>(total.passed),
                   static_cast<long long>(total.failed), total.Percent(), static_cast<long long>(total.ended));

    html += "<h2 style=\"font-size: 18px\">Benches</h2>\n<table id=\"benches\" style=\"border-collapse: collapse\" cellpadding=\"4\">"
            "<tr><th align=\"left\">Bench</th><th>Passed</th><th>Failed</th><th>Ended</th><th>Yield</th></tr>\n";
    for (const auto& [bench, row] : byBench)
        html += Format("<tr><td>%s</td><td align=\"right\">%lld</td><td align=\"right\">%lld</td><td align=\"right\">%lld</td>"
                       "<td align=\"right\">%.1f %%</td></tr>\n",
                       Escape(bench).c_str(), static_cast<long long>(row.passed), static_cast<long long>(row.failed),
                       static_cast<long long>(row.ended), row.Percent());
    html += "</table>\n";

    html += "<h2 style=\"font-size: 18px\">Yield per day</h2>\n<p>Each bar: the boards that passed out of those with a verdict that "
            "day (UTC).</p>\n";
    html += days.empty() ? "<p>No boards recorded.</p>\n" : YieldChart(days);
    html += "<table style=\"border-collapse: collapse\" cellpadding=\"4\"><tr><th align=\"left\">Day</th><th align=\"left\">Vector "
            "file</th><th align=\"left\">Bench</th><th>Passed</th><th>Failed</th><th>Ended</th><th>Yield</th></tr>\n";
    for (const YieldRow& row : yield)
        html += Format("<tr><td>%s</td><td>%s</td><td>%s</td><td align=\"right\">%lld</td><td align=\"right\">%lld</td>"
                       "<td align=\"right\">%lld</td><td align=\"right\">%.1f %%</td></tr>\n",
                       Escape(row.day).c_str(), Escape(row.vectorsFile).c_str(), Escape(row.bench).c_str(), static_cast<long long>(row.passed),
                       static_cast<long long>(row.failed), static_cast<long long>(row.ended), row.Percent());
    html += "</table>\n";

    html += "<h2 style=\"font-size: 18px\">Failing nets</h2>\n<p>Bars: the boards on which the diagnosis named each net, most first "
            "(at most " + std::to_string(kParetoBars) + "); line: their cumulative share (right axis).</p>\n";
    html += pareto.empty() ? "<p>No failing nets recorded.</p>\n" : ParetoChart(pareto, netSum);
    html += "<table style=\"border-collapse: collapse\" cellpadding=\"4\"><tr><th>Rank</th><th align=\"left\">Net (its driver pin)</th>"
            "<th>Boards</th><th>Share</th><th>Cumulative</th><th align=\"left\">Faults</th></tr>\n";
    int64_t running = 0;
    for (size_t i = 0; i < pareto.size(); ++i) {
        running += pareto[i].boards;
        html += Format("<tr><td align=\"right\">%zu</td><td>%s</td><td align=\"right\">%lld</td><td align=\"right\">%.1f %%</td>"
                       "<td align=\"right\">%.1f %%</td><td>%s</td></tr>\n",
                       i + 1, Escape(pareto[i].net).c_str(), static_cast<long long>(pareto[i].boards), Percent(pareto[i].boards, netSum),
                       Percent(running, netSum), Escape(pareto[i].kinds).c_str());
    }
    html += "</table>\n</body></html>\n";
    return html;
}
