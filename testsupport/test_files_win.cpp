// Temporary folders and running programs on Windows: a fresh folder under the system's temporary
// folder, CreateProcess with standard input, output and error on files, a time limit.
#include "test_files.h"

#include <windows.h>

#include "windows_error.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace qbxtest {

namespace {

// Closes a handle when it goes out of scope.
struct Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    explicit Handle(HANDLE value = INVALID_HANDLE_VALUE) : h(value) {}
    ~Handle()
    {
        if (h != INVALID_HANDLE_VALUE && h != nullptr)
            ::CloseHandle(h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

// A file the child process inherits as one of its standard handles.
HANDLE InheritedFile(const std::string& path, bool write)
{
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE file = ::CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                &inherit, write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot open " + path + " for a child process");
    return file;
}

// One argument as the C runtime's command-line parser reads it back: quoted when it has blanks or
// quotes, backslashes doubled before a quote.
std::string Quoted(const std::string& argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos)
        return argument;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    quoted += '"';
    return quoted;
}

// This process's environment with the changes (names compared without case, as Windows does), as
// the block CreateProcess takes: "NAME=value\0...\0\0".
std::string EnvironmentBlock(const std::map<std::string, std::optional<std::string>>& changes)
{
    auto changed = [&](const std::string& name) {
        for (const auto& change : changes) {
            if (_stricmp(change.first.c_str(), name.c_str()) == 0)
                return true;
        }
        return false;
    };
    std::string block;
    char* strings = ::GetEnvironmentStringsA();
    for (const char* entry = strings; entry != nullptr && *entry != '\0'; entry += std::strlen(entry) + 1) {
        const std::string text(entry);
        // Entries such as "=C:=C:\..." keep the current folder of each drive: name starts past "=".
        const size_t equals = text.find('=', 1);
        if (!changed(text.substr(0, equals)))
            block.append(text).push_back('\0');
    }
    ::FreeEnvironmentStringsA(strings);
    for (const auto& [name, value] : changes) {
        if (value)
            block.append(name + "=" + *value).push_back('\0');
    }
    block.push_back('\0');
    return block;
}

}  // namespace

TempDir::TempDir()
{
    char base[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathA(MAX_PATH, base);
    if (length == 0 || length > MAX_PATH)
        throw std::runtime_error("no temporary folder");
    static unsigned s_Counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = std::string(base) + "qbxtest-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                 std::to_string(::GetTickCount()) + "-" + std::to_string(++s_Counter);
        if (::CreateDirectoryA(path.c_str(), nullptr)) {
            m_Path = path;
            return;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    throw std::runtime_error(std::string("cannot create a temporary folder in ") + base);
}

TempDir::~TempDir()
{
    std::error_code error;
    std::filesystem::remove_all(m_Path, error);
}

std::string TempDir::File(std::string_view name) const
{
    return m_Path + "\\" + std::string(name);
}

std::string MissingFileText() { return platform::WindowsErrorText(ERROR_FILE_NOT_FOUND); }

std::string MissingFolderText() { return platform::WindowsErrorText(ERROR_PATH_NOT_FOUND); }

ProcessResult RunProcess(const std::string& program, const ProcessOptions& options)
{
    if (options.stderrOnTerminal)
        throw std::runtime_error("RunProcess: no terminal for standard error on Windows (see kTerminalForStderr)");
    TempDir io;
    const std::string inPath = io.File("stdin");
    const std::string outPath = io.File("stdout");
    const std::string errPath = io.File("stderr");
    WriteFile(inPath, options.input);

    ProcessResult result;
    {
        Handle in(InheritedFile(inPath, false));
        Handle out(InheritedFile(outPath, true));
        Handle err(InheritedFile(errPath, true));

        std::string commandLine = Quoted(program);
        for (const std::string& argument : options.args)
            commandLine += " " + Quoted(argument);
        std::string environment = EnvironmentBlock(options.env);

        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in.h;
        startup.hStdOutput = out.h;
        startup.hStdError = err.h;
        PROCESS_INFORMATION process{};
        const auto start = std::chrono::steady_clock::now();
        const char* folder = options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str();
        if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, environment.data(), folder,
                              &startup, &process)) {
            result.err = "cannot start " + program + ": error " + std::to_string(::GetLastError());
            return result;
        }
        Handle child(process.hProcess);
        Handle thread(process.hThread);

        // Polled every few milliseconds: the time limit and killWhen.
        constexpr DWORD kPollMs = 5;
        constexpr int kKilled = 9;  // as SIGKILL reads on POSIX systems
        const auto deadline = start + std::chrono::seconds(options.timeoutSeconds);
        auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
        while (::WaitForSingleObject(child.h, kPollMs) == WAIT_TIMEOUT) {
            const bool late = std::chrono::steady_clock::now() > deadline;
            if (late || (options.killWhen && options.killWhen(ReadFile(outPath), seconds()))) {
                ::TerminateProcess(child.h, 1);
                ::WaitForSingleObject(child.h, INFINITE);
                result.timedOut = late;
                result.signal = late ? 0 : kKilled;
                break;
            }
        }
        result.seconds = seconds();
        DWORD code = 0;
        if (!result.timedOut && result.signal == 0 && ::GetExitCodeProcess(child.h, &code))
            result.status = static_cast<int>(code);
    }
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    return result;
}

}  // namespace qbxtest
