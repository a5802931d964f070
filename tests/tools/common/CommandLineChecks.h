// tests/tools/common/CommandLineChecks.h: the checks every tool's command-line test makes.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace tooltest {

// A command line as typed, split at every space: "--acked " ends in an empty argument.
inline std::vector<std::string> words(const std::string& line)
{
    std::vector<std::string> out;
    std::size_t from = 0;
    for (std::size_t at; (at = line.find(' ', from)) != std::string::npos; from = at + 1)
        out.push_back(line.substr(from, at - from));
    if (!line.empty())
        out.push_back(line.substr(from));
    return out;
}

// Each command line is refused with an error text.
template <typename Parse>
void expectEachRefused(Parse parse, std::initializer_list<const char*> lines)
{
    for (const char* line : lines)
        EXPECT_NE("", parse(words(line)).error) << "refused: '" << line << "'";
}

// -h and --help ask for the help only, -V and --version for the version only.
template <typename Parse> void expectHelpAndVersionInBothForms(Parse parse)
{
    const std::pair<const char*, bool> forms[] = {
        {"-h", true}, {"--help", true}, {"-V", false}, {"--version", false}};
    for (const auto& [arg, help] : forms) {
        const auto r = parse({arg});
        EXPECT_EQ("", r.error) << arg;
        EXPECT_EQ(help, r.options.help) << arg;
        EXPECT_EQ(!help, r.options.version) << arg;
    }
}

// The usage text names each of these.
inline void expectUsageShows(const std::string& usage, std::initializer_list<const char*> names)
{
    for (const char* name : names)
        EXPECT_NE(std::string::npos, usage.find(name)) << name;
}

} // namespace tooltest
