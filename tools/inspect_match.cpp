// qbx-inspect match [--nocase] PATTERN (TEXT | --text-file FILE): compiles the pattern, matches it
// once and prints everything the readers could ask of the match.
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "files.h"
#include "inspect.h"
#include "pattern.h"

const char* const kInspectMatchUsage = "qbx-inspect match [--nocase] PATTERN (TEXT | --text-file FILE)";

namespace {

// Texts are addressed by 32-bit positions; this is well below that limit.
constexpr uint64_t kMaxTextFileSize = uint64_t{1} << 30;

int Usage(FILE* err)
{
    std::fprintf(err, "usage: %s\n", kInspectMatchUsage);
    return 2;
}

}  // namespace

int InspectMatch(const std::vector<std::string>& args, FILE* out, FILE* err)
{
    size_t i = 0;
    int noCase = 0;
    if (i < args.size() && args[i] == "--nocase") {
        noCase = 1;
        ++i;
    }
    if (i >= args.size())
        return Usage(err);
    const std::string& pattern = args[i++];
    std::string text;
    if (i < args.size() && args[i] == "--text-file") {
        if (i + 2 != args.size())
            return Usage(err);
        platform::InputFile file = platform::ReadInputFile(args[i + 1], kMaxTextFileSize);
        if (!file.ok) {
            std::fprintf(err, "qbx-inspect: cannot read text file %s: %s\n", args[i + 1].c_str(), file.why.c_str());
            return 1;
        }
        text = std::move(file.content);
    } else {
        if (i + 1 != args.size())
            return Usage(err);
        text = args[i];
    }

    CMatch match;
    int compiled = match.Compile(pattern.c_str(), noCase);
    std::fprintf(out, "compile %d\n", compiled);
    if (match.m_List.m_Elements.empty()) {
        // The matcher refuses an empty compiled pattern (nothing before the first "|" or ")").
        std::fprintf(err, "qbx-inspect: the pattern compiles to no element; there is nothing to match\n");
        return 1;
    }
    int found = 0;
    try {
        found = match.Match(text.c_str());  // the text ends at its first NUL byte
    } catch (const std::exception& e) {
        std::fprintf(err, "qbx-inspect: %s\n", e.what());
        return 1;
    }
    std::fprintf(out, "found %d\n", found ? 1 : 0);
    for (int n = 1; n <= 9; ++n)
        std::fprintf(out, "mark %d %d\n", n, match.GetMarkPos(n));
    for (int n = 1; n <= 9; ++n)
        std::fprintf(out, "group %d %d\n", n, match.GetAlternative(n));
    return 0;
}
