// The one error path of the station: every message about the board under test goes through
// ReportError, which prints it on the console, appends it to the error file when that is open and
// fails the board.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "files.h"
#include "platform.h"

// The board-fail flag: cleared at the start of each board's cycle, set by every ReportError.
extern int g_BoardFail;

// The error file in the output folder. Other programs may read it while the station writes: it is
// an ordinary file, and every message is written straight through to it, so a reader sees each
// message as soon as it is reported. It is never opened through a symbolic link, nor when the
// path names anything but a regular file (platform::COutputFile).
//
// Every write is checked. At the first that fails (a full disk) the console says so at once, the
// file takes no further message (what it holds stays whole lines, in order) and Failure() keeps
// the system's error text until the file is opened again.
class CErrorFile {
public:
    CErrorFile() = default;
    ~CErrorFile() { Close(); }
    CErrorFile(const CErrorFile&) = delete;
    CErrorFile& operator=(const CErrorFile&) = delete;

    bool IsOpen() const { return m_File.IsOpen(); }
    // The path of the open file; empty while closed.
    const std::string& Path() const { return m_Path; }

    // Creates the file, or empties an existing one, for writing. False, with why, when that fails
    // or a file is already open.
    bool Open(const char* path, std::string& why);
    // Writes all of text, unless an earlier write failed.
    void Write(std::string_view text);
    // Flushes the file to the disk; a failure counts as a failed write.
    void Sync();
    // Closes the file; a failure of the close is said on the console.
    void Close();
    // Why a write to the file last opened failed; "" while every write reached it.
    const std::string& Failure() const { return m_Failure; }

private:
    void Failed(const std::string& why);

    platform::COutputFile m_File;
    std::string m_Path;
    std::string m_Failure;
};

// The process-wide error file; open from OpenErrorFile until CloseErrorFile.
extern CErrorFile g_ErrorFile;

// Formats the message printf-style, sets g_BoardFail, prints the message on standard output,
// appends it to the error file when that is open, and returns the message's length. Messages end
// in "\r\n" themselves; nothing is added.
int ReportError(const char* format, ...) QBX_PRINTF_LIKE(1, 2);

// Called by ReportError with every message after it was printed and written; empty: nothing is
// called. The station's results recorder keeps each board's messages through it.
void SetReportObserver(std::function<void(std::string_view message)> observer);

// Opens the error file at path, created empty, unless it is already open. When it cannot be
// created, "Open file %s Error\r\n" and the reason ("<path>: <why>") are printed on the console
// (not reported: no board fails because of it) and false is returned; the caller may go on
// without an error file.
bool OpenErrorFile(const char* path);

// Closes the error file if it is open.
void CloseErrorFile();
