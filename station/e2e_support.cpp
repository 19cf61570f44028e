#include "e2e_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "bsdl.h"
#include "platform.h"
#include "romid.h"

extern char** environ;

namespace qbxtest {

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
    for (const auto& [name, value] : changes) {
        if (value)
            env.push_back(name + "=" + *value);
    }
    return env;
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file)
        throw std::runtime_error("cannot write " + path);
}

}  // namespace

ProcessResult RunProcess(const std::string& program, const ProcessOptions& options)
{
    TempDir io;
    const std::string inPath = io.File("stdin");
    const std::string outPath = io.File("stdout");
    const std::string errPath = io.File("stderr");
    WriteText(inPath, options.input);

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

    std::vector<std::string> args;
    args.push_back(program);
    args.insert(args.end(), options.args.begin(), options.args.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = Environment(options.env);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (options.stderrOnTerminal)
        posix_spawn_file_actions_addopen(&actions, 2, terminal.c_str(), O_RDWR | O_NOCTTY, 0);
    else
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

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
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            result.timedOut = true;
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

std::string StationPath()
{
    return std::string(QBX_BIN_DIR) + "/Test_QBX_FPGA";
}

std::string VerifyReportPath()
{
    return std::string(QBX_BIN_DIR) + "/qbx-verify-report";
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool FileExists(const std::string& path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

std::vector<std::string> CrLfLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string SensorId(uint8_t family, const std::string& serialText)
{
    const uint64_t serial = std::strtoull(serialText.c_str(), nullptr, 16);
    return RomText(_ROMID::FromSerial(family, serial));
}

// ---- scenario ---------------------------------------------------------------------------------

StationScenario::StationScenario(int nets, int receivers, const std::string& group) : m_Group(group)
{
    m_Bsdl = BsdlForTests(m_Dir);
    _BSDLDATA data;
    if (!ReadBsdl(m_Bsdl.c_str(), data))
        throw std::runtime_error("cannot read " + m_Bsdl);

    std::vector<const _PINDESC*> usable;
    for (const _PINDESC& pin : data.pins) {
        if (pin.inCell >= 0 && pin.outCell >= 0 && pin.ctrlCell >= 0 && pin.row >= 0 && pin.number >= 0 &&
            pin.name != "LOCKPLL")
            usable.push_back(&pin);
    }
    const size_t needed = static_cast<size_t>(nets) * static_cast<size_t>(1 + receivers);
    if (usable.size() < needed)
        throw std::runtime_error("not enough pins in " + m_Bsdl);

    int bits = 1;
    while ((1 << bits) < nets + 2)
        ++bits;
    size_t next = 0;
    auto take = [&](int fpga) {
        const _PINDESC& pin = *usable[next++];
        return PinRef{fpga, PinLabel(pin), pin.name};
    };
    for (int i = 0; i < nets; ++i) {
        TestNet net;
        net.driver = take(i % 8);
        for (int r = 0; r < receivers; ++r)
            net.receivers.push_back(take((i + 1 + r) % 8));
        const int code = i + 1;
        for (int b = bits - 1; b >= 0; --b)
            net.bits += static_cast<char>('0' + ((code >> b) & 1));
        for (int b = bits - 1; b >= 0; --b)
            net.bits += static_cast<char>('0' + (((code >> b) & 1) ^ 1));
        m_Nets.push_back(std::move(net));
    }

    m_BoardFile = HealthyBoard(m_Bsdl);
    m_BoardFile["bridge"]["busy_reads"] = 0;
    nlohmann::json netList = nlohmann::json::array();
    for (const TestNet& net : m_Nets) {
        nlohmann::json endpoints = nlohmann::json::array({net.driver.Endpoint()});
        for (const PinRef& receiver : net.receivers)
            endpoints.push_back(receiver.Endpoint());
        netList.push_back(endpoints);
    }
    Board()["nets"] = netList;
}

nlohmann::json& StationScenario::AddBoard(uint64_t serialOffset)
{
    nlohmann::json board = Board(0);
    board["name"] = "board " + std::to_string(m_BoardFile["boards"].size() + 1);
    for (nlohmann::json& device : board["onewire"]) {
        const uint64_t serial = std::strtoull(device["serial"].get<std::string>().c_str(), nullptr, 16);
        device["serial"] = SerialText(serial + serialOffset);
    }
    m_BoardFile["boards"].push_back(board);
    return m_BoardFile["boards"].back();
}

std::string StationScenario::VectorText() const
{
    std::string text = "# vectors of the test board\r\n<" + m_Group + ">\r\nDRIVE:\r\n";
    for (const TestNet& net : m_Nets)
        text += std::to_string(net.driver.fpga) + "-" + net.driver.pin + " " + net.bits + "\r\n";
    text += "SENSOR:\r\n";
    for (const TestNet& net : m_Nets)
        for (const PinRef& receiver : net.receivers)
            text += std::to_string(receiver.fpga) + "-" + receiver.pin + " " + net.bits + "\r\n";
    text += "</" + m_Group + ">\r\n";
    return text;
}

std::string StationScenario::WriteVectors(const std::string& name) const
{
    const std::string path = m_Dir.File(name);
    WriteText(path, VectorText());
    return path;
}

std::string StationScenario::WriteBoard(const std::string& name) const
{
    return WriteBoardFile(m_Dir, m_BoardFile, name);
}

std::string StationScenario::MakeOutput(const std::string& name) const
{
    const std::string path = m_Dir.File(name);
    std::filesystem::create_directories(path);
    return path;
}

ProcessResult StationScenario::Run(const std::string& vectors, const std::string& output, const std::string& input,
                                   std::map<std::string, std::optional<std::string>> env, bool stderrOnTerminal) const
{
    const std::string board = WriteBoard();
    ProcessOptions options;
    options.args = {m_Bsdl, vectors, output};
    options.input = input;
    options.env = {{"USBWIRE_DRIVER", SimulatorPath()},
                   {"QBXSIM_BOARD", board},
                   {"QBXSIM_STATS", std::nullopt},
                   {"QBXSIM_TRACE", std::nullopt}};
    for (auto& [name, value] : env)
        options.env[name] = value;
    options.stderrOnTerminal = stderrOnTerminal;
    return RunProcess(StationPath(), options);
}

std::string StationScenario::ExpectedTruthTable() const
{
    size_t width = 0;
    for (const TestNet& net : m_Nets) {
        width = std::max(width, net.driver.pin.size());
        for (const PinRef& receiver : net.receivers)
            width = std::max(width, receiver.pin.size());
    }
    auto line = [&](const PinRef& pin, char kind, const std::string& bits) {
        return platform::Format("%d-%*s_%c %s\r\n", pin.fpga, static_cast<int>(width), pin.pin.c_str(), kind, bits.c_str());
    };
    std::string table;
    for (const TestNet& net : m_Nets)
        table += line(net.driver, 'O', net.bits);
    for (const TestNet& net : m_Nets)
        for (const PinRef& receiver : net.receivers)
            table += line(receiver, 'I', net.bits);
    return table;
}

std::string StationScenario::VectorError(int j, const PinRef& receiver, int read, int expected) const
{
    return platform::Format("Vector %d (abs=%d) %s ERROR fpga %d pin:%s (%s) read=%d expected=%d", j + 1, j,
                            m_Group.c_str(), receiver.fpga, receiver.port.c_str(), receiver.pin.c_str(), read, expected);
}

}  // namespace qbxtest
