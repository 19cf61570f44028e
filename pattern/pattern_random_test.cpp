// Bounded random tests: CMatch::Match (with its shortcuts) against the plain leftmost scan built
// from the public list operations, and random bytes that must never crash or hang.
#include "pattern.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The plain scan, step by step as the matcher is defined: reset everything, try each start.
int PlainMatch(CExpList& list, const char* text)
{
    int end = 0;
    if (list.m_Elements.empty())
        throw std::invalid_argument("empty");
    if (list.m_Elements.front().m_Bol) {
        list.ResetPositions();
        list.ResetResults();
        return list.MatchAt(text, 0, &end) ? 1 : 0;
    }
    if (text[0] == '\0') {
        // No attempt: nothing of an earlier text is left to be read.
        list.ResetPositions();
        list.ResetResults();
        return 0;
    }
    for (int s = 0; text[s] != '\0'; ++s) {
        list.ResetPositions();
        list.ResetResults();
        if (list.MatchAt(text, s, &end))
            return 1;
    }
    return 0;
}

// Compares the results stored in two trees compiled from the same pattern.
void ExpectSameResults(const CExpList& a, const CExpList& b, const std::string& where)
{
    ASSERT_EQ(a.m_Elements.size(), b.m_Elements.size()) << where;
    for (size_t i = 0; i < a.m_Elements.size(); ++i) {
        const CObjExp& x = a.m_Elements[i];
        const CObjExp& y = b.m_Elements[i];
        EXPECT_EQ(x.m_Matched, y.m_Matched) << where << " element " << i;
        EXPECT_EQ(x.m_Alt, y.m_Alt) << where << " element " << i;
        EXPECT_EQ(x.m_Start, y.m_Start) << where << " element " << i;
        EXPECT_EQ(x.m_End, y.m_End) << where << " element " << i;
        ASSERT_EQ(x.m_Items.size(), y.m_Items.size()) << where;
        for (size_t k = 0; k < x.m_Items.size(); ++k) {
            ASSERT_EQ(x.m_Items[k].list == nullptr, y.m_Items[k].list == nullptr) << where;
            if (x.m_Items[k].list)
                ExpectSameResults(*x.m_Items[k].list, *y.m_Items[k].list, where);
        }
    }
}

std::string RandomPattern(std::mt19937& rng, int depth = 0)
{
    static const char* atoms[] = {"a", "b", "-", " ", "\\n", "\\r", "\\t", ".", "$", "^", "[ab]", "[^a]",
                                  "[^$]", "[$]", "[a-c]", "[^-]", "[ \\t]", "[]", "[^ \\t]", "\\c"};
    static const char* ops[] = {"", "", "", "*", "+", "?"};
    std::string p;
    int n = static_cast<int>(rng() % 6);
    for (int i = 0; i < n; ++i) {
        if (depth < 3 && rng() % 6 == 0) {
            p += "(";
            int alts = 1 + static_cast<int>(rng() % 3);
            for (int a = 0; a < alts; ++a) {
                if (a > 0)
                    p += "|";
                p += RandomPattern(rng, depth + 1);
            }
            p += ")";
        } else {
            p += atoms[rng() % (sizeof atoms / sizeof atoms[0])];
            if (p.back() != 'c' || p.size() < 2 || p[p.size() - 2] != '\\')
                p += ops[rng() % (sizeof ops / sizeof ops[0])];
        }
    }
    return p;
}

std::string RandomText(std::mt19937& rng, size_t maxLength)
{
    static const char alphabet[] = "aab--  \t\n\rcb";
    std::string t;
    size_t n = rng() % (maxLength + 1);
    for (size_t i = 0; i < n; ++i)
        t += alphabet[rng() % (sizeof alphabet - 1)];
    return t;
}

void CheckAgainstPlainScan(const std::string& pattern, int noCase, const std::vector<std::string>& texts)
{
    CMatch fast;
    CExpList plain;
    int consumed = 0;
    int r1 = fast.Compile(pattern.c_str(), noCase);
    int r2 = plain.Compile(pattern.c_str(), &consumed, noCase);
    ASSERT_EQ(r1, r2) << pattern;
    if (plain.m_Elements.empty())
        return;
    // One matcher for every text, so a shortcut kept from an earlier text would show.
    for (const std::string& text : texts) {
        std::string where = "pattern '" + pattern + "' text '" + text + "'";
        int found = fast.Match(text.c_str());
        int expected = PlainMatch(plain, text.c_str());
        ASSERT_EQ(found != 0, expected != 0) << where;
        ExpectSameResults(fast.m_List, plain, where);
    }
}

}  // namespace

TEST(PatternRandom, ShortcutsGiveTheResultsOfThePlainScan)
{
    std::mt19937 rng(20240611);
    for (int i = 0; i < 3000; ++i) {
        std::string pattern = RandomPattern(rng);
        std::vector<std::string> texts;
        for (int k = 0; k < 4; ++k)
            texts.push_back(RandomText(rng, 40));
        CheckAgainstPlainScan(pattern, static_cast<int>(rng() % 2), texts);
        if (HasFatalFailure())
            return;
    }
}

