// The operator's answers: which lines are numbers, and the prompt-refuse-ask-again dialogue.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "operator_input.h"

namespace {

TEST(ParseSerial, TakesWholeNumbersOfThirtyTwoBits)
{
    uint32_t serial = 77;
    EXPECT_TRUE(ParseSerial("0", serial));
    EXPECT_EQ(serial, 0u);
    EXPECT_TRUE(ParseSerial("  123\r", serial));
    EXPECT_EQ(serial, 123u);
    EXPECT_TRUE(ParseSerial("+0042", serial));
    EXPECT_EQ(serial, 42u);
    EXPECT_TRUE(ParseSerial("4294967295", serial));
    EXPECT_EQ(serial, 4294967295u);

    serial = 5;
    for (const char* bad : {"", "   ", "4294967296", "99999999999999999999", "-1", "12abc", "1 2", "0x10", "+", "1.0", "abc"})
        EXPECT_FALSE(ParseSerial(bad, serial)) << '"' << bad << '"';
    EXPECT_EQ(serial, 5u);  // untouched by a refusal
}

TEST(ParseCurrent, TakesFiniteDecimalNumbers)
{
    double current = 0;
    EXPECT_TRUE(ParseCurrent("0.4", current));
    EXPECT_EQ(current, 0.4);  // exactly the bound the station compares with
    EXPECT_TRUE(ParseCurrent(" .8\r", current));
    EXPECT_EQ(current, 0.8);
    EXPECT_TRUE(ParseCurrent("5e-1", current));
    EXPECT_EQ(current, 0.5);
    EXPECT_TRUE(ParseCurrent("-2", current));
    EXPECT_EQ(current, -2.0);

    current = 9;
    for (const char* bad : {"", "abc", "0.5A", "nan", "NAN", "inf", "-infinity", "0x1p-1", "1e999", "0,5", ".", "e5", "1..2"})
        EXPECT_FALSE(ParseCurrent(bad, current)) << '"' << bad << '"';
    EXPECT_EQ(current, 9.0);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// A dialogue over in-memory streams.
class Dialogue : public ::testing::Test {
protected:
    void Feed(const std::string& text)
    {
        m_In.reset(std::tmpfile());
        m_Out.reset(std::tmpfile());
        ASSERT_TRUE(m_In && m_Out);
        std::fwrite(text.data(), 1, text.size(), m_In.get());
        std::rewind(m_In.get());
        m_Input = std::make_unique<COperatorInput>(m_In.get(), m_Out.get());
    }
    std::string Shown()
    {
        std::fflush(m_Out.get());
        std::rewind(m_Out.get());
        std::string text;
        char buffer[256];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, m_Out.get())) > 0)
            text.append(buffer, n);
        return text;
    }

    FilePtr m_In;
    FilePtr m_Out;
    std::unique_ptr<COperatorInput> m_Input;
};

TEST_F(Dialogue, AValidAnswerIsTakenAfterOnePrompt)
{
    Feed("17\r\n0.55\n");
    uint32_t serial = 0;
    double current = 0;
    ASSERT_TRUE(m_Input->AskSerial("S? ", serial));
    ASSERT_TRUE(m_Input->AskCurrent("I? ", current));
    EXPECT_EQ(serial, 17u);
    EXPECT_EQ(current, 0.55);
    EXPECT_EQ(Shown(), "S? I? ");
}

TEST_F(Dialogue, ARefusedLineIsNamedAndThePromptShownAgain)
{
    Feed("x1\n\n   \n2\nabc\u0007\n0.5\n");
    uint32_t serial = 0;
    double current = 0;
    ASSERT_TRUE(m_Input->AskSerial("S? ", serial));
    ASSERT_TRUE(m_Input->AskCurrent("I? ", current));
    EXPECT_EQ(serial, 2u);
    EXPECT_EQ(Shown(),
              "S? Not a serial number: \"x1\" (enter 0 to 4294967295)\r\nS? "  // blank lines passed over
              "I? Not a current: \"abc?\" (enter amperes, e.g. 0.5)\r\nI? ");
}

TEST_F(Dialogue, TheEndOfTheInputEndsEitherPrompt)
{
    Feed("");
    uint32_t serial = 3;
    EXPECT_FALSE(m_Input->AskSerial("S? ", serial));
    EXPECT_EQ(Shown(), "S? \r\n");

    Feed("bad\n");
    double current = 0;
    EXPECT_FALSE(m_Input->AskCurrent("I? ", current));
    EXPECT_EQ(Shown(), "I? Not a current: \"bad\" (enter amperes, e.g. 0.5)\r\nI? \r\n");

    Feed("8");  // a last line without its line end is still an answer
    EXPECT_TRUE(m_Input->AskSerial("S? ", serial));
    EXPECT_EQ(serial, 8u);
}

TEST_F(Dialogue, AVeryLongLineIsRefusedShortened)
{
    Feed(std::string(100000, '7') + "\n6\n");
    uint32_t serial = 0;
    ASSERT_TRUE(m_Input->AskSerial("S? ", serial));
    EXPECT_EQ(serial, 6u);
    EXPECT_EQ(Shown(), "S? Not a serial number: \"" + std::string(40, '7') + "...\" (enter 0 to 4294967295)\r\nS? ");
}

}  // namespace
