#include "d2xx_driver.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace usbwire {

namespace {

// The folder of the file (shared library or program) that holds this code, or "" if unknown.
std::string OwnFolder()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&GetD2xxDriver), &info) == 0 || info.dli_fname == nullptr)
        return {};
    std::string file = info.dli_fname;
    size_t slash = file.rfind('/');
    if (slash == std::string::npos)
        return {};
    return file.substr(0, slash == 0 ? 1 : slash);
}

void ReportFailure(const std::string& driver, const char* reason)
{
    std::fprintf(stderr, "usbwire: cannot use the D2XX driver \"%s\": %s\r\n", driver.c_str(),
                 reason ? reason : "unknown reason");
    std::fflush(stderr);
}

template <typename Pointer>
bool Resolve(void* library, const char* name, Pointer& pointer, std::string& error)
{
    dlerror();
    void* symbol = dlsym(library, name);
    if (symbol == nullptr) {
        const char* reason = dlerror();
        error = reason ? reason : std::string("undefined symbol: ") + name;
        return false;
    }
    pointer = reinterpret_cast<Pointer>(symbol);
    return true;
}

// Loads the driver and resolves its functions; on failure writes the one line to standard error.
std::optional<D2xxDriver> Load()
{
    const char* configured = std::getenv("USBWIRE_DRIVER");
    std::string name = (configured && *configured) ? configured : kDefaultDriver;

    void* library = nullptr;
    if (name.find('/') != std::string::npos) {
        library = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    } else {
        std::string folder = OwnFolder();
        std::string beside = folder.empty() ? std::string() : folder + "/" + name;
        if (!beside.empty() && access(beside.c_str(), F_OK) == 0) {
            library = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
        } else {
            library = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
        }
    }
    if (library == nullptr) {
        ReportFailure(name, dlerror());
        return std::nullopt;
    }

    D2xxDriver loaded;
    std::string error;
    bool ok = Resolve(library, "FT_CreateDeviceInfoList", loaded.CreateDeviceInfoList, error) &&
              Resolve(library, "FT_GetDeviceInfoList", loaded.GetDeviceInfoList, error) &&
              Resolve(library, "FT_OpenEx", loaded.OpenEx, error) &&
              Resolve(library, "FT_Close", loaded.Close, error) &&
              Resolve(library, "FT_ResetDevice", loaded.ResetDevice, error) &&
              Resolve(library, "FT_GetQueueStatus", loaded.GetQueueStatus, error) &&
              Resolve(library, "FT_Read", loaded.Read, error) &&
              Resolve(library, "FT_Write", loaded.Write, error) &&
              Resolve(library, "FT_SetUSBParameters", loaded.SetUSBParameters, error) &&
              Resolve(library, "FT_SetChars", loaded.SetChars, error) &&
              Resolve(library, "FT_SetTimeouts", loaded.SetTimeouts, error) &&
              Resolve(library, "FT_SetLatencyTimer", loaded.SetLatencyTimer, error) &&
              Resolve(library, "FT_SetBitMode", loaded.SetBitMode, error);
    if (!ok) {
        ReportFailure(name, error.c_str());
        dlclose(library);
        return std::nullopt;
    }
    // The library stays loaded for the rest of the process: handles may outlive any scope here.
    return loaded;
}

}  // namespace

const D2xxDriver* GetD2xxDriver()
{
    // The one piece of process-wide state of the library, initialised once even when several
    // threads arrive at the same time.
    static const std::optional<D2xxDriver> driver = Load();
    return driver ? &*driver : nullptr;
}

}  // namespace usbwire
