#include "FluidFile.h"

#include "Diagnostics.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace pvthost {

namespace {

constexpr const char* kPresenceKeyword = "present";
constexpr const char* kUnitKeyword = "unit";
constexpr int kValuesPerProperty = pvt::kPhaseCount + 1;

[[noreturn]] void Fail(const std::string& source, int line, const std::string& message) {
    throw CommandError(kExitFluid, source + ":" + std::to_string(line) + ": " + message);
}

std::vector<std::string> SplitWords(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream stream(line);
    std::string word;
    while (stream >> word) words.push_back(word);
    return words;
}

std::string StripComment(const std::string& line) {
    const auto hash = line.find('#');
    std::string content = hash == std::string::npos ? line : line.substr(0, hash);
    for (char& c : content) {
        if (c == '\t' || c == '\r') c = ' ';
    }
    return content;
}

// A number in C notation, or n/a for "not available".
bool ParseNumber(const std::string& word, double& value) {
    if (word == "n/a") {
        value = kEmptyValue;
        return true;
    }
    const char* begin = word.c_str();
    char* end = nullptr;
    errno = 0;
    value = std::strtod(begin, &end);
    return end != begin && *end == '\0' && errno != ERANGE;
}

int SlotOf(const std::string& name) {
    const auto& names = PropertyNames();
    for (int slot = 0; slot < pvt::kPropertySlotCount; ++slot) {
        if (name == names[static_cast<std::size_t>(slot)]) return slot;
    }
    return -1;
}

std::string Quote(const std::string& word) { return "\"" + word + "\""; }

struct Parser {
    std::string source;
    pvt::PropertyBlock block{};
    int presenceLine = 0;
    std::array<int, pvt::kPropertySlotCount> slotLine{};
    FluidUnits units;
    std::array<int, pvt::kPropertySlotCount> unitLine{};

    Parser() {
        for (auto& slot : block.slots) {
            for (double& value : slot) value = kEmptyValue;
        }
    }

    void Presence(const std::vector<std::string>& words, int line) {
        if (presenceLine) {
            Fail(source, line,
                 "presence flags already given on line " + std::to_string(presenceLine));
        }
        if (words.size() != 1 + pvt::kPhaseCount) {
            Fail(source, line,
                 "\"present\" needs 4 flags (0 or 1, phases 0 to 3), found " +
                     std::to_string(words.size() - 1));
        }
        for (int phase = 0; phase < pvt::kPhaseCount; ++phase) {
            const std::string& flag = words[static_cast<std::size_t>(phase) + 1];
            if (flag != "0" && flag != "1") {
                Fail(source, line, "presence flag " + Quote(flag) + " is not 0 or 1");
            }
            block.phasePresent[phase] = flag == "1" ? 1 : 0;
        }
        presenceLine = line;
    }

    void Property(const std::vector<std::string>& words, int line) {
        const std::string& name = words[0];
        const int slot = SlotOf(name);
        if (slot < 0) Fail(source, line, "unknown property " + Quote(name));
        int& firstLine = slotLine[static_cast<std::size_t>(slot)];
        if (firstLine) {
            Fail(source, line,
                 "property " + Quote(name) + " already given on line " + std::to_string(firstLine));
        }
        if (words.size() != 1 + kValuesPerProperty) {
            Fail(source, line,
                 "property " + Quote(name) +
                     " needs 5 values (phases 0 to 3, then overall), found " +
                     std::to_string(words.size() - 1));
        }
        for (int i = 0; i < kValuesPerProperty; ++i) {
            const std::string& word = words[static_cast<std::size_t>(i) + 1];
            if (!ParseNumber(word, block.slots[slot][i])) {
                Fail(source, line,
                     "value " + std::to_string(i + 1) + " of " + Quote(name) + ", " + Quote(word) +
                         ", is not a number or n/a");
            }
        }
        firstLine = line;
    }

