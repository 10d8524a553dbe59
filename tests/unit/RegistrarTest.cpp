// The registry script engine, through the in-memory registry, and once on
// the platform's own registry.
#include "doubles/RegistryDouble.h"
#include "registration/Registrar.h"
#include "support/AllocationFailure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

namespace pvt::test {
namespace {

constexpr char kBubbleName[] = "BubblePtPressure";
constexpr char kBubbleClsid[] = "{4DF4A90C-3E4E-4a2e-8186-3C9042C91674}";
constexpr wchar_t kBubbleClsidW[] = L"{4DF4A90C-3E4E-4a2e-8186-3C9042C91674}";
constexpr char kMassDensityClsid[] = "{35C881E9-482E-4f5a-AEBA-95C014E71C7E}";
constexpr wchar_t kLibid[] = L"{DEEC13C7-7766-4086-8C1B-434FBF176F1C}";
constexpr wchar_t kModulePath[] = L"C:\\Program Files\\PvtCorrelator\\PvtCorrelator.dll";

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// The class script of the registration Part, line by line: tabs, text, CR LF.
std::string ClassScript(const std::string& name = kBubbleName,
                        const std::string& clsid = kBubbleClsid) {
    struct Line {
        int tabs;
        const char* text;
    };
    const Line lines[] = {
        {0, "HKCR"},
        {0, "{"},
        {1, "PvtCorrelator.BubblePtPressure.1 = s 'BubblePtPressure Class'"},
        {1, "{"},
        {2, "CLSID = s '{4DF4A90C-3E4E-4a2e-8186-3C9042C91674}'"},
        {1, "}"},
        {1, "PvtCorrelator.BubblePtPressure = s 'BubblePtPressure Class'"},
        {1, "{"},
        {2, "CLSID = s '{4DF4A90C-3E4E-4a2e-8186-3C9042C91674}'"},
        {2, "CurVer = s 'PvtCorrelator.BubblePtPressure.1'"},
        {1, "}"},
        {1, "NoRemove CLSID"},
        {1, "{"},
        {2, "ForceRemove {4DF4A90C-3E4E-4a2e-8186-3C9042C91674} = s 'BubblePtPressure Class'"},
        {2, "{"},
        {3, "ProgID = s 'PvtCorrelator.BubblePtPressure.1'"},
        {3, "VersionIndependentProgID = s 'PvtCorrelator.BubblePtPressure'"},
        {3, "ForceRemove 'Programmable'"},
        {3, "InprocServer32 = s '%MODULE%'"},
        {3, "{"},
        {4, "val ThreadingModel = s 'Apartment'"},
        {3, "}"},
        {3, "'TypeLib' = s '{DEEC13C7-7766-4086-8C1B-434FBF176F1C}'"},
        {2, "}"},
        {1, "}"},
        {0, "}"},
    };
    std::string script;
    for (const Line& line : lines) {
        script.append(static_cast<std::size_t>(line.tabs), '\t');
        script += line.text;
        script += "\r\n";
    }
    script = ReplaceAll(script, "{4DF4A90C-3E4E-4a2e-8186-3C9042C91674}", clsid);
    return ReplaceAll(script, "BubblePtPressure", name);
}

// Adds the entries a registered class has, as the Part's table lists them.
void AddClassEntries(RegistryDouble& registry, const std::wstring& name, const std::wstring& clsid,
                     const std::wstring& modulePath) {
    const HKEY cr = HKEY_CLASSES_ROOT;
    const std::wstring progId = L"PvtCorrelator." + name;
    const std::wstring classKey = L"CLSID\\" + clsid;
    registry.SetValue(cr, progId + L".1", L"", name + L" Class");
    registry.SetValue(cr, progId + L".1\\CLSID", L"", clsid);
    registry.SetValue(cr, progId, L"", name + L" Class");
    registry.SetValue(cr, progId + L"\\CLSID", L"", clsid);
    registry.SetValue(cr, progId + L"\\CurVer", L"", progId + L".1");
    registry.SetValue(cr, classKey, L"", name + L" Class");
    registry.SetValue(cr, classKey + L"\\ProgID", L"", progId + L".1");
    registry.SetValue(cr, classKey + L"\\VersionIndependentProgID", L"", progId);
    registry.AddKey(cr, classKey + L"\\Programmable");
    registry.SetValue(cr, classKey + L"\\InprocServer32", L"", modulePath);
    registry.SetValue(cr, classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    registry.SetValue(cr, classKey + L"\\TypeLib", L"", kLibid);
}

std::string ExpectedDump(const std::wstring& modulePath = kModulePath) {
    RegistryDouble expected;
    AddClassEntries(expected, L"BubblePtPressure", kBubbleClsidW, modulePath);
    return expected.Dump();
}

std::string OnlyClsidDump() {
    RegistryDouble expected;
    expected.AddKey(HKEY_CLASSES_ROOT, L"CLSID");
    return expected.Dump();
}

class RegistrarTest : public ::testing::Test {
protected:
    HRESULT Register(const std::string& script) {
        return RunRegistryScript(script, replacements, true, registry);
    }
    HRESULT Unregister(const std::string& script) {
        return RunRegistryScript(script, replacements, false, registry);
    }
    // Every key the engine opened has been closed again.
    void TearDown() override { EXPECT_EQ(0, registry.OpenHandles()); }

    RegistryDouble registry;
    Replacements replacements = MakeModuleReplacements(kModulePath);
};

// --- The class script ------------------------------------------------------

TEST_F(RegistrarTest, TheClassScriptIsTheTwentySixLinesOfThePart) {
    const std::string script = ClassScript();
    EXPECT_EQ(26, std::count(script.begin(), script.end(), '\n'));
    const std::string start = "HKCR\r\n{\r\n\tPvtCorrelator.BubblePtPressure.1 = s ";
    EXPECT_EQ(start, script.substr(0, start.size()));
    EXPECT_NE(std::string::npos, script.find("\r\n\t\t\t\tval ThreadingModel = s 'Apartment'\r\n"));
    EXPECT_EQ(std::string("\t}\r\n}\r\n"), script.substr(script.size() - 7));
}

TEST_F(RegistrarTest, RegisteringWritesExactlyTheEntriesOfTheClass) {
    ASSERT_EQ(S_OK, Register(ClassScript()));
    EXPECT_EQ(ExpectedDump(), registry.Dump());
}

TEST_F(RegistrarTest, UnregisteringRemovesEverythingButTheClsidKey) {
    ASSERT_EQ(S_OK, Register(ClassScript()));
    EXPECT_EQ(S_OK, Unregister(ClassScript()));
    EXPECT_EQ(OnlyClsidDump(), registry.Dump());
}

TEST_F(RegistrarTest, UnregisteringAgainFindsNothingAndSucceeds) {
    ASSERT_EQ(S_OK, Register(ClassScript()));
    ASSERT_EQ(S_OK, Unregister(ClassScript()));
    registry.ClearLog();
    EXPECT_EQ(S_OK, Unregister(ClassScript()));
    EXPECT_EQ(OnlyClsidDump(), registry.Dump());
    for (const std::string& line : registry.Log()) {
        EXPECT_EQ(std::string::npos, line.find("deletekey")) << line;
        EXPECT_EQ(std::string::npos, line.find("deletevalue")) << line;
    }
}

TEST_F(RegistrarTest, UnregisteringWhatWasNeverRegisteredSucceeds) {
    EXPECT_EQ(S_OK, Unregister(ClassScript()));
    EXPECT_EQ("", registry.Dump());
}

TEST_F(RegistrarTest, RegisteringTwiceLeavesTheSameEntries) {
    ASSERT_EQ(S_OK, Register(ClassScript()));
    ASSERT_EQ(S_OK, Register(ClassScript()));
    EXPECT_EQ(ExpectedDump(), registry.Dump());
}

TEST_F(RegistrarTest, ForceRemoveRebuildsTheClassKeyWhileOtherKeysKeepForeignSubkeys) {
    ASSERT_EQ(S_OK, Register(ClassScript()));
    const std::wstring classKey = std::wstring(L"CLSID\\") + kBubbleClsidW;
    registry.SetValue(HKEY_CLASSES_ROOT, classKey + L"\\Implemented Categories\\{X}", L"", L"x");
    registry.SetValue(HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32", L"Foreign", L"y");
    registry.SetValue(HKEY_CLASSES_ROOT, L"PvtCorrelator.BubblePtPressure\\Foreign", L"", L"z");
    registry.AddKey(HKEY_CLASSES_ROOT, L"CLSID\\{OTHER}");

    ASSERT_EQ(S_OK, Register(ClassScript()));

    RegistryDouble expected;
    AddClassEntries(expected, L"BubblePtPressure", kBubbleClsidW, kModulePath);
    expected.SetValue(HKEY_CLASSES_ROOT, L"PvtCorrelator.BubblePtPressure\\Foreign", L"", L"z");
    expected.AddKey(HKEY_CLASSES_ROOT, L"CLSID\\{OTHER}");
    EXPECT_EQ(expected.Dump(), registry.Dump());
}

TEST_F(RegistrarTest, UnregisteringKeepsAClassKeyThatHasForeignSubkeys) {
    ASSERT_EQ(S_OK, Register(ClassScript()));
    const std::wstring classKey = std::wstring(L"CLSID\\") + kBubbleClsidW;
    registry.AddKey(HKEY_CLASSES_ROOT, classKey + L"\\Foreign");

    ASSERT_EQ(S_OK, Unregister(ClassScript()));

    RegistryDouble expected;
    // The key stays with its own default value: only keys without subkeys go.
    expected.SetValue(HKEY_CLASSES_ROOT, classKey, L"", L"BubblePtPressure Class");
    expected.AddKey(HKEY_CLASSES_ROOT, classKey + L"\\Foreign");
    EXPECT_EQ(expected.Dump(), registry.Dump());
}

TEST_F(RegistrarTest, UnregisteringKeepsAProgIdKeyThatHasForeignSubkeys) {
    ASSERT_EQ(S_OK, Register(ClassScript()));
    registry.AddKey(HKEY_CLASSES_ROOT, L"PvtCorrelator.BubblePtPressure.1\\shell");
    ASSERT_EQ(S_OK, Unregister(ClassScript()));
    EXPECT_TRUE(registry.KeyExists(HKEY_CLASSES_ROOT, L"PvtCorrelator.BubblePtPressure.1\\shell"));
    EXPECT_FALSE(registry.KeyExists(HKEY_CLASSES_ROOT, L"PvtCorrelator.BubblePtPressure.1\\CLSID"));
    EXPECT_FALSE(registry.KeyExists(HKEY_CLASSES_ROOT, L"PvtCorrelator.BubblePtPressure"));
}

TEST_F(RegistrarTest, AModulePathWithSingleQuotesIsRegisteredUnchanged) {
    const std::wstring path = L"C:\\O'Brien's ''Tools''\\PvtCorrelator.dll'";
    replacements = MakeModuleReplacements(path);
    EXPECT_EQ(L"C:\\O''Brien''s ''''Tools''''\\PvtCorrelator.dll''", *replacements.Find(L"Module"));
    EXPECT_EQ(*replacements.Find(L"Module"), *replacements.Find(L"MODULE_RAW"));
    EXPECT_EQ(L"", *replacements.Find(L"appid"));
    ASSERT_EQ(S_OK, Register(ClassScript()));
    EXPECT_EQ(ExpectedDump(path), registry.Dump());
    EXPECT_EQ(S_OK, Unregister(ClassScript()));
    EXPECT_EQ(OnlyClsidDump(), registry.Dump());
}

TEST_F(RegistrarTest, PercentSignsInAReplacementValueAreNotScannedAgain) {
    const std::wstring path = L"C:\\100%\\%MODULE%\\%%\\%APPID%\\x%.dll";
    replacements = MakeModuleReplacements(path);
    ASSERT_EQ(S_OK, Register(ClassScript()));
    EXPECT_EQ(ExpectedDump(path), registry.Dump());
}

TEST_F(RegistrarTest, ALongPathFullOfQuotesFitsWithNoLimitButTheTokenLength) {
    // 259 characters that all double: 518 characters in the script.
    const std::wstring path(259, L'\'');
    replacements = MakeModuleReplacements(path);
    ASSERT_EQ(S_OK, Register(ClassScript()));
    EXPECT_EQ(ExpectedDump(path), registry.Dump());
}

TEST_F(RegistrarTest, ANonAnsiModulePathReachesTheRegistryAsWideText) {
    const std::wstring path = L"C:\\Pr\u00fcfung\\\u03a9mega \u6e2c\u8a66\\PvtCorrelator.dll";
    replacements = MakeModuleReplacements(path);
    ASSERT_EQ(S_OK, Register(ClassScript()));
    EXPECT_EQ(path,
              registry.Value(HKEY_CLASSES_ROOT,
                             std::wstring(L"CLSID\\") + kBubbleClsidW + L"\\InprocServer32", L""));
}

TEST_F(RegistrarTest, ReplacementNamesIgnoreCaseAndDoublePercentIsOnePercent) {
    replacements.Set(L"Extra", L"v");
    ASSERT_EQ(S_OK, Register("HKCR { K = s '%module%|%Module_Raw%|%aPpId%|%EXTRA%|%%|100%%' }"));
    EXPECT_EQ(std::wstring(kModulePath) + L"|" + kModulePath + L"||v|%|100%",
              registry.Value(HKEY_CLASSES_ROOT, L"K", L""));
}

// --- Protected names and NoRemove ------------------------------------------

TEST_F(RegistrarTest, ForceRemoveNeverDeletesAProtectedKey) {
    const wchar_t* const names[] = {L"AppID",    L"CLSID",     L"Component Categories",
                                    L"FileType", L"Interface", L"Hardware",
                                    L"Mime",     L"SAM",       L"SECURITY",
                                    L"SYSTEM",   L"Software",  L"TypeLib"};
    std::string script = "HKCR {";
    for (const wchar_t* name : names) {
        registry.AddKey(HKEY_CLASSES_ROOT, std::wstring(name) + L"\\Foreign");
        // Written in another case, quoted, as the scripts may write them.
        std::string upper;
        for (const wchar_t* c = name; *c != 0; ++c)
            upper.push_back(static_cast<char>(towupper(*c)));
        script += " forceremove '" + upper + "' { Mine }";
    }
    script += " }";
    const std::string before = registry.Dump();
    ASSERT_EQ(S_OK, Register(script));
    for (const wchar_t* name : names) {
        EXPECT_TRUE(registry.KeyExists(HKEY_CLASSES_ROOT, std::wstring(name) + L"\\Foreign"))
            << Utf8(name);
        EXPECT_TRUE(registry.KeyExists(HKEY_CLASSES_ROOT, std::wstring(name) + L"\\Mine"))
            << Utf8(name);
    }
    for (const std::string& line : registry.Log())
        EXPECT_EQ(std::string::npos, line.find("deletekey")) << line;

    // Unregistering takes the script's own subkeys and leaves the keys that
    // hold foreign ones.
    ASSERT_EQ(S_OK, Unregister(script));
    EXPECT_EQ(before, registry.Dump());
}

TEST_F(RegistrarTest, ForceRemoveDeletesAWholeSubtreeOfAnUnprotectedKey) {
    registry.SetValue(HKEY_CLASSES_ROOT, L"Gone\\A\\B\\C", L"v", L"1");
    registry.AddKey(HKEY_CLASSES_ROOT, L"Gone\\A\\D");
    registry.AddKey(HKEY_CLASSES_ROOT, L"Gone\\E");
    registry.SetValue(HKEY_CLASSES_ROOT, L"Gone", L"old", L"x");
    ASSERT_EQ(S_OK, Register("HKCR { ForceRemove Gone = s 'new' }"));
    RegistryDouble expected;
    expected.SetValue(HKEY_CLASSES_ROOT, L"Gone", L"", L"new");
    EXPECT_EQ(expected.Dump(), registry.Dump());
}

TEST_F(RegistrarTest, AFailedForceRemoveIsIgnored) {
    registry.AddKey(HKEY_CLASSES_ROOT, L"Gone\\Stuck");
    registry.FailOperation(RegistryOp::DeleteKey, ERROR_ACCESS_DENIED, 0, L"Stuck");
    ASSERT_EQ(S_OK, Register("HKCR { ForceRemove Gone = s 'new' }"));
    EXPECT_TRUE(registry.KeyExists(HKEY_CLASSES_ROOT, L"Gone\\Stuck"));
    EXPECT_EQ(L"new", registry.Value(HKEY_CLASSES_ROOT, L"Gone", L""));
}

TEST_F(RegistrarTest, NoRemoveKeepsAnEmptyKeyOnUnregister) {
    ASSERT_EQ(S_OK, Register("HKCR { NoRemove Kept = s 'v' { Sub } Gone }"));
    ASSERT_EQ(S_OK, Unregister("HKCR { NoRemove Kept = s 'v' { Sub } Gone }"));
    RegistryDouble expected;
    expected.SetValue(HKEY_CLASSES_ROOT, L"Kept", L"", L"v");  // its values stay too
    EXPECT_EQ(expected.Dump(), registry.Dump());
}

TEST_F(RegistrarTest, ForceRemoveHasNoEffectOnUnregister) {
    ASSERT_EQ(S_OK, Register("HKCR { ForceRemove K { S } }"));
    registry.AddKey(HKEY_CLASSES_ROOT, L"K\\Foreign");
    ASSERT_EQ(S_OK, Unregister("HKCR { ForceRemove K { S } }"));
    EXPECT_TRUE(registry.KeyExists(HKEY_CLASSES_ROOT, L"K\\Foreign"));
    EXPECT_FALSE(registry.KeyExists(HKEY_CLASSES_ROOT, L"K\\S"));
}

// --- Values, keywords, tokens ----------------------------------------------

TEST_F(RegistrarTest, ValuesAreSetAndRemovedAndAMissingValueIsNoFailure) {
    const std::string script = "HKCR { K { val A = s 'a' val 'B C' = s 'b' } }";
    ASSERT_EQ(S_OK, Register(script));
    EXPECT_EQ(L"a", registry.Value(HKEY_CLASSES_ROOT, L"K", L"A"));
    EXPECT_EQ(L"b", registry.Value(HKEY_CLASSES_ROOT, L"K", L"B C"));
    registry.AddKey(HKEY_CLASSES_ROOT, L"K\\Foreign");
    ASSERT_EQ(S_OK, Unregister(script));
    EXPECT_FALSE(registry.Value(HKEY_CLASSES_ROOT, L"K", L"A"));
    EXPECT_FALSE(registry.Value(HKEY_CLASSES_ROOT, L"K", L"B C"));
    EXPECT_EQ(S_OK, Unregister(script));  // the values are gone already
}

TEST_F(RegistrarTest, KeywordsAndRootNamesIgnoreCase) {
    const char* const roots[][2] = {
        {"hkcr", "HKCR"},
        {"HkCu", "HKCU"},
        {"HKLM", "HKLM"},
        {"hku", "HKU"},
        {"HKPD", "HKPD"},
        {"hkdd", "HKDD"},
        {"HKCC", "HKCC"},
        {"hkey_classes_root", "HKCR"},
        {"HKEY_CURRENT_USER", "HKCU"},
        {"HKEY_LOCAL_MACHINE", "HKLM"},
        {"Hkey_Users", "HKU"},
        {"HKEY_PERFORMANCE_DATA", "HKPD"},
        {"HKEY_DYN_DATA", "HKDD"},
        {"HKEY_CURRENT_CONFIG", "HKCC"},
    };
    int n = 0;
    for (const auto& root : roots) {
        const std::string key = "K" + std::to_string(n++);
        ASSERT_EQ(S_OK, Register(std::string(root[0]) + " { NOREMOVE " + key +
                                 " { VAL v = S 'x' FORCEREMOVE F } }"))
            << root[0];
        EXPECT_NE(std::string::npos,
                  registry.Dump().find(std::string(root[1]) + "\\" + key + "\n  \"v\" = \"x\"\n"))
            << root[0];
    }
}

TEST_F(RegistrarTest, QuotedTokensKeepWhitespaceAndDoubledQuotesStandForOne) {
    ASSERT_EQ(S_OK, Register("HKCR\r\n{\r\n'It''s a\tkey' = s ' '' '\r\n'{' { '}' '=' }\r\n"
                             "'val' = s '' 'NoRemove' }"));
    EXPECT_EQ(L" ' ", registry.Value(HKEY_CLASSES_ROOT, L"It's a\tkey", L""));
    EXPECT_TRUE(registry.KeyExists(HKEY_CLASSES_ROOT, L"{\\}"));
    EXPECT_TRUE(registry.KeyExists(HKEY_CLASSES_ROOT, L"{\\="));
    EXPECT_EQ(L"", registry.Value(HKEY_CLASSES_ROOT, L"val", L""));
    EXPECT_TRUE(registry.KeyExists(HKEY_CLASSES_ROOT, L"NoRemove"));
}

TEST_F(RegistrarTest, ATokenOf4094CharactersIsAccepted) {
    const std::string value(4094, 'v');
    ASSERT_EQ(S_OK, Register("HKCR { K = s '" + value + "' { val " + value + " = s x } }"));
    EXPECT_EQ(Widen(value), registry.Value(HKEY_CLASSES_ROOT, L"K", L""));
    EXPECT_EQ(L"x", registry.Value(HKEY_CLASSES_ROOT, L"K", Widen(value)));
    // A doubled quote counts once.
    const std::string quotes(4094 * 2, '\'');
    ASSERT_EQ(S_OK, Register("HKCR { Q = s '" + quotes + "' }"));
    EXPECT_EQ(std::wstring(4094, L'\''), registry.Value(HKEY_CLASSES_ROOT, L"Q", L""));
}

TEST_F(RegistrarTest, TheScriptEndsAtItsFirstNul) {
    std::string script = "HKCR { K }";
    script.push_back('\0');
    script += "garbage {";
    ASSERT_EQ(S_OK, Register(script));
    EXPECT_TRUE(registry.KeyExists(HKEY_CLASSES_ROOT, L"K"));
}

TEST_F(RegistrarTest, SeveralBlocksRunInOrder) {
    ASSERT_EQ(S_OK, Register("HKCR { A } HKCU { B }\r\n"));
    EXPECT_TRUE(registry.KeyExists(HKEY_CLASSES_ROOT, L"A"));
    EXPECT_TRUE(registry.KeyExists(HKEY_CURRENT_USER, L"B"));
}

// --- Syntax errors and their codes -----------------------------------------

struct SyntaxCase {
    const char* what;
    std::string script;
    HRESULT expected;
};

TEST_F(RegistrarTest, EverySyntaxErrorHasItsCodeInBothModes) {
    const std::string script = ClassScript();
    const std::string tooLong(4095, 'k');
    const SyntaxCase cases[] = {
        {"unlisted root", "HKXX { K }", DISP_E_EXCEPTION},
        {"unlisted root after a block", "HKCR { } HKEY_LOCAL { L }", DISP_E_EXCEPTION},
        {"quoted brace for the block", "HKCR '{' K }", DISP_E_EXCEPTION},
        {"missing { after the root", "HKCR K }", DISP_E_EXCEPTION},
        {"brace not separated", "HKCR {K }", DISP_E_EXCEPTION},
        {"missing = in a value", "HKCR { K { val V s 'x' } }", DISP_E_EXCEPTION},
        {"missing value name", "HKCR { K { val } }", DISP_E_EXCEPTION},
        {"missing type", "HKCR { K = 'x' }", DISP_E_EXCEPTION},
        {"unknown type", "HKCR { K = d '1' }", DISP_E_EXCEPTION},
        {"missing value after type", "HKCR { K = s }", DISP_E_EXCEPTION},
        {"unterminated quote", "HKCR { 'K }", DISP_E_EXCEPTION},
        {"unterminated quote ending in a doubled quote", "HKCR { K = s 'x''", DISP_E_EXCEPTION},
        {"backslash in a key name", "HKCR { A\\B }", DISP_E_EXCEPTION},
        {"backslash in a quoted key name", "HKCR { K { 'A\\B' = s 'x' } }", DISP_E_EXCEPTION},
        {"backslash in a force-removed key", "HKCR { ForceRemove A\\B }", DISP_E_EXCEPTION},
        {"bare token of 4095", "HKCR { " + tooLong + " }", DISP_E_EXCEPTION},
        {"quoted token of 4095", "HKCR { K = s '" + tooLong + "' }", DISP_E_EXCEPTION},
        {"ending inside a block", "HKCR { K", DISP_E_EXCEPTION},
        {"ending inside a key", "HKCR { K { L = s 'x' }", DISP_E_EXCEPTION},
        {"ending after a keyword", "HKCR { NoRemove", DISP_E_EXCEPTION},
        {"the class script cut short", script.substr(0, script.size() - 3), DISP_E_EXCEPTION},
        {"ending after the root", "HKCR", DISP_E_EXCEPTION},
        {"no block at all", " \r\n\t", DISP_E_EXCEPTION},
        {"empty text", "", DISP_E_EXCEPTION},
        {"unlisted replacement", "HKCR { K = s '%NOPE%' }", DISP_E_EXCEPTION},
        {"replacement without closing %", "HKCR { K = s '%MODULE' }", DISP_E_EXCEPTION},
        {"replacement name of 32", "HKCR { K = s '%ABCDEFGHIJKLMNOPQRSTUVWXYZ012345%' }", E_FAIL},
        {"replacement name of 40", "HKCR { K = s '%" + std::string(40, 'N') + "%' }", E_FAIL},
    };
    for (const SyntaxCase& c : cases) {
        for (bool registering : {true, false}) {
            RegistryDouble fresh;
            EXPECT_EQ(c.expected, RunRegistryScript(c.script, replacements, registering, fresh))
                << c.what << (registering ? " (register)" : " (unregister)");
            EXPECT_EQ("", fresh.Dump()) << c.what;
            EXPECT_EQ(0, fresh.OpenHandles()) << c.what;
        }
    }
}

TEST_F(RegistrarTest, ReplacementErrorsStopTheScriptBeforeAnyRegistryOperation) {
    EXPECT_EQ(DISP_E_EXCEPTION, Register("HKCR { A } HKCR { K = s '%NOPE%' }"));
    EXPECT_EQ(E_FAIL, Register("HKCR { A } HKCR { K = s '%" + std::string(32, 'x') + "%' }"));
    EXPECT_EQ(0, registry.OperationCount());
}

TEST_F(RegistrarTest, AReplacementNameOf32FailsEvenWhenItIsListed) {
    const std::wstring name31(31, L'N');
    const std::wstring name32(32, L'N');
    replacements.Set(name31, L"thirty-one");
    replacements.Set(name32, L"thirty-two");
    ASSERT_EQ(S_OK, Register("HKCR { K = s '%" + std::string(31, 'n') + "%' }"));
    EXPECT_EQ(L"thirty-one", registry.Value(HKEY_CLASSES_ROOT, L"K", L""));
    EXPECT_EQ(E_FAIL, Register("HKCR { L = s '%" + std::string(32, 'n') + "%' }"));
    EXPECT_FALSE(registry.KeyExists(HKEY_CLASSES_ROOT, L"L"));
}

TEST_F(RegistrarTest, ABlockWithASyntaxErrorIsNotProcessedAtAll) {
    std::string script = ClassScript();
    script = script.substr(0, script.size() - 3);  // the last "}" is missing
    EXPECT_EQ(DISP_E_EXCEPTION, Register(script));
    EXPECT_EQ(DISP_E_EXCEPTION, Register("HKCR { K"));
    EXPECT_EQ(DISP_E_EXCEPTION, Register("HKCR { K { L = s 'x' } M = s"));
    EXPECT_EQ(0, registry.OperationCount());
    EXPECT_EQ("", registry.Dump());

    ASSERT_EQ(S_OK, Register(ClassScript()));
    EXPECT_EQ(DISP_E_EXCEPTION, Unregister(script));
    EXPECT_EQ(ExpectedDump(), registry.Dump());
}

TEST_F(RegistrarTest, AFailedBlockIsRolledBackWhileEarlierBlocksStay) {
    EXPECT_EQ(DISP_E_EXCEPTION,
              Register("HKCU { First = s '1' } HKCR { Second { Third } 'x\\y' }"));
    RegistryDouble expected;
    expected.SetValue(HKEY_CURRENT_USER, L"First", L"", L"1");
    EXPECT_EQ(expected.Dump(), registry.Dump());
}

// --- Registry failures and rollback ----------------------------------------

TEST_F(RegistrarTest, AFailingWriteInsideABlockRollsTheBlockBack) {
    registry.AddKey(HKEY_CLASSES_ROOT, L"CLSID");
    registry.FailOperation(RegistryOp::SetValue, ERROR_WRITE_FAULT, 1, L"ThreadingModel");
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_WRITE_FAULT), Register(ClassScript()));
    EXPECT_EQ(OnlyClsidDump(), registry.Dump());
}

TEST_F(RegistrarTest, RollbackLeavesTheCreatedClsidKeyBecauseItIsNoRemove) {
    registry.FailOperation(RegistryOp::Create, ERROR_ACCESS_DENIED, 1, L"TypeLib");
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), Register(ClassScript()));
    EXPECT_EQ(OnlyClsidDump(), registry.Dump());
}

