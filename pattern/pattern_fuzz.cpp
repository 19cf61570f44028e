// Fuzz target: the first line of the input is a pattern (its first byte chooses letter case),
// the rest is the text; compile, match once and ask every query.
#include "pattern.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t split = input.find('\n');
    std::string pattern = input.substr(0, split);
    std::string text = split == std::string::npos ? std::string() : input.substr(split + 1);
    int noCase = 0;
    if (!pattern.empty()) {
        noCase = pattern[0] & 1;
        pattern.erase(0, 1);
    }

    CMatch m;
    m.Compile(pattern.c_str(), noCase);
    if (m.m_List.m_Elements.empty())
        return 0;  // Match would throw by contract
    m.Match(text.c_str());
    for (int n = 1; n <= 12; ++n) {
        int pos = m.GetMarkPos(n);
        if (pos < -1 || pos > static_cast<int>(text.size()))
            __builtin_trap();
        (void)m.GetAlternative(n);
        (void)m.GetCapture(1, text.c_str(), n);
        (void)m.GetCapture(n, text.c_str(), 12 - n + 1);
    }
    return 0;
}