    // "unit NAME TEXT": TEXT is the rest of the line, inner blanks kept as
    // single spaces.
    void Unit(const std::vector<std::string>& words, int line) {
        if (words.size() < 3) {
            Fail(source, line,
                 "\"unit\" needs a property name and a unit, e.g. "
                 "\"unit viscosity mPa s\"");
        }
        const std::string& name = words[1];
        const int slot = SlotOf(name);
        if (slot < 0) Fail(source, line, "unknown property " + Quote(name));
        int& firstLine = unitLine[static_cast<std::size_t>(slot)];
        if (firstLine) {
            Fail(source, line,
                 "unit of " + Quote(name) + " already given on line " + std::to_string(firstLine));
        }
        std::string unit = words[2];
        for (std::size_t i = 3; i < words.size(); ++i) unit += " " + words[i];
        units[static_cast<std::size_t>(slot)] = unit;
        firstLine = line;
    }

    void Line(const std::string& text, int line) {
        const std::vector<std::string> words = SplitWords(StripComment(text));
        if (words.empty()) return;
        if (words[0] == kPresenceKeyword) {
            Presence(words, line);
        } else if (words[0] == kUnitKeyword) {
            Unit(words, line);
        } else {
            Property(words, line);
        }
    }
};

}  // namespace

const std::array<const char*, pvt::kPropertySlotCount>& PropertyNames() {
    static const std::array<const char*, pvt::kPropertySlotCount> names = {
        "bubble_point_pressure",            // 0
        "bubble_point_temperature",         // 1
        "viscosity_coefficient_a",          // 2
        "viscosity_coefficient_b",          // 3
        "reserved_4",                       // 4
        "reserved_5",                       // 5
        "gas_oil_ratio",                    // 6
        "heat_capacity",                    // 7
        "heat_capacity_ratio",              // 8
        "reserved_9",                       // 9
        "mass_density",                     // 10
        "mass_enthalpy",                    // 11
        "mass_entropy",                     // 12
        "mass_flow_rate",                   // 13
        "mass_fraction",                    // 14
        "net_heating_value",                // 15
        "oil_formation_volume_factor",      // 16
        "oil_viscosity",                    // 17
        "solution_gas_oil_ratio",           // 18
        "std_liquid_mass_density",          // 19
        "surface_tension",                  // 20
        "thermal_conductivity",             // 21
        "thermal_conductivity_mass_blend",  // 22
        "thermal_conductivity_vol_blend",   // 23
        "viscosity",                        // 24
        "reserved_25",                      // 25
        "volume_fraction",                  // 26
        "watson_k",                         // 27
        "z_factor",                         // 28
    };
    return names;
}

pvt::PropertyBlock ParseFluidText(const std::string& text, const std::string& sourceName,
                                  FluidUnits* units) {
    Parser parser;
    parser.source = sourceName;
    std::istringstream stream(text);
    std::string line;
    int number = 0;
    while (std::getline(stream, line)) parser.Line(line, ++number);
    if (!parser.presenceLine) {
        throw CommandError(kExitFluid, sourceName +
                                           ": no \"present\" line with the presence flags of "
                                           "phases 0 to 3");
    }
    if (units != nullptr) *units = parser.units;
    return parser.block;
}

pvt::PropertyBlock ReadFluidFile(const std::wstring& path, FluidUnits* units) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        throw CommandError(kExitFluid,
                           "cannot read fluid file \"" + Utf8(path) + "\": " + DescribeHresult(hr));
    }
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    BOOL ok;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr)) && got > 0) {
        text.append(buffer, got);
    }
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    CloseHandle(file);
    if (error != ERROR_SUCCESS) {
        throw CommandError(kExitFluid, "cannot read fluid file \"" + Utf8(path) +
                                           "\": " + DescribeHresult(HRESULT_FROM_WIN32(error)));
    }
    return ParseFluidText(text, Utf8(path), units);
}

}  // namespace pvthost
