// A small non-backtracking pattern matcher with capture marks, used by the BSDL and vector
// readers.
//
// Language: literal characters; "\" escapes (\t \n \r \b \f, \NNN decimal, any other character
// itself); "." any character; "[...]" sets with ranges and "[^...]" negation; "^" line start and
// "$" line end; "*", "+", "?" after a single-character element; "(a|b)" groups of alternatives;
// "\c" capture marks, which record text positions. Matching is leftmost and greedy and never
// backtracks: a repetition takes all it can and a group the first alternative that matches.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CExpList;

enum { OBJ_NONE = 0, OBJ_CHARS = 1, OBJ_GROUP = 2 };
enum { REP_ONE = 0, REP_PLUS = 1, REP_STAR = 2, REP_OPT = 3 };

// One item of an element: a set member (OBJ_CHARS) or one alternative of a group (OBJ_GROUP),
// which the item owns.
struct _OBJDATA {
    unsigned char ch = 0;
    std::unique_ptr<CExpList> list;
};

// One element of a compiled list. Movable, not copyable: moving hands the alternatives over.
class CObjExp {
public:
    CObjExp() = default;
    CObjExp(CObjExp&&) noexcept = default;
    CObjExp& operator=(CObjExp&&) noexcept = default;
    CObjExp(const CObjExp&) = delete;
    CObjExp& operator=(const CObjExp&) = delete;

    // Appends ch as a set member, makes the element OBJ_CHARS and returns the new item's index.
    int AddChar(unsigned char ch);

    // One test of an OBJ_CHARS element at pos; on success *next is where the next test starts.
    bool TestChar(const char* text, int pos, int* next) const;
    // Matches an OBJ_CHARS element with its repeat operator; records m_Matched, m_Start, m_End.
    bool MatchRepeat(const char* text, int pos, int* end);
    // Matches an OBJ_GROUP element: the first alternative that matches is taken.
    bool MatchGroup(const char* text, int pos, int* end);
    // Walks this element's marks (and its alternatives') for mark number n; see CMatch::GetMarkPos.
    bool FindMark(int n, int* counter, int* pos) const;

    // Internal: the same, with the number of the CMatch::Match call in progress (0: none), which
    // lets a repeated element reuse the run it consumed earlier in that call.
    bool MatchRepeat(const char* text, int pos, int* end, uint64_t pass);
    bool MatchGroup(const char* text, int pos, int* end, uint64_t pass);
    // Internal: builds the member table that TestChar uses for a set (the compiler calls it when
    // it appends the element; AddChar drops the table, and TestChar then reads m_Items).
    void PrepareSet();

    std::vector<_OBJDATA> m_Items;
    int m_Type = OBJ_NONE;
    int m_Repeat = REP_ONE;
    int m_Not = 0;
    int m_Any = 0;
    int m_Eol = 0;
    int m_Bol = 0;
    int m_MarkAfter = 0;
    int m_MarkBefore = 0;
    int m_NoCase = 0;
    // Results of the last match.
    int m_Matched = 0;
    int m_Alt = -1;
    int m_Start = -1;
    int m_End = -1;

    // Internal accelerators, not part of the compiled form's meaning.
    // Member table of a set: bit c set when character c is a member (letter case folded when
    // built for m_NoCase). Valid while m_SetReady is set and m_SetNoCase equals m_NoCase.
    std::array<uint64_t, 4> m_SetBits{};
    bool m_SetReady = false;
    int m_SetNoCase = 0;
    // The last run [m_RunFrom, m_RunTo) that this repeated element consumed during Match call
    // number m_RunPass, and the outcome of the test that ended it (see MatchRepeat).
    uint64_t m_RunPass = 0;
    int m_RunFrom = -1;
    int m_RunTo = -1;
    int m_RunLast = 0;
};

// A compiled list of elements: the whole pattern, or one alternative of a group.
class CExpList {
public:
    CExpList() = default;
    virtual ~CExpList() = default;
    CExpList(const CExpList&) = delete;
    CExpList& operator=(const CExpList&) = delete;

    // Compiles pattern into this list (cleared first). Returns 1 when compiling stopped normally
    // (end of the pattern, or a "|" or ")" that ends this list), 0 for an unclosed set or group, a
    // repeat operator with nothing before it, a trailing lone backslash or a range cut off by the
    // end of the pattern. *consumed is the offset where compiling stopped. What was compiled
    // before a failure stays in the list.
    int Compile(const char* pattern, int* consumed, int noCase);
    void Clear();

    // Matches the elements in order from pos; on success *end is where the last one stopped.
    bool MatchAt(const char* text, int pos, int* end);
    void ResetPositions();
    void ResetResults();
    bool FindMark(int n, int* counter, int* pos) const;
    bool FindAlternative(int n, int* counter, int* alt) const;

    // Internal: MatchAt during Match call number pass; *reached counts the elements that the
    // attempt wrote results into (the failing one included).
    bool MatchAt(const char* text, int pos, int* end, uint64_t pass, size_t* reached = nullptr);
    // Internal: resets the results of the first count elements (and everything inside them).
    void ResetElements(size_t count);

    std::vector<CObjExp> m_Elements;

private:
    // Compile at group nesting depth depth (the outermost list is depth 0).
    int CompileAt(const char* pattern, int* consumed, int noCase, int depth);
};

// Decodes the escape whose first character (after the backslash) is at pattern[*position];
// leaves *position on the escape's last character.
unsigned char DecodeEscape(const char* pattern, int* position);

// One compiled pattern and the results of its last match.
class CMatch {
public:
    CMatch() = default;
    virtual ~CMatch() = default;

    // Compiles pattern (letter case ignored when noCase is non-zero); the result of
    // CExpList::Compile.
    int Compile(const char* pattern, int noCase);
    // Finds the leftmost match in the NUL-terminated text: non-zero when found. Throws
    // std::invalid_argument when the compiled pattern is empty.
    int Match(const char* text);
    // Position of capture mark n (from 1) in the last match, or -1.
    int GetMarkPos(int n) const;
    // The text between marks a and b of the last match (text must be the one matched); empty when
    // either mark is -1 or b lies before a.
    std::string GetCapture(int a, const char* text, int b) const;
    // Index of the alternative that group n (from 1, by opening parenthesis) took, or -1.
    int GetAlternative(int n) const;

    CExpList m_List;

private:
    uint64_t m_Pass = 0;  // number of the last Match call, for the repeat memo
};
