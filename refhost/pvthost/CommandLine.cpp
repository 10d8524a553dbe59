#include "CommandLine.h"

#include "Diagnostics.h"

namespace pvthost {

namespace {

[[noreturn]] void Usage(const std::string& command, const std::string& message) {
    throw CommandError(kExitUsage,
                       command + ": " + message + " (see \"pvthost " + command + " --help\")");
}

const OptionDefinition* FindDefinition(const std::vector<OptionDefinition>& definitions,
                                       const std::string& name) {
    for (const OptionDefinition& definition : definitions) {
        if (definition.name == name) return &definition;
    }
    return nullptr;
}

}  // namespace

std::wstring Options::Get(const std::string& name, const std::wstring& fallback) const {
    const auto it = values.find(name);
    return (it == values.end() || it->second.empty()) ? fallback : it->second.back();
}

Options ParseOptions(const std::string& command, const std::vector<std::wstring>& arguments,
                     const std::vector<OptionDefinition>& definitions) {
    Options options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string argument = Utf8(arguments[i]);
        if (argument == "--help" || argument == "-h" || argument == "/?") {
            options.help = true;
            continue;
        }
        if (argument.rfind("--", 0) != 0)
            Usage(command, "unexpected argument \"" + argument + "\"");
        std::string name = argument.substr(2);
        std::wstring value;
        bool hasInlineValue = false;
        const auto equals = name.find('=');
        if (equals != std::string::npos) {
            value = Wide(name.substr(equals + 1));
            name = name.substr(0, equals);
            hasInlineValue = true;
        }
        const OptionDefinition* definition = FindDefinition(definitions, name);
        if (definition == nullptr) Usage(command, "unknown option \"--" + name + "\"");
        if (!definition->takesValue && hasInlineValue) {
            Usage(command, "option \"--" + name + "\" takes no value");
        }
        if (definition->takesValue && !hasInlineValue) {
            if (i + 1 >= arguments.size())
                Usage(command, "option \"--" + name + "\" needs a value");
            value = arguments[++i];
        }
        if (!definition->repeatable && options.Has(name)) {
            Usage(command, "option \"--" + name + "\" given twice");
        }
        options.values[name].push_back(value);
    }
    return options;
}

}  // namespace pvthost