TEST_F(RegistrarTest, AKeyThatOpensOnlyForReadingIsUsedAndWritingBelowItFails) {
    registry.AddKey(HKEY_CLASSES_ROOT, L"CLSID");
    registry.FailOperation(RegistryOp::OpenWrite, ERROR_ACCESS_DENIED, 0, L"CLSID");
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), Register(ClassScript()));
    EXPECT_EQ(OnlyClsidDump(), registry.Dump());
    // The read-only handle was used: the class key was to be created below it.
    bool triedToCreate = false;
    for (const std::string& line : registry.Log()) {
        if (line == "create HKCR\\CLSID\\" + std::string(kBubbleClsid) + " -> error 5")
            triedToCreate = true;
    }
    EXPECT_TRUE(triedToCreate);
}

TEST_F(RegistrarTest, AnyFailingOperationEitherDoesNotMatterOrLeavesNothingBehind) {
    registry.AddKey(HKEY_CLASSES_ROOT, L"CLSID");
    const std::string before = registry.Dump();
    RegistryDouble counter;
    counter.AddKey(HKEY_CLASSES_ROOT, L"CLSID");
    ASSERT_EQ(S_OK, RunRegistryScript(ClassScript(), replacements, true, counter));
    const long operations = counter.OperationCount();
    ASSERT_GT(operations, 20);
    int failures = 0;
    for (long n = 1; n <= operations; ++n) {
        RegistryDouble fresh;
        fresh.AddKey(HKEY_CLASSES_ROOT, L"CLSID");
        fresh.FailNthOperation(n, ERROR_WRITE_PROTECT);
        const HRESULT hr = RunRegistryScript(ClassScript(), replacements, true, fresh);
        if (hr == S_OK) {
            EXPECT_EQ(ExpectedDump(), fresh.Dump()) << "operation " << n;
        } else {
            ++failures;
            // A key that opens only for reading refuses the writes below it.
            EXPECT_TRUE(hr == HRESULT_FROM_WIN32(ERROR_WRITE_PROTECT) ||
                        hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED))
                << "operation " << n << ": " << std::hex << hr;
            EXPECT_EQ(before, fresh.Dump()) << "operation " << n;
        }
        EXPECT_EQ(0, fresh.OpenHandles()) << "operation " << n;
    }
    EXPECT_GT(failures, 10);
}