TEST(PatternRandom, ReaderPatternsAgreeWithThePlainScan)
{
    const char* patterns[] = {
        "[ \t]*\\c[^-]+\\c-\\c[^ \t]+\\c[ \t]+\\c[0-1]+\\c",
        "<\\c(/|[^>])[^>]+\\c>",
        "[ \t]*(SENSOR|DRIVE)[ \t]*:",
    };
    std::mt19937 rng(77);
    static const char alphabet[] = "01--  \t<>/aSENSORDRIVE:x";
    for (const char* pattern : patterns) {
        std::vector<std::string> texts;
        for (int k = 0; k < 500; ++k) {
            std::string t;
            size_t n = rng() % 30;
            for (size_t i = 0; i < n; ++i)
                t += alphabet[rng() % (sizeof alphabet - 1)];
            texts.push_back(t);
        }
        CheckAgainstPlainScan(pattern, 0, texts);
        CheckAgainstPlainScan(pattern, 1, texts);
    }
}

TEST(PatternRandom, RandomBytesNeverCrash)
{
    std::mt19937 rng(4242);
    static const char meta[] = "\\c[]()|*+?^$.-ab\t\n\r";
    int compiled = 0;
    for (int i = 0; i < 4000; ++i) {
        std::string pattern;
        size_t n = rng() % 24;
        for (size_t k = 0; k < n; ++k) {
            char c = (rng() % 3 == 0) ? static_cast<char>(1 + rng() % 255) : meta[rng() % (sizeof meta - 1)];
            pattern += c;
        }
        std::string text;
        size_t tn = rng() % 64;
        for (size_t k = 0; k < tn; ++k)
            text += static_cast<char>(1 + rng() % 255);
        CMatch m;
        m.Compile(pattern.c_str(), static_cast<int>(rng() % 2));
        if (m.m_List.m_Elements.empty()) {
            EXPECT_THROW(m.Match(text.c_str()), std::invalid_argument);
            continue;
        }
        ++compiled;
        int found = m.Match(text.c_str());
        EXPECT_TRUE(found == 0 || found == 1);
        for (int k = 1; k <= 9; ++k) {
            int pos = m.GetMarkPos(k);
            EXPECT_GE(pos, -1);
            EXPECT_LE(pos, static_cast<int>(text.size()));
            EXPECT_GE(m.GetAlternative(k), -1);
            EXPECT_LE(m.GetCapture(1, text.c_str(), k).size(), text.size());
        }
    }
    EXPECT_GT(compiled, 1000);  // the generator must exercise matching, not just compiling
}

// A greedy repetition that runs to the end of a long line at every start position used to make
// the search quadratic (hours for these texts); the results must stay those of the plain scan.
TEST(PatternRandom, LongLinesStayLinear)
{
    const size_t n = 1024 * 1024;
    CMatch pin;
    pin.Compile("[ \t]*\\c[^-]+\\c-\\c[^ \t]+\\c[ \t]+\\c[0-1]+\\c", 0);

    std::string noDash(n, 'x');
    EXPECT_EQ(pin.Match(noDash.c_str()), 0);
    // The last attempt takes the final "x" and fails at "-".
    EXPECT_EQ(pin.GetMarkPos(1), static_cast<int>(n) - 1);
    EXPECT_EQ(pin.GetMarkPos(2), static_cast<int>(n));
    for (int k = 3; k <= 6; ++k)
        EXPECT_EQ(pin.GetMarkPos(k), -1);

    std::string blanks(n, ' ');
    EXPECT_EQ(pin.Match(blanks.c_str()), 0);

    std::string noBits = std::string(n, 'a') + "-" + std::string(n, 'b');
    EXPECT_EQ(pin.Match(noBits.c_str()), 0);

    std::string found = std::string(n, 'a') + "-P 01";
    ASSERT_EQ(pin.Match(found.c_str()), 1);
    EXPECT_EQ(pin.GetMarkPos(2), static_cast<int>(n));
    EXPECT_EQ(pin.GetCapture(3, found.c_str(), 4), "P");
    EXPECT_EQ(pin.GetCapture(5, found.c_str(), 6), "01");

    CMatch lines;
    lines.Compile("$*x", 0);
    std::string breaks;
    for (size_t i = 0; i < n / 2; ++i)
        breaks += (i % 3 == 0) ? "\r\n" : "\n";
    EXPECT_EQ(lines.Match(breaks.c_str()), 0);
    breaks += "x";
    EXPECT_EQ(lines.Match(breaks.c_str()), 1);
    EXPECT_EQ(lines.m_List.m_Elements[0].m_Start, 0);

    CMatch any;
    any.Compile("\\c.*\\cz", 0);
    EXPECT_EQ(any.Match(noDash.c_str()), 0);
}
