// Errors, exit codes and text conversion shared by pvthost's commands.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>

namespace pvthost {

// Exit codes; README.md lists them for users.
enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 1,          // bad command line, unknown class or format
    kExitFluid = 2,          // fluid file unreadable or invalid
    kExitNotRegistered = 3,  // the module is not registered
    kExitRegistration = 4,   // register or unregister failed
    kExitCorrelation = 5,    // a correlation failed to create, connect or calculate
    kExitUnbalanced = 6,     // objects still alive after everything was released
};

// A failure that ends the command with a message and an exit code.
class CommandError : public std::runtime_error {
public:
    CommandError(int exitCode, const std::string& message)
        : std::runtime_error(message), exitCode_(exitCode) {}
    int ExitCode() const { return exitCode_; }

private:
    int exitCode_;
};

std::string Utf8(const std::wstring& text);
std::string Utf8(const wchar_t* text);
std::wstring Wide(const std::string& utf8);

// "0x80004005 (Unspecified error)": the code in hex with the platform's
// message for it, when it has one.
std::string DescribeHresult(HRESULT hr);

}  // namespace pvthost
