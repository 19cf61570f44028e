// qbx-verify-report FILE: checks the signature of a station report.
//
// A report has eleven lines ending in "\r\n"; line 11 is the upper-case hexadecimal MD5 of lines 1
// to 10 exactly as stored (their "\r\n" included) followed by the station's salt. Prints "OK" when
// the report is intact, otherwise one line per problem. Exit status: 0 intact, 1 not intact or not
// readable, 2 usage error.
#include <cstdio>
#include <string>
#include <vector>

#include "datahash.h"
#include "files.h"
#include "platform.h"

namespace {

constexpr size_t REPORT_LINES = 11;
// A report is a few hundred bytes; anything far larger is not one and is not read whole.
constexpr uint64_t MAX_REPORT_SIZE = uint64_t{1} << 20;

// The text of a line for a message: without its line end, control bytes as "\xNN", shortened.
std::string Printable(const std::string& line)
{
    std::string text;
    for (unsigned char c : line) {
        if (text.size() >= 60) {
            text += "...";
            break;
        }
        if (c == '\r' || c == '\n')
            continue;
        if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            text += hex;
        } else {
            text += static_cast<char>(c);
        }
    }
    return text;
}

bool EndsInCrLf(const std::string& line) { return line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0; }

bool IsSignature(const std::string& text)
{
    if (text.size() != HASH_HEX_LENGTH)
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    return true;
}

// Splits after every LF; a last line without LF is kept as it is.
std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t lf = text.find('\n', start);
        size_t end = lf == std::string::npos ? text.size() : lf + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

void Problem(const std::string& text) { std::printf("%s\r\n", text.c_str()); }

}  // namespace

int main(int argc, char** argv)
{
    platform::UseBinaryStdio();
    if (argc != 2) {
        std::fprintf(stderr, "USE: qbx-verify-report <report file>\r\n");
        return 2;
    }
    const std::string path = argv[1];

    platform::InputFile file = platform::ReadInputFile(path, MAX_REPORT_SIZE);
    if (!file.ok) {
        Problem("cannot read " + path + ": " + file.why);
        return 1;
    }
    const std::string& text = file.content;

    const std::vector<std::string> lines = SplitLines(text);
    bool intact = true;

    if (lines.size() < REPORT_LINES) {
        Problem("missing lines: " + std::to_string(lines.size()) + " of " + std::to_string(REPORT_LINES));
        intact = false;
    } else if (lines.size() > REPORT_LINES) {
        Problem("unexpected data after line " + std::to_string(REPORT_LINES) + ": " +
                std::to_string(lines.size() - REPORT_LINES) + " more line(s)");
        intact = false;
    }
    for (size_t i = 0; i < lines.size() && i < REPORT_LINES; ++i) {
        if (!EndsInCrLf(lines[i])) {
            Problem("line " + std::to_string(i + 1) + " does not end in \\r\\n: \"" + Printable(lines[i]) + "\"");
            intact = false;
        }
    }
    if (lines.size() < REPORT_LINES - 1)
        return 1;  // too little to compute a signature from

    // The signature over lines 1 to 10 exactly as stored.
    CDataHash hash;
    bool computed = hash.Init();
    for (size_t i = 0; i + 1 < REPORT_LINES; ++i)
        computed = hash.AddString(lines[i]) && computed;
    computed = hash.AddSalt() && computed;
    std::string expected;
    computed = hash.GetHexString(expected) && computed;
    if (!computed) {
        Problem("cannot compute MD5");
        return 1;
    }

    if (lines.size() < REPORT_LINES) {
        Problem("line 11 (the signature) is missing; expected " + expected);
        return 1;
    }
    std::string found = lines[REPORT_LINES - 1];
    if (EndsInCrLf(found))
        found.resize(found.size() - 2);
    if (!IsSignature(found)) {
        Problem("line 11 is not 32 upper-case hexadecimal digits: \"" + Printable(found) + "\"");
        intact = false;
    } else if (found != expected) {
        Problem("signature mismatch: expected " + expected + ", found " + found);
        intact = false;
    }

    if (!intact)
        return 1;
    std::printf("OK\r\n");
    return 0;
}
