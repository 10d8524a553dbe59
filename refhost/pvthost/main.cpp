// pvthost: the reference host's correlation manager. It registers the
// module, lists its correlation classes and runs them on a fluid file.
#include "Blend.h"
#include "Calculation.h"
#include "CommandLine.h"
#include "DataServer.h"
#include "Diagnostics.h"
#include "Doctor.h"
#include "FluidFile.h"
#include "FluidSource.h"
#include "ModuleClasses.h"
#include "PvtVersion.h"
#include "Registration.h"
#include "ResultWriter.h"

#include <fcntl.h>
#include <io.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

using namespace pvthost;

namespace {

const char kMainHelp[] =
    "Usage: pvthost COMMAND [OPTIONS]\n"
    "\n"
    "The reference host's correlation manager for the PvtCorrelator module.\n"
    "\n"
    "Commands:\n"
    "  register     register the module and the host's correlation type library\n"
    "  unregister   unregister both again\n"
    "  list         list the registered correlation classes\n"
    "  calc         run correlations on a fluid file and print what they publish\n"
    "  blend        print the Viscosity class's oil-water blend from all phase 1\n"
    "               to all phase 2\n"
    "  doctor       check the registration and the files a host relies on\n"
    "\n"
    "\"pvthost COMMAND --help\" describes a command; \"pvthost --version\" prints\n"
    "the version.\n"
    "Exit codes: 0 success, 1 bad command line or unknown class, 2 fluid file\n"
    "unreadable or invalid (or unfit for blend), 3 module not registered,\n"
    "4 registration failed, 5 a correlation failed, 6 objects left alive after\n"
    "release. \"doctor\" has its own: 0 healthy, 1 findings, 2 bad command line.\n";

const char kRegisterHelp[] =
    "Usage: pvthost register [--module PATH] [--typelib PATH] [--user]\n"
    "\n"
    "Registers the module by calling its DllRegisterServer (as regsvr32 does),\n"
    "then registers the host's correlation type library (ICorrelation).\n"
    "\n"
    "  --module PATH    the module (default: ..\\bin\\PvtCorrelator.dll beside\n"
    "                   the folder of pvthost.exe)\n"
    "  --typelib PATH   the host's type library (default:\n"
    "                   ..\\bin\\HostCorrelation.tlb beside the folder of pvthost.exe)\n"
    "  --user           for the current user only, under\n"
    "                   HKEY_CURRENT_USER\\Software\\Classes: calls the module's\n"
    "                   DllInstall with \"user\" (as regsvr32 /n /i:user does) and\n"
    "                   registers the type library there too. Wine creates\n"
    "                   objects from the machine's classes only: \"list\" and\n"
    "                   \"calc\" see a per-user registration on Windows alone.\n";

const char kUnregisterHelp[] =
    "Usage: pvthost unregister [--module PATH] [--typelib PATH]\n"
    "\n"
    "Calls the module's DllUnregisterServer, then unregisters the host's\n"
    "correlation type library. A type library that is not registered is left\n"
    "as it is. Options and defaults as for \"pvthost register\"; with --user,\n"
    "removes what \"pvthost register --user\" wrote.\n";

const char kListHelp[] =
    "Usage: pvthost list\n"
    "\n"
    "Lists the correlation classes of the registered module in catalogue order:\n"
    "programmatic identifier, class identifier, display name and kind code\n"
    "(each class is created once to ask for the last two).\n";

const char kCalcHelp[] =
    "Usage: pvthost calc --fluid FILE [--class NAME]... [--format table|json|csv]\n"
    "\n"
    "Creates each correlation by its programmatic identifier PvtCorrelator.NAME,\n"
    "connects it to a fluid read from FILE, calculates, and prints its\n"
    "\"Phase_Values\": the overall value and phases 0 to 2. A value that is not\n"
    "available prints as n/a (table), null (json) or an empty field (csv).\n"
    "\n"
    "  --fluid FILE     the fluid file (see refhost/README.md)\n"
    "  --class NAME     a class to run, e.g. BubblePtPressure; may be repeated;\n"
    "                   default: all registered classes in catalogue order\n"
    "  --format F       table (default), json or csv\n"
    "\n"
    "Fluid file lines: \"present F0 F1 F2 F3\" (presence flags 0 or 1 of phases\n"
    "0 to 3) and \"NAME V0 V1 V2 V3 OVERALL\" (phases 0 to 3, then overall;\n"
    "n/a for a value not available); optional \"unit NAME TEXT\" lines give\n"
    "units; \"#\" starts a comment. Property names:\n";

const char kBlendHelp[] =
    "Usage: pvthost blend --fluid FILE [--points N] [--format csv|json]\n"
    "\n"
    "Runs the Viscosity class on the liquid of the fluid in FILE with its oil\n"
    "and water fractions varied: the mass fraction of phase 0 (gas) is 0 and\n"
    "phases 1 (oil) and 2 (water) share the rest, so that f, the volume\n"
    "fraction of phase 1 in phases 1 and 2, steps evenly from 1 (all phase 1)\n"
    "down to 0 (all phase 2). Everything else is as in FILE. Each point prints\n"
    "f, the mass fractions x1 and x2 given to the fluid, and what the class\n"
    "publishes: mu1 and mu2 (phases 1 and 2) and the blend (overall value).\n"
    "\n"
    "The blend: below f = 0.33 phase 1 dispersed in phase 2, above f = 0.5\n"
    "phase 2 dispersed in phase 1, and a linear blend of the two in between.\n"
    "\n"
    "  --fluid FILE     the fluid file (see refhost/README.md); phases 1 and 2\n"
    "                   must be present with positive mass densities and\n"
    "                   viscosities, or their fractions cannot be varied (exit 2)\n"
    "  --points N       points from all phase 1 to all phase 2, 2 to 10001\n"
    "                   (default 101)\n"
    "  --format F       csv (default) or json; json also gives the viscosity's\n"
    "                   unit from the fluid file's \"unit viscosity ...\" line\n"
    "                   (null when it has none)\n";

const char kDoctorHelp[] =
    "Usage: pvthost doctor [--user] [--format table|json]\n"
    "\n"
    "Checks what a host relies on to create the module's classes and prints one\n"
    "line per finding, with its fix; it changes nothing. For the machine's\n"
    "registration (or, with --user, the current user's):\n"
    "  - each of the 26 classes: its class key, ProgID and VersionIndependentProgID\n"
    "    and both programmatic-identifier keys agree, and it names the module's\n"
    "    type library;\n"
    "  - InprocServer32 names an existing 64-bit file that is the module, of this\n"
    "    pvthost's version, with ThreadingModel Apartment;\n"
    "  - the module's type library is registered, its file exists and holds\n"
    "    version 1.0;\n"
    "  - the host's correlation type library is registered likewise (dispatch\n"
    "    needs it);\n"
    "  - varhub2.dll loads by name in this process, as the module would load it\n"
    "    in a host whose executable is where pvthost.exe is;\n"
    "  - without --user: per-user keys that shadow the machine's registration,\n"
    "    and stale per-user keys that name a missing file.\n"
    "Findings that differ only in their class come as one line naming the classes.\n"
    "\n"
    "  --user       check the current user's registration\n"
    "  --format F   table (default) or json\n"
    "\n"
    "Exit codes: 0 healthy (no finding), 1 one finding or more, 2 bad command line.\n";

constexpr int kDefaultBlendPoints = 101;
constexpr int kMaxBlendPoints = 10001;

// Sets up COM for the command's duration.
class ComApartment {
public:
    ComApartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {
        if (FAILED(hr_)) {
            throw CommandError(kExitCorrelation, "cannot initialise COM: " + DescribeHresult(hr_));
        }
    }
    ~ComApartment() { CoUninitialize(); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    HRESULT hr_;
};

// Every object the run made must be gone once it has released them all.
void CheckEverythingReleased() {
    std::string problems;
    if (const long live = LiveSourceObjects()) {
        problems += std::to_string(live) + " source, item or fluid object(s) still alive; ";
    }
    DataServer server;
    if (!FindDataServer(server)) {
        // Not loaded (nothing was created) or a foreign one: nothing to count.
    } else if (const LONG live = server.liveObjectCount()) {
        problems += std::to_string(live) + " data-server object(s) still alive; ";
    }
    if (HMODULE module = GetModuleHandleW(L"PvtCorrelator.dll")) {
        using CanUnload = HRESULT(STDAPICALLTYPE*)();
        auto canUnload = reinterpret_cast<CanUnload>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
        if (canUnload && canUnload() != S_OK) problems += "the module cannot unload; ";
    }
    if (!problems.empty()) {
        problems.resize(problems.size() - 2);
        throw CommandError(kExitUnbalanced, "after release: " + problems);
    }
}

void PrintPropertyNames() {
    for (int slot = 0; slot < pvt::kPropertySlotCount; ++slot) {
        std::printf("  %2d  %s\n", slot, PropertyNames()[static_cast<std::size_t>(slot)]);
    }
}

const std::vector<OptionDefinition> kRegistrationOptions = {
    {"module", true, false}, {"typelib", true, false}, {"user", false, false}};

Scope RegistrationScope(const Options& options) {
    return options.Has("user") ? Scope::User : Scope::Machine;
}

int RunRegister(const std::vector<std::wstring>& arguments) {
    const Options options = ParseOptions("register", arguments, kRegistrationOptions);
    if (options.help) return std::fputs(kRegisterHelp, stdout), kExitOk;
    ComApartment apartment;
    const Scope scope = RegistrationScope(options);
    RegisterModule(options.Get("module", DefaultModulePath()), scope);
    RegisterHostTypeLibrary(options.Get("typelib", DefaultHostTypeLibraryPath()), scope);
    return kExitOk;
}

int RunUnregister(const std::vector<std::wstring>& arguments) {
    const Options options = ParseOptions("unregister", arguments, kRegistrationOptions);
    if (options.help) return std::fputs(kUnregisterHelp, stdout), kExitOk;
    ComApartment apartment;
    const Scope scope = RegistrationScope(options);
    UnregisterModule(options.Get("module", DefaultModulePath()), scope);
    UnregisterHostTypeLibrary(options.Get("typelib", DefaultHostTypeLibraryPath()), scope);
    return kExitOk;
}

std::string ClassIdText(const CLSID& classId) {
    wchar_t text[40] = {};
    StringFromGUID2(classId, text, 40);
    return Utf8(text);
}

int RunList(const std::vector<std::wstring>& arguments) {
    const Options options = ParseOptions("list", arguments, {});
    if (options.help) return std::fputs(kListHelp, stdout), kExitOk;
    ComApartment apartment;
    std::vector<std::vector<std::string>> rows;
    int exitCode = kExitOk;
    for (const ModuleClass& moduleClass : RegisteredClasses()) {
        try {
            const CorrelationIdentity identity = DescribeCorrelation(moduleClass);
            rows.push_back({Utf8(moduleClass.progId), ClassIdText(moduleClass.classId),
                            identity.displayName, std::to_string(identity.kindCode)});
        } catch (const CommandError& error) {
            std::fprintf(stderr, "pvthost: %s\n", error.what());
            exitCode = error.ExitCode();
        }
    }
    WriteTable(stdout, {"ProgID", "Class identifier", "Display name", "Kind"}, rows,
               {false, false, false, true});
    CoFreeUnusedLibraries();
    CheckEverythingReleased();
    return exitCode;
}

int RunCalc(const std::vector<std::wstring>& arguments) {
    const Options options =
        ParseOptions("calc", arguments,
                     {{"fluid", true, false}, {"class", true, true}, {"format", true, false}});
    if (options.help) {
        std::fputs(kCalcHelp, stdout);
        PrintPropertyNames();
        return kExitOk;
    }
    if (!options.Has("fluid")) {
        throw CommandError(kExitUsage,
                           "calc: --fluid FILE is required (see \"pvthost calc --help\")");
    }
    OutputFormat format = OutputFormat::Table;
    const std::string formatName = Utf8(options.Get("format", L"table"));
    if (!ParseOutputFormat(formatName, format)) {
        throw CommandError(kExitUsage,
                           "calc: unknown format \"" + formatName + "\"; use table, json or csv");
    }
    const pvt::PropertyBlock block = ReadFluidFile(options.Get("fluid", L""));

    ComApartment apartment;
    std::vector<ModuleClass> classes = RegisteredClasses();
    if (options.Has("class")) classes = SelectClasses(classes, options.values.at("class"));

    std::vector<CorrelationResult> results;
    int exitCode = kExitOk;
    pvt::IConnectionSource* source = CreateFluidSource(block);
    for (const ModuleClass& moduleClass : classes) {
        try {
            results.push_back(CalculateCorrelation(moduleClass, source));
        } catch (const CommandError& error) {
            std::fprintf(stderr, "pvthost: %s\n", error.what());
            exitCode = error.ExitCode();
        } catch (const std::bad_alloc&) {
            source->Release();
            throw;
        }
    }
    source->Release();
    WriteResults(stdout, format, results);
    CoFreeUnusedLibraries();
    CheckEverythingReleased();
    return exitCode;
}

int ParsePointCount(const std::wstring& text) {
    const std::string word = Utf8(text);
    char* end = nullptr;
    const long value = std::strtol(word.c_str(), &end, 10);
    if (word.empty() || *end != '\0' || value < 2 || value > kMaxBlendPoints) {
        throw CommandError(kExitUsage, "blend: --points \"" + word +
                                           "\" is not a whole number "
                                           "from 2 to " +
                                           std::to_string(kMaxBlendPoints));
    }
    return static_cast<int>(value);
}

int RunBlend(const std::vector<std::wstring>& arguments) {
    const Options options =
        ParseOptions("blend", arguments,
                     {{"fluid", true, false}, {"points", true, false}, {"format", true, false}});
    if (options.help) return std::fputs(kBlendHelp, stdout), kExitOk;
    if (!options.Has("fluid")) {
        throw CommandError(kExitUsage,
                           "blend: --fluid FILE is required (see \"pvthost blend --help\")");
    }
    const int count =
        options.Has("points") ? ParsePointCount(options.Get("points", L"")) : kDefaultBlendPoints;
    const std::string format = Utf8(options.Get("format", L"csv"));
    if (format != "csv" && format != "json") {
        throw CommandError(kExitUsage, "blend: unknown format \"" + format + "\"; use csv or json");
    }
    const std::wstring fluidPath = options.Get("fluid", L"");
    FluidUnits units;
    const pvt::PropertyBlock block = ReadFluidFile(fluidPath, &units);
    CheckBlendFluid(block, Utf8(fluidPath));

    ComApartment apartment;
    const std::vector<ModuleClass> viscosity = SelectClasses(RegisteredClasses(), {L"Viscosity"});
    const std::vector<BlendPoint> points = CalculateBlend(viscosity.front(), block, count);
    if (format == "json") {
        WriteBlendJson(stdout, points, units);
    } else {
        WriteBlendCsv(stdout, points);
    }
    CoFreeUnusedLibraries();
    CheckEverythingReleased();
    return kExitOk;
}

// doctor's exit codes differ from the other commands': 1 is a finding, so a
// bad command line is 2.
constexpr int kDoctorFindings = 1;
constexpr int kDoctorUsage = 2;

int RunDoctor(const std::vector<std::wstring>& arguments) {
    Options options;
    try {
        options =
            ParseOptions("doctor", arguments, {{"user", false, false}, {"format", true, false}});
    } catch (const CommandError& error) {
        throw CommandError(kDoctorUsage, error.what());
    }
    if (options.help) return std::fputs(kDoctorHelp, stdout), kExitOk;
    const std::string format = Utf8(options.Get("format", L"table"));
    if (format != "table" && format != "json") {
        throw CommandError(kDoctorUsage,
                           "doctor: unknown format \"" + format + "\"; use table or json");
    }
    ComApartment apartment;
    const Scope scope = RegistrationScope(options);
    const std::vector<Finding> findings = Diagnose(scope);
    if (format == "json") {
        WriteFindingsJson(stdout, scope, findings);
    } else {
        WriteFindingsTable(stdout, scope, findings);
    }
    return findings.empty() ? kExitOk : kDoctorFindings;
}

int Run(const std::vector<std::wstring>& arguments) {
    if (arguments.empty()) {
        std::fputs(kMainHelp, stderr);
        return kExitUsage;
    }
    const std::string command = Utf8(arguments[0]);
    const std::vector<std::wstring> rest(arguments.begin() + 1, arguments.end());
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kMainHelp, stdout);
        return kExitOk;
    }
    if (command == "--version") {
        if (!rest.empty()) {
            throw CommandError(kExitUsage, "--version takes no arguments");
        }
        std::printf("pvthost %s\n", PVT_VERSION_TEXT);
        return kExitOk;
    }
    if (command == "register") return RunRegister(rest);
    if (command == "unregister") return RunUnregister(rest);
    if (command == "list") return RunList(rest);
    if (command == "calc") return RunCalc(rest);
    if (command == "blend") return RunBlend(rest);
    if (command == "doctor") return RunDoctor(rest);
    throw CommandError(kExitUsage, "unknown command \"" + command + "\" (see \"pvthost --help\")");
}

std::vector<std::wstring> CommandArguments() {
    int count = 0;
    LPWSTR* raw = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> arguments;
    if (raw == nullptr) return arguments;
    for (int i = 1; i < count; ++i) arguments.emplace_back(raw[i]);
    LocalFree(raw);
    return arguments;
}

}  // namespace

int main() {
    // The same bytes on every platform: no CR inserted before LF.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    int exitCode;
    try {
        exitCode = Run(CommandArguments());
    } catch (const CommandError& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "pvthost: %s\n", error.what());
        exitCode = error.ExitCode();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "pvthost: out of memory\n");
        exitCode = kExitCorrelation;
    }
    std::fflush(stdout);
    return exitCode;
}
