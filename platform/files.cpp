#include "files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform.h"

namespace platform {

namespace {

std::string SystemError(int error = errno) { return std::strerror(error); }

const char* KindOf(mode_t mode)
{
    if (S_ISREG(mode))
        return "a file";
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISLNK(mode))
        return "a symbolic link";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a file";
}

std::string NotRegular(mode_t mode) { return std::string(KindOf(mode)) + ", not a regular file"; }

std::string SizeText(uint64_t bytes)
{
    constexpr uint64_t kMiB = uint64_t{1} << 20;
    if (bytes % kMiB == 0)
        return std::to_string(bytes / kMiB) + " MiB";
    return std::to_string(bytes) + " bytes";
}

// Writes all of text to fd, retrying interrupted and partial writes.
bool WriteAll(int fd, std::string_view text, std::string& why)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            why = n < 0 ? SystemError() : "the system wrote nothing";
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Clears O_NONBLOCK, which the opens below set so that a FIFO never blocks them.
void Blocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

}  // namespace

std::string Describe(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT ? "nothing" : SystemError();
    return KindOf(st.st_mode);
}

InputFile ReadInputFile(const std::string& path, uint64_t maxBytes)
{
    InputFile file;
    // Non-blocking, so that a FIFO is looked at instead of waited on.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        file.missing = errno == ENOENT;
        file.why = SystemError();
        return file;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        file.why = SystemError();
        return file;
    }
    if (!S_ISREG(st.st_mode)) {
        file.why = NotRegular(st.st_mode);
        return file;
    }
    const std::string tooLarge = "larger than " + SizeText(maxBytes);
    if (static_cast<uint64_t>(st.st_size) > maxBytes) {
        file.why = tooLarge;
        return file;
    }
    Blocking(fd);
    // The size fstat gave is a hint: a file that grows meanwhile is read to its end, up to the limit.
    std::string content(static_cast<size_t>(st.st_size) + 1, '\0');
    size_t got = 0;
    for (;;) {
        if (got == content.size()) {
            if (content.size() > maxBytes) {
                file.why = tooLarge;
                return file;
            }
            content.resize(std::min<uint64_t>(content.size() * 2, maxBytes + 1));
        }
        const ssize_t n = ::read(fd, content.data() + got, content.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            file.why = SystemError();
            return file;
        }
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    if (got > maxBytes) {
        file.why = tooLarge;
        return file;
    }
    content.resize(got);
    file.content = std::move(content);
    file.ok = true;
    return file;
}

std::string ResultFileProblem(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT ? "" : SystemError();
    if (S_ISLNK(st.st_mode))
        return "a symbolic link, not followed";
    if (!S_ISREG(st.st_mode))
        return NotRegular(st.st_mode);
    return "";
}

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* error)
{
    std::string why;
    auto fail = [&](const std::string& what) {
        if (error)
            *error = what;
        return false;
    };
    if (std::string problem = ResultFileProblem(path); !problem.empty())
        return fail(problem);

    std::string pattern = JoinPath(DirName(path), ".tmp-XXXXXX");
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        return fail("cannot create a temporary file in its folder: " + SystemError());
    const std::string tmp(name.data());
    auto discard = [&](const std::string& what) {
        ::unlink(tmp.c_str());
        return fail(what);
    };

    if (!WriteAll(fd, content, why)) {
        ::close(fd);
        return discard("cannot write: " + why);
    }
    // The same permissions a plain fopen would give the file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    (void)::fchmod(fd, 0666 & ~mask);
    if (::fsync(fd) != 0) {
        why = SystemError();
        ::close(fd);
        return discard("cannot flush to disk: " + why);
    }
    if (::close(fd) != 0)
        return discard("cannot close: " + SystemError());
    if (::rename(tmp.c_str(), path.c_str()) != 0)
        return discard("cannot rename the temporary file into place: " + SystemError());
    return true;
}

bool WriteOutputFile(const std::string& path, std::string_view content, std::string* error)
{
    auto fail = [&](const std::string& what) {
        if (error)
            *error = what;
        return false;
    };
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT)
            return fail(SystemError());
        return WriteFileAtomically(path, content, error);
    }
    if (S_ISREG(st.st_mode))
        return WriteFileAtomically(path, content, error);
    if (!S_ISCHR(st.st_mode) && !S_ISFIFO(st.st_mode))
        return fail(std::string(KindOf(st.st_mode)) + ", not written");

    // A device or FIFO takes the bytes as they are; it is never replaced.
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return fail(errno == ENXIO ? "a FIFO without a reader" : SystemError());
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || (!S_ISCHR(opened.st_mode) && !S_ISFIFO(opened.st_mode))) {
        ::close(fd);
        return fail("changed while it was opened, not written");
    }
    Blocking(fd);
    std::string why;
    const bool written = WriteAll(fd, content, why);
    if (::close(fd) != 0 && written)
        return fail("cannot close: " + SystemError());
    return written || fail("cannot write: " + why);
}

COutputFile::~COutputFile()
{
    std::string ignored;
    Close(ignored);
}

bool COutputFile::Create(const std::string& path, std::string& why)
{
    if (IsOpen()) {
        why = "already open";
        return false;
    }
    // O_NOFOLLOW: a link in the file's place is refused, not written through; O_NONBLOCK: a FIFO
    // there does not block the open. Nothing is truncated before the checks.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        const int error = errno;
        const std::string problem = ResultFileProblem(path);
        why = !problem.empty() ? problem : SystemError(error);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        why = SystemError();
    else if (!S_ISREG(st.st_mode))
        why = NotRegular(st.st_mode);
    else if (st.st_nlink > 1)
        why = "a regular file with other names (hard links), not written";
    else if (::ftruncate(fd, 0) != 0)
        why = SystemError();
    else
        why.clear();
    if (!why.empty()) {
        ::close(fd);
        return false;
    }
    Blocking(fd);
    m_Fd = fd;
    m_Size = 0;
    return true;
}

bool COutputFile::Write(std::string_view text, std::string& why)
{
    if (!IsOpen()) {
        why = "not open";
        return false;
    }
    if (!WriteAll(m_Fd, text, why)) {
        (void)::ftruncate(m_Fd, static_cast<off_t>(m_Size));
        (void)::lseek(m_Fd, static_cast<off_t>(m_Size), SEEK_SET);
        return false;
    }
    m_Size += text.size();
    return true;
}

bool COutputFile::Sync(std::string& why)
{
    if (IsOpen() && ::fsync(m_Fd) != 0) {
        why = SystemError();
        return false;
    }
    return true;
}

bool COutputFile::Close(std::string& why)
{
    if (!IsOpen())
        return true;
    const int result = ::close(m_Fd);
    m_Fd = -1;
    if (result != 0) {
        why = SystemError();
        return false;
    }
    return true;
}

CFolderLock::~CFolderLock() { Release(); }

bool CFolderLock::Acquire(const std::string& folder, std::string& why)
{
    Release();
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        why = SystemError();
        return false;
    }
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        why = SystemError();
        ::close(fd);
        return false;
    }
    // The lock belongs to this open folder: the system drops it with the last descriptor, so a
    // station that dies leaves no stale lock behind.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        why = errno == EWOULDBLOCK ? "in use by another station" : SystemError();
        ::close(fd);
        return false;
    }
    m_Fd = fd;
    return true;
}

void CFolderLock::Release()
{
    if (m_Fd >= 0) {
        ::close(m_Fd);
        m_Fd = -1;
    }
}

}  // namespace platform
