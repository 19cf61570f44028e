// Reads the four things the station needs from a BSDL file - the port list, the pin map, the
// boundary length and the boundary register - into a pin table and two bit images (safe values
// and the cells the test drives). Not a general BSDL parser: each section is found with a pattern
// over the whole file and read with a small scanner.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One port of the device. Unset numbers are -1.
struct _PINDESC {
    std::string name;
    int dir = 0;        // 0 in, 1 out, 2 inout
    int row = -1;       // package pin row: the letter prefix, A=0 ... Z=25, AA=26, AB=27, ...
    int number = -1;    // package pin number
    int outCell = -1;   // output cell
    int ctrlCell = -1;  // control cell of the output cell
    int inCell = -1;    // input cell
    int safe = -1;      // safe value of the output cell: 0, 1, or -1 for X
    int disable = -1;   // control-cell value that disables the output: 0, 1, or -1 for X
};

// Sections of a BSDL file that ReadBsdl looks for.
enum : unsigned {
    BSDL_SECTION_PORTS = 1u << 0,     // port list
    BSDL_SECTION_PIN_MAP = 1u << 1,   // PIN_MAP_STRING
    BSDL_SECTION_LENGTH = 1u << 2,    // BOUNDARY_LENGTH
    BSDL_SECTION_REGISTER = 1u << 3,  // BOUNDARY_REGISTER
};

// Everything read for one device. Copyable.
struct _BSDLDATA {
    std::vector<_PINDESC> pins;      // one record per accepted port, in port-list order
    std::vector<uint8_t> safeBits;   // cell n = bit n%8 of byte n/8; set = safe value 1
    std::vector<uint8_t> driveMask;  // cells the test drives: output and control cells
    unsigned missingSections = 0;    // BSDL_SECTION_* bits of the sections not found
    int boundaryLength = 0;          // BOUNDARY_LENGTH as read (0 when not found)
};

enum { FIND_BY_NAME = 0, FIND_BY_PIN = 1 };

// Reads the BSDL file at path into data (which should be empty). Returns 1 when the file was read
// and scanned, 0 when it cannot be used (data is then unchanged): why, when given, then says why
// ("" when there is no such file; else the system's error text, or what the path names instead of
// a regular file, or that it is too large). A section that is not found is skipped and recorded
// in data.missingSections.
int ReadBsdl(const char* path, _BSDLDATA& data, std::string* why = nullptr);

// The scanning half of ReadBsdl, for text already in memory (NUL-terminated; a NUL ends it, as
// it ends a file's text): finds and reads the four sections into data. Used by ReadBsdl and by
// tests and fuzzing, which need no file.
void ReadBsdlText(const char* text, _BSDLDATA& data);

// Files larger than this are not read (ReadBsdl returns 0): no BSDL file comes near it, and it
// keeps a wrong or hostile file from exhausting memory.
constexpr uint64_t kMaxBsdlFileSize = uint64_t{64} << 20;

// Looks a port up: FIND_BY_NAME by exact name, FIND_BY_PIN by package pin ("B12", "AA3", or a
// plain number, which matches the number whatever the row). Returns the first match in table
// order, or nullptr.
const _PINDESC* FindPin(const std::vector<_PINDESC>& pins, int mode, const char* key);

// The names of the sections in a missingSections value, in file order ("port list", "pin map",
// "boundary length", "boundary register").
std::vector<std::string> MissingSectionNames(unsigned missingSections);

// The package pin as letters and number ("AB12", "17" without a row), or "-" when unset.
std::string PinLabel(const _PINDESC& pin);

// Letters of a row number (0 -> "A", 25 -> "Z", 26 -> "AA"), empty for a negative row.
std::string RowLetters(int row);
