// The thirteen D2XX functions of libqbxsim.so, each handed to the process-wide simulated adapter.
#include "adapter.h"
#include "d2xx.h"

#ifdef _WIN32
#define QBXSIM_EXPORT extern "C"  // qbxsim.def names the exports of qbxsim.dll
#else
#define QBXSIM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using qbxsim::CSimAdapter;

QBXSIM_EXPORT FT_STATUS FT_CreateDeviceInfoList(LPDWORD lpdwNumDevs)
{
    return CSimAdapter::Instance().CreateDeviceInfoList(lpdwNumDevs);
}

QBXSIM_EXPORT FT_STATUS FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* pDest, LPDWORD lpdwNumDevs)
{
    return CSimAdapter::Instance().GetDeviceInfoList(pDest, lpdwNumDevs);
}

QBXSIM_EXPORT FT_STATUS FT_OpenEx(PVOID pvArg1, DWORD dwFlags, FT_HANDLE* pHandle)
{
    return CSimAdapter::Instance().OpenEx(pvArg1, dwFlags, pHandle);
}

QBXSIM_EXPORT FT_STATUS FT_Close(FT_HANDLE ftHandle)
{
    return CSimAdapter::Instance().Close(ftHandle);
}

QBXSIM_EXPORT FT_STATUS FT_ResetDevice(FT_HANDLE ftHandle)
{
    return CSimAdapter::Instance().ResetDevice(ftHandle);
}

QBXSIM_EXPORT FT_STATUS FT_GetQueueStatus(FT_HANDLE ftHandle, DWORD* lpdwAmountInRxQueue)
{
    return CSimAdapter::Instance().GetQueueStatus(ftHandle, lpdwAmountInRxQueue);
}

QBXSIM_EXPORT FT_STATUS FT_Read(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead, LPDWORD lpdwBytesReturned)
{
    return CSimAdapter::Instance().Read(ftHandle, lpBuffer, dwBytesToRead, lpdwBytesReturned);
}

QBXSIM_EXPORT FT_STATUS FT_Write(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite, LPDWORD lpdwBytesWritten)
{
    return CSimAdapter::Instance().Write(ftHandle, lpBuffer, dwBytesToWrite, lpdwBytesWritten);
}

QBXSIM_EXPORT FT_STATUS FT_SetUSBParameters(FT_HANDLE ftHandle, ULONG ulInTransferSize, ULONG ulOutTransferSize)
{
    return CSimAdapter::Instance().SetUSBParameters(ftHandle, ulInTransferSize, ulOutTransferSize);
}

QBXSIM_EXPORT FT_STATUS FT_SetChars(FT_HANDLE ftHandle, UCHAR uEventChar, UCHAR uEventCharEnabled, UCHAR uErrorChar,
                                    UCHAR uErrorCharEnabled)
{
    return CSimAdapter::Instance().SetChars(ftHandle, uEventChar, uEventCharEnabled, uErrorChar, uErrorCharEnabled);
}

QBXSIM_EXPORT FT_STATUS FT_SetTimeouts(FT_HANDLE ftHandle, ULONG dwReadTimeout, ULONG dwWriteTimeout)
{
    return CSimAdapter::Instance().SetTimeouts(ftHandle, dwReadTimeout, dwWriteTimeout);
}

QBXSIM_EXPORT FT_STATUS FT_SetLatencyTimer(FT_HANDLE ftHandle, UCHAR ucLatency)
{
    return CSimAdapter::Instance().SetLatencyTimer(ftHandle, ucLatency);
}

QBXSIM_EXPORT FT_STATUS FT_SetBitMode(FT_HANDLE ftHandle, UCHAR ucMask, UCHAR ucEnable)
{
    return CSimAdapter::Instance().SetBitMode(ftHandle, ucMask, ucEnable);
}
