/* The part of FTDI's D2XX driver interface that usbwire uses: types, status values, the
 * device-list record and thirteen functions. Written from FTDI's published API description; the
 * layout matches the vendor's libraries (32-bit DWORD/ULONG, pointer-sized handle), so any
 * D2XX-compatible driver - the vendor's, ours on libftdi1 (libd2xx-ftdi.so) or the board simulator
 * (libqbxsim.so) - can be loaded behind it. */
#ifndef QBX_D2XX_H
#define QBX_D2XX_H

#ifdef __cplusplus
extern "C" {
#endif

/* 32-bit on every system: unsigned long on Windows (as windows.h has them, so that both headers
 * may meet), unsigned int elsewhere (as the vendor's Linux library has them). 64-bit Windows has a
 * single calling convention, so the vendor's WINAPI needs no mark here. */
#ifdef _WIN32
typedef unsigned long DWORD;
typedef unsigned long ULONG;
#else
typedef unsigned int DWORD;
typedef unsigned int ULONG;
#endif
typedef unsigned short USHORT;
typedef unsigned char UCHAR;
typedef DWORD* LPDWORD;
typedef void* PVOID;
typedef void* LPVOID;

typedef PVOID FT_HANDLE;
typedef ULONG FT_STATUS;

enum {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_INVALID_BAUD_RATE = 7,
    FT_DEVICE_NOT_OPENED_FOR_ERASE = 8,
    FT_DEVICE_NOT_OPENED_FOR_WRITE = 9,
    FT_FAILED_TO_WRITE_DEVICE = 10,
    FT_EEPROM_READ_FAILED = 11,
    FT_EEPROM_WRITE_FAILED = 12,
    FT_EEPROM_ERASE_FAILED = 13,
    FT_EEPROM_NOT_PRESENT = 14,
    FT_EEPROM_NOT_PROGRAMMED = 15,
    FT_INVALID_ARGS = 16,
    FT_NOT_SUPPORTED = 17,
    FT_OTHER_ERROR = 18,
    FT_DEVICE_LIST_NOT_READY = 19
};

#define FT_SUCCESS(status) ((status) == FT_OK)

/* FT_OpenEx flags */
#define FT_OPEN_BY_SERIAL_NUMBER 1
#define FT_OPEN_BY_DESCRIPTION 2
#define FT_OPEN_BY_LOCATION 4

/* FT_SetBitMode modes */
#define FT_BITMODE_RESET 0x00
#define FT_BITMODE_ASYNC_BITBANG 0x01
#define FT_BITMODE_MPSSE 0x02

/* device-list record flags */
#define FT_FLAGS_OPENED 1
#define FT_FLAGS_HISPEED 2

/* FT_DEVICE values (the record's Type) */
enum {
    FT_DEVICE_BM = 0,
    FT_DEVICE_AM = 1,
    FT_DEVICE_100AX = 2,
    FT_DEVICE_UNKNOWN = 3,
    FT_DEVICE_2232C = 4,
    FT_DEVICE_232R = 5,
    FT_DEVICE_2232H = 6,
    FT_DEVICE_4232H = 7,
    FT_DEVICE_232H = 8
};

typedef struct _ft_device_list_info_node {
    ULONG Flags;
    ULONG Type;
    ULONG ID;
    DWORD LocId;
    char SerialNumber[16];
    char Description[64];
    FT_HANDLE ftHandle;
} FT_DEVICE_LIST_INFO_NODE;

FT_STATUS FT_CreateDeviceInfoList(LPDWORD lpdwNumDevs);
FT_STATUS FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* pDest, LPDWORD lpdwNumDevs);
FT_STATUS FT_OpenEx(PVOID pvArg1, DWORD dwFlags, FT_HANDLE* pHandle);
FT_STATUS FT_Close(FT_HANDLE ftHandle);
FT_STATUS FT_ResetDevice(FT_HANDLE ftHandle);
FT_STATUS FT_GetQueueStatus(FT_HANDLE ftHandle, DWORD* lpdwAmountInRxQueue);
FT_STATUS FT_Read(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead, LPDWORD lpdwBytesReturned);
FT_STATUS FT_Write(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite, LPDWORD lpdwBytesWritten);
FT_STATUS FT_SetUSBParameters(FT_HANDLE ftHandle, ULONG ulInTransferSize, ULONG ulOutTransferSize);
FT_STATUS FT_SetChars(FT_HANDLE ftHandle, UCHAR uEventChar, UCHAR uEventCharEnabled, UCHAR uErrorChar,
                      UCHAR uErrorCharEnabled);
FT_STATUS FT_SetTimeouts(FT_HANDLE ftHandle, ULONG dwReadTimeout, ULONG dwWriteTimeout);
FT_STATUS FT_SetLatencyTimer(FT_HANDLE ftHandle, UCHAR ucLatency);
FT_STATUS FT_SetBitMode(FT_HANDLE ftHandle, UCHAR ucMask, UCHAR ucEnable);

/* The thirteen entry points as function-pointer types, for drivers loaded at run time. */
typedef FT_STATUS (*PFN_FT_CreateDeviceInfoList)(LPDWORD);
typedef FT_STATUS (*PFN_FT_GetDeviceInfoList)(FT_DEVICE_LIST_INFO_NODE*, LPDWORD);
typedef FT_STATUS (*PFN_FT_OpenEx)(PVOID, DWORD, FT_HANDLE*);
typedef FT_STATUS (*PFN_FT_Close)(FT_HANDLE);
typedef FT_STATUS (*PFN_FT_ResetDevice)(FT_HANDLE);
typedef FT_STATUS (*PFN_FT_GetQueueStatus)(FT_HANDLE, DWORD*);
typedef FT_STATUS (*PFN_FT_Read)(FT_HANDLE, LPVOID, DWORD, LPDWORD);
typedef FT_STATUS (*PFN_FT_Write)(FT_HANDLE, LPVOID, DWORD, LPDWORD);
typedef FT_STATUS (*PFN_FT_SetUSBParameters)(FT_HANDLE, ULONG, ULONG);
typedef FT_STATUS (*PFN_FT_SetChars)(FT_HANDLE, UCHAR, UCHAR, UCHAR, UCHAR);
typedef FT_STATUS (*PFN_FT_SetTimeouts)(FT_HANDLE, ULONG, ULONG);
typedef FT_STATUS (*PFN_FT_SetLatencyTimer)(FT_HANDLE, UCHAR);
typedef FT_STATUS (*PFN_FT_SetBitMode)(FT_HANDLE, UCHAR, UCHAR);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(sizeof(DWORD) == 4 && sizeof(ULONG) == 4, "D2XX DWORD and ULONG are 32-bit");
static_assert(sizeof(FT_DEVICE_LIST_INFO_NODE) == (sizeof(void*) == 8 ? 104 : 100),
              "device-list record layout of the vendor's library");
#endif

#endif /* QBX_D2XX_H */
