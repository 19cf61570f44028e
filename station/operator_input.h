// The operator's answers at the station's two prompts, read line by line.
//
// A line that is not a number, or is longer than kMaxLine, is refused with a short message and the
// prompt is shown again; blank lines are passed over. The end of the input (the operator closed the console, or a scripted run
// ran out of lines) is reported to the caller, which ends the program as serial number 0 does.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// A serial number: decimal digits (an optional "+" before them), 0 to 4294967295, blanks around
// allowed.
bool ParseSerial(std::string_view text, uint32_t& serial);

// A current in amperes: a finite decimal floating-point number ("0.5", "5e-1", ".5"), blanks around
// allowed. Not a number, infinity or trailing text is refused.
bool ParseCurrent(std::string_view text, double& current);

class COperatorInput {
public:
    // Reads from in, writes prompts and refusals to out.
    COperatorInput(std::FILE* in, std::FILE* out) : m_In(in), m_Out(out) {}

    // Shows the prompt (no line end) and reads until a valid answer comes. False at the end of the
    // input.
    bool AskSerial(const char* prompt, uint32_t& serial);
    bool AskCurrent(const char* prompt, double& current);

    // A line longer than this is read to its end and refused as a whole; the prompt comes again.
    static constexpr size_t kMaxLine = 1024;

private:
    enum class Line { Read, TooLong, End };
    // The next line without its line end; End at the end of the input with nothing read.
    Line ReadLine(std::string& line);
    void Prompt(const char* prompt);
    template <typename T>
    bool Ask(const char* prompt, T& value, bool (*parse)(std::string_view, T&), const char* refusal);

    std::FILE* m_In;
    std::FILE* m_Out;
};
