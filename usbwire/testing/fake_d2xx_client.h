// Test-side access to libd2xx-fake.so: loads it with dlopen() from the build's bin folder (the
// same file, hence the same instance, that usbwire loads through USBWIRE_DRIVER) and calls its
// control functions. Also small helpers that read the fake's logs.
#pragma once

#include "fake_d2xx.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fake {

#define QBX_FAKE_D2XX_CONTROLS(X)                                                                  \
    X(Reset) X(ClearDevices) X(AddDevice) X(FailCall) X(SetZeroWrites) X(SetWriteLimit) X(SetMute) \
    X(SetSyncIgnore) X(SetIgnoreOpcode) X(SetReadChunk) X(SetQuiet) X(InjectReply) X(SetJtagDelay) X(SetJtagPattern)  \
    X(SetI2CSlave) X(SetI2CNack) X(SetI2CJam) X(SetI2CReadData) X(CallLog) X(Written) X(I2CTrace)  \
    X(Clocks) X(LowPins) X(Divisor) X(Pending) X(ClearLogs)

struct Api {
#define QBX_FAKE_D2XX_MEMBER(name) decltype(&FakeD2xx_##name) name = nullptr;
    QBX_FAKE_D2XX_CONTROLS(QBX_FAKE_D2XX_MEMBER)
#undef QBX_FAKE_D2XX_MEMBER
};

// The file name usbwire is given in USBWIRE_DRIVER, and the full path of the fake.
inline constexpr const char* kLibraryName = "libd2xx-fake.so";
std::string LibraryPath();

// The fake's control functions; loads the library at the first call (aborts if it cannot).
const Api& Fake();

// Points usbwire at the fake (USBWIRE_DRIVER) and resets the fake to its defaults.
void UseFake();

// The call log, one entry per line; and the same without the FT_GetQueueStatus polls.
std::vector<std::string> Calls();
std::vector<std::string> CallsWithoutPolls();
// Every byte written to a device.
std::vector<uint8_t> Written(int device);
// The byte counts of the FT_Write calls to a device, as requested.
std::vector<size_t> WriteSizes(int device);
// The TCK clocks of a device (bit 0 TDI, bit 1 TMS, bit 2 TDO).
std::vector<uint8_t> Clocks(int device);
std::string I2CTrace(int device);

// Helpers for expected byte strings.
std::vector<uint8_t> Repeat(std::initializer_list<uint8_t> bytes, size_t times);
void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& bytes);
std::string Hex(const std::vector<uint8_t>& bytes);

}  // namespace fake
