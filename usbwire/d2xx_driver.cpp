#include "d2xx_driver.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "platform.h"

namespace usbwire {

namespace {

// The folder of the file (shared library or program) that holds this code, or "" if unknown.
std::string OwnFolder()
{
    std::string file = platform::ModuleFile(reinterpret_cast<const void*>(&GetD2xxDriver));
    return file.empty() ? file : platform::DirName(file);
}

bool HasFolder(const std::string& name)
{
    for (char c : name) {
        if (platform::IsPathSeparator(c))
            return true;
    }
    return false;
}

bool Exists(const std::string& path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
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
    void* symbol = platform::SharedLibrarySymbol(library, name, error);
    if (symbol == nullptr)
        return false;
    pointer = reinterpret_cast<Pointer>(symbol);
    return true;
}

// Loads the driver and resolves its functions; on failure writes the one line to standard error.
std::optional<D2xxDriver> Load()
{
    const char* configured = std::getenv("USBWIRE_DRIVER");
    std::string name = (configured && *configured) ? configured : kDefaultDriver;

    std::string file = name;
    if (!HasFolder(name)) {
        std::string folder = OwnFolder();
        std::string beside = folder.empty() ? std::string() : platform::JoinPath(folder, name);
        if (!beside.empty() && Exists(beside))
            file = beside;
    }
    std::string why;
    void* library = platform::OpenSharedLibrary(file, why);
    if (library == nullptr) {
        ReportFailure(name, why.c_str());
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
        platform::CloseSharedLibrary(library);
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
