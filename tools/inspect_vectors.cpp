// qbx-inspect vectors BSDL VECTORS: how the station binds a vector file to the FPGAs' boundary
// cells, without an adapter: what it reports while reading (its own messages, one "reported:"
// line each), the vectors and their groups, the digest it prints and writes into reports, the
// truth table it writes, and whether it would start with the file (exit 1 when not).
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "bsdl.h"
#include "inspect.h"
#include "qbx_zor.h"

const char* const kInspectVectorsUsage = "qbx-inspect vectors BSDL VECTORS";

namespace {

// Collects what is written to standard output (where the station reports refused lines) while it
// lives. Empty when the capture could not be set up; the messages then go to the console as they
// are.
class CStdoutCapture {
public:
    CStdoutCapture()
    {
        std::fflush(stdout);
        m_File = std::tmpfile();
        if (m_File == nullptr)
            return;
        m_Saved = ::dup(STDOUT_FILENO);
        if (m_Saved < 0 || ::dup2(::fileno(m_File), STDOUT_FILENO) < 0) {
            Restore();
            return;
        }
    }
    ~CStdoutCapture() { Restore(); }
    CStdoutCapture(const CStdoutCapture&) = delete;
    CStdoutCapture& operator=(const CStdoutCapture&) = delete;

    // Ends the capture and returns what was written.
    std::string Finish()
    {
        Restore();
        return m_Text;
    }

private:
    void Restore()
    {
        if (m_Saved >= 0) {
            std::fflush(stdout);
            ::dup2(m_Saved, STDOUT_FILENO);
            ::close(m_Saved);
            m_Saved = -1;
            std::rewind(m_File);
            char buffer[4096];
            size_t n;
            while ((n = std::fread(buffer, 1, sizeof buffer, m_File)) > 0)
                m_Text.append(buffer, n);
        }
        if (m_File != nullptr) {
            std::fclose(m_File);
            m_File = nullptr;
        }
    }

    std::FILE* m_File = nullptr;
    int m_Saved = -1;
    std::string m_Text;
};

// Lines of the station's "\r\n" text, without their line ends.
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string line;
    for (char c : text) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else if (c != '\r') {
            line += c;
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

}  // namespace

int InspectVectors(const std::vector<std::string>& args, FILE* out, FILE* err)
{
    if (args.size() != 2) {
        std::fprintf(err, "usage: %s\n", kInspectVectorsUsage);
        return 2;
    }
    const std::string& bsdlPath = args[0];
    const std::string& vectorsPath = args[1];

    CQbx_zor board;
    std::string why;
    if (!board.LoadBsdl(bsdlPath.c_str(), &why)) {
        std::fprintf(err, "qbx-inspect: cannot read BSDL file %s: %s (the station stops: \"bsd file %s not found\")\n",
                     bsdlPath.c_str(), why.empty() ? "no such file" : why.c_str(), bsdlPath.c_str());
        return 1;
    }
    const _BSDLDATA& bsdl = board.m_Fpga[0].m_Bsdl;
    std::fprintf(out, "bsdl %s: %zu ports, boundary length %d\n", bsdlPath.c_str(), bsdl.pins.size(), bsdl.boundaryLength);
    for (const std::string& section : MissingSectionNames(bsdl.missingSections))
        std::fprintf(out, "missing %s\n", section.c_str());

    int loaded = 0;
    std::string refusals;
    {
        CStdoutCapture capture;
        loaded = board.Load(vectorsPath.c_str());
        refusals = capture.Finish();
    }
    const std::vector<std::string> refused = Lines(refusals);
    if (!loaded && refused.empty() && board.m_PinNames.empty() && board.m_Warnings.empty()) {
        std::fprintf(err, "qbx-inspect: cannot read vector file %s: %s\n", vectorsPath.c_str(),
                     board.m_LoadError.empty() ? "no such file" : board.m_LoadError.c_str());
        return 1;
    }

    // Groups in the order their first vector appears.
    std::vector<std::pair<std::string, int>> groups;
    for (const _VECTOR& vector : board.m_Fpga[0].m_Vectors) {
        auto it = groups.begin();
        while (it != groups.end() && it->first != vector.name)
            ++it;
        if (it == groups.end())
            groups.emplace_back(vector.name, 1);
        else
            ++it->second;
    }
    std::fprintf(out, "vectors %s: %zu pin lines, %d vectors, %zu groups\n", vectorsPath.c_str(), board.m_PinNames.size(),
                 board.VectorCount(), groups.size());
    for (const auto& [name, count] : groups)
        std::fprintf(out, "group %s: %d vectors\n", name.c_str(), count);
    std::fprintf(out, "digest %s\n", board.m_VectorsDigest.c_str());
    for (const CBsrVectors::Warning& warning : board.m_Warnings)
        std::fprintf(out, "warning: line %zu: %s\n", warning.line, warning.text.c_str());
    for (const std::string& line : refused)
        std::fprintf(out, "reported: %s\n", line.c_str());
    std::fprintf(out, "truth table:\n");
    for (const std::string& line : Lines(board.TruthTable()))
        std::fprintf(out, "%s\n", line.c_str());

    const std::string problem = loaded ? board.VectorsProblem() : board.m_LoadError;
    if (!loaded || !problem.empty()) {
        std::fprintf(out, "the station refuses this file (\"vectors file %s not found\")%s%s\n", vectorsPath.c_str(),
                     problem.empty() ? "" : ": ", problem.c_str());
        return 1;
    }
    if (!refused.empty() || !board.m_Warnings.empty())
        std::fprintf(out, "the station accepts this file, with the messages above\n");
    else
        std::fprintf(out, "the station accepts this file\n");
    return 0;
}
