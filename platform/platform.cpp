// What every system shares: the clock's plumbing, text, the box's console form and paths. What
// differs lives in platform_posix.cpp and platform_win.cpp.
#include "platform.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <vector>

#include "platform_system.h"

namespace platform {

namespace {

Clock* g_Clock = &SystemClock();

// Splits text at "\n"; a trailing "\n" does not make an empty last line.
std::vector<std::string_view> SplitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            if (start < text.size() || lines.empty())
                lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace

void SleepMs(uint32_t ms) { g_Clock->Sleep(ms); }

uint32_t TickCountMs() { return g_Clock->Now(); }

void SetClock(Clock* clock) { g_Clock = clock ? clock : &SystemClock(); }

std::string VFormat(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0)
        return {};
    std::string text(static_cast<size_t>(length), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
}

std::string Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = VFormat(format, args);
    va_end(args);
    return text;
}

int ParseInt(const char* text)
{
    if (text == nullptr)
        return 0;
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r')
        ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-')
        ++p;
    // The magnitude stops growing once it is beyond every int, so it cannot overflow.
    constexpr int64_t kBeyondInt = int64_t{INT_MAX} + 2;
    int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        magnitude = std::min(magnitude * 10 + (*p - '0'), kBeyondInt);
    return static_cast<int>(std::clamp<int64_t>(negative ? -magnitude : magnitude, INT_MIN, INT_MAX));
}

std::string FormatMessageBox(std::string_view text, BoxIcon icon)
{
    std::vector<std::string_view> lines;
    lines.push_back(icon == BoxIcon::Error ? "ERROR" : "INFO");
    for (std::string_view line : SplitLines(text))
        lines.push_back(line);
    size_t width = 0;
    for (std::string_view line : lines)
        width = std::max(width, line.size());

    std::string rule(width + 2, '-');
    rule.insert(rule.begin(), '+');
    rule.append("+\r\n");
    std::string box = rule;
    for (size_t i = 0; i < lines.size(); ++i) {
        box += "| ";
        box += lines[i];
        box.append(width - lines[i].size(), ' ');
        box += " |\r\n";
        if (i == 0)
            box += rule;
    }
    box += rule;
    return box;
}

void ShowConsoleBox(std::string_view text, BoxIcon icon, bool waitForEnter)
{
    std::string box = FormatMessageBox(text, icon);
    std::fputs("\r\n", stdout);
    std::fputs(box.c_str(), stdout);
    if (waitForEnter) {
        std::fputs("Press Enter to continue ", stdout);
        std::fflush(stdout);
        int c;
        while ((c = std::getchar()) != EOF && c != '\n') {
        }
    }
    std::fflush(stdout);
}

std::string JoinPath(std::string_view folder, std::string_view name)
{
    std::string path(folder);
    if (path.empty() || !IsPathSeparator(path.back()))
        path += kPathSeparator;
    path += name;
    return path;
}

std::string StripTrailingSeparators(std::string_view folder)
{
    size_t end = folder.size();
    while (end > 1 && IsPathSeparator(folder[end - 1]))
        --end;
    return std::string(folder.substr(0, end));
}

bool IsAbsolutePath(std::string_view path)
{
    if (!path.empty() && IsPathSeparator(path[0]))
        return true;
    const bool drive = path.size() >= 2 && path[1] == ':' &&
                       ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    return kPathSeparator == '\\' && drive;
}

std::string DirName(std::string_view path)
{
    auto separator = std::find_if(path.rbegin(), path.rend(), IsPathSeparator);
    if (separator == path.rend())
        return ".";
    size_t at = static_cast<size_t>(path.rend() - separator) - 1;
    if (at == 0)
        return std::string(path.substr(0, 1));
    return std::string(path.substr(0, at));
}

}  // namespace platform
