// The platform on Windows: Sleep and GetTickCount, the system's message box, binary standard
// streams, DLLs through LoadLibrary. (Files: files_win.cpp.)
#include <windows.h>
#undef MessageBox  // the macro of windows.h; platform::MessageBox is meant here

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform.h"
#include "platform_system.h"
#include "windows_error.h"

namespace platform {

namespace {

class WindowsClock : public Clock {
public:
    uint32_t Now() override { return static_cast<uint32_t>(::GetTickCount()); }
    void Sleep(uint32_t ms) override { ::Sleep(static_cast<DWORD>(ms)); }
};

// The environment variable that puts the operator's box on the console, for automated runs.
constexpr const char* kConsoleBoxVariable = "QBX_CONSOLE_BOX";

bool ConsoleBoxChosen()
{
    const char* value = std::getenv(kConsoleBoxVariable);
    return value != nullptr && std::strcmp(value, "1") == 0;
}

// A console the operator types into (_isatty would also say yes for the NUL device).
bool StdinIsConsole()
{
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

// The box's caption: the program's name, as Windows programs title their boxes.
std::string Caption()
{
    std::string file = ModuleFile(nullptr);
    size_t start = file.find_last_of("\\/");
    file = file.substr(start == std::string::npos ? 0 : start + 1);
    size_t dot = file.rfind('.');
    if (dot != std::string::npos && dot > 0)
        file.resize(dot);
    return file.empty() ? "Test_QBX_FPGA" : file;
}

// A path the Windows loader takes: it wants backslashes.
std::string WithBackslashes(std::string path)
{
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

// Puts the box of this thread on top of every window while the object lives: MB_TOPMOST asks for
// it, but not every implementation of the Windows API honours the flag (Wine does not), so the
// box is also raised when it is activated.
class TopmostWhileShown {
public:
    TopmostWhileShown() : m_Hook(::SetWindowsHookExA(WH_CBT, &OnCbt, nullptr, ::GetCurrentThreadId())) {}
    ~TopmostWhileShown()
    {
        if (m_Hook != nullptr)
            ::UnhookWindowsHookEx(m_Hook);
    }
    TopmostWhileShown(const TopmostWhileShown&) = delete;
    TopmostWhileShown& operator=(const TopmostWhileShown&) = delete;

private:
    static LRESULT CALLBACK OnCbt(int code, WPARAM wParam, LPARAM lParam)
    {
        if (code == HCBT_ACTIVATE) {
            HWND window = reinterpret_cast<HWND>(wParam);
            if ((::GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) == 0)
                ::SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    }

    HHOOK m_Hook;
};

// Keeps the system from showing its own error box while a DLL is looked for.
class QuietLoaderErrors {
public:
    QuietLoaderErrors() { ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &m_Previous); }
    ~QuietLoaderErrors() { ::SetThreadErrorMode(m_Previous, nullptr); }
    QuietLoaderErrors(const QuietLoaderErrors&) = delete;
    QuietLoaderErrors& operator=(const QuietLoaderErrors&) = delete;

private:
    DWORD m_Previous = 0;
};

}  // namespace

Clock& SystemClock()
{
    static WindowsClock clock;
    return clock;
}

void MessageBox(std::string_view text, BoxIcon icon)
{
    if (ConsoleBoxChosen()) {
        ShowConsoleBox(text, icon, StdinIsConsole());
        return;
    }
    // What the console shows so far comes before the box.
    std::fflush(stdout);
    const UINT style = MB_OK | MB_TASKMODAL | MB_TOPMOST | MB_SETFOREGROUND |
                       (icon == BoxIcon::Error ? MB_ICONERROR : MB_ICONINFORMATION);
    const std::string message(text);
    TopmostWhileShown topmost;
    if (::MessageBoxA(nullptr, message.c_str(), Caption().c_str(), style) == 0) {
        // No desktop to show it on (a service, a remote shell): the console box instead.
        ShowConsoleBox(text, icon, StdinIsConsole());
    }
}

void UseBinaryStdio()
{
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

std::string HostName()
{
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = sizeof name;
    if (!::GetComputerNameA(name, &length))
        return "unknown";
    return std::string(name, length);
}

void* OpenSharedLibrary(const std::string& file, std::string& why)
{
    QuietLoaderErrors quiet;
    HMODULE library = ::LoadLibraryA(WithBackslashes(file).c_str());
    if (library == nullptr)
        why = WindowsErrorText(::GetLastError());
    return reinterpret_cast<void*>(library);
}

void CloseSharedLibrary(void* library)
{
    if (library != nullptr)
        ::FreeLibrary(static_cast<HMODULE>(library));
}

void* SharedLibrarySymbol(void* library, const char* name, std::string& why)
{
    FARPROC symbol = ::GetProcAddress(static_cast<HMODULE>(library), name);
    if (symbol == nullptr) {
        why = WindowsErrorText(::GetLastError()) + ": " + name;
        return nullptr;
    }
    return reinterpret_cast<void*>(symbol);
}

std::string ModuleFile(const void* address)
{
    HMODULE module = nullptr;
    if (address != nullptr &&
        !::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCSTR>(address), &module))
        return {};
    char name[MAX_PATH + 1] = {};
    DWORD length = ::GetModuleFileNameA(module, name, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    return std::string(name, length);
}

}  // namespace platform
