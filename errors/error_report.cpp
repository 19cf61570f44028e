#include "error_report.h"

#include <cstdarg>
#include <cstdio>

#include "platform.h"

int g_BoardFail = 0;
CErrorFile g_ErrorFile;

namespace {
std::function<void(std::string_view)> g_ReportObserver;
}  // namespace

void SetReportObserver(std::function<void(std::string_view message)> observer)
{
    g_ReportObserver = std::move(observer);
}

bool CErrorFile::Open(const char* path, std::string& why)
{
    if (IsOpen() || path == nullptr) {
        why = IsOpen() ? "another error file is open" : "no path";
        return false;
    }
    if (!m_File.Create(path, why))
        return false;
    m_Path = path;
    m_Failure.clear();
    return true;
}

void CErrorFile::Failed(const std::string& why)
{
    if (!m_Failure.empty())
        return;
    m_Failure = why;
    std::printf("Error writing file %s: %s (its messages are incomplete)\r\n", m_Path.c_str(), why.c_str());
    std::fflush(stdout);
}

void CErrorFile::Write(std::string_view text)
{
    std::string why;
    if (IsOpen() && m_Failure.empty() && !m_File.Write(text, why))
        Failed(why);
}

void CErrorFile::Sync()
{
    std::string why;
    if (IsOpen() && m_Failure.empty() && !m_File.Sync(why))
        Failed(why);
}

void CErrorFile::Close()
{
    std::string why;
    if (IsOpen() && !m_File.Close(why) && m_Failure.empty())
        Failed(why);
    m_Path.clear();
}

int ReportError(const char* format, ...)
{
    g_BoardFail = 1;

    va_list args;
    va_start(args, format);
    std::string message = platform::VFormat(format, args);
    va_end(args);

    std::printf("%s", message.c_str());
    std::fflush(stdout);
    g_ErrorFile.Write(message);
    if (g_ReportObserver)
        g_ReportObserver(message);
    return static_cast<int>(message.size());
}

bool OpenErrorFile(const char* path)
{
    if (g_ErrorFile.IsOpen())
        return true;
    std::string why;
    if (g_ErrorFile.Open(path, why))
        return true;
    std::printf("Open file %s Error\r\n", path ? path : "");
    std::printf("%s: %s\r\n", path ? path : "", why.c_str());
    std::fflush(stdout);
    return false;
}

void CloseErrorFile() { g_ErrorFile.Close(); }
