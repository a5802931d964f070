// tests/tools/common/OptionReaderTest.cpp: the strict command-line reading both tools share.
#include "tools/common/OptionReader.h"

#include <gtest/gtest.h>

using tools::OptionDef;

namespace {

struct Sample
{
    int number = 0;
    std::string name;
    bool flag = false;
};

std::vector<OptionDef<Sample>> sampleDefs()
{
    return {
        {"number", false,
         [](Sample& s, const std::string& v) {
             return tools::readInto("number", v, 1, 99, &s.number);
         }},
        {"name", false,
         [](Sample& s, const std::string& v) {
             s.name = v;
             return std::string();
         }},
        {"flag", true,
         [](Sample& s, const std::string&) {
             s.flag = true;
             return std::string();
         },
         'f'},
    };
}

std::string read(const std::vector<std::string>& args, Sample& s)
{
    return tools::readOptions(sampleDefs(), args, s);
}

} // namespace

TEST(OptionReaderTest, TakesSeparateAndJoinedValuesAndFlags)
{
    Sample s;
    EXPECT_EQ("", read({"--number", "42", "--name=a=b", "--flag"}, s));
    EXPECT_EQ(42, s.number);
    EXPECT_EQ("a=b", s.name); // only the first '=' splits
    EXPECT_TRUE(s.flag);

    Sample later;
    EXPECT_EQ("", read({"--number", "5", "--number=7"}, later));
    EXPECT_EQ(7, later.number); // the last one counts
}

TEST(OptionReaderTest, RefusesWhatItDoesNotKnowOrCannotComplete)
{
    struct Case
    {
        std::vector<std::string> args;
        std::string error;
    };
    const Case cases[] = {
        {{"--colour", "red"}, "unknown option --colour"},
        {{"stray"}, "unexpected argument 'stray'"},
        {{"-n", "1"}, "unknown option -n"},
        {{"-"}, "unexpected argument '-'"},
        {{"-fn"}, "unexpected argument '-fn'"},
        {{"--"}, "unexpected argument '--'"},
        {{"--number"}, "--number needs a value"},
        {{"--flag=yes"}, "--flag takes no value"},
        {{"--number", "100"}, "--number: expected a whole number 1..99, got '100'"},
    };
    for (const Case& c : cases) {
        Sample s;
        EXPECT_EQ(c.error, read(c.args, s)) << c.args[0];
    }
}

TEST(OptionReaderTest, OneLetterNamesStandForTheirFlags)
{
    Sample s;
    EXPECT_EQ("", read({"--number", "3", "-f"}, s));
    EXPECT_TRUE(s.flag);

    struct Standard
    {
        bool help = false;
        bool version = false;
    };
    auto defs = tools::standardDefinitions<Standard>();
    Standard both;
    EXPECT_EQ("", tools::readOptions(defs, {"-h", "--version"}, both));
    EXPECT_TRUE(both.help && both.version);
    Standard v;
    EXPECT_EQ("", tools::readOptions(defs, {"-V"}, v));
    EXPECT_TRUE(v.version && !v.help);
    EXPECT_EQ("unknown option -H", tools::readOptions(defs, {"-H"}, v));
}

TEST(OptionReaderTest, CommandLineAnswersComeBeforeTheRun)
{
    // The tool runs only when the line was fine and asked for neither help nor the version.
    EXPECT_FALSE(tools::answerCommandLine("t", "", false, false, "usage\n").has_value());
    EXPECT_EQ(0, tools::answerCommandLine("t", "", true, false, "usage\n"));
    EXPECT_EQ(0, tools::answerCommandLine("t", "", false, true, "usage\n"));
    EXPECT_EQ(2, tools::answerCommandLine("t", "bad", true, true, "usage\n"));
    EXPECT_EQ("msgserver " GPSBRIDGE_FILE_VERSION "\n", tools::versionText("msgserver"));
}

TEST(OptionReaderTest, NumbersMustBeWholeAndInRange)
{
    std::uint64_t v = 7;
    EXPECT_EQ("", tools::readUnsigned("n", "0", 0, 10, &v));
    EXPECT_EQ(0u, v);
    for (const char* bad : {"", "-1", "+1", "1x", " 1", "11", "1.0", "99999999999999999999"})
        EXPECT_NE("", tools::readUnsigned("n", bad, 0, 10, &v)) << bad;
    EXPECT_EQ(0u, v); // untouched by refused values

    double d = 0;
    EXPECT_EQ("", tools::readDecimal("p", "0.25", 0, 1, &d));
    EXPECT_DOUBLE_EQ(0.25, d);
    EXPECT_EQ("", tools::readDecimal("p", "1", 0, 1, &d));
    for (const char* bad : {"", "1.5", "-0.1", "nan", "inf", "0.5s", ".5.", "1e400"})
        EXPECT_NE("", tools::readDecimal("p", bad, 0, 1, &d)) << bad;
    EXPECT_EQ("--p: expected a number 0..1, got 'x'", tools::readDecimal("p", "x", 0, 1, &d));
}
