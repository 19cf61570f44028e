#include "pattern.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

// The characters of an OBJ_CHARS element's items, as a string.
std::string Items(const CObjExp& e)
{
    std::string s;
    for (const _OBJDATA& item : e.m_Items)
        s += static_cast<char>(item.ch);
    return s;
}

bool IsLiteral(const CObjExp& e, char c)
{
    return e.m_Type == OBJ_CHARS && e.m_Items.size() == 1 && e.m_Items[0].ch == static_cast<unsigned char>(c) &&
           !e.m_Not && !e.m_Any && !e.m_Eol && !e.m_Bol && e.m_Repeat == REP_ONE;
}

// Every element of the tree, alternatives included, has m_NoCase == value.
bool AllNoCase(const CExpList& list, int value)
{
    for (const CObjExp& e : list.m_Elements) {
        if (e.m_NoCase != value)
            return false;
        for (const _OBJDATA& item : e.m_Items) {
            if (item.list && !AllNoCase(*item.list, value))
                return false;
        }
    }
    return true;
}

struct Compiled {
    CExpList list;
    int result = -1;
    int consumed = -1;
    explicit Compiled(const char* pattern, int noCase = 0) { result = list.Compile(pattern, &consumed, noCase); }
};

}  // namespace

// ---- compiling --------------------------------------------------------------------------------

TEST(PatternCompile, PortPatternHasFourLiteralsAndAMarkedSet)
{
    Compiled c("port[\\(]\\c");
    ASSERT_EQ(c.result, 1);
    ASSERT_EQ(c.list.m_Elements.size(), 5u);
    EXPECT_TRUE(IsLiteral(c.list.m_Elements[0], 'p'));
    EXPECT_TRUE(IsLiteral(c.list.m_Elements[1], 'o'));
    EXPECT_TRUE(IsLiteral(c.list.m_Elements[2], 'r'));
    EXPECT_TRUE(IsLiteral(c.list.m_Elements[3], 't'));
    const CObjExp& set = c.list.m_Elements[4];
    EXPECT_EQ(set.m_Type, OBJ_CHARS);
    EXPECT_EQ(Items(set), "(");
    EXPECT_EQ(set.m_MarkAfter, 1);
    EXPECT_EQ(set.m_MarkBefore, 0);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(c.list.m_Elements[i].m_MarkAfter, 0);
}

TEST(PatternCompile, TagPatternStructure)
{
    Compiled c("<\\c(/|[^>])[^>]+\\c>");
    ASSERT_EQ(c.result, 1);
    ASSERT_EQ(c.list.m_Elements.size(), 4u);
    const CObjExp& lt = c.list.m_Elements[0];
    EXPECT_EQ(Items(lt), "<");
    EXPECT_EQ(lt.m_MarkAfter, 1);

    const CObjExp& group = c.list.m_Elements[1];
    EXPECT_EQ(group.m_Type, OBJ_GROUP);
    ASSERT_EQ(group.m_Items.size(), 2u);
    const CExpList& alt0 = *group.m_Items[0].list;
    const CExpList& alt1 = *group.m_Items[1].list;
    ASSERT_EQ(alt0.m_Elements.size(), 1u);
    EXPECT_TRUE(IsLiteral(alt0.m_Elements[0], '/'));
    ASSERT_EQ(alt1.m_Elements.size(), 1u);
    EXPECT_EQ(alt1.m_Elements[0].m_Not, 1);
    EXPECT_EQ(Items(alt1.m_Elements[0]), ">");

    const CObjExp& body = c.list.m_Elements[2];
    EXPECT_EQ(body.m_Not, 1);
    EXPECT_EQ(Items(body), ">");
    EXPECT_EQ(body.m_Repeat, REP_PLUS);
    EXPECT_EQ(body.m_MarkAfter, 1);
    EXPECT_TRUE(IsLiteral(c.list.m_Elements[3], '>'));
}

