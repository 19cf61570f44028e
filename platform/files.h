// Files as the station and its tools read and write them, safe against whatever is found in their
// place: an input file is read only when it is a regular file of a sane size (a FIFO is refused,
// never waited on); a result file is never opened through a symbolic link and never replaces or
// writes into anything but a regular file; an output folder serves one station at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The largest file a reader takes (BSDL, vector and board files, reports): no real one comes near
// it, and it keeps a wrong or hostile file from exhausting memory.
inline constexpr uint64_t kMaxInputFileSize = uint64_t{64} << 20;

// What a path names, for messages: "a folder", "a FIFO", "a device", "a socket", "a symbolic link",
// "a file"; "nothing" when it does not exist.
std::string Describe(const std::string& path);

// ---- input files -------------------------------------------------------------------------------

struct InputFile {
    bool ok = false;
    bool missing = false;  // the path names nothing: a "not found" message says it all
    std::string why;       // why it was not read: the system's error text or what the path names
    std::string content;   // the whole file when ok
};

// Reads the regular file at path whole. Refuses a path that cannot be opened (why: the system's
// error text), a folder, a FIFO, a device or a socket (why: "a FIFO, not a regular file", ...), and
// a file larger than maxBytes.
InputFile ReadInputFile(const std::string& path, uint64_t maxBytes = kMaxInputFileSize);

// ---- result files ------------------------------------------------------------------------------

// Why path must not be replaced or written by a result file: "" when nothing is there or it is a
// regular file with one name; else "a symbolic link, not followed", "a folder, not a regular file",
// "a regular file with other names (hard links)", ...
std::string ResultFileProblem(const std::string& path);

// Writes content to path so that a crash never leaves a half-written file: the bytes go to a
// temporary file in the same folder, are flushed to disk, and the file is renamed over path. A
// path that ResultFileProblem refuses is left alone. Returns false (and leaves path as it was,
// removing the temporary file) when anything fails; error then says why.
bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* error = nullptr);

// A tool's output named by the user: nothing there or a regular file is written atomically; an
// existing character device or FIFO (/dev/null, /dev/stdout, a pipe with a reader) is written
// into, never replaced; anything else (a folder, a symbolic link, a socket) is refused.
bool WriteOutputFile(const std::string& path, std::string_view content, std::string* error = nullptr);

// A result file written while the station runs (the error file): created or emptied, written
// straight through so that another program reading it sees every line at once, every write and
// the close checked. Never opened through a symbolic link; a path ResultFileProblem refuses is
// not opened. Each failing call gives the system's error text in why.
class COutputFile {
public:
    COutputFile() = default;
    ~COutputFile();
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    bool IsOpen() const { return m_Fd >= 0; }
    bool Create(const std::string& path, std::string& why);
    // All of text, or false; a write that fails part-way is taken back, so that the file holds
    // whole texts only.
    bool Write(std::string_view text, std::string& why);
    // Flushes what was written to the disk.
    bool Sync(std::string& why);
    // Closes the file (a no-op when closed); false when the system reports a late write error.
    bool Close(std::string& why);

private:
    int m_Fd = -1;
    uint64_t m_Size = 0;
};

// ---- the output folder -------------------------------------------------------------------------

// Holds an output folder for this process, so that two stations never write the same files. The
// system releases the hold when the process ends or dies.
class CFolderLock {
public:
    CFolderLock() = default;
    ~CFolderLock();
    CFolderLock(const CFolderLock&) = delete;
    CFolderLock& operator=(const CFolderLock&) = delete;

    // False, with why, when the folder cannot hold result files (the system's error text: no such
    // folder, not a folder, no write access, read-only) or another process holds it ("in use by
    // another station").
    bool Acquire(const std::string& folder, std::string& why);
    void Release();

private:
    int m_Fd = -1;
};

}  // namespace platform
