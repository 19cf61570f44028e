#include "pattern.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The compiled form as text: "[...]" a character element with its items ("^" first when negated,
// "$" last for a line-end flag), "." any character, "^" line start, "{}" an element with no type,
// "(a|b)" a group; then the repeat operator; "\c" before or after an element for its marks.
// Bytes outside printable ASCII, and the backslash, as \xNN.
std::string Dump(const CExpList& list)
{
    std::string s;
    for (const CObjExp& e : list.m_Elements) {
        if (e.m_MarkBefore)
            s += "\\c";
        if (e.m_Type == OBJ_GROUP) {
            s += "(";
            for (size_t i = 0; i < e.m_Items.size(); ++i)
                s += (i ? "|" : "") + Dump(*e.m_Items[i].list);
            s += ")";
        } else if (e.m_Type == OBJ_NONE) {
            s += "{}";
        } else if (e.m_Bol) {
            s += "^";
        } else if (e.m_Any) {
            s += ".";
        } else {
            s += e.m_Not ? "[^" : "[";
            for (const _OBJDATA& item : e.m_Items) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", item.ch);
                s += item.ch < 0x20 || item.ch > 0x7E || item.ch == '\\' ? std::string(hex) : std::string(1, item.ch);
            }
            s += e.m_Eol ? "$]" : "]";
        }
        static const char* const kRepeat[] = {"", "+", "*", "?"};
        s += kRepeat[e.m_Repeat];
        if (e.m_MarkAfter)
            s += "\\c";
    }
    return s;
}

// Every element of the tree, alternatives included, has m_NoCase == value.
bool AllNoCase(const CExpList& list, int value)
{
    for (const CObjExp& e : list.m_Elements) {
        if (e.m_NoCase != value)
            return false;
        for (const _OBJDATA& item : e.m_Items)
            if (item.list && !AllNoCase(*item.list, value))
                return false;
    }
    return true;
}

// What a match tells: "0" or "1", then the marks 1..9 and the alternatives of groups 1..9 up to
// the last one that is not -1 ("1 m:2,4 g:0").
std::string Outcome(CMatch& m, const char* text)
{
    std::string s = m.Match(text) ? "1" : "0";
    EXPECT_EQ(m.GetMarkPos(0), -1);
    EXPECT_EQ(m.GetAlternative(0), -1);
    for (auto [label, get] : {std::pair{" m:", &CMatch::GetMarkPos}, std::pair{" g:", &CMatch::GetAlternative}}) {
        std::vector<int> v;
        for (int n = 1; n <= 9; ++n)
            v.push_back((m.*get)(n));
        while (!v.empty() && v.back() == -1)
            v.pop_back();
        for (size_t i = 0; i < v.size(); ++i)
            s += (i ? "," : label) + std::to_string(v[i]);
    }
    return s;
}

}  // namespace

