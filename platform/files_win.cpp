// Files on Windows, with the guarantees of files.h: an input is read only when it is a disk file
// of a sane size; a result file is never written through a symbolic link (a reparse point) nor in
// place of a folder or device; an output folder serves one station at a time (a lock file that
// nobody else may open and that goes with the station's last handle).
#include "files.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <utility>

#include "platform.h"
#include "windows_error.h"

namespace platform {

namespace {

// The file's name inside an output folder while a station holds the folder.
constexpr const char* kLockFileName = ".qbx-station.lock";

bool NotFound(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

std::string SizeText(uint64_t bytes)
{
    constexpr uint64_t kMiB = uint64_t{1} << 20;
    if (bytes % kMiB == 0)
        return std::to_string(bytes / kMiB) + " MiB";
    return std::to_string(bytes) + " bytes";
}

// Closes a handle when it goes out of scope.
class Handle {
public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : m_Handle(handle) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    bool Valid() const { return m_Handle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_Handle; }
    HANDLE Release() { return std::exchange(m_Handle, INVALID_HANDLE_VALUE); }
    void Reset(HANDLE handle)
    {
        Close();
        m_Handle = handle;
    }
    void Close()
    {
        if (Valid())
            ::CloseHandle(Release());
    }

private:
    HANDLE m_Handle;
};

// What a path names, without following a link: the kind as Describe words it ("nothing" when
// there is nothing; "" with why set when the system cannot tell).
std::string Kind(const std::string& path, std::string* why = nullptr)
{
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (NotFound(error))
            return "nothing";
        // Devices (NUL, COM1) have no attributes to give: ask the opened handle below.
        if (error != ERROR_INVALID_PARAMETER && error != ERROR_ACCESS_DENIED && error != ERROR_INVALID_NAME) {
            if (why)
                *why = WindowsErrorText(error);
            return "";
        }
    } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return "a symbolic link";
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return "a folder";
    }
    Handle file(::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.Valid()) {
        const DWORD error = ::GetLastError();
        if (why)
            *why = WindowsErrorText(error);
        return NotFound(error) ? "nothing" : "";
    }
    switch (::GetFileType(file.Get())) {
    case FILE_TYPE_DISK:
        return "a file";
    case FILE_TYPE_CHAR:
        return "a device";
    case FILE_TYPE_PIPE:
        return "a FIFO";
    default:
        return "not a file";
    }
}

// Writes all of text to the file.
bool WriteAll(HANDLE file, std::string_view text, std::string& why)
{
    size_t done = 0;
    while (done < text.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, text.data() + done, chunk, &written, nullptr)) {
            why = WindowsErrorText(::GetLastError());
            return false;
        }
        if (written == 0) {
            why = "the system wrote nothing";
            return false;
        }
        done += written;
    }
    return true;
}

}  // namespace

std::string Describe(const std::string& path)
{
    std::string why;
    const std::string kind = Kind(path, &why);
    return kind.empty() ? why : kind;
}

