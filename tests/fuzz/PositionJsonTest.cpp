// tests/fuzz/PositionJsonTest.cpp: the fuzz targets' check of position messages accepts what the
// gateway writes and nothing that is not JSON or not the promised shape.
#include "fuzz/PositionJson.h"

#include <string>

#include <gtest/gtest.h>

#include "tests/fakes/Packets.h"
#include "tracker/PositionMessage.h"

using fuzz::checkPositionMessage;

namespace {

const std::string kBeginning = std::string(fuzz::kPositionBeginning) + fakes::kWorkedImei + "\"";

std::string problemOf(const std::string& text)
{
    return checkPositionMessage(text).problem;
}

} // namespace

TEST(PositionJsonTest, AcceptsTheGatewaysMessagesAndReturnsTheImei)
{
    const fuzz::PositionCheck c = checkPositionMessage(fakes::kWorkedJson);
    EXPECT_EQ("", c.problem);
    EXPECT_EQ(fakes::kWorkedImei, std::string(c.imei.begin(), c.imei.end()));
    EXPECT_EQ("", problemOf(kBeginning + "}"));
    EXPECT_EQ("",
              problemOf(kBeginning + R"(,"time":"01.01.1970","lat":0.000005,"lat":4294.967295})"));
    EXPECT_EQ("", problemOf(kBeginning + R"(,"alt":0,"alt":65535,"sat":255})"));
}

TEST(PositionJsonTest, TakesAnImeiWithEscapesAsFifteenCharacters)
{
    // The IMEI the dispatcher escapes: a quote, a backslash and control characters.
    const std::uint8_t raw[15] = {'"', '\\', 0x01, 0x1F, '\n', 'A', 0xFF, '0',
                                  '1', '2',  '3',  '4',  '5',  '6', '7'};
    std::string text(fuzz::kPositionBeginning);
    tracker::appendJsonEscaped(text, raw, sizeof raw);
    text += "\"}";
    const fuzz::PositionCheck c = checkPositionMessage(text);
    EXPECT_EQ("", c.problem);
    EXPECT_EQ(platform::Bytes(raw, raw + 15), c.imei);
    EXPECT_EQ("", problemOf(std::string(fuzz::kPositionBeginning) +
                            R"(\"\\\/\b\f\n\r\t\u00e9\u0041ABCDE"})"));
}

TEST(PositionJsonTest, RejectsWhatIsNotJson)
{
    for (const std::string& bad : {
             std::string(fuzz::kPositionBeginning) + "35630704244101\x01\"}", // raw control
             std::string(fuzz::kPositionBeginning) + R"(\x56307042441013"})", // unknown escape
             std::string(fuzz::kPositionBeginning) + R"(\u00G056307042441013"})",
             std::string(fuzz::kPositionBeginning) + "356307042441013", // unterminated
             kBeginning,                                                // no closing brace
             kBeginning + "}}",
             kBeginning + "} ",
             kBeginning + R"(,"alt":039})", // leading zero
             kBeginning + R"(,"alt":-1})",
             kBeginning + R"(,"alt":})",
             kBeginning + R"(,"lat":.5})",
             kBeginning + R"(,"lat":1.})",
             kBeginning + R"(, "alt":1})", // a blank
             kBeginning + R"(,"alt":1,})",
             kBeginning + R"(,alt:1})",
         })
        EXPECT_NE("", problemOf(bad)) << bad;
}

TEST(PositionJsonTest, RejectsWhatIsJsonButNotThePromisedShape)
{
    for (const std::string& bad : {
             std::string(R"({"$c$":"gps","type":"gt20v6","imei":")") + fakes::kWorkedImei + "\"}",
             std::string(fuzz::kPositionBeginning) + "35630704244101\"}",   // 14 characters
             std::string(fuzz::kPositionBeginning) + "3563070424410135\"}", // 16
             kBeginning + R"(,"lat":51.20112})",                            // five decimals
             kBeginning + R"(,"lat":51.2011280})",                          // seven
             kBeginning + R"(,"lat":"51.201128"})",
             kBeginning + R"(,"alt":65536})",
             kBeginning + R"(,"hdop":256})",
             kBeginning + R"(,"height":1})",
             kBeginning + R"(,"time":"3.05.2017"})",
             kBeginning + R"(,"time":"03.13.2017"})",
             kBeginning + R"(,"time":"03.05.2017 24:00:00"})",
             kBeginning + R"(,"time":"03.05.2017 9:51:34 "})",
             kBeginning + R"(,"time":"03.05.2017 09:5:34"})",
         })
        EXPECT_NE("", problemOf(bad)) << bad;
}
