// The parts of the test helpers that every system shares: files, lines, built programs.
// TempDir and RunProcess are each system's own (test_files_posix.cpp, test_files_win.cpp).
#include "test_files.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace qbxtest {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, std::string_view text)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    file.close();
    if (!file)
        throw std::runtime_error("cannot write " + path);
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

size_t Occurrences(std::string_view text, std::string_view what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + what.size()))
        ++count;
    return count;
}

std::string BuiltProgram(std::string_view name)
{
    std::string path = std::string(QBX_BIN_DIR) + "/" + std::string(name);
#ifdef _WIN32
    // Programs have their extension there; DLLs are named with theirs.
    if (std::filesystem::path(path).extension().empty())
        path += ".exe";
#endif
    return path;
}

// The streams are files of a temporary folder: std::tmpfile() on Windows makes its files in the
// drive's root, where a test may not write.
ProcessResult CaptureStreams(const std::function<int(FILE* out, FILE* err)>& run)
{
    struct Close {
        void operator()(FILE* file) const { std::fclose(file); }
    };
    const TempDir dir;
    std::unique_ptr<FILE, Close> streams[2] = {std::unique_ptr<FILE, Close>(std::fopen(dir.File("out").c_str(), "w+b")),
                                               std::unique_ptr<FILE, Close>(std::fopen(dir.File("err").c_str(), "w+b"))};
    if (!streams[0] || !streams[1])
        throw std::runtime_error("cannot make the capture files in " + dir.Path());
    ProcessResult r;
    r.status = run(streams[0].get(), streams[1].get());
    for (int i = 0; i < 2; ++i) {
        std::rewind(streams[i].get());
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, streams[i].get())) > 0;)
            (i ? r.err : r.out).append(buffer, n);
        streams[i].reset();
    }
    return r;
}

}  // namespace qbxtest