InputFile ReadInputFile(const std::string& path, uint64_t maxBytes)
{
    InputFile file;
    const std::string kind = Kind(path, &file.why);
    if (kind == "nothing") {
        file.missing = true;
        file.why = WindowsErrorText(ERROR_FILE_NOT_FOUND);
        return file;
    }
    if (kind != "a file" && kind != "a symbolic link") {
        // An input may be named through a link; anything else but a disk file is refused unread.
        if (!kind.empty())
            file.why = kind + ", not a regular file";
        return file;
    }
    Handle handle(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle.Valid()) {
        const DWORD error = ::GetLastError();
        file.missing = NotFound(error);
        file.why = WindowsErrorText(error);
        return file;
    }
    if (::GetFileType(handle.Get()) != FILE_TYPE_DISK) {
        file.why = "a device, not a regular file";
        return file;
    }
    const std::string tooLarge = "larger than " + SizeText(maxBytes);
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handle.Get(), &size)) {
        file.why = WindowsErrorText(::GetLastError());
        return file;
    }
    if (static_cast<uint64_t>(size.QuadPart) > maxBytes) {
        file.why = tooLarge;
        return file;
    }
    // The size is a hint: a file that grows meanwhile is read to its end, up to the limit.
    std::string content(static_cast<size_t>(size.QuadPart) + 1, '\0');
    size_t got = 0;
    for (;;) {
        if (got == content.size()) {
            if (content.size() > maxBytes) {
                file.why = tooLarge;
                return file;
            }
            content.resize(std::min<uint64_t>(content.size() * 2, maxBytes + 1));
        }
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size() - got, 1u << 30));
        if (!::ReadFile(handle.Get(), content.data() + got, chunk, &n, nullptr)) {
            file.why = WindowsErrorText(::GetLastError());
            return file;
        }
        if (n == 0)
            break;
        got += n;
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
    std::string why;
    const std::string kind = Kind(path, &why);
    if (kind.empty())
        return why;
    if (kind == "nothing" || kind == "a file")
        return "";
    if (kind == "a symbolic link")
        return "a symbolic link, not followed";
    return kind + ", not a regular file";
}

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* error)
{
    auto fail = [&](const std::string& what) {
        if (error)
            *error = what;
        return false;
    };
    if (std::string problem = ResultFileProblem(path); !problem.empty())
        return fail(problem);

    // A name of this process and moment; CREATE_NEW refuses one that exists, so try a few.
    static unsigned s_Counter = 0;
    std::string tmp;
    Handle file;
    DWORD code = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 100 && !file.Valid() && code == ERROR_FILE_EXISTS; ++attempt) {
        tmp = JoinPath(DirName(path), Format(".tmp-%lu-%lu-%u", static_cast<unsigned long>(::GetCurrentProcessId()),
                                             static_cast<unsigned long>(::GetTickCount()), ++s_Counter));
        file.Reset(::CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        code = file.Valid() ? ERROR_SUCCESS : ::GetLastError();
    }
    if (!file.Valid())
        return fail("cannot create a temporary file in its folder: " + WindowsErrorText(code));
    auto discard = [&](const std::string& what) {
        file.Close();
        ::DeleteFileA(tmp.c_str());
        return fail(what);
    };
    std::string why;
    if (!WriteAll(file.Get(), content, why))
        return discard("cannot write: " + why);
    if (!::FlushFileBuffers(file.Get()))
        return discard("cannot flush to disk: " + WindowsErrorText(::GetLastError()));
    if (!::CloseHandle(file.Release()))
        return discard("cannot close: " + WindowsErrorText(::GetLastError()));
    if (!::MoveFileExA(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return discard("cannot rename the temporary file into place: " + WindowsErrorText(::GetLastError()));
    return true;
}

bool WriteOutputFile(const std::string& path, std::string_view content, std::string* error)
{
    auto fail = [&](const std::string& what) {
        if (error)
            *error = what;
        return false;
    };
    std::string why;
    const std::string kind = Kind(path, &why);
    if (kind.empty())
        return fail(why);
    if (kind == "nothing" || kind == "a file")
        return WriteFileAtomically(path, content, error);
    if (kind != "a device" && kind != "a FIFO")
        return fail(kind + ", not written");

    // A device (NUL, a console) or a pipe takes the bytes as they are; it is never replaced.
    Handle device(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!device.Valid())
        return fail(WindowsErrorText(::GetLastError()));
    if (::GetFileType(device.Get()) == FILE_TYPE_DISK)
        return fail("changed while it was opened, not written");
    return WriteAll(device.Get(), content, why) || fail("cannot write: " + why);
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
    if (std::string problem = ResultFileProblem(path); !problem.empty()) {
        why = problem;
        return false;
    }
    // Others may read the file while the station writes it, not write it. A link that appears in
    // its place meanwhile is opened as itself (FILE_FLAG_OPEN_REPARSE_POINT) and refused below;
    // nothing is truncated before the checks.
    Handle file(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.Valid()) {
        why = WindowsErrorText(::GetLastError());
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK)
        why = "a device, not a regular file";
    else if (!::GetFileInformationByHandle(file.Get(), &info))
        why = WindowsErrorText(::GetLastError());
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        why = "a symbolic link, not followed";
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        why = "a folder, not a regular file";
    else if (info.nNumberOfLinks > 1)
        why = "a regular file with other names (hard links), not written";
    else if (!::SetEndOfFile(file.Get()))
        why = WindowsErrorText(::GetLastError());
    else
        why.clear();
    if (!why.empty())
        return false;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file.Get()), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        why = "cannot use the opened file";
        return false;
    }
    file.Release();  // the descriptor owns the handle now
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
    HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(m_Fd));
    if (!WriteAll(file, text, why)) {
        // Take the part-written text back: the file holds whole texts only.
        LARGE_INTEGER size{};
        size.QuadPart = static_cast<LONGLONG>(m_Size);
        if (::SetFilePointerEx(file, size, nullptr, FILE_BEGIN))
            ::SetEndOfFile(file);
        return false;
    }
    m_Size += text.size();
    return true;
}

bool COutputFile::Sync(std::string& why)
{
    if (IsOpen() && !::FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(m_Fd)))) {
        why = WindowsErrorText(::GetLastError());
        return false;
    }
    return true;
}

bool COutputFile::Close(std::string& why)
{
    if (!IsOpen())
        return true;
    const int result = _close(m_Fd);
    m_Fd = -1;
    if (result != 0) {
        why = "cannot close the file";
        return false;
    }
    return true;
}

CFolderLock::~CFolderLock() { Release(); }

bool CFolderLock::Acquire(const std::string& folder, std::string& why)
{
    Release();
    const DWORD attributes = ::GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        why = WindowsErrorText(::GetLastError());
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        why = WindowsErrorText(ERROR_DIRECTORY);
        return false;
    }
    // The lock is a file nobody else may open, which goes away with the station's handle: a
    // station that dies leaves no stale lock behind. Creating it also proves the folder writable.
    Handle lock(::CreateFileA(JoinPath(folder, kLockFileName).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!lock.Valid()) {
        const DWORD error = ::GetLastError();
        why = error == ERROR_SHARING_VIOLATION ? "in use by another station" : WindowsErrorText(error);
        return false;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(lock.Get()), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        why = "cannot hold the lock file";
        return false;
    }
    lock.Release();
    m_Fd = fd;
    return true;
}

void CFolderLock::Release()
{
    if (m_Fd >= 0) {
        _close(m_Fd);
        m_Fd = -1;
    }
}

}  // namespace platform
