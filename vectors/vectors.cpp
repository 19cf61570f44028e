#include "vectors.h"

#include <climits>
#include <map>
#include <string_view>

#include "error_report.h"
#include "files.h"
#include "pattern.h"
#include "platform.h"

namespace {

// Tag line: capture 1-2 is the tag's text; group 1 takes alternative 0 for a closing tag.
const char* const TAG_PATTERN = "<\\c(/|[^>])[^>]+\\c>";
// Section header, letter case ignored: group 1 takes 0 for SENSOR, 1 for DRIVE.
const char* const SECTION_PATTERN = "[ \t]*(SENSOR|DRIVE)[ \t]*:";
// Pin line: captures 1-2 device number, 3-4 pin name, 5-6 bit string.
const char* const PIN_PATTERN = "[ \t]*\\c[^-]+\\c-\\c[^ \t]+\\c[ \t]+\\c[0-1]+\\c";

enum class State { Outside, InBlock, InSection };

// Hands out a file's text line by line, with the line ends of the station: a line ends at LF, or
// at CR, after which one more byte is dropped (the LF of a CR LF pair), or at the end of the text.
// The end of the text at the start of a line is the end of the file.
class CLineSplitter {
public:
    explicit CLineSplitter(std::string_view text) : m_Text(text) {}

    bool Next(std::string_view& line)
    {
        if (m_Pos >= m_Text.size())
            return false;
        const size_t end = m_Text.find_first_of("\r\n", m_Pos);
        if (end == std::string_view::npos) {
            line = m_Text.substr(m_Pos);
            m_Pos = m_Text.size();
            return true;
        }
        line = m_Text.substr(m_Pos, end - m_Pos);
        m_Pos = end + (m_Text[end] == '\r' ? 2 : 1);  // the byte after a CR is dropped unread
        return true;
    }

private:
    std::string_view m_Text;
    size_t m_Pos = 0;
};

// A device number as a person writes it: decimal digits, a "+" before them and blanks after them
// allowed. Other text is still read as atoi reads it, with a warning.
bool IsPlainNumber(std::string_view text)
{
    size_t i = 0;
    if (i < text.size() && text[i] == '+')
        ++i;
    const size_t digits = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        ++i;
    if (i == digits)
        return false;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    return i == text.size();
}

// A line that was meant as a pin line ("3-P12", "3-P12 2", "3 - P12 01") but is not one: a
// device number, then a "-" somewhere after it.
bool LooksLikePinLine(std::string_view text)
{
    const size_t first = text.find_first_not_of(" \t");
    return first != std::string_view::npos && text[first] >= '0' && text[first] <= '9' &&
           text.find('-', first) != std::string_view::npos;
}

}  // namespace

int32_t ParseDeviceNumber(const std::string& text)
{
    const char* p = text.c_str();
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = (*p++ == '-');
    // Accumulated as a negative number so that INT_MIN itself is representable.
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 - (*p - '0');
        if (value < -(INT64_C(1) << 40))
            value = -(INT64_C(1) << 40);  // far beyond int; keeps the product from overflowing
    }
    if (!negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int32_t>(value);
}

int CBsrVectors::Load(const char* path)
{
    m_PinNames.clear();
    m_DeviceNumbers.clear();
    m_Warnings.clear();
    m_LoadError.clear();

    CMatch tag;
    CMatch section;
    CMatch pin;
    if (!tag.Compile(TAG_PATTERN, 0) || !section.Compile(SECTION_PATTERN, 1) || !pin.Compile(PIN_PATTERN, 0))
        return 0;

    if (path == nullptr)
        return 0;
    platform::InputFile file = platform::ReadInputFile(path);
    if (!file.ok) {
        m_LoadError = file.missing ? "" : file.why;
        return 0;
    }

    if (!m_Hash.Init())
        ReportError("ERROR Init Hash\r\n");

    State state = State::Outside;
    int result = 1;
    int refused = 0;
    std::string group;
    int sectionNumber = SECTION_SENSOR;
    // The number of values of each group's first pin line: the number of vectors it meant.
    std::map<std::string, size_t> groupLengths;

    CLineSplitter lines(file.content);
    std::string_view view;
    size_t lineNumber = 0;
    while (lines.Next(view)) {
        ++lineNumber;
        // The digest covers every byte of the line, a NUL and what follows it included; the
        // patterns see the text up to the first NUL.
        m_Hash.AddString(view);
        const std::string line(view.substr(0, view.find('\0')));
        const char* text = line.c_str();
        auto warn = [&](std::string what) { m_Warnings.push_back({lineNumber, std::move(what)}); };

        switch (state) {
        case State::Outside:
            if (tag.Match(text) && tag.GetAlternative(1) == 1) {
                group = tag.GetCapture(1, text, 2);
                state = State::InBlock;
            }
            break;

        case State::InBlock:
            if (section.Match(text)) {
                sectionNumber = section.GetAlternative(1);
                state = State::InSection;
            }
            break;

        case State::InSection:
            if (pin.Match(text)) {
                const std::string name = pin.GetCapture(3, text, 4);
                const std::string deviceText = pin.GetCapture(1, text, 2);
                const std::string bits = pin.GetCapture(5, text, 6);
                const int32_t device = ParseDeviceNumber(deviceText);
                if (!IsPlainNumber(deviceText))
                    warn(platform::Format("device number \"%s\" is not a number, read as %d", deviceText.c_str(), device));
                const auto [first, added] = groupLengths.try_emplace(group, bits.size());
                if (!added && first->second != bits.size())
                    warn(platform::Format("%zu values, where group %s has %zu", bits.size(), group.c_str(), first->second));
                m_PinNames.push_back(name);
                m_DeviceNumbers.push_back(device);
                if (!AddPinVector(group, sectionNumber, device, name, bits)) {
                    result = 0;
                    ++refused;
                }
            } else if (tag.Match(text)) {
                // An opening tag inside a group is skipped and does not rename it; a closing tag
                // leaves the group, and the same line may still switch the section.
                if (tag.GetAlternative(1) == 0) {
                    state = State::Outside;
                    if (section.Match(text))
                        sectionNumber = section.GetAlternative(1);
                }
            } else if (section.Match(text)) {
                sectionNumber = section.GetAlternative(1);
            } else if (LooksLikePinLine(view)) {
                warn("not a pin line (no bit string of 0 and 1 after the pin), skipped");
            }
            break;
        }
    }

    // A group still open at the end is a file cut short: what it would have checked is unknown.
    if (state == State::InSection) {
        m_LoadError = "group <" + group + "> is not closed before the end of the file";
        result = 0;
    } else if (state == State::InBlock) {
        m_LoadError = "group <" + group + "> has no SENSOR or DRIVE section before the end of the file";
        result = 0;
    } else if (refused > 0) {
        m_LoadError = platform::Format("%d pin line%s refused", refused, refused == 1 ? "" : "s");
    }

    m_Hash.GetHexString(m_VectorsDigest);
    return result;
}
