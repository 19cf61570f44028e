// The platform on Linux and other POSIX systems: steady clock, the console box, shared libraries
// through the dynamic loader. (Files: files.cpp.)
#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <string>
#include <thread>

#include "platform.h"
#include "platform_system.h"

namespace platform {

namespace {

class PosixClock : public Clock {
public:
    uint32_t Now() override
    {
        using namespace std::chrono;
        auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
        return static_cast<uint32_t>(ms);
    }
    void Sleep(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

std::string LoaderError()
{
    const char* reason = dlerror();
    return reason ? reason : "unknown reason";
}

}  // namespace

Clock& SystemClock()
{
    static PosixClock clock;
    return clock;
}

void MessageBox(std::string_view text, BoxIcon icon) { ShowConsoleBox(text, icon, isatty(STDIN_FILENO) != 0); }

void UseBinaryStdio() {}

std::string HostName()
{
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return "unknown";
    return name;
}

void* OpenSharedLibrary(const std::string& file, std::string& why)
{
    void* library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        why = LoaderError();
    return library;
}

void CloseSharedLibrary(void* library)
{
    if (library != nullptr)
        dlclose(library);
}

void* SharedLibrarySymbol(void* library, const char* name, std::string& why)
{
    dlerror();
    void* symbol = dlsym(library, name);
    if (symbol == nullptr) {
        const char* reason = dlerror();
        why = reason ? reason : std::string("undefined symbol: ") + name;
    }
    return symbol;
}

std::string ModuleFile(const void* address)
{
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr)
        return {};
    return info.dli_fname;
}

}  // namespace platform
