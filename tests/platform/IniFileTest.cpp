// tests/platform/IniFileTest.cpp: the settings file forms.
#include "platform/IniFile.h"

#include <gtest/gtest.h>

#include "tests/fakes/TempDir.h"

using platform::IniFile;

TEST(IniFileTest, IntegerForms)
{
    IniFile ini = IniFile::parse("[main]\n"
                                 "hex=0x5208\nHEXUP=0X5208\ndollar=$5208\ndec=21000\n"
                                 "neg=-5\nword=abc\ntrail=12abc\nshort0x=0x\nlone$=$\n"
                                 "big=4294967296\nfullhex=$FFFFFFFF\nempty=\n");
    struct Row
    {
        const char* section;
        const char* key;
        int fallback;
        int expected;
    };
    const Row rows[] = {
        {"main", "hex", 1, 21000}, {"main", "hexup", 1, 21000}, {"main", "dollar", 1, 21000},
        {"main", "dec", 1, 21000}, {"main", "neg", 1, -5},      {"main", "word", 7, 7},
        {"main", "trail", 7, 7},   {"main", "short0x", 7, 7},   {"main", "lone$", 7, 7},
        {"main", "big", 7, 7},     {"main", "fullhex", 7, -1},  {"main", "empty", 7, 7},
        {"main", "missing", 7, 7}, {"other", "dec", 7, 7},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.section) + "/" + row.key);
        EXPECT_EQ(row.expected, ini.integer(row.section, row.key, row.fallback));
    }
}

TEST(IniFileTest, NamesIgnoreCaseAndValuesLoseBlanksAndOnePairOfQuotes)
{
    IniFile ini = IniFile::parse("\xEF\xBB\xBF; a comment\r\n"
                                 "[ServerHost]\r\n"
                                 "  Address =  \"10.0.0.7\"  \r\n"
                                 "address2='127.0.0.1'\r\n"
                                 "Address3=\"\"quoted\"\"\r\n"
                                 "Port = 12543\r\n"
                                 "half=\"open\r\n"
                                 "[MAIN]\r\n"
                                 "Caption = Гараж 2 \r\n");
    EXPECT_EQ("10.0.0.7", ini.text("serverhost", "ADDRESS", "x"));
    EXPECT_EQ("127.0.0.1", ini.text("SERVERHOST", "Address2", "x"));
    EXPECT_EQ("\"quoted\"", ini.text("ServerHost", "Address3", "x"));
    EXPECT_EQ("\"open", ini.text("ServerHost", "half", "x"));
    EXPECT_EQ(12543, ini.integer("serverhost", "port", 0));
    EXPECT_EQ("Гараж 2", ini.text("main", "caption", "x"));
    EXPECT_EQ("x", ini.text("main", "missing", "x"));
}

TEST(IniFileTest, LongValueIsCutAt2047Characters)
{
    std::string ascii(3000, 'a');
    std::string cyrillic;
    for (int i = 0; i < 2100; ++i)
        cyrillic += "ж";
    IniFile ini = IniFile::parse("[main]\nlong=" + ascii + "\nwide=" + cyrillic + "\n");
    EXPECT_EQ(std::string(2047, 'a'), ini.text("main", "long", ""));
    EXPECT_EQ(2047u * 2, ini.text("main", "wide", "").size());
}

TEST(IniFileTest, BooleansAreIntegers)
{
    IniFile ini = IniFile::parse("[main]\nzero=0\none=1\nmany=$10\nword=yes\n");
    EXPECT_FALSE(ini.boolean("main", "zero", true));
    EXPECT_TRUE(ini.boolean("main", "one", false));
    EXPECT_TRUE(ini.boolean("main", "many", false));
    EXPECT_TRUE(ini.boolean("main", "word", true));
    EXPECT_FALSE(ini.boolean("main", "word", false));
}

TEST(IniFileTest, MissingFileGivesEveryDefault)
{
    fakes::TempDir dir;
    IniFile ini = IniFile::load(dir.file("gpsbridge.ini"));
    EXPECT_EQ(21000, ini.integer("main", "DefaultPort", 21000));
    EXPECT_EQ("127.0.0.1", ini.text("ServerHost", "Address", "127.0.0.1"));
}