TEST_F(RegistrarTest, ReRegisteringThatFailsRemovesTheWholeEarlierRegistration) {
    // The rollback runs the block in unregister mode: it takes every entry
    // the block names, also those that were there before this run.
    ASSERT_EQ(S_OK, Register(ClassScript()));
    registry.FailOperation(RegistryOp::SetValue, ERROR_WRITE_FAULT, 1, L"CurVer");
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_WRITE_FAULT), Register(ClassScript()));
    EXPECT_EQ(OnlyClsidDump(), registry.Dump());
}

TEST_F(RegistrarTest, UnregisterFailuresAreReportedAsHresults) {
    ASSERT_EQ(S_OK, Register(ClassScript()));
    const std::string registered = registry.Dump();

    registry.FailOperation(RegistryOp::OpenRead, ERROR_ACCESS_DENIED, 1, L"ProgID");
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), Unregister(ClassScript()));
    ASSERT_EQ(S_OK, Register(ClassScript()));

    registry.FailOperation(RegistryOp::DeleteKey, ERROR_ACCESS_DENIED, 1, L"CurVer");
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), Unregister(ClassScript()));
    ASSERT_EQ(S_OK, Register(ClassScript()));

    registry.FailOperation(RegistryOp::DeleteValue, ERROR_ACCESS_DENIED, 1, L"ThreadingModel");
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), Unregister(ClassScript()));
    ASSERT_EQ(S_OK, Register(ClassScript()));

    registry.FailOperation(RegistryOp::Count, ERROR_INVALID_HANDLE, 1);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE), Unregister(ClassScript()));
    ASSERT_EQ(S_OK, Register(ClassScript()));
    EXPECT_EQ(registered, registry.Dump());

    // A key that is missing is no failure; the stages above stopped early.
    EXPECT_EQ(S_OK, Unregister(ClassScript()));
    EXPECT_EQ(OnlyClsidDump(), registry.Dump());
}

