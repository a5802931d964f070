// tools/common/OptionReader.h: strict reading of the tools' "--name value" command lines.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tools {

// One option a tool accepts. A flag takes no value; any other option takes exactly one, written
// as "--name value" or "--name=value". apply returns an error text, empty when the value is fine.
// A flag may also have a one-letter name: "-h" for "--help".
template <typename Options> struct OptionDef
{
    std::string_view name; // without the leading dashes
    bool flag = false;
    std::function<std::string(Options&, const std::string&)> apply;
    char letter = 0; // 0: none
};

// -h/--help and -V/--version, which every tool takes; they set the options' help and version.
template <typename Options> std::vector<OptionDef<Options>> standardDefinitions();

// "<tool> <the project's version>" and a line end, for --version.
std::string versionText(std::string_view tool);

// What a tool's main does with its parsed command line before it runs: an error goes to standard
// error with the usage (status 2), --help prints the usage and --version the version (status 0).
// Nothing when the tool is to run.
std::optional<int> answerCommandLine(std::string_view tool, const std::string& error, bool help,
                                     bool version, const std::string& usage);

// Applies the command line (without the program name) to options in order. Returns an error text
// for the first unknown option, bare word, missing or unwanted value, or value that apply refuses;
// empty when everything was applied.
template <typename Options>
std::string readOptions(const std::vector<OptionDef<Options>>& defs,
                        const std::vector<std::string>& args, Options& options);

// Value checks shared by the tools. Each returns an error text naming the option, empty on success.
std::string readUnsigned(std::string_view option, const std::string& text, std::uint64_t min,
                         std::uint64_t max, std::uint64_t* out);
std::string readDecimal(std::string_view option, const std::string& text, double min, double max,
                        double* out);

// Reads an unsigned option into any integer field.
template <typename T>
std::string readInto(std::string_view option, const std::string& text, std::uint64_t min,
                     std::uint64_t max, T* out)
{
    std::uint64_t v = 0;
    std::string error = readUnsigned(option, text, min, max, &v);
    if (error.empty())
        *out = static_cast<T>(v);
    return error;
}

} // namespace tools

template <typename Options> std::vector<tools::OptionDef<Options>> tools::standardDefinitions()
{
    return {
        {"help", true,
         [](Options& o, const std::string&) {
             o.help = true;
             return std::string();
         },
         'h'},
        {"version", true,
         [](Options& o, const std::string&) {
             o.version = true;
             return std::string();
         },
         'V'},
    };
}

template <typename Options>
std::string tools::readOptions(const std::vector<OptionDef<Options>>& defs,
                               const std::vector<std::string>& args, Options& options)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() == 2 && arg[0] == '-' && arg[1] != '-') {
            const OptionDef<Options>* def = nullptr;
            for (const auto& d : defs)
                if (d.flag && d.letter == arg[1])
                    def = &d;
            if (!def)
                return "unknown option " + arg;
            std::string error = def->apply(options, {});
            if (!error.empty())
                return error;
            continue;
        }
        if (arg.size() < 3 || arg.compare(0, 2, "--") != 0)
            return "unexpected argument '" + arg + "'";
        std::size_t eq = arg.find('=');
        std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        const OptionDef<Options>* def = nullptr;
        for (const auto& d : defs)
            if (d.name == name)
                def = &d;
        if (!def)
            return "unknown option --" + name;
        std::string value;
        if (def->flag) {
            if (eq != std::string::npos)
                return "--" + name + " takes no value";
        } else if (eq != std::string::npos) {
            value = arg.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return "--" + name + " needs a value";
        }
        std::string error = def->apply(options, value);
        if (!error.empty())
            return error;
    }
    return {};
}
