// Fuzzing the registry script engine over the registry double: mutated class
// scripts, generated scripts and token soup, with now and then a registry
// failure injected. No case may crash or hang; every result is one the
// engine documents; no handle stays open; and a script that registered
// leaves, once unregistered, nothing behind but keys it marks NoRemove (and
// the keys above them).
//
// PVT_FUZZ_CASES sets the number of cases (100000 by default), PVT_FUZZ_SEED
// the seed; a failure names the case, which PVT_FUZZ_FIRST and
// PVT_FUZZ_CASES=1 run alone.
#include "com/ModuleResources.h"
#include "hardening/HardeningSupport.h"
#include "registration/Registrar.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <set>
#include <thread>

namespace pvt::test {
namespace {

using Random = std::mt19937_64;

std::size_t Below(Random& random, std::size_t n) {
    return n == 0 ? 0 : static_cast<std::size_t>(random() % n);
}

// The class scripts as the module's resources hold them.
std::vector<std::string> ClassScripts() {
    std::vector<std::string> scripts;
    for (int i = 0; i < kCatalogueSize; ++i) {
        const std::string_view script =
            FindModuleResource(L"REGISTRY", MAKEINTRESOURCEW(kCatalogue[i].scriptResourceId));
        scripts.emplace_back(script.substr(0, script.find('\0')));
    }
    return scripts;
}

const char* const kTokens[] = {"{",
                               "}",
                               "=",
                               "'",
                               "''",
                               " ",
                               "\t",
                               "\r\n",
                               "%",
                               "%%",
                               "%MODULE%",
                               "%Module_Raw%",
                               "%APPID%",
                               "%NOSUCHNAME%",
                               "%0123456789012345678901234567890123%",
                               "NoRemove",
                               "ForceRemove",
                               "noremove",
                               "val",
                               "s",
                               "d",
                               "HKCR",
                               "HKLM",
                               "HKEY_CLASSES_ROOT",
                               "HKXX",
                               "CLSID",
                               "TypeLib",
                               "Interface",
                               "AppID",
                               "\\",
                               "a\\b",
                               "'x y'",
                               "'it''s'",
                               "''''",
                               "{4DF4A90C-3E4E-4a2e-8186-3C9042C91674}",
                               "InprocServer32",
                               "\xE9\xFF\x80",
                               "\x01"};

std::string RandomToken(Random& random) {
    switch (Below(random, 8)) {
        case 0: {
            std::string bytes(1 + Below(random, 6), '\0');
            for (char& c : bytes) c = static_cast<char>(1 + Below(random, 255));
            return bytes;
        }
        case 1:
            return std::string(1 + Below(random, 5000), 'k');  // past the token limit at times
        default:
            return kTokens[Below(random, std::size(kTokens))];
    }
}

// One change to a script: a flipped bit, a new byte, an inserted token, a
// deletion, a duplicated range or a splice from another script.
void Mutate(std::string& script, Random& random, const std::vector<std::string>& scripts) {
    const std::size_t at = Below(random, script.size() + 1);
    switch (Below(random, 7)) {
        case 0:
            if (!script.empty())
                script[Below(random, script.size())] ^= static_cast<char>(1 << Below(random, 8));
            break;
        case 1:
            if (!script.empty()) script[Below(random, script.size())] = static_cast<char>(random());
            break;
        case 2:
        case 3:
            script.insert(at, RandomToken(random));
            break;
        case 4:
            script.erase(at, Below(random, 40));
            break;
        case 5: {
            const std::size_t from = Below(random, script.size() + 1);
            script.insert(at, script.substr(from, Below(random, 60)));
            break;
        }
        default: {
            const std::string& other = scripts[Below(random, scripts.size())];
            const std::size_t from = Below(random, other.size() + 1);
            script = script.substr(0, at) + other.substr(from);
            break;
        }
    }
}

const wchar_t* const kNames[] = {L"A",     L"b",   L"Key",      L"CLSID", L"TypeLib",
                                 L"'x y'", L"''",  L"%MODULE%", L"k%%",   L"Interface",
                                 L"'{}'",  L"'='", L"Sub",      L"a"};

// A script from the grammar, with keys drawn from a small pool of names so
// that items meet, and now and then a structural slip.
void GenerateItems(std::wstring& out, Random& random, int depth) {
    const std::size_t items = Below(random, 4);
    for (std::size_t i = 0; i < items; ++i) {
        if (Below(random, 5) == 0) {
            out += L" val ";
            out += kNames[Below(random, std::size(kNames))];
            out += L" = s 'v" + std::to_wstring(Below(random, 3)) + L"'";
            continue;
        }
        switch (Below(random, 5)) {
            case 0:
                out += L" NoRemove";
                break;
            case 1:
                out += L" ForceRemove";
                break;
            default:
                break;
        }
        out += L" ";
        out += kNames[Below(random, std::size(kNames))];
        if (Below(random, 2) == 0) out += L" = s 'd" + std::to_wstring(Below(random, 3)) + L"'";
        if (depth < 6 && Below(random, 2) == 0) {
            out += L" {";
            GenerateItems(out, random, depth + 1);
            out += L" }";
        }
        if (Below(random, 60) == 0) out += kNames[Below(random, 3)];  // a slip
    }
}

std::wstring GenerateScript(Random& random) {
    std::wstring script;
    const std::size_t blocks = 1 + Below(random, 3);
    for (std::size_t b = 0; b < blocks; ++b) {
        script += Below(random, 20) == 0 ? L"HKCU" : L"HKCR";
        script += L" {";
        GenerateItems(script, random, 0);
        script += L" }\n";
    }
    return script;
}

// The names that follow a bare NoRemove, tokenised as the engine does; the
// names that follow "val" into valueNames.
std::set<std::string> NoRemoveNames(std::wstring_view text, std::vector<std::wstring>& valueNames) {
    std::set<std::string> names;
    bool afterVal = false;
    std::size_t p = 0;
    bool afterNoRemove = false;
    auto space = [](wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; };
    while (p < text.size()) {
        while (p < text.size() && space(text[p])) ++p;
        if (p == text.size()) break;
        std::wstring token;
        bool quoted = text[p] == L'\'';
        if (quoted) {
            ++p;
            while (p < text.size()) {
                const wchar_t c = text[p++];
                if (c == L'\'') {
                    if (p == text.size() || text[p] != L'\'') break;
                    ++p;
                }
                token.push_back(c);
            }
        } else {
            while (p < text.size() && !space(text[p])) token.push_back(text[p++]);
        }
        if (afterNoRemove) names.insert(Upper(Utf8(token)));
        if (afterVal && !token.empty()) valueNames.push_back(token);  // "" is a default value
        afterNoRemove = !quoted && EqualNamesNoCase(token, L"NoRemove");
        afterVal = !quoted && EqualNamesNoCase(token, L"val");
    }
    return names;
}

// What register-then-unregister may leave in a registry that was empty but
// for HKCR\CLSID: keys named after NoRemove and the keys above them; none
// of the values the script names after "val". Empty when nothing else is left.
std::string UnexpectedResidue(const RegistryDouble& registry, const std::set<std::string>& keep,
                              const std::vector<std::wstring>& valueNames) {
    const HKEY roots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,
                          HKEY_CURRENT_CONFIG};
    std::string problem;
    // Returns whether the key at path remains for a good reason.
    std::function<bool(HKEY, const std::wstring&)> visit = [&](HKEY root,
                                                               const std::wstring& path) {
        bool hasChildren = false;
        for (const std::wstring& child : registry.Subkeys(root, path)) {
            visit(root, path.empty() ? child : path + L"\\" + child);
            hasChildren = true;
        }
        for (const std::wstring& name : valueNames) {
            if (registry.Value(root, path, name) && problem.empty()) {
                problem = "value " + Utf8(name) + " in " + Utf8(path);
            }
        }
        if (path.empty() || hasChildren) return true;
        const std::size_t slash = path.rfind(L'\\');
        const std::string name =
            Upper(Utf8(slash == std::wstring::npos ? path : path.substr(slash + 1)));
        const bool kept = keep.count(name) != 0 || (root == HKEY_CLASSES_ROOT && path == L"CLSID");
        if (!kept && problem.empty()) problem = "key " + Utf8(path);
        return kept;
    };
    for (HKEY root : roots) visit(root, std::wstring());
    return problem;
}

bool Documented(HRESULT hr, LONG injected) {
    const LONG errors[] = {ERROR_FILE_NOT_FOUND,
                           ERROR_ACCESS_DENIED,
                           ERROR_KEY_DELETED,
                           ERROR_INVALID_HANDLE,
                           ERROR_INVALID_PARAMETER,
                           ERROR_NO_MORE_ITEMS,
                           ERROR_NO_UNICODE_TRANSLATION,
                           injected};
    if (hr == S_OK || hr == DISP_E_EXCEPTION || hr == E_FAIL || hr == E_OUTOFMEMORY) return true;
    for (LONG error : errors) {
        if (error != 0 && hr == HRESULT_FROM_WIN32(error)) return true;
    }
    return false;
}

struct FuzzTally {
    long cases = 0;
    long registered = 0;  // register succeeded
    long roundTrips = 0;  // and unregister succeeded and was checked
    long injectedFaults = 0;
};

std::atomic<long> currentCase{-1};

// Ends the process, naming the case, when a case makes no progress.
class Watchdog {
public:
    explicit Watchdog(unsigned long long seed) : seed_(seed), thread_([this] { Watch(); }) {}
    ~Watchdog() {
        done_ = true;
        thread_.join();
    }

private:
    void Watch() {
        long last = -2;
        int still = 0;
        while (!done_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const long now = currentCase.load();
            still = (now == last) ? still + 1 : 0;
            last = now;
            if (still > 300) {
                std::fprintf(stderr, "registrar fuzz: case %ld (seed %llu) hangs\n", now, seed_);
                std::fflush(stderr);
                TerminateProcess(GetCurrentProcess(), 3);
            }
        }
    }
    unsigned long long seed_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

class RegistrarFuzzTest : public HardeningFixture {};

TEST_F(RegistrarFuzzTest, MutatedAndGeneratedScripts) {
    const long cases = EnvironmentNumber("PVT_FUZZ_CASES", 100000);
    const long first = EnvironmentNumber("PVT_FUZZ_FIRST", 0);
    const unsigned long long seed =
        static_cast<unsigned long long>(EnvironmentNumber("PVT_FUZZ_SEED", 20240611));
    const std::vector<std::string> scripts = ClassScripts();
    ASSERT_EQ(static_cast<std::size_t>(kCatalogueSize), scripts.size());
    const Replacements replacements = MakeModuleReplacements(L"C:\\it's\\PvtCorrelator.dll");

    FuzzTally tally;
    const auto started = std::chrono::steady_clock::now();
    Watchdog watchdog(seed);
    for (long c = first; c < first + cases; ++c) {
        currentCase = c;
        Random random(seed * 1000003ULL + static_cast<unsigned long long>(c));
        ++tally.cases;

        // The script, as narrow bytes or wide text.
        std::string narrow;
        std::wstring wide;
        const std::size_t kind = Below(random, 10);
        if (kind < 6) {
            narrow = scripts[Below(random, scripts.size())];
            const std::size_t mutations = 1 + Below(random, 6);
            for (std::size_t m = 0; m < mutations; ++m) Mutate(narrow, random, scripts);
        } else if (kind < 9) {
            wide = GenerateScript(random);
        } else {
            for (std::size_t t = Below(random, 30); t > 0; --t) narrow += RandomToken(random) + " ";
        }
        const bool isWide = !wide.empty();

        const std::unique_ptr<RegistryDouble> owned = MachineRegistry();
        RegistryDouble& registry = *owned;
        LONG injected = 0;
        if (Below(random, 10) == 0) {
            const LONG errors[] = {ERROR_ACCESS_DENIED, ERROR_NOT_ENOUGH_MEMORY, ERROR_WRITE_FAULT};
            injected = errors[Below(random, 3)];
            registry.FailNthOperation(1 + static_cast<long>(Below(random, 60)), injected);
            ++tally.injectedFaults;
        }
        auto run = [&](bool registering) {
            return isWide ? RunRegistryScript(std::wstring_view(wide), replacements, registering,
                                              registry)
                          : RunRegistryScript(std::string_view(narrow), replacements, registering,
                                              registry);
        };
        const HRESULT registered = run(true);
        ASSERT_TRUE(Documented(registered, injected))
            << "case " << c << ": register gave 0x" << std::hex << registered;
        ASSERT_EQ(0, registry.OpenHandles()) << "case " << c;
        if (registered != S_OK || injected != 0) {
            // Unregistering after a failure must not go wrong either.
            registry.ClearFaults();
            ASSERT_TRUE(Documented(run(false), injected)) << "case " << c;
            ASSERT_EQ(0, registry.OpenHandles()) << "case " << c;
            continue;
        }
        ++tally.registered;
        const HRESULT unregistered = run(false);
        ASSERT_TRUE(Documented(unregistered, 0))
            << "case " << c << ": unregister gave 0x" << std::hex << unregistered;
        ASSERT_EQ(0, registry.OpenHandles()) << "case " << c;
        if (unregistered != S_OK) continue;
        ++tally.roundTrips;

        std::wstring text = wide;
        if (!isWide) {
            const std::string bytes = narrow.substr(0, narrow.find('\0'));
            const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(),
                                                   static_cast<int>(bytes.size()), nullptr, 0);
            text.resize(static_cast<std::size_t>(length));
            if (length > 0) {
                MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                                    &text[0], length);
            }
        }
        std::wstring expanded;
        ASSERT_EQ(S_OK, ExpandReplacements(text, replacements, expanded)) << "case " << c;
        std::vector<std::wstring> valueNames;
        const std::set<std::string> keep = NoRemoveNames(expanded, valueNames);
        const std::string residue = UnexpectedResidue(registry, keep, valueNames);
        ASSERT_EQ("", residue) << "case " << c << " left behind after unregistering:\n"
                               << registry.Dump() << "\nscript:\n"
                               << Utf8(expanded);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf(
        "[ fuzz     ] %ld cases (seed %llu) in %.1f s: %ld registered, %ld round trips "
        "checked, %ld with a registry fault\n",
        tally.cases, seed, seconds, tally.registered, tally.roundTrips, tally.injectedFaults);
    EXPECT_GT(tally.roundTrips, tally.cases / 50) << "too few scripts got through";
}

// An empty key name would stand for the enclosing key: its default value
// would land there, and unregistering would delete that key itself, NoRemove
// or not. It is a syntax error, found before anything is written.
TEST_F(RegistrarFuzzTest, EmptyKeyNameIsASyntaxError) {
    for (const wchar_t* script : {L"HKCR { '' = s 'x' }", L"HKCR { NoRemove CLSID { '' } }",
                                  L"HKCR { A { val V = s 'v' } NoRemove CLSID { '' { B } } }"}) {
        const std::unique_ptr<RegistryDouble> registry = MachineRegistry();
        const std::string before = registry->Dump();
        EXPECT_EQ(DISP_E_EXCEPTION,
                  RunRegistryScript(std::wstring_view(script), Replacements(), true, *registry));
        EXPECT_EQ(DISP_E_EXCEPTION,
                  RunRegistryScript(std::wstring_view(script), Replacements(), false, *registry));
        EXPECT_EQ(before, registry->Dump());
        EXPECT_TRUE(registry->Log().empty()) << Utf8(script);
    }
}

// Nesting as deep as a script can make it: the engine must neither
// overflow its stack nor accept it half-way.
TEST_F(RegistrarFuzzTest, DeepNesting) {
    for (std::size_t depth : {100u, 254u, 255u, 1000u, 100000u}) {
        std::wstring script = L"HKCR {";
        for (std::size_t i = 0; i < depth; ++i) script += L" k {";
        for (std::size_t i = 0; i < depth; ++i) script += L" }";
        script += L" }";
        RegistryDouble registry;
        const HRESULT registered =
            RunRegistryScript(std::wstring_view(script), Replacements(), true, registry);
        // The block is one level, each key below it another.
        EXPECT_EQ(depth < 256 ? S_OK : DISP_E_EXCEPTION, registered) << depth;
        EXPECT_EQ(0, registry.OpenHandles());
        if (registered == S_OK) {
            EXPECT_EQ(S_OK, RunRegistryScript(std::wstring_view(script), Replacements(), false,
                                              registry));
        }
        EXPECT_EQ("", registry.Dump()) << depth;
    }
}

}  // namespace
}  // namespace pvt::test