TEST(PatternCompile, CompiledForm)
{
    struct {
        const char* pattern;
        int noCase;
        int result;
        int consumed;  // -1: not checked
        const char* form;
    } cases[] = {
        // The readers' patterns.
        {"port[\\(]\\c", 1, 1, 10, "[p][o][r][t][(]\\c"},
        {"<\\c(/|[^>])[^>]+\\c>", 0, 1, -1, "[<]\\c([/]|[^>])[^>]+\\c[>]"},
        {"[ \t]*(SENSOR|DRIVE)[ \t]*:", 1, 1, -1, "[ \\x09]*([S][E][N][S][O][R]|[D][R][I][V][E])[ \\x09]*[:]"},
        // Sets and ranges: a range starts after the item before "-" and chains on from the last
        // item added; an escaped bound is decoded; the start wraps from 255 to 0; "$" in a set
        // is the line-end flag; an empty set has no type until an operator makes it a set.
        {"[0-9]", 0, 1, -1, "[0123456789]"},
        {"[-a][^-][9-0][a-c-e]", 0, 1, -1, "[-a][^-][9][abcde]"},
        {"[A-\\68][\\c^]", 0, 1, -1, "[ABCD][c^]"},
        {"[\\255-\\2]", 0, 1, -1, "[\\xFF\\x00\\x01\\x02]"},
        {"[a-]x]", 0, 1, -1, "[ax]"},
        {"[^$][][^][]+", 0, 1, -1, "[^$]{}{}[]+"},
        // Escapes: at most three decimal digits, low 8 bits kept; any other character is itself.
        {"\\t\\n\\r\\b\\f\\65\\(\\\\\\[\\.\\q", 0, 1, -1, "[\\x09][\\x0A][\\x0D][\\x08][\\x0C][A][(][\\x5C][[][.][q]"},
        {"\\0659\\300", 0, 1, -1, "[A][9][,]"},
        // Marks: before the first element of a list, after the previous one; twice is once.
        {"\\c[0-9]a\\c\\cb", 0, 1, -1, "\\c[0123456789][a]\\c[b]"},
        {"(\\cab|x)", 0, 1, -1, "(\\c[a][b]|[x])"},
        // Operators: the last one counts; "^", "$" and "." elements.
        {"a+*b?^$.", 0, 1, -1, "[a]*[b]?^[$]."},
        // "|" and ")" end the outermost list.
        {"ab|cd", 0, 1, 2, "[a][b]"},
        {"ab)cd", 0, 1, 2, "[a][b]"},
        // Unclosed sets and groups fail; what came before stays.
        {"x[abc", 0, 0, 5, "[x]"},
        {"(ab", 0, 0, -1, "([a][b])"},
        {"(a|[bc)", 0, 0, -1, "([a]|)"},
        // Outside the language: an operator with nothing before it in its list, a lone
        // backslash at the end (also in a set or as a range's bound), a range cut off by the end.
        {"*a", 0, 0, 0, ""},
        {"(+a)", 0, 0, -1, "()"},
        {"(a|?b)", 0, 0, -1, "([a]|)"},
        {"\\c*a", 0, 0, -1, ""},
        {"ab\\", 0, 0, 3, "[a][b]"},
        {"[a\\", 0, 0, -1, ""},
        {"[a-\\", 0, 0, -1, ""},
        {"[a-", 0, 0, 3, ""},
        // The same characters where they are well formed.
        {"a*\\\\[a-]]", 0, 1, -1, "[a]*[\\x5C][a]"},
    };
    for (const auto& c : cases) {
        CExpList list;
        int consumed = -2;
        EXPECT_EQ(list.Compile(c.pattern, &consumed, c.noCase), c.result) << c.pattern;
        if (c.consumed >= 0) {
            EXPECT_EQ(consumed, c.consumed) << c.pattern;
        }
        EXPECT_EQ(Dump(list), c.form) << c.pattern;
        EXPECT_TRUE(AllNoCase(list, c.noCase)) << c.pattern;
    }
}

TEST(PatternCompile, NoCaseNestingRecompileAndEscapePositions)
{
    CExpList list;
    int consumed = 0;
    ASSERT_EQ(list.Compile("a(b|(c[de]|\\c)f)g", &consumed, 1), 1);
    EXPECT_TRUE(AllNoCase(list, 1));
    // Compiling again replaces the tree.
    ASSERT_EQ(list.Compile("", &consumed, 0), 1);
    EXPECT_TRUE(list.m_Elements.empty());

    // Group nesting is bounded, far below what would overflow the stack.
    EXPECT_EQ(list.Compile((std::string(256, '(') + "a" + std::string(256, ')')).c_str(), &consumed, 0), 1);
    EXPECT_EQ(list.Compile((std::string(257, '(') + "a" + std::string(257, ')')).c_str(), &consumed, 0), 0);
    EXPECT_EQ(list.Compile(std::string(2000000, '(').c_str(), &consumed, 0), 0);

    // DecodeEscape leaves the position on the escape's last character.
    for (auto [text, value, end] : {std::tuple{"123x", 123, 2}, {"7x", 7, 0}, {"t", 9, 0}}) {
        int pos = 0;
        EXPECT_EQ(DecodeEscape(text, &pos), value) << text;
        EXPECT_EQ(pos, end) << text;
    }
}

