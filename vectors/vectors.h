// The vector file reader and the vector record.
//
// A vector file lists, group by group, which pins of which FPGA of the chain are driven and which
// are sensed, with one value per test vector:
//
//     <GROUP>
//     DRIVE:
//       0-P12 0110
//     SENSOR:
//       1-$LOCKPLL 0011
//     </GROUP>
//
// CBsrVectors classifies every line with three patterns and hands every pin line to AddPinVector,
// which the board model implements; it keeps the pin names and device numbers of all pin lines in
// file order and an MD5 digest of the file's text.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "datahash.h"

// The boundary-scan register of the A3PE3000: 2424 cells, held as 303 bytes with cell n at bit
// (n mod 8) of byte n / 8, least significant bit first.
inline constexpr int BSR_CELLS = 2424;
inline constexpr int BSR_BYTES = BSR_CELLS / 8;
static_assert(BSR_BYTES * 8 == BSR_CELLS);

// Cell n of a boundary image: bit n % 8 of byte n / 8.
inline int GetCell(const uint8_t* image, int cell)
{
    return (image[cell / 8] >> (cell % 8)) & 1;
}
inline void SetCell(uint8_t* image, int cell, int value)
{
    const auto bit = static_cast<uint8_t>(1u << (cell % 8));
    image[cell / 8] = static_cast<uint8_t>(value != 0 ? image[cell / 8] | bit : image[cell / 8] & ~bit);
}

// The section argument of AddPinVector.
enum { SECTION_SENSOR = 0, SECTION_DRIVE = 1 };

// One test vector of one device: the group (tag) that created it and a complete boundary image.
struct _VECTOR {
    std::string name;
    std::array<uint8_t, BSR_BYTES> image{};
};

class CBsrVectors {
public:
    CBsrVectors() = default;
    CBsrVectors(const CBsrVectors&) = delete;
    CBsrVectors& operator=(const CBsrVectors&) = delete;

    // Receives one pin line: the group name, the section (SECTION_SENSOR or SECTION_DRIVE), the
    // device number, the pin name and the bit string (one or more "0"/"1", character k being the
    // pin's value in vector k of the group). Non-zero when the line is accepted.
    virtual int AddPinVector(const std::string& group, int section, int device, const std::string& pin,
                             const std::string& bits) = 0;

    // Reads the vector file at path. Non-zero when the file was read and every pin line was
    // accepted; 0 when the file cannot be used or a pin line was refused (reading goes on after a
    // refusal, so every bad line is seen in one pass). Empties the lists first; on success of the
    // digest m_VectorsDigest holds the file's fingerprint.
    //
    // Not used, with the reason in m_LoadError: anything but a regular file of at most 64 MiB, and
    // a file whose last group is not closed (a file cut short). Lines the reader takes only with a
    // warning (m_Warnings): a device number that is not a plain number (read as atoi reads it), a
    // pin line with another number of values than its group's first pin line, and a line of a
    // section that looks like a pin line but is none (skipped).
    int Load(const char* path);

    // A line the reader took or skipped with a warning.
    struct Warning {
        size_t line = 0;  // 1-based line number
        std::string text;
    };

    std::vector<std::string> m_PinNames;    // pin name of every pin line, in file order
    std::vector<int32_t> m_DeviceNumbers;   // device number of every pin line, in file order
    CDataHash m_Hash;                       // digest of the file being read
    std::string m_VectorsDigest;            // digest of the last file read; empty until one was made
    std::vector<Warning> m_Warnings;        // of the last file read, in line order
    // Why the last Load failed: the system's error text or what the path names instead of a
    // regular file, an unclosed group, the number of refused pin lines; "" for success and for a
    // file that does not exist.
    std::string m_LoadError;

protected:
    // Destroyed only as the base of the board model.
    ~CBsrVectors() = default;
};

// The device number of a pin line as atoi reads it: leading white space skipped, an optional sign,
// the decimal digits up to the first other character, 0 when there are none. A number beyond the
// range of int gives INT_MAX or INT_MIN.
int32_t ParseDeviceNumber(const std::string& text);
