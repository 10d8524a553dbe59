// doctor: checks what a host relies on to create the module's classes, in
// the registry and on disk, and says for each thing found wrong how to fix
// it. It reads and loads, and changes nothing.
#pragma once

#include "Registration.h"

#include <cstdio>
#include <string>
#include <vector>

namespace pvthost {

struct Finding {
    std::string check;    // classes, module, typelib, host-typelib, data-server, per-user
    std::string subject;  // what it is about: classes, a key, a file
    std::string problem;
    std::string fix;
};

// Every finding for a registration in scope: the module's 26 classes (their
// class keys, programmatic identifiers, InprocServer32 file and threading
// model), the module's and the host's type libraries, the data server as
// the module would load it into this process and, for the machine's
// registration, per-user keys that shadow it. Findings that differ only in
// the class they concern come as one, naming the classes.
std::vector<Finding> Diagnose(Scope scope);

void WriteFindingsTable(std::FILE* out, Scope scope, const std::vector<Finding>& findings);
void WriteFindingsJson(std::FILE* out, Scope scope, const std::vector<Finding>& findings);

}  // namespace pvthost
