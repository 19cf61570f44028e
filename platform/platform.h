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

// printf into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string VFormat(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// ---- the operator's message box ----------------------------------------------------------------

enum class BoxIcon { Error, Info };

// The box as it appears on the console: a frame around the icon word (ERROR or INFO) and the
// text, whose "\n" are line breaks. Lines end in "\r\n".
std::string FormatMessageBox(std::string_view text, BoxIcon icon);

// Shows the box on standard output. When standard input is a terminal it waits until the operator
// presses Enter; in a scripted run it does not wait.
void MessageBox(std::string_view text, BoxIcon icon);

// ---- paths ---------------------------------------------------------------------------------

// folder + "/" + name.
std::string JoinPath(std::string_view folder, std::string_view name);

// Removes every trailing "/" of a folder name ("out//" -> "out"); the root "/" stays "/".
std::string StripTrailingSeparators(std::string_view folder);

// The folder part of a path ("a/b/c.txt" -> "a/b", "c.txt" -> ".").
std::string DirName(std::string_view path);

}  // namespace platform