TEST_F(RegistrarTest, AFailureInTheSecondClassLeavesTheFirstRegistered) {
    ASSERT_EQ(S_OK, Register(ClassScript()));
    registry.FailOperation(RegistryOp::SetValue, ERROR_WRITE_FAULT, 1, L"ThreadingModel");
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_WRITE_FAULT),
              Register(ClassScript("MassDensity", kMassDensityClsid)));
    EXPECT_EQ(ExpectedDump(), registry.Dump());
}

TEST_F(RegistrarTest, RunningOutOfMemoryFailsCleanly) {
    registry.AddKey(HKEY_CLASSES_ROOT, L"CLSID");
    const std::string before = registry.Dump();
    const std::string script = ClassScript();
    for (long n = 1;; ++n) {
        RegistryDouble fresh;
        fresh.AddKey(HKEY_CLASSES_ROOT, L"CLSID");
        HRESULT hr;
        {
            ScopedAllocationFailure failure(n);
            hr = RunRegistryScript(script, replacements, true, fresh);
        }
        EXPECT_EQ(0, fresh.OpenHandles()) << "allocation " << n;
        if (hr == S_OK) {
            EXPECT_EQ(ExpectedDump(), fresh.Dump());
            break;
        }
        ASSERT_EQ(E_OUTOFMEMORY, hr) << "allocation " << n;
        EXPECT_EQ(before, fresh.Dump()) << "allocation " << n;
        ASSERT_LT(n, 100000);
    }
}

