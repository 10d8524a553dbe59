// The correlation classes the registered module offers, in catalogue order:
// the coclasses of its registered type library whose programmatic
// identifier "PvtCorrelator.<Name>" is registered for the same class.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace pvthost {

struct ModuleClass {
    std::wstring name;    // catalogue name, e.g. BubblePtPressure
    std::wstring progId;  // PvtCorrelator.BubblePtPressure
    CLSID classId;
};

// Throws CommandError (kExitNotRegistered) when the module is not
// registered.
std::vector<ModuleClass> RegisteredClasses();

// The classes named, in the order named; every name must be one of
// classes (case-insensitive), or CommandError (kExitUsage) lists the valid
// names.
std::vector<ModuleClass> SelectClasses(const std::vector<ModuleClass>& classes,
                                       const std::vector<std::wstring>& names);

}  // namespace pvthost
