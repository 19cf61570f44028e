#include "vectors.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

#include "error_report.h"
#include "pattern.h"

namespace {

// Tag line: capture 1-2 is the tag's text; group 1 takes alternative 0 for a closing tag.
const char* const TAG_PATTERN = "<\\c(/|[^>])[^>]+\\c>";
// Section header, letter case ignored: group 1 takes 0 for SENSOR, 1 for DRIVE.
const char* const SECTION_PATTERN = "[ \t]*(SENSOR|DRIVE)[ \t]*:";
// Pin line: captures 1-2 device number, 3-4 pin name, 5-6 bit string.
const char* const PIN_PATTERN = "[ \t]*\\c[^-]+\\c-\\c[^ \t]+\\c[ \t]+\\c[0-1]+\\c";

enum class State { Outside, InBlock, InSection };

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Reads a file in large blocks and hands it out line by line, with the line ends of the station:
// a line ends at LF, or at CR, after which one more byte is read and dropped (the LF of a CR LF
// pair), or at the end of the file. A read that yields no byte at the start of a line is the end
// of the file.
class CLineReader {
public:
    explicit CLineReader(std::FILE* file) : m_File(file), m_Buffer(BLOCK) {}

    // The next line without its line end, in line. False at the end of the file or on a read error.
    bool ReadLine(std::string& line)
    {
        line.clear();
        if (!Available())
            return false;
        for (;;) {
            // Take every byte up to the next LF or CR in one piece.
            const char* begin = m_Buffer.data() + m_Pos;
            const char* end = m_Buffer.data() + m_Length;
            const char* stop = begin;
            while (stop != end && *stop != '\n' && *stop != '\r')
                ++stop;
            line.append(begin, stop);
            m_Pos += static_cast<size_t>(stop - begin);
            if (stop != end) {
                char lineEnd = *stop;
                ++m_Pos;
                if (lineEnd == '\r' && Available())
                    ++m_Pos;  // the byte after a CR is dropped unread
                return true;
            }
            if (!Available())
                return true;  // the last line needs no line end
        }
    }

    bool Failed() const { return m_Failed; }

private:
    static constexpr size_t BLOCK = 1 << 16;

    // True when a byte is ready at m_Pos, reading the next block when needed.
    bool Available()
    {
        if (m_Pos < m_Length)
            return true;
        if (m_Failed || m_Eof)
            return false;
        m_Pos = 0;
        m_Length = std::fread(m_Buffer.data(), 1, m_Buffer.size(), m_File);
        if (m_Length == 0) {
            if (std::ferror(m_File))
                m_Failed = true;
            else
                m_Eof = true;
            return false;
        }
        return true;
    }

    std::FILE* m_File;
    std::vector<char> m_Buffer;
    size_t m_Pos = 0;
    size_t m_Length = 0;
    bool m_Eof = false;
    bool m_Failed = false;
};

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

    CMatch tag;
    CMatch section;
    CMatch pin;
    if (!tag.Compile(TAG_PATTERN, 0) || !section.Compile(SECTION_PATTERN, 1) || !pin.Compile(PIN_PATTERN, 0))
        return 0;

    FilePtr file(path ? std::fopen(path, "rb") : nullptr);
    if (!file)
        return 0;

    if (!m_Hash.Init())
        ReportError("ERROR Init Hash\r\n");

    State state = State::Outside;
    int result = 1;
    std::string group;
    int sectionNumber = SECTION_SENSOR;

    CLineReader reader(file.get());
    std::string line;
    while (reader.ReadLine(line)) {
        // The digest covers every byte of the line, a NUL and what follows it included; the
        // patterns see the text up to the first NUL.
        m_Hash.AddString(line);
        const char* text = line.c_str();

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
                std::string name = pin.GetCapture(3, text, 4);
                int32_t device = ParseDeviceNumber(pin.GetCapture(1, text, 2));
                m_PinNames.push_back(name);
                m_DeviceNumbers.push_back(device);
                if (!AddPinVector(group, sectionNumber, device, name, pin.GetCapture(5, text, 6)))
                    result = 0;
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
            }
            break;
        }
    }

    if (reader.Failed()) {
        // A file that cannot be read to its end is not a vector file the station may use: the
        // digest of its beginning is thrown away and the load fails.
        std::string discarded;
        m_Hash.GetHexString(discarded);
        return 0;
    }

    m_Hash.GetHexString(m_VectorsDigest);
    return result;
}
