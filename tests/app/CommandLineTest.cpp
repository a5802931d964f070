// tests/app/CommandLineTest.cpp: gpsbridge's options and the working directory they name.
#include "app/CommandLine.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "tests/fakes/TempDir.h"

using app::parseCommandLine;

TEST(CommandLineTest, ShortAndLongFormsOfHelpAndVersion)
{
    EXPECT_TRUE(parseCommandLine({"-h"}).help);
    EXPECT_TRUE(parseCommandLine({"--help"}).help);
    EXPECT_TRUE(parseCommandLine({"-V"}).version);
    EXPECT_TRUE(parseCommandLine({"--version"}).version);
    EXPECT_EQ("", parseCommandLine({"-h"}).error);
}

TEST(CommandLineTest, WorkdirTakesTheNextArgumentOrTheTextAfterTheEqualsSign)
{
    app::CommandLine c =
        parseCommandLine({"--headless", "--workdir", "/srv/gw1", "--check-config"});
    EXPECT_EQ("", c.error);
    EXPECT_TRUE(c.headless);
    EXPECT_TRUE(c.checkConfig);
    EXPECT_EQ("/srv/gw1", c.workdir);
    EXPECT_EQ("/srv/gw2", parseCommandLine({"--workdir=/srv/gw2"}).workdir);
}

TEST(CommandLineTest, RejectsUnknownOptionsAndAWorkdirWithoutADirectory)
{
    EXPECT_EQ("unknown option --port", parseCommandLine({"--port", "1"}).error);
    EXPECT_EQ("unknown option -x", parseCommandLine({"-x"}).error);
    EXPECT_FALSE(parseCommandLine({"--workdir"}).error.empty());
    EXPECT_FALSE(parseCommandLine({"--workdir="}).error.empty());
    EXPECT_FALSE(parseCommandLine({"--workdirx"}).error.empty());
}

TEST(CommandLineTest, WorkdirIsMadeAbsoluteAndATildeStandsForHome)
{
    EXPECT_EQ("/run/here", app::resolveWorkdir("", "/run/here", "/home/op"));
    EXPECT_EQ("/run/here/gw", app::resolveWorkdir("gw/", "/run/here", "/home/op"));
    EXPECT_EQ("/run/gw", app::resolveWorkdir("../gw", "/run/here", "/home/op"));
    EXPECT_EQ("/var/lib/gpsbridge", app::resolveWorkdir("/var/lib/gpsbridge", "/x", "/home/op"));
    EXPECT_EQ("/home/op/.local/share/gpsbridge",
              app::resolveWorkdir("~/.local/share/gpsbridge", "/x", "/home/op"));
    EXPECT_EQ("/home/op", app::resolveWorkdir("~", "/x", "/home/op"));
    EXPECT_EQ("/x/~other", app::resolveWorkdir("~other", "/x", "/home/op"));
}

TEST(CommandLineTest, HelpNamesEveryOptionAndTheExitStatuses)
{
    std::string help = app::usageText();
    for (const char* word : {"--headless", "--workdir DIR", "--check-config", "-h, --help",
                             "-V, --version", "Exit status"})
        EXPECT_NE(std::string::npos, help.find(word)) << word;
}

TEST(CommandLineTest, MissingWorkdirIsCreatedWithItsParentsAndAFileIsRefused)
{
    fakes::TempDir dir;
    bool created = false;
    EXPECT_EQ("", app::createWorkdir(dir.file("share/gpsbridge"), &created));
    EXPECT_TRUE(created);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("share/gpsbridge")));
    EXPECT_EQ("", app::createWorkdir(dir.file("share/gpsbridge"), &created));
    EXPECT_FALSE(created);
    std::ofstream(dir.file("plain")) << "x";
    EXPECT_NE("", app::createWorkdir(dir.file("plain"), &created));
    EXPECT_NE("", app::createWorkdir(dir.file("plain/below"), &created));
    // What the settings check says of a directory it does not make.
    for (auto [name, problem] : {std::pair{"share", ""}, std::pair{"new/deeper", ""},
                                 std::pair{"plain", "not a directory"},
                                 std::pair{"plain/below/deeper", "not a directory"}})
        EXPECT_EQ(problem, app::workdirProblem(dir.file(name))) << name;
    EXPECT_FALSE(std::filesystem::exists(dir.file("new")));
}
