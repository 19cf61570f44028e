// The BSDL reader: four patterns find the sections, small scanners read them.
//
// Beyond the plain reading rules the reader guards against files it cannot use:
// - a section whose pattern is not found is skipped (no ports, no package pins, no cells) and
//   recorded in missingSections, so that the station and qbx-inspect can say so;
// - anything but a regular file, and files above kMaxBsdlFileSize, are refused, and a boundary
//   length above kMaxBoundaryLength counts as not found, so neither can exhaust memory;
// - cells and control cells outside the images set or clear no bit;
// - an output cell listed with four fields has no control cell: ctrlCell and disable stay -1
//   and no control bit is set;
// - a safe value other than 0, 1 or X leaves the safe bit and the port's safe value as they are;
// - package pins may have several row letters (BGA rows past Z: "AA12"); see PinRow.
#include "bsdl.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "files.h"
#include "pattern.h"

namespace {

// A boundary length above this many cells is not used (the images would be absurdly large).
constexpr int kMaxBoundaryLength = 1 << 20;

// Letters in a row prefix that still give a row number (26 + 26^2 + ... + 26^5 rows).
constexpr int kMaxRowLetters = 5;

const char* const kPortPattern = "port[\\(]\\c";
const char* const kPinMapPattern = "PIN_MAP_STRING[ \t]*:=\\c";
const char* const kLengthPattern =
    "attribute[ \t]+BOUNDARY_LENGTH[ \t]+of[ \t]+[^ \t]+[ \t]+:[ \t]+entity[ \t]+is[ \t]+\\c[0-9]+\\c";
const char* const kRegisterPattern =
    "attribute[ \t]+BOUNDARY_REGISTER[ \t]+of[ \t]+[^ ]+[ \t]+:[ \t]+entity[ \t]+is[ \t]+\\c";

// atoi without its undefined overflow: leading white space, an optional sign, decimal digits up
// to the first non-digit, 0 when there are none; values beyond int saturate.
int AsciiToInt(const char* s)
{
    while (*s == ' ' || *s == '\t' || *s == '\n' || *s == '\v' || *s == '\f' || *s == '\r')
        ++s;
    bool negative = false;
    if (*s == '+' || *s == '-') {
        negative = *s == '-';
        ++s;
    }
    long long value = 0;
    for (; *s >= '0' && *s <= '9'; ++s) {
        if (value <= static_cast<long long>(INT_MAX) + 1)
            value = value * 10 + (*s - '0');
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

bool EqualsNoCase(const std::string& a, const char* b)
{
    size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z')
            x = static_cast<unsigned char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = static_cast<unsigned char>(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}

// How a package pin splits into row and number.
struct PinKey {
    bool usable = true;  // false: a letter prefix too long to be any row
    bool hasRow = false;
    int row = -1;
    int number = -1;
};

// A pin that starts with a digit is a plain number. A pin that starts with upper-case letters
// has the whole letter run as its row, counted A=0 ... Z=25, AA=26, AB=27 ... (so one letter keeps
// the plain "letter minus A" value); more than kMaxRowLetters letters fit no row. Any other first
// character is the row by its code minus "A". The number is the rest, read as atoi reads it.
PinKey PinRow(const char* pin)
{
    PinKey key;
    unsigned char first = static_cast<unsigned char>(pin[0]);
    if (first >= '0' && first <= '9') {
        key.number = AsciiToInt(pin);
        return key;
    }
    key.hasRow = true;
    if (first >= 'A' && first <= 'Z') {
        int letters = 0;
        long long row = 0;
        while (pin[letters] >= 'A' && pin[letters] <= 'Z') {
            if (letters == kMaxRowLetters) {
                key.usable = false;
                return key;
            }
            row = row * 26 + (pin[letters] - 'A' + 1);
            ++letters;
        }
        key.row = static_cast<int>(row - 1);
        key.number = AsciiToInt(pin + letters);
        return key;
    }
    key.row = static_cast<int>(first) - 'A';
    key.number = first == '\0' ? 0 : AsciiToInt(pin + 1);
    return key;
}

// FindPin by name for the scanners: the first record of each name, looked up by hash, so that a
// file with very many ports and cells does not take quadratic time. Built once the port list is
// read; the table does not change while the pin map and the register are read.
class PinIndex {
public:
    explicit PinIndex(std::vector<_PINDESC>& pins) : m_Pins(pins)
    {
        m_First.reserve(pins.size());
        for (size_t i = 0; i < pins.size(); ++i)
            m_First.emplace(pins[i].name, i);  // keeps the first of equal names
    }
    _PINDESC* Find(const std::string& name) const
    {
        auto it = m_First.find(name);
        return it == m_First.end() ? nullptr : &m_Pins[it->second];
    }

private:
    std::vector<_PINDESC>& m_Pins;
    std::unordered_map<std::string, size_t> m_First;
};

// ---- port list --------------------------------------------------------------------------------

// One token of the port list; see ReadPorts. The cursor is left after the character that ended
// the scan.
std::string ReadPortToken(const char* text, size_t& cursor, char stop, bool& endFlag)
{
    endFlag = false;
    bool paren = false;
    bool started = false;
    bool ended = false;
    size_t start = 0;
    size_t end = 0;
    bool complete = false;
    while (text[cursor] != '\0') {
        char c = text[cursor];
        if (c == ' ' || c == '\r' || c == '\n') {
            if (started && !ended) {
                ended = true;
                end = cursor;
            }
        } else if (c == '(') {
            paren = true;
        } else if (c == ')') {
            if (paren)
                paren = false;
            else
                endFlag = true;
        } else if (!started) {
            started = true;
            start = cursor;
        }
        if (ended && c == stop)
            complete = true;
        ++cursor;
        if (complete || endFlag)
            break;
    }
    if (!started || !ended)
        return std::string();
    return std::string(text + start, end - start);
}

void ReadPorts(const char* text, _BSDLDATA& data)
{
    size_t cursor = 0;
    bool endFlag = false;
    while (text[cursor] != '\0' && !endFlag) {
        std::string name = ReadPortToken(text, cursor, ':', endFlag);
        if (text[cursor] == '\0' || endFlag)
            break;
        std::string direction = ReadPortToken(text, cursor, ';', endFlag);
        int dir = -1;
        if (EqualsNoCase(direction, "in"))
            dir = 0;
        else if (EqualsNoCase(direction, "out"))
            dir = 1;
        else if (EqualsNoCase(direction, "inout"))
            dir = 2;
        if (dir >= 0) {
            _PINDESC pin;
            pin.name = name;
            pin.dir = dir;
            data.pins.push_back(std::move(pin));
        }
    }
}

// ---- quoted sections --------------------------------------------------------------------------

// The contents of every double-quoted string from text up to the first ";" outside quotes (or the
// end), concatenated.
std::string CollectQuoted(const char* text)
{
    std::string out;
    bool quoted = false;
    for (const char* p = text; *p != '\0'; ++p) {
        if (quoted) {
            if (*p == '"')
                quoted = false;
            else
                out += *p;
        } else if (*p == '"') {
            quoted = true;
        } else if (*p == ';') {
            break;
        }
    }
    return out;
}

bool IsSeparator(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A token of the section scanners: started at a character, taken up to the current one, and
// dropped so that a new one can start.
struct Token {
    const std::string& text;
    bool pending = false;
    size_t start = 0;
    void Start(size_t i)
    {
        if (!pending) {
            pending = true;
            start = i;
        }
    }
    std::string Take(size_t i) const { return pending ? text.substr(start, i - start) : std::string(); }
    void Drop() { pending = false; }
};

// The first states of both section scanners: an entry's first token (a port name or a cell
// number) runs up to a separator or to the delimiter that opens the rest of the entry (":" in the
// pin map, "(" in the register), which leads to state 3. False in state 3 and above, which belong
// to the scanner.
bool ScanEntryHead(char c, size_t i, bool separator, bool other, char delimiter, Token& token, std::string& head,
                   int& state)
{
    switch (state) {
    case 0:
        if (other) {
            token.Start(i);
            state = 1;
        }
        return true;
    case 1:
        if (separator) {
            head = token.Take(i);
            state = 2;
        } else if (c == delimiter) {
            head = token.Take(i);
            token.Drop();
            state = 3;
        }
        return true;
    case 2:
        if (c == delimiter) {
            token.Drop();
            state = 3;
        }
        return true;
    default:
        return false;
    }
}

void AssignPackagePin(const PinIndex& index, const std::string& port, const std::string& pin)
{
    _PINDESC* record = index.Find(port);
    if (record == nullptr)
        return;
    PinKey key = PinRow(pin.c_str());
    if (!key.usable)
        return;  // a letter prefix that is no row: the port keeps no package pin
    if (key.hasRow)
        record->row = key.row;
    record->number = key.number;
}

void ReadPinMap(const char* text, const PinIndex& index)
{
    std::string s = CollectQuoted(text);
    Token token{s};
    std::string port;
    int state = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        bool separator = IsSeparator(c);
        bool other = !separator && c != '(' && c != ')' && c != ',' && c != ':';
        if (ScanEntryHead(c, i, separator, other, ':', token, port, state))
            continue;
        switch (state) {
        case 3:
            if (c == '(') {
                token.Drop();
                state = 5;
            } else if (other) {
                token.Start(i);
                state = 4;
            }
            break;
        case 4:
            if (separator) {
                AssignPackagePin(index, port, token.Take(i));
                state = 7;
            } else if (c == ',') {
                AssignPackagePin(index, port, token.Take(i));
                token.Drop();
                state = 0;
            }
            break;
        case 5:
            if (other) {
                token.Start(i);
                state = 6;
            }
            break;
        case 6:
            if (c == ')')
                state = 7;  // a pin list: read and not used
            break;
        case 7:
            if (c == ',') {
                token.Drop();
                state = 0;
            }
            break;
        default:
            break;
        }
    }
}

// ---- boundary register ------------------------------------------------------------------------

// 0, 1 or -1 for "0", "1", "X" (any case); false for anything else.
bool CellValue(const std::string& text, int* value)
{
    if (text == "0")
        *value = 0;
    else if (text == "1")
        *value = 1;
    else if (text == "X" || text == "x")
        *value = -1;
    else
        return false;
    return true;
}

void SetBit(std::vector<uint8_t>& image, int cell, bool value)
{
    if (cell < 0 || static_cast<size_t>(cell) / 8 >= image.size())
        return;  // outside the image: no bit to set or clear
    uint8_t mask = static_cast<uint8_t>(1u << (cell % 8));
    if (value)
        image[static_cast<size_t>(cell) / 8] |= mask;
    else
        image[static_cast<size_t>(cell) / 8] &= static_cast<uint8_t>(~mask);
}

enum { CELL_NONE, CELL_INPUT, CELL_OUTPUT, CELL_CONTROL };

// fields: 0 cell type, 1 port, 2 function, 3 safe value, 4 control cell, 5 disable value,
// 6 disable result; fieldCount is how many fields the cell listed.
void DecodeCell(_BSDLDATA& data, const PinIndex& index, const std::string& numberText,
                const std::string (&fields)[7], int fieldCount)
{
    int n = AsciiToInt(numberText.c_str());
    int function = CELL_NONE;
    const std::string& f = fields[2];
    if (EqualsNoCase(f, "output3") || EqualsNoCase(f, "output2") || EqualsNoCase(f, "output"))
        function = CELL_OUTPUT;
    else if (EqualsNoCase(f, "input"))
        function = CELL_INPUT;
    else if (EqualsNoCase(f, "control"))
        function = CELL_CONTROL;

    int safe = -1;
    bool safeKnown = CellValue(fields[3], &safe);
    if (safeKnown)
        SetBit(data.safeBits, n, safe == 1);

    // Without a control-cell field (four fields only) the output has no control cell.
    bool hasControl = fieldCount > 4 && !fields[4].empty();
    int control = hasControl ? AsciiToInt(fields[4].c_str()) : -1;
    int disable = -1;
    if (hasControl && !CellValue(fields[5], &disable))
        disable = -1;

    if (fields[1] == "*")
        return;
    _PINDESC* pin = index.Find(fields[1]);
    if (pin == nullptr)
        return;
    switch (function) {
    case CELL_INPUT:
        pin->inCell = n;
        SetBit(data.driveMask, n, false);
        break;
    case CELL_OUTPUT:
        pin->outCell = n;
        pin->ctrlCell = control;
        if (safeKnown)
            pin->safe = safe;
        pin->disable = disable;
        SetBit(data.driveMask, n, true);
        if (hasControl)
            SetBit(data.driveMask, control, true);
        break;
    case CELL_CONTROL:
        SetBit(data.driveMask, n, true);
        break;
    default:
        break;
    }
}

void ReadBoundaryRegister(const char* text, _BSDLDATA& data, const PinIndex& index)
{
    std::string s = CollectQuoted(text);
    Token token{s};
    std::string number;
    std::string fields[7];
    int k = 0;
    int state = 0;
    auto storeField = [&](size_t i) {
        if (k <= 6)
            fields[k] = token.Take(i);
        if (k < 7)  // further fields are counted no further: only "more than 6" matters
            ++k;
    };
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        bool separator = IsSeparator(c);
        bool other = !separator && c != '(' && c != ')' && c != ',';
        if (ScanEntryHead(c, i, separator, other, '(', token, number, state))
            continue;
        switch (state) {
        case 3:
            if (other) {
                token.Start(i);
                state = 4;
            }
            break;
        case 4:
            if (separator) {
                storeField(i);
                state = 5;
            } else if (c == ',') {
                storeField(i);
                token.Drop();
                state = 3;
            } else if (c == ')') {
                storeField(i);
                DecodeCell(data, index, number, fields, k);
                state = 6;
            }
            break;
        case 5:
            if (c == ',') {
                token.Drop();
                state = 3;
            }
            break;
        case 6:
            if (c == ',') {
                number.clear();
                for (std::string& field : fields)
                    field.clear();
                k = 0;
                token.Drop();
                state = 0;
            }
            break;
        default:
            break;
        }
    }
}

}  // namespace

// ---- public operations ------------------------------------------------------------------------

void ReadBsdlText(const char* text, _BSDLDATA& data)
{
    if (text == nullptr)
        text = "";
    unsigned missing = 0;
    CMatch match;

    match.Compile(kPortPattern, 1);
    int mark = match.Match(text) ? match.GetMarkPos(1) : -1;
    if (mark >= 0)
        ReadPorts(text + mark, data);
    else
        missing |= BSDL_SECTION_PORTS;

    PinIndex index(data.pins);

    match.Compile(kPinMapPattern, 1);
    mark = match.Match(text) ? match.GetMarkPos(1) : -1;
    if (mark >= 0)
        ReadPinMap(text + mark, index);
    else
        missing |= BSDL_SECTION_PIN_MAP;

    match.Compile(kLengthPattern, 1);
    int length = 0;
    if (match.Match(text)) {
        length = AsciiToInt(match.GetCapture(1, text, 2).c_str());
        if (length > kMaxBoundaryLength) {
            length = 0;  // unusable: counts as not found
            missing |= BSDL_SECTION_LENGTH;
        }
    } else {
        missing |= BSDL_SECTION_LENGTH;
    }
    data.boundaryLength = length;
    size_t bytes = static_cast<size_t>((length - 1) / 8 + 1);
    data.safeBits.assign(bytes, 0);
    data.driveMask.assign(bytes, 0);

    match.Compile(kRegisterPattern, 1);
    mark = match.Match(text) ? match.GetMarkPos(1) : -1;
    if (mark >= 0)
        ReadBoundaryRegister(text + mark, data, index);
    else
        missing |= BSDL_SECTION_REGISTER;

    data.missingSections = missing;
}

int ReadBsdl(const char* path, _BSDLDATA& data, std::string* why)
{
    if (path == nullptr)
        return 0;
    platform::InputFile file = platform::ReadInputFile(path, kMaxBsdlFileSize);
    if (!file.ok) {
        if (why)
            *why = file.missing ? "" : file.why;
        return 0;
    }
    // The text ends at the file's first NUL byte, if it has one (c_str adds the final NUL).
    ReadBsdlText(file.content.c_str(), data);
    return 1;
}

const _PINDESC* FindPin(const std::vector<_PINDESC>& pins, int mode, const char* key)
{
    if (key == nullptr)
        return nullptr;
    if (mode == FIND_BY_NAME) {
        for (const _PINDESC& p : pins) {
            if (p.name == key)
                return &p;
        }
        return nullptr;
    }
    if (mode != FIND_BY_PIN || key[0] == '\0')
        return nullptr;
    PinKey k = PinRow(key);
    if (!k.usable)
        return nullptr;
    for (const _PINDESC& p : pins) {
        if (p.number == k.number && (!k.hasRow || p.row == k.row))
            return &p;
    }
    return nullptr;
}

std::vector<std::string> MissingSectionNames(unsigned missingSections)
{
    std::vector<std::string> names;
    if (missingSections & BSDL_SECTION_PORTS)
        names.emplace_back("port list");
    if (missingSections & BSDL_SECTION_PIN_MAP)
        names.emplace_back("pin map");
    if (missingSections & BSDL_SECTION_LENGTH)
        names.emplace_back("boundary length");
    if (missingSections & BSDL_SECTION_REGISTER)
        names.emplace_back("boundary register");
    return names;
}

std::string RowLetters(int row)
{
    std::string letters;
    if (row < 0)
        return letters;
    long long n = static_cast<long long>(row) + 1;
    while (n > 0) {
        --n;
        letters.insert(letters.begin(), static_cast<char>('A' + n % 26));
        n /= 26;
    }
    return letters;
}

std::string PinLabel(const _PINDESC& pin)
{
    if (pin.row < 0 && pin.number < 0)
        return "-";
    return RowLetters(pin.row) + std::to_string(pin.number);
}