TEST(PatternCompile, SectionPatternStructure)
{
    Compiled c("[ \t]*(SENSOR|DRIVE)[ \t]*:", 1);
    ASSERT_EQ(c.result, 1);
    ASSERT_EQ(c.list.m_Elements.size(), 4u);
    for (int i : {0, 2}) {
        EXPECT_EQ(Items(c.list.m_Elements[i]), " \t");
        EXPECT_EQ(c.list.m_Elements[i].m_Repeat, REP_STAR);
    }
    const CObjExp& group = c.list.m_Elements[1];
    ASSERT_EQ(group.m_Type, OBJ_GROUP);
    ASSERT_EQ(group.m_Items.size(), 2u);
    std::string words[2];
    for (int a = 0; a < 2; ++a) {
        for (const CObjExp& e : group.m_Items[a].list->m_Elements) {
            ASSERT_EQ(e.m_Items.size(), 1u);
            words[a] += static_cast<char>(e.m_Items[0].ch);
        }
    }
    EXPECT_EQ(words[0], "SENSOR");
    EXPECT_EQ(words[1], "DRIVE");
    EXPECT_EQ(Items(c.list.m_Elements[3]), ":");
    EXPECT_TRUE(AllNoCase(c.list, 1));
}

TEST(PatternCompile, SetsAndRanges)
{
    EXPECT_EQ(Items(Compiled("[0-9]").list.m_Elements.at(0)), "0123456789");
    EXPECT_EQ(Items(Compiled("[0-1]").list.m_Elements.at(0)), "01");
    EXPECT_EQ(Items(Compiled("[-a]").list.m_Elements.at(0)), "-a");
    Compiled notDash("[^-]");
    EXPECT_EQ(notDash.list.m_Elements.at(0).m_Not, 1);
    EXPECT_EQ(Items(notDash.list.m_Elements.at(0)), "-");
    // A range starts after the item before "-": '[9-0]' gives only "9".
    EXPECT_EQ(Items(Compiled("[9-0]").list.m_Elements.at(0)), "9");
    // Ranges chain on from the last item added.
    EXPECT_EQ(Items(Compiled("[a-c-e]").list.m_Elements.at(0)), "abcde");
    // An escaped upper bound is decoded first: \68 is "D".
    EXPECT_EQ(Items(Compiled("[A-\\68]").list.m_Elements.at(0)), "ABCD");
    // Inside a set "\c" is the letter c and "^" after the first place is literal.
    EXPECT_EQ(Items(Compiled("[\\c^]").list.m_Elements.at(0)), "c^");
    // The range start wraps from 255 to 0.
    Compiled wrap("[\\255-\\2]");
    ASSERT_EQ(wrap.result, 1);
    EXPECT_EQ(Items(wrap.list.m_Elements.at(0)), std::string("\xFF\x00\x01\x02", 4));
}

TEST(PatternCompile, EmptySetsAndRangeEndingInBracket)
{
    for (const char* p : {"[]", "[^]"}) {
        Compiled c(p);
        ASSERT_EQ(c.result, 1) << p;
        ASSERT_EQ(c.list.m_Elements.size(), 1u) << p;
        EXPECT_EQ(c.list.m_Elements[0].m_Type, OBJ_NONE) << p;
        EXPECT_TRUE(c.list.m_Elements[0].m_Items.empty()) << p;
    }
    Compiled c("[a-]x]");
    ASSERT_EQ(c.result, 1);
    ASSERT_EQ(c.list.m_Elements.size(), 1u);
    EXPECT_EQ(Items(c.list.m_Elements[0]), "ax");
}

TEST(PatternCompile, DollarInsideSetIsALineEndFlag)
{
    Compiled c("[^$]");
    ASSERT_EQ(c.list.m_Elements.size(), 1u);
    const CObjExp& e = c.list.m_Elements[0];
    EXPECT_EQ(e.m_Type, OBJ_CHARS);
    EXPECT_EQ(e.m_Eol, 1);
    EXPECT_EQ(e.m_Not, 1);
    EXPECT_TRUE(e.m_Items.empty());
}