// --- The module's replacements ---------------------------------------------

TEST(ModuleReplacementsTest, ComeFromTheModuleFilePath) {
    Replacements replacements;
    ASSERT_EQ(S_OK, GetModuleReplacements(nullptr, replacements));
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(3u, replacements.Size());
    const std::wstring expected =
        *MakeModuleReplacements(std::wstring(path, length)).Find(L"Module");
    EXPECT_EQ(expected, *replacements.Find(L"Module"));
}

// A name set again, in any case, keeps one entry with the newest value; a
// second entry would leave the first value in force.
TEST(ModuleReplacementsTest, SettingANameAgainInAnyCaseReplacesItsValue) {
    Replacements replacements = MakeModuleReplacements(kModulePath);
    const std::size_t size = replacements.Size();
    replacements.Set(L"MODULE", L"D:\\other.dll");
    EXPECT_EQ(size, replacements.Size());
    std::wstring expanded;
    ASSERT_EQ(S_OK, ExpandReplacements(L"%Module%", replacements, expanded));
    EXPECT_EQ(L"D:\\other.dll", expanded);
}

TEST(ModuleReplacementsTest, AnUnknownModuleGivesThePlatformError) {
    Replacements replacements;
    const HRESULT hr = GetModuleReplacements(
        reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x10)), replacements);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(FACILITY_WIN32, HRESULT_FACILITY(hr));
}

