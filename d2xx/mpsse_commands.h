// The commands of the MPSSE engine of FTDI's FT2232H, FT4232H and FT232H, named once, as FTDI's
// application note AN_108 ("Command Processor for MPSSE and MCU Host Bus Emulation Modes")
// defines them. Shared by the adapter library (usbwire/), its scripted test driver and the board
// simulator (boardsim/), so that the three speak of the same opcode by the same name.
#pragma once

#include <cstdint>

namespace mpsse {

// A data-shifting command has bit 7 clear; its other bits say what it does.
inline constexpr uint8_t kWriteOnFalling = 0x01;  // data out changes on the falling clock edge (else rising)
inline constexpr uint8_t kBitMode = 0x02;         // the length counts bits, 1 to 8 (else bytes)
inline constexpr uint8_t kReadOnFalling = 0x04;   // data in is sampled on the falling edge (else rising)
inline constexpr uint8_t kLsbFirst = 0x08;        // (else MSB first)
inline constexpr uint8_t kWriteTdi = 0x10;        // data out on TDI/DO
inline constexpr uint8_t kReadTdo = 0x20;         // data in from TDO/DI
inline constexpr uint8_t kWriteTms = 0x40;        // data out on TMS/CS
inline constexpr uint8_t kNotDataShift = 0x80;    // set in every other command

// The shifts this project uses, all in bit mode: the opcode, n - 1, one data byte.
// n bits out on TDI, LSB first, changing on the falling edge; nothing is read.
inline constexpr uint8_t kBitsOutLsb = kWriteTdi | kLsbFirst | kBitMode | kWriteOnFalling;
// The same, sampling TDO on the rising edge: one reply byte with the n bits read in its top n
// bits, the first bit read lowest.
inline constexpr uint8_t kBitsInOutLsb = kBitsOutLsb | kReadTdo;
// n bits out MSB first on the falling edge, sampled on the falling edge: one reply byte with the
// n bits read in its low n bits, the first bit read highest.
inline constexpr uint8_t kBitsInOutMsbFalling = kReadTdo | kWriteTdi | kReadOnFalling | kBitMode | kWriteOnFalling;
// n bits of the data byte out on TMS, LSB first, on the falling edge; bit 7 is held on TDI.
inline constexpr uint8_t kTmsBitsOut = kWriteTms | kLsbFirst | kBitMode | kWriteOnFalling;

static_assert(kBitsOutLsb == 0x1B && kBitsInOutLsb == 0x3B && kBitsInOutMsbFalling == 0x37 && kTmsBitsOut == 0x4B,
              "the opcodes AN_108 gives for these shifts");

// The other commands, with the bytes that follow the opcode.
inline constexpr uint8_t kSetLowByte = 0x80;          // value, direction (1 = output) of ADBUS/BDBUS 0..7
inline constexpr uint8_t kReadLowByte = 0x81;         // one reply byte: the levels of the low byte
inline constexpr uint8_t kSetHighByte = 0x82;         // value, direction of ACBUS/BCBUS 0..7
inline constexpr uint8_t kReadHighByte = 0x83;        // one reply byte: the levels of the high byte
inline constexpr uint8_t kLoopbackOn = 0x84;          // TDI/DO connected to TDO/DI inside the chip
inline constexpr uint8_t kLoopbackOff = 0x85;
inline constexpr uint8_t kSetClockDivisor = 0x86;     // low, high byte of the divisor
inline constexpr uint8_t kSendImmediate = 0x87;       // the reply bytes go to the host at once
inline constexpr uint8_t kWaitIoHigh = 0x88;          // execute nothing until GPIOL1 is high
inline constexpr uint8_t kWaitIoLow = 0x89;           // ... until GPIOL1 is low
inline constexpr uint8_t kDisableDivideBy5 = 0x8A;    // clock from the 60 MHz master clock
inline constexpr uint8_t kEnableDivideBy5 = 0x8B;     // clock from 12 MHz (the power-on setting)
inline constexpr uint8_t kEnableThreePhase = 0x8C;    // data valid on both edges: a bit takes 1.5 periods
inline constexpr uint8_t kDisableThreePhase = 0x8D;
inline constexpr uint8_t kClockBits = 0x8E;           // n - 1: n clocks without data
inline constexpr uint8_t kClockBytes = 0x8F;          // low, high of n - 1: 8 x n clocks without data
inline constexpr uint8_t kClockUntilIoHigh = 0x94;    // clock without data until GPIOL1 is high
inline constexpr uint8_t kClockUntilIoLow = 0x95;
inline constexpr uint8_t kEnableAdaptive = 0x96;      // each clock waits for RTCK on GPIOL3
inline constexpr uint8_t kDisableAdaptive = 0x97;
inline constexpr uint8_t kClockBytesOrIoHigh = 0x9C;  // low, high: as 0x8F, ending early when GPIOL1 is high
inline constexpr uint8_t kClockBytesOrIoLow = 0x9D;
inline constexpr uint8_t kDriveZeroOnly = 0x9E;       // two bytes; the FT232H only

// The engine answers an opcode it does not know with this byte followed by that opcode.
inline constexpr uint8_t kBadCommand = 0xFA;

// The clock on TCK/SK is the base clock / ((1 + divisor) x 2).
inline constexpr uint32_t kMasterClockHz = 60'000'000;
inline constexpr uint32_t kDividedBy5ClockHz = kMasterClockHz / 5;

}  // namespace mpsse