TEST(PatternCompile, Escapes)
{
    Compiled c("\\t\\n\\r\\b\\f\\65\\(\\\\\\[\\.\\q");
    ASSERT_EQ(c.result, 1);
    std::string all;
    for (const CObjExp& e : c.list.m_Elements) {
        ASSERT_EQ(e.m_Items.size(), 1u);
        EXPECT_EQ(e.m_Any, 0);
        all += static_cast<char>(e.m_Items[0].ch);
    }
    EXPECT_EQ(all, "\t\n\r\b\fA(\\[.q");

    // At most three digits: '\0659' is "A" then the literal "9"; values keep their low 8 bits.
    Compiled digits("\\0659\\300");
    ASSERT_EQ(digits.list.m_Elements.size(), 3u);
    EXPECT_EQ(digits.list.m_Elements[0].m_Items[0].ch, 'A');
    EXPECT_EQ(digits.list.m_Elements[1].m_Items[0].ch, '9');
    EXPECT_EQ(digits.list.m_Elements[2].m_Items[0].ch, 300 & 0xFF);

    // DecodeEscape leaves the position on the escape's last character.
    int pos = 0;
    EXPECT_EQ(DecodeEscape("123x", &pos), 123);
    EXPECT_EQ(pos, 2);
    pos = 0;
    EXPECT_EQ(DecodeEscape("7x", &pos), 7);
    EXPECT_EQ(pos, 0);
    pos = 0;
    EXPECT_EQ(DecodeEscape("t", &pos), 9);
    EXPECT_EQ(pos, 0);
}

TEST(PatternCompile, MarksAtTheStartAndRepeatedMarks)
{
    Compiled before("\\c[0-9]");
    ASSERT_EQ(before.list.m_Elements.size(), 1u);
    EXPECT_EQ(before.list.m_Elements[0].m_MarkBefore, 1);
    EXPECT_EQ(before.list.m_Elements[0].m_MarkAfter, 0);

    Compiled twice("a\\c\\cb");
    ASSERT_EQ(twice.list.m_Elements.size(), 2u);
    EXPECT_EQ(twice.list.m_Elements[0].m_MarkAfter, 1);
    EXPECT_EQ(twice.list.m_Elements[1].m_MarkBefore, 0);
    EXPECT_EQ(twice.list.m_Elements[1].m_MarkAfter, 0);

    // A mark at the start of an alternative goes to that alternative's first element.
    Compiled inGroup("(\\cab|x)");
    const CExpList& alt0 = *inGroup.list.m_Elements.at(0).m_Items.at(0).list;
    EXPECT_EQ(alt0.m_Elements.at(0).m_MarkBefore, 1);
}

TEST(PatternCompile, BarAndParenthesisEndTheOutermostList)
{
    for (const char* p : {"ab|cd", "ab)cd"}) {
        Compiled c(p);
        EXPECT_EQ(c.result, 1) << p;
        EXPECT_EQ(c.consumed, 2) << p;
        ASSERT_EQ(c.list.m_Elements.size(), 2u) << p;
        EXPECT_TRUE(IsLiteral(c.list.m_Elements[0], 'a'));
        EXPECT_TRUE(IsLiteral(c.list.m_Elements[1], 'b'));
    }
}

TEST(PatternCompile, UnclosedSetAndGroup)
{
    Compiled set("[abc");
    EXPECT_EQ(set.result, 0);
    EXPECT_EQ(set.consumed, 4);
    EXPECT_TRUE(set.list.m_Elements.empty());

    Compiled afterLiteral("x[abc");
    EXPECT_EQ(afterLiteral.result, 0);
    EXPECT_EQ(afterLiteral.consumed, 5);
    ASSERT_EQ(afterLiteral.list.m_Elements.size(), 1u);  // what came before stays

    Compiled group("(ab");
    EXPECT_EQ(group.result, 0);
    ASSERT_EQ(group.list.m_Elements.size(), 1u);
    const CObjExp& g = group.list.m_Elements[0];
    EXPECT_EQ(g.m_Type, OBJ_GROUP);
    ASSERT_EQ(g.m_Items.size(), 1u);
    ASSERT_EQ(g.m_Items[0].list->m_Elements.size(), 2u);
    EXPECT_TRUE(IsLiteral(g.m_Items[0].list->m_Elements[0], 'a'));
    EXPECT_TRUE(IsLiteral(g.m_Items[0].list->m_Elements[1], 'b'));

    // A failure inside a group makes the whole pattern fail.
    EXPECT_EQ(Compiled("(a|[bc)").result, 0);
}

