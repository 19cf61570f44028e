#include "platform.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <iostream>
#include <thread>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

class SystemClock : public Clock {
public:
    uint32_t Now() override
    {
        using namespace std::chrono;
        auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
        return static_cast<uint32_t>(ms);
    }
    void Sleep(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

SystemClock g_SystemClock;
Clock* g_Clock = &g_SystemClock;

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

void SetClock(Clock* clock) { g_Clock = clock ? clock : &g_SystemClock; }

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

void MessageBox(std::string_view text, BoxIcon icon)
{
    std::string box = FormatMessageBox(text, icon);
    std::fputs("\r\n", stdout);
    std::fputs(box.c_str(), stdout);
    if (isatty(STDIN_FILENO)) {
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
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
    return path;
}

std::string StripTrailingSeparators(std::string_view folder)
{
    size_t end = folder.size();
    while (end > 1 && folder[end - 1] == '/')
        --end;
    return std::string(folder.substr(0, end));
}

std::string DirName(std::string_view path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return ".";
    if (slash == 0)
        return "/";
    return std::string(path.substr(0, slash));
}

}  // namespace platform