// --- The in-memory registry itself -----------------------------------------

TEST(RegistryDoubleTest, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
    RegistryDouble registry;
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, registry.CreateKey(HKEY_CLASSES_ROOT, L"MixedCase", key));
    ASSERT_EQ(ERROR_SUCCESS, registry.SetStringValue(key, L"Name", L"1"));
    ASSERT_EQ(ERROR_SUCCESS, registry.SetStringValue(key, L"NAME", L"2"));
    registry.CloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS,
              registry.OpenKey(HKEY_CLASSES_ROOT, L"MIXEDCASE", KeyAccess::Read, key));
    EXPECT_EQ(ERROR_ACCESS_DENIED, registry.SetStringValue(key, L"x", L"y"));
    DWORD count = 9;
    EXPECT_EQ(ERROR_SUCCESS, registry.CountSubkeys(key, count));
    EXPECT_EQ(0u, count);
    registry.CloseKey(key);
    EXPECT_EQ("HKCR\\MixedCase\n  \"Name\" = \"2\"\n", registry.Dump());
    EXPECT_EQ(0, registry.OpenHandles());
}

TEST(RegistryDoubleTest, KeysWithSubkeysCannotBeDeletedAndFaultsFire) {
    RegistryDouble registry;
    registry.AddKey(HKEY_CLASSES_ROOT, L"A\\B");
    EXPECT_EQ(ERROR_ACCESS_DENIED, registry.DeleteKey(HKEY_CLASSES_ROOT, L"A"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, registry.DeleteKey(HKEY_CLASSES_ROOT, L"Z"));
    registry.FailNthOperation(2, ERROR_WRITE_FAULT);
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, registry.OpenKey(HKEY_CLASSES_ROOT, L"A", KeyAccess::ReadWrite, key));
    std::wstring name;
    EXPECT_EQ(ERROR_WRITE_FAULT, registry.EnumerateSubkey(key, 0, name));
    EXPECT_EQ(ERROR_SUCCESS, registry.EnumerateSubkey(key, 0, name));
    EXPECT_EQ(L"B", name);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, registry.EnumerateSubkey(key, 1, name));
    EXPECT_EQ(ERROR_SUCCESS, DeleteSubtree(registry, key, L"B"));
    registry.CloseKey(key);
    EXPECT_EQ(ERROR_SUCCESS, registry.DeleteKey(HKEY_CLASSES_ROOT, L"A"));
    EXPECT_EQ("", registry.Dump());
}