TEST(PatternCompile, RepeatOperators)
{
    Compiled last("a+*");
    ASSERT_EQ(last.list.m_Elements.size(), 1u);
    EXPECT_EQ(last.list.m_Elements[0].m_Repeat, REP_STAR);
    Compiled opt("ab?");
    ASSERT_EQ(opt.list.m_Elements.size(), 2u);
    EXPECT_EQ(opt.list.m_Elements[0].m_Repeat, REP_ONE);
    EXPECT_EQ(opt.list.m_Elements[1].m_Repeat, REP_OPT);
    // An operator makes its element a character element, even an empty set.
    Compiled none("[]+");
    EXPECT_EQ(none.list.m_Elements.at(0).m_Type, OBJ_CHARS);
    EXPECT_EQ(none.list.m_Elements.at(0).m_Repeat, REP_PLUS);
}

TEST(PatternCompile, PatternsOutsideTheLanguageAreRejected)
{
    // Nothing before the operator in its list.
    EXPECT_EQ(Compiled("*a").result, 0);
    EXPECT_EQ(Compiled("+").result, 0);
    EXPECT_EQ(Compiled("(+a)").result, 0);
    EXPECT_EQ(Compiled("(a|?b)").result, 0);
    EXPECT_EQ(Compiled("\\c*a").result, 0);
    // A lone backslash at the end, outside or inside a set, or as a range's bound.
    Compiled lone("ab\\");
    EXPECT_EQ(lone.result, 0);
    EXPECT_EQ(lone.consumed, 3);
    EXPECT_EQ(Compiled("[a\\").result, 0);
    EXPECT_EQ(Compiled("[a-\\").result, 0);
    // A range cut off by the end.
    Compiled cut("[a-");
    EXPECT_EQ(cut.result, 0);
    EXPECT_EQ(cut.consumed, 3);
    EXPECT_TRUE(cut.list.m_Elements.empty());
    // The same characters where they are well formed still compile.
    EXPECT_EQ(Compiled("a*").result, 1);
    EXPECT_EQ(Compiled("\\\\").result, 1);
    EXPECT_EQ(Compiled("[a-]]").result, 1);
}

TEST(PatternCompile, NoCaseReachesEveryElement)
{
    Compiled c("a(b|(c[de]|\\c)f)g", 1);
    ASSERT_EQ(c.result, 1);
    EXPECT_TRUE(AllNoCase(c.list, 1));
    Compiled exact("a(b|(c[de]|\\c)f)g", 0);
    EXPECT_TRUE(AllNoCase(exact.list, 0));
}

TEST(PatternCompile, GroupNestingIsBounded)
{
    std::string ok = std::string(256, '(') + "a" + std::string(256, ')');
    EXPECT_EQ(Compiled(ok.c_str()).result, 1);
    std::string deep = std::string(257, '(') + "a" + std::string(257, ')');
    EXPECT_EQ(Compiled(deep.c_str()).result, 0);
    // Far deeper than any stack would take without the bound.
    std::string hostile(2000000, '(');
    EXPECT_EQ(Compiled(hostile.c_str()).result, 0);
}

TEST(PatternCompile, CompilingAgainReplacesTheTree)
{
    CExpList list;
    int consumed = 0;
    ASSERT_EQ(list.Compile("(a|b)(c|d)", &consumed, 0), 1);
    EXPECT_EQ(list.m_Elements.size(), 2u);
    ASSERT_EQ(list.Compile("", &consumed, 0), 1);
    EXPECT_EQ(consumed, 0);
    EXPECT_TRUE(list.m_Elements.empty());
    ASSERT_EQ(list.Compile("xyz", &consumed, 0), 1);
    EXPECT_EQ(consumed, 3);
    list.Clear();
    EXPECT_TRUE(list.m_Elements.empty());
}

