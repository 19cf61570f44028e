// What the station needs from the operating system: millisecond sleeps and ticks, the operator's
// message box on the console, printf-style strings and paths (files.h: reading and writing files).
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// ---- time -------------------------------------------------------------------------------------

// Blocks the calling thread for at least ms milliseconds.
void SleepMs(uint32_t ms);

// Milliseconds since an arbitrary start, wrapping at 2^32 like a 32-bit tick counter; measure
// intervals as (TickCountMs() - start), unsigned.
uint32_t TickCountMs();

// The source of SleepMs and TickCountMs. Tests install their own so that time-outs need not wait.
class Clock {
public:
    virtual ~Clock() = default;
    virtual uint32_t Now() = 0;
    virtual void Sleep(uint32_t ms) = 0;
};

// Installs clock for this module (nullptr restores the real clock). Not thread-safe: set it
// before the code under test runs.
void SetClock(Clock* clock);

// A clock for tests: Sleep advances it without waiting, and every reading advances it by step ms,
// so a polling loop reaches its time-out after a bounded number of polls.
class FakeClock : public Clock {
public:
    explicit FakeClock(uint32_t step = 1, uint32_t start = 0) : m_Now(start), m_Step(step) {}
    uint32_t Now() override
    {
        uint32_t now = m_Now;
        m_Now += m_Step;
        return now;
    }
    void Sleep(uint32_t ms) override
    {
        m_Now += ms;
        m_Slept += ms;
    }
    void Advance(uint32_t ms) { m_Now += ms; }
    uint64_t Slept() const { return m_Slept; }

private:
    uint32_t m_Now;
    uint32_t m_Step;
    uint64_t m_Slept = 0;
};

// Installs a clock for the lifetime of the object.
class ScopedClock {
public:
    explicit ScopedClock(Clock& clock) { SetClock(&clock); }
    ~ScopedClock() { SetClock(nullptr); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;
};

// ---- text -------------------------------------------------------------------------------------

// Marks a printf-style function for the compiler's format checks. MinGW's C99 printf (the one the
// Windows build uses) follows GNU's rules, not those of Microsoft's C runtime.
#ifdef __MINGW32__
#define QBX_PRINTF_LIKE(string, first) __attribute__((format(gnu_printf, string, first)))
#else
#define QBX_PRINTF_LIKE(string, first) __attribute__((format(printf, string, first)))
#endif

// printf into a std::string.
std::string Format(const char* format, ...) QBX_PRINTF_LIKE(1, 2);
std::string VFormat(const char* format, va_list args) QBX_PRINTF_LIKE(1, 0);

// A decimal number as atoi reads it, without atoi's undefined overflow: leading white space
// skipped, an optional sign, the digits up to the first other character, 0 when there are none.
// A number beyond the range of int gives INT_MAX or INT_MIN.
int ParseInt(const char* text);

// ---- the operator's message box ----------------------------------------------------------------

enum class BoxIcon { Error, Info };

// The box as it appears on the console: a frame around the icon word (ERROR or INFO) and the
// text, whose "\n" are line breaks. Lines end in "\r\n".
std::string FormatMessageBox(std::string_view text, BoxIcon icon);

// Shows the box to the operator and returns once it is acknowledged.
// On Linux: the box above on standard output; when standard input is a terminal it waits until
// the operator presses Enter, in a scripted run it does not wait.
// On Windows: a modal system message box on top of every window, with one OK button and the error
// or information icon (MessageBoxA); it returns when the operator clicks OK. With the environment
// variable QBX_CONSOLE_BOX=1 (automated runs), or when no box can be shown, it is the console box
// as on Linux instead.
void MessageBox(std::string_view text, BoxIcon icon);

// ---- console ----------------------------------------------------------------------------------

// Makes standard input, output and error binary on Windows, so that the "\r\n" the station writes
// reach the console, a pipe or a file unchanged (a text-mode stream would make them "\r\r\n").
// Programs call it first thing in main. Nothing to do elsewhere.
void UseBinaryStdio();

// ---- paths ------------------------------------------------------------------------------------

// The separator the station puts between a folder and a file name: "\\" on Windows, "/" elsewhere.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// A separator of the system's paths: "/" everywhere, "\\" as well on Windows.
constexpr bool IsPathSeparator(char c)
{
    return c == '/' || (kPathSeparator == '\\' && c == '\\');
}

// folder + separator + name (no second separator when folder ends in one).
std::string JoinPath(std::string_view folder, std::string_view name);

// Removes every trailing separator of a folder name ("out//" -> "out"); a root ("/", "\\") stays.
std::string StripTrailingSeparators(std::string_view folder);

// The folder part of a path ("a/b/c.txt" -> "a/b", "c.txt" -> ".").
std::string DirName(std::string_view path);

// A path that does not depend on the current folder: it starts with a separator, or on Windows
// with a drive ("C:\\out", "C:out" is taken as such too).
bool IsAbsolutePath(std::string_view path);

// ---- the machine ------------------------------------------------------------------------------

// The computer's name, or "unknown".
std::string HostName();

// ---- shared libraries -------------------------------------------------------------------------

// Loads a shared library (.so, .dll): a path as given, a bare name through the system's search.
// Null when that fails; why then holds the system's reason. The library stays loaded until
// CloseSharedLibrary.
void* OpenSharedLibrary(const std::string& file, std::string& why);
void CloseSharedLibrary(void* library);
// The address of an exported function or variable, or null (why: the system's reason).
void* SharedLibrarySymbol(void* library, const char* name, std::string& why);
// The file of the program or shared library that holds the code at address, or "" if unknown.
std::string ModuleFile(const void* address);

}  // namespace platform
