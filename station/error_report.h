// The one error path of the station: every message about the board under test goes through
// ReportError, which prints it on the console, appends it to the error file when that is open and
// fails the board.
#pragma once

#include <functional>
#include <string>
#include <string_view>

// The board-fail flag: cleared at the start of each board's cycle, set by every ReportError.
extern int g_BoardFail;

// The error file in the output folder. Other programs may read it while the station writes: it is
// an ordinary file, and every message is written straight through to it, so a reader sees each
// message as soon as it is reported.
class CErrorFile {
public:
    CErrorFile() = default;
    ~CErrorFile() { Close(); }
    CErrorFile(const CErrorFile&) = delete;
    CErrorFile& operator=(const CErrorFile&) = delete;

    bool IsOpen() const { return m_Fd >= 0; }
    // The path of the open file; empty while closed.
    const std::string& Path() const { return m_Path; }

    // Creates the file, or truncates an existing one, for writing. False when that fails (errno
    // says why) or a file is already open.
    bool Open(const char* path);
    // Writes all of text; failures are ignored, as the station ignores the outcome of its writes.
    void Write(std::string_view text);
    void Close();

private:
    int m_Fd = -1;
    std::string m_Path;
};

// The process-wide error file; open from OpenErrorFile until CloseErrorFile.
extern CErrorFile g_ErrorFile;

// Formats the message printf-style, sets g_BoardFail, prints the message on standard output,
// appends it to the error file when that is open, and returns the message's length. Messages end
// in "\r\n" themselves; nothing is added.
int ReportError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Called by ReportError with every message after it was printed and written; empty: nothing is
// called. The station's results recorder keeps each board's messages through it.
void SetReportObserver(std::function<void(std::string_view message)> observer);

// Opens the error file at path, created empty, unless it is already open. When it cannot be
// created, "Open file %s Error\r\n" is printed on the console (not reported: no board fails
// because of it) and the station goes on without an error file.
void OpenErrorFile(const char* path);

// Closes the error file if it is open.
void CloseErrorFile();
