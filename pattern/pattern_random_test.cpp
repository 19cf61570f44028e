// Bounded random tests: CMatch::Match, with its shortcuts, against the plain leftmost scan built
// from the public list operations; and long lines, which the shortcuts keep linear.
#include "pattern.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>

namespace {

// The plain scan, as the matcher is defined: reset everything, try each start position.
int PlainMatch(CExpList& list, const char* text)
{
    int end = 0;
    bool anchored = list.m_Elements.front().m_Bol;
    for (int s = 0; s == 0 || (!anchored && text[s] != '\0'); ++s) {
        list.ResetPositions();
        list.ResetResults();
        if (!anchored && text[0] == '\0')
            return 0;  // no attempt on an empty text
        if (list.MatchAt(text, s, &end))
            return 1;
    }
    return 0;
}

// The results stored in two trees compiled from the same pattern.
void ExpectSameResults(const CExpList& a, const CExpList& b, const std::string& where)
{
    ASSERT_EQ(a.m_Elements.size(), b.m_Elements.size()) << where;
    for (size_t i = 0; i < a.m_Elements.size(); ++i) {
        const CObjExp& x = a.m_Elements[i];
        const CObjExp& y = b.m_Elements[i];
        EXPECT_EQ(std::vector<int>({x.m_Matched, x.m_Alt, x.m_Start, x.m_End}),
                  std::vector<int>({y.m_Matched, y.m_Alt, y.m_Start, y.m_End}))
            << where << " element " << i;
        for (size_t k = 0; k < x.m_Items.size(); ++k)
            if (x.m_Items[k].list)
                ExpectSameResults(*x.m_Items[k].list, *y.m_Items[k].list, where);
    }
}

std::string RandomPattern(std::mt19937& rng, int depth = 0)
{
    static const std::string atoms[] = {"a", "b", "-", " ", "\\n", "\\r", "\\t", ".", "$", "^", "[ab]", "[^a]",
                                        "[^$]", "[$]", "[a-c]", "[^-]", "[ \\t]", "[]", "[^ \\t]", "\\c"};
    static const char* ops[] = {"", "", "", "*", "+", "?"};
    std::string p;
    for (int i = static_cast<int>(rng() % 6); i > 0; --i) {
        if (depth < 3 && rng() % 6 == 0) {
            p += "(";
            for (int a = 1 + static_cast<int>(rng() % 3); a > 0; --a)
                p += RandomPattern(rng, depth + 1) + (a > 1 ? "|" : "");
            p += ")";
        } else {
            const std::string& atom = atoms[rng() % std::size(atoms)];
            p += atom + (atom == "\\c" ? "" : ops[rng() % std::size(ops)]);
        }
    }
    return p;
}

}  // namespace

// Random patterns and bytes on texts of line ends, blanks and dashes: one matcher per pattern for all its texts.
TEST(PatternRandom, ShortcutsGiveTheResultsOfThePlainScan)
{
    const char* readers[] = {"[ \t]*\\c[^-]+\\c-\\c[^ \t]+\\c[ \t]+\\c[0-1]+\\c", "<\\c(/|[^>])[^>]+\\c>",
                             "[ \t]*(SENSOR|DRIVE)[ \t]*:"};
    static const std::string alphabets[] = {"aab--  \t\n\rcb", "01--  \t<>/aSENSORDRIVE:x"};
    std::mt19937 rng(20240611);
    for (int i = 0; i < 3000; ++i) {
        std::string pattern;
        if (i < 30) {
            pattern = readers[i % 3];
        } else if (i % 5 == 0) {
            for (size_t n = rng() % 24; n > 0; --n)
                pattern += static_cast<char>(1 + rng() % 255);
        } else {
            pattern = RandomPattern(rng);
        }
        int noCase = static_cast<int>(rng() % 2);
        CMatch fast;
        CExpList plain;
        int consumed = 0;
        ASSERT_EQ(fast.Compile(pattern.c_str(), noCase), plain.Compile(pattern.c_str(), &consumed, noCase)) << pattern;
        for (int k = 0; k < (i < 30 ? 100 : 4); ++k) {
            std::string text;
            const std::string& alphabet = alphabets[i < 30 ? 1 : 0];
            for (size_t n = rng() % 41; n > 0; --n)
                text += i % 5 == 0 && i >= 30 ? static_cast<char>(1 + rng() % 255) : alphabet[rng() % alphabet.size()];
            if (plain.m_Elements.empty()) {
                EXPECT_THROW(fast.Match(text.c_str()), std::invalid_argument);
                continue;
            }
            std::string where = "pattern '" + pattern + "' text '" + text + "'";
            ASSERT_EQ(fast.Match(text.c_str()), PlainMatch(plain, text.c_str())) << where;
            ExpectSameResults(fast.m_List, plain, where);
            if (HasFailure())
                return;
        }
    }
}

// A greedy repetition that runs to the end of a long line at every start position would make the
// search quadratic (hours for these texts); the results stay those of the plain scan.
TEST(PatternRandom, LongLinesStayLinear)
{
    const size_t n = 1024 * 1024;
    CMatch pin;
    pin.Compile("[ \t]*\\c[^-]+\\c-\\c[^ \t]+\\c[ \t]+\\c[0-1]+\\c", 0);
    std::string noDash(n, 'x');
    EXPECT_EQ(pin.Match(noDash.c_str()), 0);
    // The last attempt takes the final "x" and fails at the end.
    EXPECT_EQ(pin.GetMarkPos(1), static_cast<int>(n) - 1);
    EXPECT_EQ(pin.GetMarkPos(2), static_cast<int>(n));
    EXPECT_EQ(pin.GetMarkPos(3), -1);
    std::string found = std::string(n, 'a') + "-P 01";
    ASSERT_EQ(pin.Match(found.c_str()), 1);
    EXPECT_EQ(pin.GetCapture(5, found.c_str(), 6), "01");

    CMatch lines;
    lines.Compile("$*x", 0);
    std::string breaks;
    for (size_t i = 0; i < n / 2; ++i)
        breaks += (i % 3 == 0) ? "\r\n" : "\n";
    EXPECT_EQ(lines.Match(breaks.c_str()), 0);
    EXPECT_EQ(lines.Match((breaks + "x").c_str()), 1);
    EXPECT_EQ(lines.m_List.m_Elements[0].m_Start, 0);
}
