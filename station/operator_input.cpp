#include "operator_input.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

std::string_view Trim(std::string_view text)
{
    const char* blanks = " \t\r\n\v\f";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    const size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// The operator's text as it may be shown on the console: control bytes replaced, shortened.
std::string Shown(std::string_view text)
{
    std::string shown;
    for (char c : text) {
        if (shown.size() >= 40) {
            shown += "...";
            break;
        }
        const auto byte = static_cast<unsigned char>(c);
        shown += byte < 0x20 || byte == 0x7F ? '?' : c;
    }
    return shown;
}

}  // namespace

bool ParseSerial(std::string_view text, uint32_t& serial)
{
    text = Trim(text);
    if (!text.empty() && text[0] == '+')
        text.remove_prefix(1);
    if (text.empty())
        return false;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > UINT32_MAX)
            return false;
    }
    serial = static_cast<uint32_t>(value);
    return true;
}

bool ParseCurrent(std::string_view text, double& current)
{
    const std::string number(Trim(text));
    if (number.empty())
        return false;
    // Only digits, one sign, one point and an exponent: strtod alone would also take "nan",
    // "inf" and hexadecimal numbers.
    for (char c : number) {
        if (!((c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-' || c == 'e' || c == 'E'))
            return false;
    }
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(number.c_str(), &end);
    if (end != number.c_str() + number.size() || errno == ERANGE || !std::isfinite(value))
        return false;
    current = value;
    return true;
}

COperatorInput::Line COperatorInput::ReadLine(std::string& line)
{
    line.clear();
    int c = std::fgetc(m_In);
    if (c == EOF)
        return Line::End;
    bool tooLong = false;
    for (; c != EOF && c != '\n'; c = std::fgetc(m_In)) {
        if (line.size() < kMaxLine)
            line += static_cast<char>(c);
        else
            tooLong = true;
    }
    return tooLong ? Line::TooLong : Line::Read;
}

void COperatorInput::Prompt(const char* prompt)
{
    std::fputs(prompt, m_Out);
    std::fflush(m_Out);
}

template <typename T>
bool COperatorInput::Ask(const char* prompt, T& value, bool (*parse)(std::string_view, T&), const char* refusal)
{
    Prompt(prompt);
    std::string line;
    for (;;) {
        const Line read = ReadLine(line);
        if (read == Line::End) {
            // The prompt has no line end; finish the console line before the program ends.
            std::fputs("\r\n", m_Out);
            std::fflush(m_Out);
            return false;
        }
        if (read == Line::TooLong) {
            // Never a part of it: the rest could be read as another number.
            std::fprintf(m_Out, "Line too long (more than %zu characters), not read\r\n", kMaxLine);
            Prompt(prompt);
            continue;
        }
        if (Trim(line).empty())
            continue;  // as a blank line is passed over when numbers are scanned
        if (parse(line, value))
            return true;
        std::fprintf(m_Out, refusal, Shown(Trim(line)).c_str());
        Prompt(prompt);
    }
}

bool COperatorInput::AskSerial(const char* prompt, uint32_t& serial)
{
    return Ask(prompt, serial, ParseSerial, "Not a serial number: \"%s\" (enter 0 to 4294967295)\r\n");
}

bool COperatorInput::AskCurrent(const char* prompt, double& current)
{
    return Ask(prompt, current, ParseCurrent, "Not a current: \"%s\" (enter amperes, e.g. 0.5)\r\n");
}
