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

#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>

#include "files.h"
#include "pattern.h"
#include "platform.h"

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
        key.number = platform::ParseInt(pin);
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
        key.number = platform::ParseInt(pin + letters);
        return key;
    }
    key.row = static_cast<int>(first) - 'A';
    key.number = first == '\0' ? 0 : platform::ParseInt(pin + 1);
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

// One character of a quoted section as its scanner sees it: a separator ends a token; a word
// character (neither a separator nor the section's punctuation) can start one.
struct ScanChar {
    char c;
    size_t at;
    bool separator;
    bool word;
};

ScanChar Classify(const std::string& s, size_t at, std::string_view punctuation)
{
    const char c = s[at];
    const bool separator = IsSeparator(c);
    return {c, at, separator, !separator && punctuation.find(c) == std::string_view::npos};
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

// The head of an entry, alike in both quoted sections: the entry's first token (the port name in
// the pin map, the cell number in the register), then the delimiter that opens the rest of the
// entry (":" in the pin map, "(" in the register). Once the delimiter is seen the section's own
// states read the rest of the entry; when the entry ends, the next head starts.
enum class Head {
    BeforeToken,  // waiting for the token's first word character; anything else is skipped
    InToken,      // in the token: a separator ends it (-> AfterToken), the delimiter ends it and the
                  // head (-> Done); anything else, punctuation included, belongs to the token
    AfterToken,   // the token is taken: waiting for the delimiter (-> Done); anything else is skipped
    Done,         // the delimiter was seen: the rest of the entry belongs to the section's states
};

// Feeds one character to an entry's head; the token's text goes to text.
void ScanHead(const ScanChar& ch, char delimiter, Token& token, std::string& text, Head& head)
{
    switch (head) {
    case Head::BeforeToken:
        if (ch.word) {
            token.Start(ch.at);
            head = Head::InToken;
        }
        break;
    case Head::InToken:
        if (ch.separator) {
            text = token.Take(ch.at);
            head = Head::AfterToken;
        } else if (ch.c == delimiter) {
            text = token.Take(ch.at);
            token.Drop();
            head = Head::Done;
        }
        break;
    case Head::AfterToken:
        if (ch.c == delimiter) {
            token.Drop();
            head = Head::Done;
        }
        break;
    case Head::Done:
        break;
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

// The pin map after an entry's ":" (see Head): the package pin, or a pin list in parentheses.
enum class PinMapState {
    BeforePin,      // waiting for the pin: "(" opens a pin list (-> BeforeListPin), a word character
                    // starts the pin (-> InPin); anything else is skipped
    InPin,          // in the pin: a separator ends it (the pin is assigned; -> AfterEntry), "," ends
                    // it and the entry (the pin is assigned; next head); anything else belongs to it.
                    // A pin cut off by the end of the section is not assigned
    BeforeListPin,  // in a pin list: waiting for its first word character (-> InPinList)
    InPinList,      // in a pin list, which gives the port no pin: waiting for ")" (-> AfterEntry)
    AfterEntry,     // waiting for the "," that ends the entry (next head)
};

void ReadPinMap(const char* text, const PinIndex& index)
{
    const std::string s = CollectQuoted(text);
    Token token{s};
    std::string port;
    Head head = Head::BeforeToken;
    PinMapState state = PinMapState::BeforePin;
    auto nextEntry = [&] {
        token.Drop();
        head = Head::BeforeToken;
        state = PinMapState::BeforePin;
    };
    for (size_t i = 0; i < s.size(); ++i) {
        const ScanChar ch = Classify(s, i, "(),:");
        if (head != Head::Done) {
            ScanHead(ch, ':', token, port, head);
            continue;
        }
        switch (state) {
        case PinMapState::BeforePin:
            if (ch.c == '(') {
                state = PinMapState::BeforeListPin;
            } else if (ch.word) {
                token.Start(i);
                state = PinMapState::InPin;
            }
            break;
        case PinMapState::InPin:
            if (ch.separator) {
                AssignPackagePin(index, port, token.Take(i));
                state = PinMapState::AfterEntry;
            } else if (ch.c == ',') {
                AssignPackagePin(index, port, token.Take(i));
                nextEntry();
            }
            break;
        case PinMapState::BeforeListPin:
            if (ch.word)
                state = PinMapState::InPinList;
            break;
        case PinMapState::InPinList:
            if (ch.c == ')')
                state = PinMapState::AfterEntry;
            break;
        case PinMapState::AfterEntry:
            if (ch.c == ',')
                nextEntry();
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
    int n = platform::ParseInt(numberText.c_str());
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
    int control = hasControl ? platform::ParseInt(fields[4].c_str()) : -1;
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

// The register after an entry's "(" (see Head): the cell's fields, separated by ",", up to ")".
enum class CellState {
    BeforeField,  // waiting for a field's first word character (-> InField); anything else is skipped
    InField,      // in a field: a separator ends it (-> AfterField), "," ends it (-> BeforeField),
                  // ")" ends it and the cell, which is decoded (-> AfterCell)
    AfterField,   // waiting for the "," before the next field (-> BeforeField); a ")" here ends
                  // nothing, so a cell whose last field is followed by a blank is not decoded
    AfterCell,    // waiting for the "," that ends the entry (next head)
};

void ReadBoundaryRegister(const char* text, _BSDLDATA& data, const PinIndex& index)
{
    const std::string s = CollectQuoted(text);
    Token token{s};
    std::string number;
    std::string fields[7];
    int k = 0;
    Head head = Head::BeforeToken;
    CellState state = CellState::BeforeField;
    auto storeField = [&](size_t i) {
        if (k <= 6)
            fields[k] = token.Take(i);
        if (k < 7)  // further fields are counted no further: only "more than 6" matters
            ++k;
    };
    for (size_t i = 0; i < s.size(); ++i) {
        const ScanChar ch = Classify(s, i, "(),");
        if (head != Head::Done) {
            ScanHead(ch, '(', token, number, head);
            continue;
        }
        switch (state) {
        case CellState::BeforeField:
            if (ch.word) {
                token.Start(i);
                state = CellState::InField;
            }
            break;
        case CellState::InField:
            if (ch.separator) {
                storeField(i);
                state = CellState::AfterField;
            } else if (ch.c == ',') {
                storeField(i);
                token.Drop();
                state = CellState::BeforeField;
            } else if (ch.c == ')') {
                storeField(i);
                DecodeCell(data, index, number, fields, k);
                state = CellState::AfterCell;
            }
            break;
        case CellState::AfterField:
            if (ch.c == ',') {
                token.Drop();
                state = CellState::BeforeField;
            }
            break;
        case CellState::AfterCell:
            if (ch.c == ',') {
                number.clear();
                for (std::string& field : fields)
                    field.clear();
                k = 0;
                token.Drop();
                head = Head::BeforeToken;
                state = CellState::BeforeField;
            }
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
        length = platform::ParseInt(match.GetCapture(1, text, 2).c_str());
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
