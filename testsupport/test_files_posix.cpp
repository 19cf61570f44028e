// Temporary folders and running programs on POSIX systems: mkdtemp, posix_spawn, waitpid and a
// pseudo-terminal for standard error when asked.
#include "test_files.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <thread>

extern char** environ;

namespace qbxtest {

namespace fs = std::filesystem;

namespace {

// Closes a descriptor when it goes out of scope.
struct Fd {
    int fd = -1;
    explicit Fd(int value = -1) : fd(value) {}
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

std::vector<std::string> Environment(const std::map<std::string, std::optional<std::string>>& changes)
{
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text(*entry);
        const std::string name = text.substr(0, text.find('='));
        if (changes.find(name) == changes.end())
            env.push_back(std::move(text));
    }
    for (const auto& [name, value] : changes)
        if (value)
            env.push_back(name + "=" + *value);
    return env;
}

}  // namespace

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/qbxtest-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary folder from " + pattern);
    m_Path = buffer.data();
}

TempDir::~TempDir()
{
    std::error_code error;
    fs::remove_all(m_Path, error);
}

std::string TempDir::File(std::string_view name) const { return m_Path + "/" + std::string(name); }

std::string MissingFileText() { return std::strerror(ENOENT); }
std::string MissingFolderText() { return std::strerror(ENOENT); }

ProcessResult RunProcess(const std::string& program, const ProcessOptions& options)
{
    TempDir io;
    const std::string inPath = io.File("stdin");
    const std::string outPath = io.File("stdout");
    const std::string errPath = io.File("stderr");
    WriteFile(inPath, options.input);

    // Standard error on a pseudo-terminal, when asked: the child sees a terminal, the parent reads
    // what it wrote from the master side.
    Fd master;
    std::string terminal;
    if (options.stderrOnTerminal) {
        master.fd = posix_openpt(O_RDWR | O_NOCTTY);
        if (master.fd < 0 || grantpt(master.fd) != 0 || unlockpt(master.fd) != 0)
            throw std::runtime_error("cannot open a pseudo-terminal");
        terminal = ptsname(master.fd);
    }

    std::vector<std::string> args = {program};
    args.insert(args.end(), options.args.begin(), options.args.end());
    std::vector<std::string> env = Environment(options.env);
    auto pointers = [](std::vector<std::string>& strings) {
        std::vector<char*> list;
        for (std::string& text : strings)
            list.push_back(text.data());
        list.push_back(nullptr);
        return list;
    };
    std::vector<char*> argv = pointers(args), envp = pointers(env);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (options.stderrOnTerminal)
        posix_spawn_file_actions_addopen(&actions, 2, terminal.c_str(), O_RDWR | O_NOCTTY, 0);
    else
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (!options.workingDirectory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());

    ProcessResult result;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        result.err = "cannot start " + program + ": " + std::strerror(rc);
        return result;
    }

    const auto deadline = start + std::chrono::seconds(options.timeoutSeconds);
    int status = 0;
    for (;;) {
        if (master.fd >= 0) {
            // Drain the terminal so that the child never blocks on a full one.
            pollfd p{master.fd, POLLIN, 0};
            while (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
                char buffer[4096];
                const ssize_t n = ::read(master.fd, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                result.err.append(buffer, static_cast<size_t>(n));
            }
        }
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR) {
            result.err += "waitpid failed";
            return result;
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const bool killed = options.killWhen && options.killWhen(ReadFile(outPath), seconds);
        result.timedOut = !killed && std::chrono::steady_clock::now() > deadline;
        if (killed || result.timedOut) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    result.out = ReadFile(outPath);
    if (!options.stderrOnTerminal)
        result.err = ReadFile(errPath);
    return result;
}

}  // namespace qbxtest