// --- The platform's registry -----------------------------------------------

class Win32RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    void Clean() {
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\PvtCorrelatorTest");
        RegDeleteTreeW(HKEY_CLASSES_ROOT, L"PvtCorrelatorTest.Scratch");
        RegDeleteTreeW(HKEY_CLASSES_ROOT, L"PvtCorrelatorTest.Scratch.1");
        RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + std::wstring(kScratchClsid)).c_str());
    }
    static std::wstring Read(HKEY root, const std::wstring& path, const wchar_t* value) {
        wchar_t buffer[1024];
        DWORD size = sizeof(buffer);
        if (RegGetValueW(root, path.c_str(), value, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
            ERROR_SUCCESS)
            return L"<missing>";
        return buffer;
    }
    static bool Exists(HKEY root, const std::wstring& path) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }

    static constexpr wchar_t kScratchClsid[] = L"{0B1C5E7A-93D2-4E58-A0F4-6C2D8B9E1F37}";
    Win32Registry registry;
};

TEST_F(Win32RegistryTest, RegistersAndUnregistersUnderTheCurrentUser) {
    const std::wstring path = L"C:\\Pr\u00fcfung\\\u03a9mega's 100%\\PvtCorrelator.dll";
    const Replacements replacements = MakeModuleReplacements(path);
    const std::string script =
        "HKCU\r\n{\r\n\tNoRemove Software\r\n\t{\r\n\t\tForceRemove PvtCorrelatorTest = s 'Test'"
        "\r\n\t\t{\r\n\t\t\tInprocServer32 = s '%MODULE%'\r\n\t\t\t{\r\n\t\t\t\t"
        "val ThreadingModel = s 'Apartment'\r\n\t\t\t}\r\n\t\t\tEmpty\r\n\t\t}\r\n\t}\r\n}\r\n";
    const std::wstring key = L"Software\\PvtCorrelatorTest";

    ASSERT_EQ(S_OK, RunRegistryScript(script, replacements, true, registry));
    EXPECT_EQ(L"Test", Read(HKEY_CURRENT_USER, key, nullptr));
    EXPECT_EQ(path, Read(HKEY_CURRENT_USER, key + L"\\InprocServer32", nullptr));
    EXPECT_EQ(L"Apartment", Read(HKEY_CURRENT_USER, key + L"\\InprocServer32", L"ThreadingModel"));
    EXPECT_TRUE(Exists(HKEY_CURRENT_USER, key + L"\\Empty"));

    // ForceRemove rebuilds the key: a foreign subkey goes.
    HKEY foreign = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, (key + L"\\Foreign").c_str(), 0,
                                             nullptr, 0, KEY_WRITE, nullptr, &foreign, nullptr));
    RegCloseKey(foreign);
    ASSERT_EQ(S_OK, RunRegistryScript(script, replacements, true, registry));
    EXPECT_FALSE(Exists(HKEY_CURRENT_USER, key + L"\\Foreign"));

    ASSERT_EQ(S_OK, RunRegistryScript(script, replacements, false, registry));
    EXPECT_FALSE(Exists(HKEY_CURRENT_USER, key));
    EXPECT_TRUE(Exists(HKEY_CURRENT_USER, L"Software"));
    EXPECT_EQ(S_OK, RunRegistryScript(script, replacements, false, registry));
}

