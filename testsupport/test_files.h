// Helpers every test folder needs: a temporary folder, whole-file reads and writes, and running a
// built program as a user would (arguments, standard input, environment, time limit).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// QBX_LIBRARY("qbxsim"): "libqbxsim.so", or "qbxsim.dll" on Windows.
#ifdef _WIN32
#define QBX_LIBRARY(name) name ".dll"
#else
#define QBX_LIBRARY(name) "lib" name ".so"
#endif

#ifdef _WIN32
// The environment as the tests set it on POSIX systems.
inline int setenv(const char* name, const char* value, int overwrite)
{
    if (!overwrite && std::getenv(name) != nullptr)
        return 0;
    return _putenv_s(name, value);
}
inline int unsetenv(const char* name) { return _putenv_s(name, ""); }
#endif

namespace qbxtest {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when the object dies.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_Path; }
    std::string File(std::string_view name) const;  // path of a file in the folder

private:
    std::string m_Path;
};

// The whole file, byte for byte ("" when it cannot be read).
std::string ReadFile(const std::string& path);
// Writes text to path, replacing the file; throws std::runtime_error when that fails.
void WriteFile(const std::string& path, std::string_view text);
bool FileExists(const std::string& path);
// Splits at "\r\n" (a trailing partial line is kept).
std::vector<std::string> CrLfLines(const std::string& text);
// How many times what occurs in text, without overlaps.
size_t Occurrences(std::string_view text, std::string_view what);

struct ProcessResult {
    int status = -1;         // exit status; -1 when the process did not exit normally
    int signal = 0;          // the signal that ended it, if any
    bool timedOut = false;   // killed after the time limit
    std::string out;         // standard output
    std::string err;         // standard error
    double seconds = 0.0;    // wall time
};

struct ProcessOptions {
    std::vector<std::string> args;                          // arguments after the program
    std::string input;                                      // standard input
    std::map<std::string, std::optional<std::string>> env;  // set (value) or removed (nullopt)
    int timeoutSeconds = 120;
    bool stderrOnTerminal = false;  // standard error on a pseudo-terminal (read back into err);
                                    // not on Windows (kTerminalForStderr)
    std::string workingDirectory;   // where the program starts; empty: here
    // Asked every few milliseconds with the output so far and the seconds since the start; true kills
    // the process (SIGKILL; TerminateProcess on Windows), and result.signal is 9.
    std::function<bool(const std::string& out, double seconds)> killWhen;
};

// Whether RunProcess can put standard error on a (pseudo-)terminal: Windows has none for a child.
#ifdef _WIN32
inline constexpr bool kTerminalForStderr = false;
#else
inline constexpr bool kTerminalForStderr = true;
#endif

// Runs program with the options and waits for it (killing it after the time limit).
ProcessResult RunProcess(const std::string& program, const ProcessOptions& options);

// Runs a tool's entry point in this process with its two streams captured.
ProcessResult CaptureStreams(const std::function<int(FILE* out, FILE* err)>& run);

// The system's words for a file, and for a folder, that is not there.
std::string MissingFileText();
std::string MissingFolderText();

// The device that drops whatever is written to it.
#ifdef _WIN32
inline constexpr const char* kNullDevice = "NUL";
#else
inline constexpr const char* kNullDevice = "/dev/null";
#endif

// A program of this build (in the folder of the built binaries).
std::string BuiltProgram(std::string_view name);

}  // namespace qbxtest
