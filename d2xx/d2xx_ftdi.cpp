// libd2xx-ftdi.so: the thirteen D2XX functions, for real FT2232H/FT4232H adapters on libftdi1.
// One process-wide driver keeps the device list and the open channels between the calls.
#include "d2xx.h"
#include "ftdi_driver.h"

#define D2XX_EXPORT extern "C" __attribute__((visibility("default")))

using d2xxftdi::CFtdiDriver;

namespace {

CFtdiDriver& Driver()
{
    static std::unique_ptr<d2xxftdi::IFtdiBus> bus = d2xxftdi::MakeLibftdiBus();
    static CFtdiDriver driver(*bus);
    return driver;
}

// No exception may cross into the C caller.
template <typename Call>
FT_STATUS Guarded(Call call)
{
    try {
        return call();
    } catch (...) {
        return FT_INSUFFICIENT_RESOURCES;
    }
}

}  // namespace

D2XX_EXPORT FT_STATUS FT_CreateDeviceInfoList(LPDWORD lpdwNumDevs)
{
    return Guarded([&] { return Driver().CreateDeviceInfoList(lpdwNumDevs); });
}

D2XX_EXPORT FT_STATUS FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* pDest, LPDWORD lpdwNumDevs)
{
    return Guarded([&] { return Driver().GetDeviceInfoList(pDest, lpdwNumDevs); });
}

D2XX_EXPORT FT_STATUS FT_OpenEx(PVOID pvArg1, DWORD dwFlags, FT_HANDLE* pHandle)
{
    return Guarded([&] { return Driver().OpenEx(pvArg1, dwFlags, pHandle); });
}

D2XX_EXPORT FT_STATUS FT_Close(FT_HANDLE ftHandle)
{
    return Guarded([&] { return Driver().Close(ftHandle); });
}

D2XX_EXPORT FT_STATUS FT_ResetDevice(FT_HANDLE ftHandle)
{
    return Guarded([&] { return Driver().ResetDevice(ftHandle); });
}

D2XX_EXPORT FT_STATUS FT_GetQueueStatus(FT_HANDLE ftHandle, DWORD* lpdwAmountInRxQueue)
{
    return Guarded([&] { return Driver().GetQueueStatus(ftHandle, lpdwAmountInRxQueue); });
}

D2XX_EXPORT FT_STATUS FT_Read(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead, LPDWORD lpdwBytesReturned)
{
    return Guarded([&] { return Driver().Read(ftHandle, lpBuffer, dwBytesToRead, lpdwBytesReturned); });
}

D2XX_EXPORT FT_STATUS FT_Write(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite, LPDWORD lpdwBytesWritten)
{
    return Guarded([&] { return Driver().Write(ftHandle, lpBuffer, dwBytesToWrite, lpdwBytesWritten); });
}

D2XX_EXPORT FT_STATUS FT_SetUSBParameters(FT_HANDLE ftHandle, ULONG ulInTransferSize, ULONG ulOutTransferSize)
{
    return Guarded([&] { return Driver().SetUSBParameters(ftHandle, ulInTransferSize, ulOutTransferSize); });
}

D2XX_EXPORT FT_STATUS FT_SetChars(FT_HANDLE ftHandle, UCHAR uEventChar, UCHAR uEventCharEnabled, UCHAR uErrorChar,
                                  UCHAR uErrorCharEnabled)
{
    return Guarded(
        [&] { return Driver().SetChars(ftHandle, uEventChar, uEventCharEnabled, uErrorChar, uErrorCharEnabled); });
}

D2XX_EXPORT FT_STATUS FT_SetTimeouts(FT_HANDLE ftHandle, ULONG dwReadTimeout, ULONG dwWriteTimeout)
{
    return Guarded([&] { return Driver().SetTimeouts(ftHandle, dwReadTimeout, dwWriteTimeout); });
}

D2XX_EXPORT FT_STATUS FT_SetLatencyTimer(FT_HANDLE ftHandle, UCHAR ucLatency)
{
    return Guarded([&] { return Driver().SetLatencyTimer(ftHandle, ucLatency); });
}

D2XX_EXPORT FT_STATUS FT_SetBitMode(FT_HANDLE ftHandle, UCHAR ucMask, UCHAR ucEnable)
{
    return Guarded([&] { return Driver().SetBitMode(ftHandle, ucMask, ucEnable); });
}
