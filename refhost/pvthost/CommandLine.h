// Options of one command: "--name value", "--name=value" or a bare switch.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace pvthost {

struct OptionDefinition {
    std::string name;  // without the leading dashes
    bool takesValue;
    bool repeatable;
};

struct Options {
    bool help = false;
    std::map<std::string, std::vector<std::wstring>> values;

    bool Has(const std::string& name) const { return values.count(name) != 0; }
    // The value of a single-valued option, or fallback.
    std::wstring Get(const std::string& name, const std::wstring& fallback) const;
};

// Parses the arguments after the command name. Throws CommandError
// (kExitUsage) for an unknown option, a missing value, a repeated option
// that is not repeatable, or a stray argument.
Options ParseOptions(const std::string& command, const std::vector<std::wstring>& arguments,
                     const std::vector<OptionDefinition>& definitions);

}  // namespace pvthost
