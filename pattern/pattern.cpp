// The pattern compiler and the non-backtracking matcher.
//
// Robustness beyond the language itself:
// - Group nesting is bounded (kMaxGroupDepth): compiling and matching recurse once per level, so
//   a hostile pattern of many "(" could otherwise overflow the stack. Deeper nesting makes
//   Compile return 0.
// - A repeated element whose test succeeds without consuming anything ("^*", "^+") stops after
//   that test instead of testing the same position for ever.
// - The leftmost search tries every start position, and a greedy repetition may run to the end
//   of the text at each of them ("[^-]+" on a long line without "-"), which is quadratic. Within
//   one CMatch::Match call a repeated element therefore remembers the last run [from, to) it
//   consumed: its tests depend only on the text at the tested position, so a run started
//   anywhere inside [from, to) - or reaching it - ends at to with the same outcome (see
//   RunMemoApplies). Results are exactly those of the plain scan.
// - Between start positions only the elements the previous attempt wrote into are reset, and
//   start positions where a single-test first element fails are skipped: such an attempt would
//   leave nothing but reset results.
#include "pattern.h"

#include <climits>
#include <cstring>
#include <stdexcept>

namespace {

constexpr int kMaxGroupDepth = 256;

unsigned char UpperAscii(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

bool IsLetterAscii(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Length of the line end at pos (NUL 0, LF 1, CR LF 2, CR 1), or -1 when pos is not at one.
int LineEndLength(const char* text, int pos)
{
    switch (text[pos]) {
    case '\0':
        return 0;
    case '\n':
        return 1;
    case '\r':
        return text[pos + 1] == '\n' ? 2 : 1;
    default:
        return -1;
    }
}

// A run memo applies to every element whose test depends only on the text at pos: all but "^",
// which looks at the character before. For "." and sets each test consumes one character. A "$"
// run consists of line-end characters only (CR LF consumes two), and a test started at any of
// them stays on line-end characters until the run's end, so it also rejoins the run.
bool RunMemoApplies(const CObjExp& e)
{
    return !e.m_Bol;
}

}  // namespace

// ---- elements ---------------------------------------------------------------------------------

int CObjExp::AddChar(unsigned char ch)
{
    _OBJDATA item;
    item.ch = ch;
    m_Items.push_back(std::move(item));
    m_Type = OBJ_CHARS;
    m_SetReady = false;
    return static_cast<int>(m_Items.size()) - 1;
}

void CObjExp::PrepareSet()
{
    m_SetBits = {};
    for (const _OBJDATA& item : m_Items) {
        unsigned char c = item.ch;
        m_SetBits[c >> 6] |= uint64_t{1} << (c & 63);
        if (m_NoCase && IsLetterAscii(c)) {
            unsigned char u = UpperAscii(c);
            unsigned char l = static_cast<unsigned char>(u - 'A' + 'a');
            m_SetBits[u >> 6] |= uint64_t{1} << (u & 63);
            m_SetBits[l >> 6] |= uint64_t{1} << (l & 63);
        }
    }
    m_SetNoCase = m_NoCase;
    m_SetReady = true;
}

bool CObjExp::TestChar(const char* text, int pos, int* next) const
{
    if (m_Bol) {
        if (pos == 0 || text[pos - 1] == '\n' || text[pos - 1] == '\r') {
            *next = pos;
            return true;
        }
        return false;
    }
    if (m_Eol) {
        int length = LineEndLength(text, pos);
        if (!m_Not) {
            if (length < 0)
                return false;
            *next = pos + length;
            return true;
        }
        if (length >= 0)
            return false;
        *next = pos + 1;
        return true;
    }
    unsigned char c = static_cast<unsigned char>(text[pos]);
    if (c == 0)
        return false;
    if (m_Any) {
        *next = pos + 1;
        return true;
    }
    bool member = false;
    if (m_SetReady && m_SetNoCase == m_NoCase) {
        member = (m_SetBits[c >> 6] >> (c & 63)) & 1;
    } else {
        for (const _OBJDATA& item : m_Items) {
            if (item.ch == c || (m_NoCase && UpperAscii(item.ch) == UpperAscii(c))) {
                member = true;
                break;
            }
        }
    }
    if (m_Not)
        member = !member;
    if (!member)
        return false;
    *next = pos + 1;
    return true;
}

bool CObjExp::MatchRepeat(const char* text, int pos, int* end)
{
    return MatchRepeat(text, pos, end, 0);
}

bool CObjExp::MatchRepeat(const char* text, int pos, int* end, uint64_t pass)
{
    int next = pos;
    if (m_Repeat == REP_OPT) {
        bool ok = TestChar(text, pos, &next);
        m_Matched = ok;
        m_Start = pos;
        m_End = ok ? next : pos;
        *end = m_End;
        return true;
    }
    if (m_Repeat != REP_STAR && m_Repeat != REP_PLUS) {  // REP_ONE
        bool ok = TestChar(text, pos, &next);
        m_Matched = ok;
        if (ok) {
            m_Start = pos;
            m_End = next;
            *end = next;
        } else {
            m_Start = -1;
            m_End = -1;
        }
        return ok;
    }

    // REP_STAR and REP_PLUS: test while the test succeeds and the next character is not the end.
    bool memo = pass != 0 && RunMemoApplies(*this);
    bool memoValid = memo && m_RunPass == pass;
    int cur = pos;
    int count = 0;
    bool last = false;
    bool startedInRun = false;
    for (;;) {
        if (memoValid && cur >= m_RunFrom && cur < m_RunTo) {
            // Every position of the remembered run was a successful test, so from here the run
            // goes on exactly as it did then.
            startedInRun = cur == pos;
            cur = m_RunTo;
            last = m_RunLast != 0;
            ++count;
            break;
        }
        if (!TestChar(text, cur, &next)) {
            last = false;
            break;
        }
        ++count;
        last = true;
        bool progressed = next != cur;
        cur = next;
        if (!progressed || text[cur] == '\0')
            break;
    }
    if (memo && count > 0 && !startedInRun) {
        m_RunPass = pass;
        m_RunFrom = pos;
        m_RunTo = cur;
        m_RunLast = last;
    }

    if (m_Repeat == REP_STAR) {
        m_Start = pos;
        m_End = cur;
        m_Matched = last;
        *end = cur;
        return true;
    }
    if (count > 0) {
        m_Start = pos;
        m_End = cur;
        m_Matched = 1;
        *end = cur;
        return true;
    }
    m_Start = -1;
    m_End = -1;
    m_Matched = 0;
    return false;
}

bool CObjExp::MatchGroup(const char* text, int pos, int* end)
{
    return MatchGroup(text, pos, end, 0);
}

bool CObjExp::MatchGroup(const char* text, int pos, int* end, uint64_t pass)
{
    for (size_t i = 0; i < m_Items.size(); ++i) {
        CExpList* alternative = m_Items[i].list.get();
        if (alternative == nullptr)
            continue;
        int altEnd = pos;
        if (alternative->MatchAt(text, pos, &altEnd, pass)) {
            m_Alt = static_cast<int>(i);
            m_Start = pos;
            m_End = altEnd;
            m_Matched = 1;
            *end = altEnd;
            return true;
        }
    }
    m_Matched = 0;
    return false;
}

bool CObjExp::FindMark(int n, int* counter, int* pos) const
{
    if (m_MarkBefore) {
        if (++*counter == n) {
            *pos = m_Start;
            return true;
        }
    }
    if (m_MarkAfter) {
        if (++*counter == n) {
            *pos = m_End;
            return true;
        }
    }
    if (m_Type == OBJ_GROUP) {
        for (const _OBJDATA& item : m_Items) {
            if (item.list && item.list->FindMark(n, counter, pos))
                return true;
        }
    }
    return false;
}

// ---- lists ------------------------------------------------------------------------------------

void CExpList::Clear()
{
    // Each element owns its alternatives through unique_ptr, so this frees the whole tree.
    m_Elements.clear();
}

unsigned char DecodeEscape(const char* pattern, int* position)
{
    char c = pattern[*position];
    switch (c) {
    case 't':
        return 9;
    case 'n':
        return 10;
    case 'r':
        return 13;
    case 'b':
        return 8;
    case 'f':
        return 12;
    default:
        break;
    }
    if (c >= '0' && c <= '9') {
        unsigned value = 0;
        int digits = 0;
        while (digits < 3 && pattern[*position + digits] >= '0' && pattern[*position + digits] <= '9') {
            value = value * 10 + static_cast<unsigned>(pattern[*position + digits] - '0');
            ++digits;
        }
        *position += digits - 1;
        return static_cast<unsigned char>(value & 0xFF);
    }
    return static_cast<unsigned char>(c);
}

namespace {

// Compiles the set whose "[" is at *p into work. On success returns true with *p on the "]";
// when the pattern ends first (also inside an escape or a range) returns false with *p on the
// terminating NUL.
bool CompileSet(const char* pattern, int* p, CObjExp& work)
{
    int q = *p + 1;
    if (pattern[q] == '^') {
        work.m_Not = 1;
        ++q;
    }
    for (;;) {
        unsigned char c = static_cast<unsigned char>(pattern[q]);
        if (c == '\0') {
            *p = q;
            return false;
        }
        if (c == ']')
            break;
        if (c == '$') {
            work.m_Eol = 1;
            work.m_Type = OBJ_CHARS;
        } else if (c == '-' && !work.m_Items.empty()) {
            // A range from the item before the "-" up to the next character, even a "]".
            int r = q + 1;
            unsigned char upper = static_cast<unsigned char>(pattern[r]);
            if (upper == '\0') {  // '[a-': the range is cut off
                *p = r;
                return false;
            }
            if (upper == '\\') {
                if (pattern[r + 1] == '\0') {
                    *p = r + 1;
                    return false;
                }
                ++r;
                upper = DecodeEscape(pattern, &r);
            }
            unsigned start = (work.m_Items.back().ch + 1u) & 0xFFu;
            for (unsigned v = start; v <= upper; ++v)
                work.AddChar(static_cast<unsigned char>(v));
            q = r;
        } else if (c == '\\') {
            if (pattern[q + 1] == '\0') {
                *p = q + 1;
                return false;
            }
            ++q;
            work.AddChar(DecodeEscape(pattern, &q));
        } else {
            work.AddChar(c);
        }
        ++q;
    }
    *p = q;
    return true;
}

void AppendElement(std::vector<CObjExp>& list, CObjExp& work)
{
    if (work.m_Type == OBJ_CHARS)
        work.PrepareSet();
    list.push_back(std::move(work));
}

}  // namespace

int CExpList::Compile(const char* pattern, int* consumed, int noCase)
{
    int ignored = 0;
    if (consumed == nullptr)
        consumed = &ignored;
    if (pattern == nullptr || std::strlen(pattern) > static_cast<size_t>(INT_MAX - 2)) {
        Clear();
        *consumed = 0;
        return 0;
    }
    return CompileAt(pattern, consumed, noCase, 0);
}

int CExpList::CompileAt(const char* pattern, int* consumed, int noCase, int depth)
{
    Clear();
    *consumed = 0;
    bool pendingMark = false;
    if (pattern[0] == '\0')
        return 1;

    int p = 0;
    for (;;) {
        CObjExp work;
        if (noCase)
            work.m_NoCase = 1;
        if (pendingMark) {
            work.m_MarkBefore = 1;
            pendingMark = false;
        }

        char c = pattern[p];
        switch (c) {
        case '$':
            work.m_Eol = 1;
            work.m_Type = OBJ_CHARS;
            AppendElement(m_Elements, work);
            break;
        case '^':
            work.m_Bol = 1;
            work.m_Type = OBJ_CHARS;
            AppendElement(m_Elements, work);
            break;
        case '.':
            work.m_Any = 1;
            work.m_Type = OBJ_CHARS;
            AppendElement(m_Elements, work);
            break;
        case '*':
        case '+':
        case '?': {
            if (m_Elements.empty()) {  // nothing to repeat: outside the language
                *consumed = p;
                return 0;
            }
            CObjExp& last = m_Elements.back();
            last.m_Type = OBJ_CHARS;
            last.m_Repeat = c == '*' ? REP_STAR : c == '+' ? REP_PLUS : REP_OPT;
            break;
        }
        case '|':
        case ')':
            *consumed = p;
            return 1;
        case '\\':
            if (pattern[p + 1] == 'c') {
                if (!m_Elements.empty())
                    m_Elements.back().m_MarkAfter = 1;
                else
                    pendingMark = true;
                ++p;
            } else if (pattern[p + 1] == '\0') {  // a lone backslash at the end
                *consumed = p + 1;
                return 0;
            } else {
                int q = p + 1;
                work.AddChar(DecodeEscape(pattern, &q));
                AppendElement(m_Elements, work);
                p = q;
            }
            break;
        case '[': {
            int q = p;
            if (!CompileSet(pattern, &q, work)) {
                *consumed = q;
                return 0;
            }
            AppendElement(m_Elements, work);
            p = q;
            break;
        }
        case '(': {
            if (depth >= kMaxGroupDepth) {
                *consumed = p;
                return 0;
            }
            work.m_Type = OBJ_GROUP;
            int q = p + 1;
            for (;;) {
                _OBJDATA item;
                item.list = std::make_unique<CExpList>();
                int sub = 0;
                int ok = item.list->CompileAt(pattern + q, &sub, noCase, depth + 1);
                work.m_Items.push_back(std::move(item));
                q += sub;
                if (!ok) {
                    AppendElement(m_Elements, work);
                    *consumed = q;
                    return 0;
                }
                if (pattern[q] != '|')
                    break;
                ++q;
            }
            AppendElement(m_Elements, work);
            if (pattern[q] != ')') {
                *consumed = q;
                return 0;
            }
            p = q;
            break;
        }
        default:
            work.AddChar(static_cast<unsigned char>(c));
            AppendElement(m_Elements, work);
            break;
        }

        ++p;
        if (pattern[p] == '\0') {
            *consumed = p;
            return 1;
        }
    }
}

bool CExpList::MatchAt(const char* text, int pos, int* end)
{
    return MatchAt(text, pos, end, 0, nullptr);
}

bool CExpList::MatchAt(const char* text, int pos, int* end, uint64_t pass, size_t* reached)
{
    int cur = pos;
    for (size_t i = 0; i < m_Elements.size(); ++i) {
        CObjExp& e = m_Elements[i];
        if (reached != nullptr)
            *reached = i + 1;
        int next = cur;
        bool ok = false;
        if (e.m_Type == OBJ_CHARS)
            ok = e.MatchRepeat(text, cur, &next, pass);
        else if (e.m_Type == OBJ_GROUP)
            ok = e.MatchGroup(text, cur, &next, pass);
        else
            e.m_Matched = 0;
        if (!ok)
            return false;
        cur = next;
    }
    *end = cur;
    return true;
}

void CExpList::ResetPositions()
{
    for (CObjExp& e : m_Elements) {
        e.m_Start = -1;
        e.m_End = -1;
        for (_OBJDATA& item : e.m_Items) {
            if (item.list)
                item.list->ResetPositions();
        }
    }
}

void CExpList::ResetResults()
{
    for (CObjExp& e : m_Elements) {
        e.m_Matched = 0;
        e.m_Alt = -1;
        for (_OBJDATA& item : e.m_Items) {
            if (item.list)
                item.list->ResetResults();
        }
    }
}

void CExpList::ResetElements(size_t count)
{
    if (count > m_Elements.size())
        count = m_Elements.size();
    for (size_t i = 0; i < count; ++i) {
        CObjExp& e = m_Elements[i];
        e.m_Start = -1;
        e.m_End = -1;
        e.m_Matched = 0;
        e.m_Alt = -1;
        if (e.m_Type != OBJ_GROUP)
            continue;  // only a group's alternatives are ever matched
        for (_OBJDATA& item : e.m_Items) {
            if (item.list)
                item.list->ResetElements(item.list->m_Elements.size());
        }
    }
}

bool CExpList::FindMark(int n, int* counter, int* pos) const
{
    for (const CObjExp& e : m_Elements) {
        if (e.FindMark(n, counter, pos))
            return true;
    }
    return false;
}

bool CExpList::FindAlternative(int n, int* counter, int* alt) const
{
    for (const CObjExp& e : m_Elements) {
        if (e.m_Type != OBJ_GROUP)
            continue;
        if (++*counter == n) {
            // A group that took no alternative answers -1: no later group can have number n.
            *alt = e.m_Alt;
            return true;
        }
        for (const _OBJDATA& item : e.m_Items) {
            if (item.list && item.list->FindAlternative(n, counter, alt))
                return true;
        }
    }
    return false;
}

// ---- the matcher ------------------------------------------------------------------------------

int CMatch::Compile(const char* pattern, int noCase)
{
    int consumed = 0;
    return m_List.Compile(pattern, &consumed, noCase);
}

int CMatch::Match(const char* text)
{
    if (m_List.m_Elements.empty())
        throw std::invalid_argument("CMatch::Match: the compiled pattern is empty");
    if (text == nullptr)
        text = "";
    // Positions are 32-bit: a text they cannot address is not searched.
    size_t length = std::strlen(text);
    if (length > static_cast<size_t>(INT_MAX - 2)) {
        m_List.ResetPositions();
        m_List.ResetResults();
        return 0;
    }

    uint64_t pass = ++m_Pass;
    // Reset before anything else, also for an empty text, where no attempt is made: the results
    // of an earlier, longer text would otherwise still be there for GetCapture to read.
    m_List.ResetPositions();
    m_List.ResetResults();
    int end = 0;
    if (m_List.m_Elements.front().m_Bol)
        return m_List.MatchAt(text, 0, &end, pass, nullptr) ? 1 : 0;
    if (length == 0)
        return 0;

    // An attempt whose first element is a single test that fails there leaves every result as
    // reset, so such start positions are skipped without resetting anything.
    const CObjExp& first = m_List.m_Elements.front();
    bool skipFailingStarts = first.m_Type == OBJ_CHARS && first.m_Repeat == REP_ONE;
    size_t reached = 0;
    int lastTried = -1;
    for (int s = 0; text[s] != '\0'; ++s) {
        if (skipFailingStarts) {
            int next = 0;
            while (text[s] != '\0' && !first.TestChar(text, s, &next))
                ++s;
            if (text[s] == '\0')
                break;
        }
        // Elements past those the last attempt reached still hold their reset results.
        m_List.ResetElements(reached);
        reached = 0;
        lastTried = s;
        if (m_List.MatchAt(text, s, &end, pass, &reached))
            return 1;
    }
    // The results are those of the attempt at the last start position; if that one was skipped,
    // they are the reset ones.
    if (lastTried != static_cast<int>(length) - 1)
        m_List.ResetElements(reached);
    return 0;
}

int CMatch::GetMarkPos(int n) const
{
    if (n < 1)
        return -1;
    int counter = 0;
    int pos = -1;
    if (m_List.FindMark(n, &counter, &pos))
        return pos;
    return -1;
}

std::string CMatch::GetCapture(int a, const char* text, int b) const
{
    int pa = GetMarkPos(a);
    int pb = GetMarkPos(b);
    if (text == nullptr || pa < 0 || pb < 0 || pb < pa)
        return std::string();
    // The text should be the one matched; never read past its end if it is not.
    size_t available = strnlen(text, static_cast<size_t>(pb));
    if (available <= static_cast<size_t>(pa))
        return std::string();
    return std::string(text + pa, available - static_cast<size_t>(pa));
}

int CMatch::GetAlternative(int n) const
{
    if (n < 1)
        return -1;
    int counter = 0;
    int alt = -1;
    if (m_List.FindAlternative(n, &counter, &alt))
        return alt;
    return -1;
}
