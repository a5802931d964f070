// tests/tools/common/CommandLineChecks.h: the checks every tool's command-line test makes.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tooltest {

// Each command line is refused with an error text.
template <typename Parse>
void expectEachRefused(Parse parse, const std::vector<std::vector<std::string>>& lines)
{
    for (const std::vector<std::string>& args : lines) {
        std::string shown;
        for (const std::string& arg : args)
            shown += " " + arg;
        EXPECT_NE("", parse(args).error) << "refused:" << shown;
    }
}

// The usage text names each of these.
inline void expectUsageShows(const std::string& usage, std::initializer_list<const char*> names)
{
    for (const char* name : names)
        EXPECT_NE(std::string::npos, usage.find(name)) << name;
}

} // namespace tooltest
