// calc and list: create correlations by programmatic identifier, connect
// them to a fluid source, calculate, read "Phase_Values" back.
#pragma once

#include "ModuleClasses.h"
#include "host/HostInterfaces.h"

#include <string>

namespace pvthost {

struct CorrelationIdentity {
    std::string displayName;
    long kindCode = 0;
};

struct CorrelationResult {
    ModuleClass moduleClass;
    CorrelationIdentity identity;
    double values[4] = {};  // "Phase_Values": overall, then phases 0 to 2
};

// Creates the class's correlation and reads its display name and kind code.
// Throws CommandError (kExitCorrelation) naming the step that failed.
CorrelationIdentity DescribeCorrelation(const ModuleClass& moduleClass);

// Runs one correlation on the source's fluid item. Throws CommandError
// (kExitCorrelation) naming the step that failed.
CorrelationResult CalculateCorrelation(const ModuleClass& moduleClass,
                                       pvt::IConnectionSource* source);

}  // namespace pvthost
