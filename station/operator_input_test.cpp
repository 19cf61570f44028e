// The operator's answers: which lines are numbers, and the prompt-refuse-ask-again dialogue.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "operator_input.h"

namespace {

TEST(ParseSerial, TakesWholeNumbersOfThirtyTwoBits)
{
    uint32_t serial = 77;
    const std::pair<const char*, uint32_t> good[] = {{"0", 0}, {"  123\r", 123}, {"+0042", 42}, {"4294967295", 4294967295u}};
    for (const auto& [text, value] : good) {
        EXPECT_TRUE(ParseSerial(text, serial)) << text;
        EXPECT_EQ(serial, value);
    }
    for (const char* bad : {"", "   ", "4294967296", "99999999999999999999", "-1", "12abc", "1 2", "0x10", "+", "1.0"})
        EXPECT_FALSE(ParseSerial(bad, serial)) << '"' << bad << '"';
    EXPECT_EQ(serial, 4294967295u);  // untouched by a refusal
}

TEST(ParseCurrent, TakesFiniteDecimalNumbers)
{
    double current = 0;
    const std::pair<const char*, double> good[] = {{"0.4", 0.4}, {" .8\r", 0.8}, {"5e-1", 0.5}, {"-2", -2}};
    for (const auto& [text, value] : good) {
        EXPECT_TRUE(ParseCurrent(text, current)) << text;
        EXPECT_EQ(current, value);  // exactly: the station compares with the bounds 0.4 and 0.8
    }
    for (const char* bad : {"", "abc", "0.5A", "nan", "inf", "-infinity", "0x1p-1", "1e999", "0,5", ".", "e5", "1..2"})
        EXPECT_FALSE(ParseCurrent(bad, current)) << '"' << bad << '"';
    EXPECT_EQ(current, -2.0);
}

// The dialogue over a temporary file of input; what it showed.
std::string Dialogue(const std::string& input, const std::function<void(COperatorInput&)>& ask)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::tmpfile(), std::fclose), out(std::tmpfile(), std::fclose);
    EXPECT_TRUE(in && out);
    std::fwrite(input.data(), 1, input.size(), in.get());
    std::rewind(in.get());
    COperatorInput dialogue(in.get(), out.get());
    ask(dialogue);
    std::rewind(out.get());
    std::string shown;
    for (int c = std::fgetc(out.get()); c != EOF; c = std::fgetc(out.get()))
        shown += static_cast<char>(c);
    return shown;
}

TEST(OperatorDialogue, RefusedLinesAreNamedAndAskedAgainBlankLinesPassedOver)
{
    uint32_t serial = 0;
    double current = 0;
    // A line beyond the reader's buffer is refused whole: 1,024 zeros and "123" are not serial 0.
    EXPECT_EQ(Dialogue(std::string(COperatorInput::kMaxLine, '0') + "123\nx1\n\n   \n2\r\nabc\a\n" + std::string(1000, '7') + "\n0.5\n",
                       [&](COperatorInput& input) {
                           ASSERT_TRUE(input.AskSerial("S? ", serial));
                           ASSERT_TRUE(input.AskCurrent("I? ", current));
                       }),
              "S? Line too long (more than 1024 characters), not read\r\nS? "
              "Not a serial number: \"x1\" (enter 0 to 4294967295)\r\nS? "
              "I? Not a current: \"abc?\" (enter amperes, e.g. 0.5)\r\nI? "
              "Not a current: \"" + std::string(40, '7') + "...\" (enter amperes, e.g. 0.5)\r\nI? ");
    EXPECT_EQ(serial, 2u);
    EXPECT_EQ(current, 0.5);
}

TEST(OperatorDialogue, TheEndOfTheInputEndsEitherPrompt)
{
    uint32_t serial = 3;
    double current = 0;
    EXPECT_EQ(Dialogue("", [&](COperatorInput& input) { EXPECT_FALSE(input.AskSerial("S? ", serial)); }), "S? \r\n");
    EXPECT_EQ(Dialogue("bad\n", [&](COperatorInput& input) { EXPECT_FALSE(input.AskCurrent("I? ", current)); }),
              "I? Not a current: \"bad\" (enter amperes, e.g. 0.5)\r\nI? \r\n");
    // A last line without its line end is still an answer.
    EXPECT_EQ(Dialogue("8", [&](COperatorInput& input) { EXPECT_TRUE(input.AskSerial("S? ", serial)); }), "S? ");
    EXPECT_EQ(serial, 8u);
}

}  // namespace