TEST(PatternMatch, Outcomes)
{
    struct {
        const char* pattern;
        int noCase;
        std::vector<std::pair<const char*, const char*>> texts;  // matched in turn by one CMatch
    } cases[] = {
        {"\\c[0-9]+\\c", 0, {{"ab12c", "1 m:2,4"}}},
        // No backtracking: a group takes its first matching alternative, a repetition all it can.
        {"(a|ab)c", 0, {{"abc", "0"}}},
        {"(ab|a)c", 0, {{"abc", "1 g:0"}, {"ac", "1 g:1"}}},
        {"[a-z]+z", 0, {{"abz", "0"}}},
        {"a*a", 0, {{"aaa", "0"}}},
        {"[^-]+-", 0, {{"abc-", "1"}}},
        {"<\\c(/|[^>])[^>]+\\c>", 0, {{"xx<AB>yy", "1 m:3,5 g:1"}, {"</AB>", "1 m:1,4 g:0"}, {"<A>", "0"}, {"</>", "0"}}},
        {"[ \t]*(SENSOR|DRIVE)[ \t]*:", 1, {{"  drive :", "1 g:1"}, {"Sensor:", "1 g:0"}}},
        {"[ \t]*(SENSOR|DRIVE)[ \t]*:", 0, {{"  drive :", "0"}}},
        // Line ends: CR LF, LF, CR or the end of the text.
        {"x$\\c", 0, {{"x\r\n", "1 m:3"}, {"x\n", "1 m:2"}, {"x\r", "1 m:2"}, {"x", "1 m:1"}, {"xy", "0"}}},
        // Only a leading "^" anchors; elsewhere it tests for a line start (after LF or CR).
        {"^ab", 0, {{"abc", "1"}, {"zz\nab", "0"}}},
        {"\n^ab", 0, {{"zz\nab", "1"}}},
        {"x\r^y", 0, {{"x\ry", "1"}}},
        {"a^b", 0, {{"ab", "0"}}},
        // An empty text gets no attempt, except for a leading "^".
        {"a*", 0, {{"", "0"}}},
        {"^", 0, {{"", "1"}}},
        {"^x*", 0, {{"", "1"}}},
        {"^x", 0, {{"", "0"}}},
        // Nothing matches at the end of the text; "[^$]" is a character that ends no line.
        {"a[^>]", 0, {{"a", "0"}}},
        {"a.", 0, {{"a", "0"}}},
        {"[^$]", 0, {{"\r\n", "0"}, {"\n\r", "0"}}},
        {"\\c[^$]", 0, {{"\r\nz", "1 m:2"}}},
        // Letter case folds for ASCII letters only.
        {"[a-c]", 1, {{"B", "1"}}},
        {"[a-c]", 0, {{"B", "0"}}},
        {"[^a-c]", 0, {{"B", "1"}}},
        {"[^a-c]", 1, {{"B", "0"}}},
        {"port", 1, {{"PORT", "1"}}},
        {"\\[", 1, {{"{", "0"}}},
        {"[\\[]", 1, {{"{", "0"}}},
        // Mark numbering: an element's own marks, then those inside its alternatives; groups are
        // numbered by their opening parentheses, and a group not entered answers -1.
        {"a\\c(b\\cc|x)\\cd", 0, {{"abcd", "1 m:1,3,2 g:0"}}},
        {"((a)|b)(c|(d))", 0, {{"ad", "1 g:0,0,1,0"}, {"bc", "1 g:1,-1,0"}}},
        // An abandoned alternative keeps what it recorded; an empty alternative matches nothing;
        // a mark with no element after it in its list is lost.
        {"(a\\cx|ab)", 0, {{"ab", "1 m:1 g:1"}}},
        {"x(a|)\\cy", 0, {{"xy", "1 m:1 g:1"}}},
        {"x(\\c)y", 0, {{"xy", "1 g:0"}}},
        // Repeats: "?" that matched nothing, a failed "+".
        {"a\\cb?\\cc", 0, {{"ac", "1 m:1,1"}}},
        {"x\\c[0-9]+\\c", 0, {{"xa", "0"}}},
        // A failed match leaves the results of the attempt at the last start position, and an
        // empty text (no attempt) leaves nothing of the text before it.
        {"port[\\(]\\c", 1, {{"port (", "0"}}},
        {"is[ \t]+\\c[0-9]+\\c", 0, {{"is 12x is", "1 m:3,5"}, {"is x", "0"}, {"is 12345", "1 m:3,8"}, {"", "0"}}},
        // A partly compiled pattern matches what was compiled.
        {"ab[cd", 0, {{"xxab", "1"}}},
        {"x(ab", 0, {{"xab", "1 g:0"}}},
        // Empty sets: none matches, with "*" nothing is needed, "[^]+" is any character.
        {"a[]", 0, {{"ab", "0"}}},
        {"a[^]", 0, {{"ab", "0"}}},
        {"[]*x", 0, {{"x", "1"}}},
        {"a[^]+", 0, {{"ab", "1"}}},
        // A repeated "^" stops after its test instead of looping; a repeated group becomes a set
        // with no members whose alternatives are no longer walked.
        {"^*a", 0, {{"a", "1"}}},
        {"x\n^+\\cy", 0, {{"x\ny", "1 m:2"}}},
        {"b^*", 0, {{"ab", "1"}}},
        {"(ab)+", 0, {{"abab", "0"}}},
        {"x(a\\cb)*\\cy", 0, {{"xy", "1 m:1"}}},
    };
    for (const auto& c : cases) {
        CMatch m;
        m.Compile(c.pattern, c.noCase);
        for (const auto& [text, outcome] : c.texts)
            EXPECT_EQ(Outcome(m, text), outcome) << "pattern '" << c.pattern << "' text '" << text << "'";
    }
}

