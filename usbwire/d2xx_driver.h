// The D2XX driver behind usbwire: a shared library chosen at run time, whose thirteen functions
// are resolved once, at the first open, into a table of pointers.
//
// USBWIRE_DRIVER names the library: a value containing a path separator is a path used as it is;
// a plain library name is looked up first in the folder of the library that holds this code
// (libusbwire.so or usbwire.dll, or a test program linked with the core), then by the loader's
// normal search. Unset or empty, the name is kDefaultDriver, looked up the same way. When the
// library cannot be loaded or lacks one of the functions, one line naming the driver and the
// loader's reason goes to standard error, and every open fails from then on.
#pragma once

#include "d2xx.h"

namespace usbwire {

struct D2xxDriver {
    PFN_FT_CreateDeviceInfoList CreateDeviceInfoList = nullptr;
    PFN_FT_GetDeviceInfoList GetDeviceInfoList = nullptr;
    PFN_FT_OpenEx OpenEx = nullptr;
    PFN_FT_Close Close = nullptr;
    PFN_FT_ResetDevice ResetDevice = nullptr;
    PFN_FT_GetQueueStatus GetQueueStatus = nullptr;
    PFN_FT_Read Read = nullptr;
    PFN_FT_Write Write = nullptr;
    PFN_FT_SetUSBParameters SetUSBParameters = nullptr;
    PFN_FT_SetChars SetChars = nullptr;
    PFN_FT_SetTimeouts SetTimeouts = nullptr;
    PFN_FT_SetLatencyTimer SetLatencyTimer = nullptr;
    PFN_FT_SetBitMode SetBitMode = nullptr;
};

// The driver's name when USBWIRE_DRIVER is unset: on Windows the adapter maker's driver, elsewhere
// the project's libftdi1 driver.
#ifdef _WIN32
inline constexpr const char* kDefaultDriver = "FTD2XX.dll";
#else
inline constexpr const char* kDefaultDriver = "libd2xx-ftdi.so";
#endif

// The table of the loaded driver; resolved at the first call, once per process, null when the
// driver is unusable. Safe to call from several threads.
const D2xxDriver* GetD2xxDriver();

}  // namespace usbwire
