/* usbwire: I2C and JTAG over the MPSSE engine of an FTDI FT2232H, as fifteen plain C functions.
 *
 * A handle is the address of a master object created by I2C_Open or JTAG_Open and freed only by
 * the matching close; a null handle means no channel is open. Buffers belong to the caller and
 * are used only during the call. The library reaches the adapter through a D2XX driver chosen at
 * run time: the environment variable USBWIRE_DRIVER names it (a file path, or a library name
 * looked up first beside libusbwire.so); unset, it is the project's libftdi1 driver. */
#ifndef QBX_USBWIRE_H
#define QBX_USBWIRE_H

#ifdef __cplusplus
extern "C" {
#endif

/* I2C master. Address bytes are the 8-bit form (7-bit address << 1); Write clears bit 0, Read sets
 * it. Transfer results: -1 null handle or USB failure, 0 done, 1 not acknowledged, 2 a byte read
 * back from SDA differs from the one sent. A transfer with stop 0 keeps the bus; the next transfer
 * to the same address byte continues it, another one begins with a repeated START. */
void* I2C_Open(const char* description, unsigned int rate);
void I2C_Close(void* handle);
int I2C_Write(void* handle, unsigned char address, const unsigned char* data, unsigned int count, int stop);
int I2C_Read(void* handle, unsigned char address, unsigned char* buffer, unsigned int count, int stop);
void I2C_ForceLastAcknH(void* handle);
void I2C_GPIODirection(void* handle, int pin, unsigned char direction);
int I2C_GPIOWrite(void* handle, int pin, unsigned char level);

/* JTAG master. Results: 1 done, 0 failed. Bit strings are LSB first (bit k in byte k/8, bit k%8),
 * except JTAG_Out's in mode JTAG_OUT_BIG_ENDIAN (a big-endian number, left-aligned; any other mode
 * is LSB first). A null source shifts zeros. */
enum { JTAG_OUT_LSB_FIRST = 0, JTAG_OUT_BIG_ENDIAN = 1 };
void* JTAG_Open(const char* description);
void JTAG_Close(void* handle);
int JTAG_Tms(void* handle, unsigned char pattern, unsigned char count);
int JTAG_Addr(void* handle, unsigned char address);
int JTAG_Out(void* handle, int mode, unsigned int count, const unsigned char* source, unsigned char* destination,
             int exit);
int JTAG_ShiftIn(void* handle, unsigned char start, unsigned int count, const unsigned char* source, int exit);
int JTAG_ShiftInOut(void* handle, unsigned int count, const unsigned char* source, unsigned char* destination);
int JTAG_ShiftInOut_ex(void* handle, unsigned int count, const unsigned char* source, unsigned char* destination,
                       int lastTms);

#ifdef __cplusplus
}
#endif

#endif /* QBX_USBWIRE_H */
