#include "error_report.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

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

bool CErrorFile::Open(const char* path)
{
    if (IsOpen() || path == nullptr)
        return false;
    int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    m_Fd = fd;
    m_Path = path;
    return true;
}

void CErrorFile::Write(std::string_view text)
{
    if (!IsOpen())
        return;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(m_Fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

void CErrorFile::Close()
{
    if (!IsOpen())
        return;
    ::close(m_Fd);
    m_Fd = -1;
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

void OpenErrorFile(const char* path)
{
    if (g_ErrorFile.IsOpen())
        return;
    if (!g_ErrorFile.Open(path)) {
        std::printf("Open file %s Error\r\n", path ? path : "");
        std::fflush(stdout);
    }
}

void CloseErrorFile() { g_ErrorFile.Close(); }