TEST(PatternCompile, MovingAGroupElementHandsItsAlternativesOver)
{
    Compiled c("(ab|c)");
    CObjExp moved = std::move(c.list.m_Elements.at(0));
    ASSERT_EQ(moved.m_Items.size(), 2u);
    ASSERT_NE(moved.m_Items[0].list, nullptr);
    EXPECT_EQ(moved.m_Items[0].list->m_Elements.size(), 2u);
    // The source no longer owns them, so nothing is freed twice.
    EXPECT_TRUE(c.list.m_Elements.at(0).m_Items.empty());
}

// ---- matching ---------------------------------------------------------------------------------

namespace {

struct M {
    CMatch m;
    explicit M(const char* pattern, int noCase = 0) { m.Compile(pattern, noCase); }
};

}  // namespace

TEST(PatternMatch, DigitsAndTheirCapture)
{
    M digits("[0-9]+");
    EXPECT_NE(digits.m.Match("ab12c"), 0);
    M marked("\\c[0-9]+\\c");
    const char* text = "ab12c";
    ASSERT_NE(marked.m.Match(text), 0);
    EXPECT_EQ(marked.m.GetMarkPos(1), 2);
    EXPECT_EQ(marked.m.GetMarkPos(2), 4);
    EXPECT_EQ(marked.m.GetCapture(1, text, 2), "12");
}

TEST(PatternMatch, GroupsNeverBacktrack)
{
    EXPECT_EQ(M("(a|ab)c").m.Match("abc"), 0);
    M longFirst("(ab|a)c");
    ASSERT_NE(longFirst.m.Match("abc"), 0);
    EXPECT_EQ(longFirst.m.GetAlternative(1), 0);
    ASSERT_NE(longFirst.m.Match("ac"), 0);
    EXPECT_EQ(longFirst.m.GetAlternative(1), 1);
}

TEST(PatternMatch, RepetitionsNeverGiveBack)
{
    EXPECT_EQ(M("[a-z]+z").m.Match("abz"), 0);
    EXPECT_EQ(M("a*a").m.Match("aaa"), 0);
    EXPECT_NE(M("[^-]+-").m.Match("abc-"), 0);
}

TEST(PatternMatch, TagPattern)
{
    M tag("<\\c(/|[^>])[^>]+\\c>");
    const char* open = "xx<AB>yy";
    ASSERT_NE(tag.m.Match(open), 0);
    EXPECT_EQ(tag.m.GetCapture(1, open, 2), "AB");
    EXPECT_EQ(tag.m.GetAlternative(1), 1);
    const char* close = "</AB>";
    ASSERT_NE(tag.m.Match(close), 0);
    EXPECT_EQ(tag.m.GetCapture(1, close, 2), "/AB");
    EXPECT_EQ(tag.m.GetAlternative(1), 0);
    EXPECT_EQ(tag.m.Match("<A>"), 0);
    EXPECT_EQ(tag.m.Match("</>"), 0);
}

TEST(PatternMatch, SectionPatternIgnoresCase)
{
    M section("[ \t]*(SENSOR|DRIVE)[ \t]*:", 1);
    ASSERT_NE(section.m.Match("  drive :"), 0);
    EXPECT_EQ(section.m.GetAlternative(1), 1);
    ASSERT_NE(section.m.Match("Sensor:"), 0);
    EXPECT_EQ(section.m.GetAlternative(1), 0);
    M exact("[ \t]*(SENSOR|DRIVE)[ \t]*:", 0);
    EXPECT_EQ(exact.m.Match("  drive :"), 0);
}

TEST(PatternMatch, LineEndMarks)
{
    M eol("x$\\c");
    struct {
        const char* text;
        int mark;
    } cases[] = {{"x\r\n", 3}, {"x\n", 2}, {"x\r", 2}, {"x", 1}};
    for (const auto& c : cases) {
        ASSERT_NE(eol.m.Match(c.text), 0) << c.text;
        EXPECT_EQ(eol.m.GetMarkPos(1), c.mark);
    }
    EXPECT_EQ(eol.m.Match("xy"), 0);
}