TEST_F(Win32RegistryTest, RunsTheClassScriptUnderTheClassesRoot) {
    char clsid[64];
    WideCharToMultiByte(CP_ACP, 0, kScratchClsid, -1, clsid, sizeof(clsid), nullptr, nullptr);
    const std::string script = ClassScript("Scratch", clsid);
    const std::string scratch = ReplaceAll(script, "PvtCorrelator.", "PvtCorrelatorTest.");
    const Replacements replacements = MakeModuleReplacements(L"C:\\it's\\PvtCorrelator.dll");
    const std::wstring classKey = std::wstring(L"CLSID\\") + kScratchClsid;

    ASSERT_EQ(S_OK, RunRegistryScript(scratch, replacements, true, registry));
    EXPECT_EQ(std::wstring(kScratchClsid),
              Read(HKEY_CLASSES_ROOT, L"PvtCorrelatorTest.Scratch\\CLSID", nullptr));
    EXPECT_EQ(L"PvtCorrelatorTest.Scratch.1",
              Read(HKEY_CLASSES_ROOT, L"PvtCorrelatorTest.Scratch\\CurVer", nullptr));
    EXPECT_EQ(L"C:\\it's\\PvtCorrelator.dll",
              Read(HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32", nullptr));
    EXPECT_EQ(std::wstring(kLibid), Read(HKEY_CLASSES_ROOT, classKey + L"\\TypeLib", nullptr));
    EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, classKey + L"\\Programmable"));

    ASSERT_EQ(S_OK, RunRegistryScript(scratch, replacements, false, registry));
    EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, classKey));
    EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, L"PvtCorrelatorTest.Scratch"));
    EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, L"PvtCorrelatorTest.Scratch.1"));
    EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, L"CLSID"));
}

}  // namespace
}  // namespace pvt::test
