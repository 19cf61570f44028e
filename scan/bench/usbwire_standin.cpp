// A stand-in for the fifteen usbwire functions that answers at once, for the benchmark of the scan
// layers' own CPU time: every call succeeds without touching any device, and JTAG_Out fills its
// destination with zeros. Linked only into that benchmark, never into the station.
#include <cstring>

#include "usbwire.h"

namespace {
unsigned char g_Handle;
}

extern "C" {

void* I2C_Open(const char*, unsigned int) { return &g_Handle; }
void I2C_Close(void*) {}
int I2C_Write(void*, unsigned char, const unsigned char*, unsigned int, int) { return 0; }
int I2C_Read(void*, unsigned char, unsigned char* buffer, unsigned int count, int)
{
    std::memset(buffer, 0, count);
    return 0;
}
void I2C_ForceLastAcknH(void*) {}
void I2C_GPIODirection(void*, int, unsigned char) {}
int I2C_GPIOWrite(void*, int, unsigned char) { return 1; }

void* JTAG_Open(const char*) { return &g_Handle; }
void JTAG_Close(void*) {}
int JTAG_Tms(void*, unsigned char, unsigned char) { return 1; }
int JTAG_Addr(void*, unsigned char) { return 1; }
int JTAG_Out(void*, int, unsigned int count, const unsigned char*, unsigned char* destination, int)
{
    if (destination != nullptr && count != 0)
        std::memset(destination, 0, (count - 1) / 8 + 1);
    return 1;
}
int JTAG_ShiftIn(void*, unsigned char, unsigned int, const unsigned char*, int) { return 1; }
int JTAG_ShiftInOut(void*, unsigned int count, const unsigned char*, unsigned char* destination)
{
    if (destination != nullptr && count != 0)
        std::memset(destination, 0, (count - 1) / 8 + 1);
    return 1;
}
int JTAG_ShiftInOut_ex(void*, unsigned int count, const unsigned char*, unsigned char* destination, int)
{
    if (destination != nullptr && count != 0)
        std::memset(destination, 0, (count - 1) / 8 + 1);
    return 1;
}

}  // extern "C"