TEST(PatternMatch, OnlyALeadingCaretAnchors)
{
    M caret("^ab");
    EXPECT_NE(caret.m.Match("abc"), 0);
    EXPECT_EQ(caret.m.Match("zz\nab"), 0);
    M inner("\n^ab");
    EXPECT_NE(inner.m.Match("zz\nab"), 0);
    M afterCr("x\r^y");
    EXPECT_NE(afterCr.m.Match("x\ry"), 0);
    M notAtLineStart("a^b");
    EXPECT_EQ(notAtLineStart.m.Match("ab"), 0);
}

TEST(PatternMatch, EmptyText)
{
    EXPECT_EQ(M("a*").m.Match(""), 0);
    EXPECT_EQ(M("$").m.Match(""), 0);
    EXPECT_NE(M("^").m.Match(""), 0);
    EXPECT_NE(M("^x*").m.Match(""), 0);
    EXPECT_EQ(M("^x").m.Match(""), 0);
}

TEST(PatternMatch, NothingMatchesAtTheEndOfTheText)
{
    EXPECT_EQ(M("a[^>]").m.Match("a"), 0);
    EXPECT_EQ(M("a.").m.Match("a"), 0);
    M notLineEnd("[^$]");
    EXPECT_EQ(notLineEnd.m.Match("\r\n"), 0);
    EXPECT_EQ(notLineEnd.m.Match("\n\r"), 0);
    EXPECT_NE(M("\\c[^$]").m.Match("\r\nz"), 0);
    M at("\\c[^$]");
    ASSERT_NE(at.m.Match("\r\nz"), 0);
    EXPECT_EQ(at.m.GetMarkPos(1), 2);
}

TEST(PatternMatch, LetterCase)
{
    EXPECT_NE(M("[a-c]", 1).m.Match("B"), 0);
    EXPECT_EQ(M("[a-c]", 0).m.Match("B"), 0);
    EXPECT_NE(M("[^a-c]", 0).m.Match("B"), 0);
    EXPECT_EQ(M("[^a-c]", 1).m.Match("B"), 0);
    EXPECT_NE(M("port", 1).m.Match("PORT"), 0);
    // Only ASCII letters fold: "[" and "{" differ by the case bit but are not letters.
    EXPECT_EQ(M("\\[", 1).m.Match("{"), 0);
    EXPECT_EQ(M("[\\[]", 1).m.Match("{"), 0);
}

TEST(PatternMatch, MarkNumberingWalksIntoGroupsAfterTheirOwnMarks)
{
    M m("a\\c(b\\c|x)\\cd");
    ASSERT_NE(m.m.Match("abd"), 0);
    EXPECT_EQ(m.m.GetMarkPos(1), 1);
    EXPECT_EQ(m.m.GetMarkPos(2), 2);
    EXPECT_EQ(m.m.GetMarkPos(3), 2);
    EXPECT_EQ(m.m.GetMarkPos(4), -1);
    EXPECT_EQ(m.m.GetMarkPos(0), -1);
}

TEST(PatternMatch, GroupNumbersFollowOpeningParentheses)
{
    M m("((a)|b)(c|(d))");
    ASSERT_NE(m.m.Match("ad"), 0);
    EXPECT_EQ(m.m.GetAlternative(1), 0);
    EXPECT_EQ(m.m.GetAlternative(2), 0);
    EXPECT_EQ(m.m.GetAlternative(3), 1);
    EXPECT_EQ(m.m.GetAlternative(4), 0);
    EXPECT_EQ(m.m.GetAlternative(5), -1);
    ASSERT_NE(m.m.Match("bc"), 0);
    EXPECT_EQ(m.m.GetAlternative(1), 1);
    EXPECT_EQ(m.m.GetAlternative(2), -1);  // not entered
    EXPECT_EQ(m.m.GetAlternative(3), 0);
    EXPECT_EQ(m.m.GetAlternative(4), -1);
}

TEST(PatternMatch, AbandonedAlternativeKeepsWhatItRecorded)
{
    M m("(a\\cx|ab)");
    ASSERT_NE(m.m.Match("ab"), 0);
    EXPECT_EQ(m.m.GetAlternative(1), 1);
    EXPECT_EQ(m.m.GetMarkPos(1), 1);  // "a" matched before "x" failed
}

