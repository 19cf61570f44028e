#include "fake_d2xx_client.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace fake {

std::string LibraryPath() { return std::string(QBX_BIN_DIR) + "/" + kLibraryName; }

const Api& Fake()
{
    static const Api api = [] {
        Api loaded;
        std::string path = LibraryPath();
        void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            std::fprintf(stderr, "cannot load the fake D2XX driver %s: %s\n", path.c_str(), dlerror());
            std::abort();
        }
#define QBX_FAKE_D2XX_LOAD(name)                                                                \
    loaded.name = reinterpret_cast<decltype(loaded.name)>(dlsym(library, "FakeD2xx_" #name)); \
    if (loaded.name == nullptr) {                                                             \
        std::fprintf(stderr, "the fake D2XX driver lacks FakeD2xx_%s\n", #name);              \
        std::abort();                                                                         \
    }
        QBX_FAKE_D2XX_CONTROLS(QBX_FAKE_D2XX_LOAD)
#undef QBX_FAKE_D2XX_LOAD
        return loaded;
    }();
    return api;
}

void UseFake()
{
    setenv("USBWIRE_DRIVER", kLibraryName, 1);
    Fake().Reset();
}

std::vector<std::string> Calls()
{
    std::vector<std::string> lines;
    std::istringstream text(Fake().CallLog());
    std::string line;
    while (std::getline(text, line))
        lines.push_back(line);
    return lines;
}

std::vector<std::string> CallsWithoutPolls()
{
    std::vector<std::string> lines;
    for (std::string& line : Calls()) {
        if (line.rfind("FT_GetQueueStatus(", 0) != 0)
            lines.push_back(std::move(line));
    }
    return lines;
}

std::vector<uint8_t> Written(int device)
{
    size_t total = Fake().Written(device, nullptr, 0);
    std::vector<uint8_t> bytes(total);
    Fake().Written(device, bytes.data(), bytes.size());
    return bytes;
}

std::vector<size_t> WriteSizes(int device)
{
    std::vector<size_t> sizes;
    std::string prefix = "FT_Write(" + std::to_string(device) + ",";
    for (const std::string& line : Calls()) {
        if (line.rfind(prefix, 0) == 0)
            sizes.push_back(std::strtoul(line.c_str() + prefix.size(), nullptr, 10));
    }
    return sizes;
}

std::vector<uint8_t> Clocks(int device)
{
    size_t total = Fake().Clocks(device, nullptr, 0);
    std::vector<uint8_t> clocks(total);
    Fake().Clocks(device, clocks.data(), clocks.size());
    return clocks;
}

std::string I2CTrace(int device) { return Fake().I2CTrace(device); }

std::vector<uint8_t> Repeat(std::initializer_list<uint8_t> bytes, size_t times)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i < times; ++i)
        out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& bytes) { to.insert(to.end(), bytes.begin(), bytes.end()); }

std::string Hex(const std::vector<uint8_t>& bytes)
{
    std::string text;
    char cell[4];
    for (uint8_t byte : bytes) {
        std::snprintf(cell, sizeof cell, "%02X ", byte);
        text += cell;
    }
    if (!text.empty())
        text.pop_back();
    return text;
}

}  // namespace fake