TEST(PatternMatch, ElementResultsCapturesAndEmptyPatterns)
{
    // A "?" that matched nothing still records where it was tried; a repetition ends at the end of
    // the text with its last test successful, or at a failed test.
    CMatch opt;
    opt.Compile("a\\cb?\\cc", 0);
    ASSERT_EQ(opt.Match("ac"), 1);
    const CObjExp& b = opt.m_List.m_Elements[1];
    EXPECT_EQ(std::vector<int>({b.m_Matched, b.m_Start, b.m_End}), std::vector<int>({0, 1, 1}));
    for (auto [pattern, text, end, matched] : {std::tuple{"[^>]*", "abc", 3, 1}, {"[a]*", "aab", 2, 0}}) {
        CMatch m;
        m.Compile(pattern, 0);
        ASSERT_EQ(m.Match(text), 1);
        EXPECT_EQ(m.m_List.m_Elements[0].m_End, end) << pattern;
        EXPECT_EQ(m.m_List.m_Elements[0].m_Matched, matched) << pattern;
    }

    CMatch m;
    m.Compile("\\ca\\cb\\c", 0);
    const char* text = "ab";
    ASSERT_EQ(m.Match(text), 1);
    EXPECT_EQ(m.GetCapture(1, text, 3), "ab");
    EXPECT_EQ(m.GetCapture(1, text, 2), "a");
    EXPECT_EQ(m.GetCapture(3, text, 1), "");  // second mark before the first
    EXPECT_EQ(m.GetCapture(1, text, 9), "");  // no such mark
    EXPECT_EQ(m.GetCapture(1, "a", 3), "a");  // a shorter text is not read past its end
    EXPECT_EQ(m.GetCapture(1, nullptr, 3), "");

    // Nothing compiled (also nothing before a first "|") cannot be matched.
    CMatch empty;
    EXPECT_THROW(empty.Match("abc"), std::invalid_argument);
    EXPECT_EQ(empty.Compile("|x", 0), 1);
    EXPECT_THROW(empty.Match("abc"), std::invalid_argument);
}