TEST(PatternMatch, EmptyAlternativeMatchesTheEmptyString)
{
    M m("x(a|)\\cy");
    ASSERT_NE(m.m.Match("xy"), 0);
    EXPECT_EQ(m.m.GetAlternative(1), 1);
    EXPECT_EQ(m.m.GetMarkPos(1), 1);
    M lost("x(\\c)y");
    ASSERT_NE(lost.m.Match("xy"), 0);
    EXPECT_EQ(lost.m.GetMarkPos(1), -1);  // a mark with no element after it in its list is lost
}

TEST(PatternMatch, RepeatResults)
{
    M opt("a\\cb?\\cc");
    const char* t1 = "ac";
    ASSERT_NE(opt.m.Match(t1), 0);
    EXPECT_EQ(opt.m.GetCapture(1, t1, 2), "");
    EXPECT_EQ(opt.m.GetMarkPos(1), 1);
    EXPECT_EQ(opt.m.GetMarkPos(2), 1);
    const CObjExp& b = opt.m.m_List.m_Elements[1];
    EXPECT_EQ(b.m_Matched, 0);
    EXPECT_EQ(b.m_Start, 1);
    EXPECT_EQ(b.m_End, 1);

    // A repetition stops at the end of the text; its last test succeeded.
    M star("[^>]*");
    ASSERT_NE(star.m.Match("abc"), 0);
    EXPECT_EQ(star.m.m_List.m_Elements[0].m_End, 3);
    EXPECT_EQ(star.m.m_List.m_Elements[0].m_Matched, 1);
    M stopped("[a]*");
    ASSERT_NE(stopped.m.Match("aab"), 0);
    EXPECT_EQ(stopped.m.m_List.m_Elements[0].m_End, 2);
    EXPECT_EQ(stopped.m.m_List.m_Elements[0].m_Matched, 0);

    // A failed "+" reports -1.
    M plus("x\\c[0-9]+\\c");
    EXPECT_EQ(plus.m.Match("xa"), 0);
    EXPECT_EQ(plus.m.GetMarkPos(1), -1);
    EXPECT_EQ(plus.m.GetMarkPos(2), -1);
}

TEST(PatternMatch, FailedMatchLeavesTheLastAttempt)
{
    // The attempt at the last start position ("p") gets no further than "o".
    M port("port[\\(]\\c", 1);
    const char* text = "port (";
    EXPECT_EQ(port.m.Match(text), 0);
    EXPECT_EQ(port.m.GetMarkPos(1), -1);
    EXPECT_EQ(port.m.GetCapture(1, text, 1), "");
    M len("is[ \t]+\\c[0-9]+\\c");
    EXPECT_EQ(len.m.Match("is 12x is"), 1);
    EXPECT_EQ(len.m.Match("is x"), 0);
    EXPECT_EQ(len.m.GetMarkPos(1), -1);
    // An empty text has no attempt; the positions of the previous text must not survive it.
    const char* longer = "is 12345";
    ASSERT_EQ(len.m.Match(longer), 1);
    EXPECT_EQ(len.m.GetMarkPos(2), 8);
    EXPECT_EQ(len.m.Match(""), 0);
    EXPECT_EQ(len.m.GetMarkPos(1), -1);
    EXPECT_EQ(len.m.GetMarkPos(2), -1);
    EXPECT_EQ(len.m.GetCapture(1, "", 2), "");
}

TEST(PatternMatch, CaptureCornerCases)
{
    M m("\\ca\\cb\\c");
    const char* text = "ab";
    ASSERT_NE(m.m.Match(text), 0);
    EXPECT_EQ(m.m.GetCapture(1, text, 3), "ab");
    EXPECT_EQ(m.m.GetCapture(3, text, 1), "");  // second mark before the first
    EXPECT_EQ(m.m.GetCapture(1, text, 9), "");  // no such mark
    EXPECT_EQ(m.m.GetCapture(2, text, 2), "");
    // A shorter text than the one matched is not read past its end.
    EXPECT_EQ(m.m.GetCapture(1, "a", 3), "a");
    EXPECT_EQ(m.m.GetCapture(1, nullptr, 3), "");
}

