/* libd2xx-fake.so: a scripted D2XX driver for the tests of usbwire.
 *
 * Besides the thirteen D2XX functions it exports the control functions below. Tests load the
 * library with dlopen() from the same path that usbwire loads it from (the same instance) and call
 * them through fake_d2xx_client.h.
 *
 * The fake lists devices (by default the two channels of one FT2232H, "FT2232H MiniModule A" and
 * "... B", serial numbers "QBX0001A" and "QBX0001B", Type 6), records every D2XX call and every
 * byte written, and runs a small MPSSE engine per channel once FT_SetBitMode selected MPSSE mode:
 *   - a bad opcode is answered with 0xFA and the opcode (0xAA, 0xAB synchronisation);
 *   - 0x80/0x82 pin writes, 0x86 divisor, 0x8A/0x8B, 0x8C/0x8D, 0x84/0x85, 0x96/0x97, 0x87, 0x81/0x83;
 *   - 0x1B/0x3B bit shifts into a loop-back JTAG chain: TDO is TDI delayed by a number of clocks, or
 *     a fixed bit pattern; 0x4B TMS clocks (the chain does not shift then); every clock is logged;
 *   - 0x37 bit shifts and the pin writes drive SCL/SDA of an I2C bus with one slave, whose bits are
 *     wired-AND with the master's: it acknowledges its address and written bytes unless scripted
 *     not to, sends scripted bytes when read, and can hold SDA low during a chosen byte;
 *   - the unused bits of a bit-read reply byte are set to 1, so a master must mask them.
 * Failures can be scripted: any call returning a status, writes that accept nothing, writes
 * accepting at most some bytes, an engine that never answers, replies arriving in small pieces. */
#ifndef QBX_FAKE_D2XX_H
#define QBX_FAKE_D2XX_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Back to the default devices and model, no scripted failures, empty logs. */
void FakeD2xx_Reset(void);
void FakeD2xx_ClearDevices(void);
/* Adds a device-list record; strings longer than the record's field are cut without a NUL, as the
 * vendor driver does. Returns its index, which the log and the per-device queries use. */
int FakeD2xx_AddDevice(const char* description, const char* serial, unsigned type);

/* After skip calls of the named function (e.g. "FT_Write") the next times calls return status
 * (times 0: every further call). */
void FakeD2xx_FailCall(const char* function, unsigned skip, unsigned times, unsigned status);
/* The next count FT_Write calls return FT_OK having accepted nothing. */
void FakeD2xx_SetZeroWrites(unsigned count);
/* Each FT_Write accepts at most bytes (0: everything). */
void FakeD2xx_SetWriteLimit(unsigned bytes);
/* A mute engine sends no reply byte at all. */
void FakeD2xx_SetMute(int mute);
/* The first count bad opcodes get no answer (a slow start of the engine). */
void FakeD2xx_SetSyncIgnore(unsigned count);
/* This bad opcode is never answered (-1: none). */
void FakeD2xx_SetIgnoreOpcode(int opcode);
/* FT_GetQueueStatus reports at most bytes waiting (0: all), so replies come in pieces. */
void FakeD2xx_SetReadChunk(unsigned bytes);
/* Quiet: nothing is logged (for benchmarks). */
void FakeD2xx_SetQuiet(int quiet);
/* Puts bytes into a channel's receive queue, as if the engine had sent them. */
void FakeD2xx_InjectReply(int device, const unsigned char* data, unsigned count);
/* FT_ResetDevice empties the engine's half-received command, not the host's receive queue. */

/* JTAG chain: TDO = TDI delayed by bits clocks (the first bits read are fill). */
void FakeD2xx_SetJtagDelay(unsigned bits, int fill);
/* JTAG chain: TDO = this pattern (count bits, LSB first), repeated. */
void FakeD2xx_SetJtagPattern(const unsigned char* pattern, unsigned count);

/* I2C slave at this 7-bit address (default 0x18); 0xFF: no slave. */
void FakeD2xx_SetI2CSlave(unsigned address7);
/* The slave does not acknowledge byte index of a transfer (0 = the address byte); -1: never. */
void FakeD2xx_SetI2CNack(int index);
/* The slave holds SDA low during the eight data bits of byte index (0 = the address); -1: never. */
void FakeD2xx_SetI2CJam(int index);
/* Bytes the slave sends when read, in turn (then 0xFF). */
void FakeD2xx_SetI2CReadData(const unsigned char* data, unsigned count);

/* One line per D2XX call: "FT_Write(0,3->3) = 0" (device index, arguments, status). */
const char* FakeD2xx_CallLog(void);
/* Every byte written to a device, in order; returns the total (copies at most max). */
size_t FakeD2xx_Written(int device, unsigned char* out, size_t max);
/* The I2C events seen on a device: "S" START, "P" STOP, "30+" a byte from the master and the
 * slave's acknowledge (+) or not (-), "r5A+" a byte from the slave and the master's acknowledge. */
const char* FakeD2xx_I2CTrace(int device);
/* One byte per TCK clock of a device: bit 0 TDI, bit 1 TMS, bit 2 TDO. Returns the total. */
size_t FakeD2xx_Clocks(int device, unsigned char* out, size_t max);
/* Last low-byte pin write of a device: value | direction << 8. */
unsigned FakeD2xx_LowPins(int device);
/* Last clock divisor of a device. */
unsigned FakeD2xx_Divisor(int device);
/* Bytes waiting in a device's receive queue. */
unsigned FakeD2xx_Pending(int device);
void FakeD2xx_ClearLogs(void);

#ifdef __cplusplus
}
#endif

#endif /* QBX_FAKE_D2XX_H */