TEST(PatternMatch, EmptyCompiledPatternThrows)
{
    CMatch m;
    EXPECT_THROW(m.Match("abc"), std::invalid_argument);
    EXPECT_EQ(m.Compile("", 0), 1);
    EXPECT_THROW(m.Match("abc"), std::invalid_argument);
    EXPECT_EQ(m.Compile("|x", 0), 1);
    EXPECT_THROW(m.Match("abc"), std::invalid_argument);
}

TEST(PatternMatch, PartiallyCompiledPatternStillMatches)
{
    CMatch m;
    EXPECT_EQ(m.Compile("ab[cd", 0), 0);
    EXPECT_NE(m.Match("xxab"), 0);
    EXPECT_EQ(m.Compile("x(ab", 0), 0);
    EXPECT_NE(m.Match("xab"), 0);
    EXPECT_EQ(m.GetAlternative(1), 0);
}

TEST(PatternMatch, EmptySetNeverMatchesAndNegatedEmptyRepeatMatchesAnything)
{
    EXPECT_EQ(M("a[]").m.Match("ab"), 0);
    EXPECT_EQ(M("a[^]").m.Match("ab"), 0);
    EXPECT_EQ(M("[]*x").m.Match("x"), 1);  // a starred element may match nothing
    // A repeat operator makes "[^]" a negated set with no members: any character.
    EXPECT_EQ(M("a[^]+").m.Match("ab"), 1);
}

TEST(PatternMatch, RepeatedCaretDoesNotHang)
{
    M star("^*a");
    EXPECT_NE(star.m.Match("a"), 0);
    M plus("x\n^+\\cy");
    ASSERT_NE(plus.m.Match("x\ny"), 0);
    EXPECT_EQ(plus.m.GetMarkPos(1), 2);
    EXPECT_EQ(M("b^*").m.Match("ab"), 1);
}

TEST(PatternMatch, RepeatedGroupBecomesACharacterElement)
{
    // Outside the language but accepted: the group turns into a set that matches no character,
    // and its alternatives are no longer walked for marks or groups.
    M plus("(ab)+");
    EXPECT_EQ(plus.m.Match("abab"), 0);
    M star("x(a\\cb)*\\cy");
    ASSERT_NE(star.m.Match("xy"), 0);
    EXPECT_EQ(star.m.GetMarkPos(1), 1);
    EXPECT_EQ(star.m.GetAlternative(1), -1);
}

TEST(PatternMatch, ReaderPatterns)
{
    M pin("[ \t]*\\c[^-]+\\c-\\c[^ \t]+\\c[ \t]+\\c[0-1]+\\c");
    const char* line = "  3-$LOCK-PLL\t 0110x";
    ASSERT_NE(pin.m.Match(line), 0);
    EXPECT_EQ(pin.m.GetCapture(1, line, 2), "3");
    EXPECT_EQ(pin.m.GetCapture(3, line, 4), "$LOCK-PLL");
    EXPECT_EQ(pin.m.GetCapture(5, line, 6), "0110");
    // A line that begins with "-" is matched from a later position.
    const char* dash = "-1-A1 1";
    ASSERT_NE(pin.m.Match(dash), 0);
    EXPECT_EQ(pin.m.GetCapture(1, dash, 2), "1");

    M length("attribute[ \t]+BOUNDARY_LENGTH[ \t]+of[ \t]+[^ \t]+[ \t]+:[ \t]+entity[ \t]+is[ \t]+\\c[0-9]+\\c", 1);
    const char* attr = "  attribute boundary_length of A3PE3000 : entity is 2424;";
    ASSERT_NE(length.m.Match(attr), 0);
    EXPECT_EQ(length.m.GetCapture(1, attr, 2), "2424");
    EXPECT_EQ(length.m.Match("attribute BOUNDARY_LENGTH of X: entity is 5;"), 0);

    M pinMap("PIN_MAP_STRING[ \t]*:=\\c", 1);
    ASSERT_NE(pinMap.m.Match("constant X : pin_map_string:=\"A"), 0);
    EXPECT_EQ(pinMap.m.GetMarkPos(1), 29);
}
