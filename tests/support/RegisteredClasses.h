// What registering the module must leave under HKEY_CLASSES_ROOT, written
// out by hand from the class list (names, identifiers spelled as the scripts
// write them, script resource ids), independently of the generated
// catalogue. Shared by the white-box registration tests and the black-box
// checks of the built DLL.
#pragma once

#include <string>
#include <vector>

namespace pvt::test {

struct RegisteredClass {
    const wchar_t* name;
    const wchar_t* clsid;  // as the script writes it, lower-case letters included
    int scriptId;
};

inline constexpr RegisteredClass kRegisteredClasses[] = {
    {L"BubblePtPressure", L"{4DF4A90C-3E4E-4a2e-8186-3C9042C91674}", 111},
    {L"BubblePtTemperature", L"{F6C3A86A-63DE-4e4b-9A8B-824BCDE7CD3C}", 112},
    {L"GOR", L"{5C60E2BB-B37E-4B51-B03D-46B1E6195AAB}", 114},
    {L"HeatCapacity", L"{417AE24C-0F7D-4785-84ED-88399FAA4274}", 115},
    {L"HeatCapacityRatio", L"{23E6B729-F543-4270-A88F-5FE56DD6C749}", 116},
    {L"MassDensity", L"{35C881E9-482E-4f5a-AEBA-95C014E71C7E}", 117},
    {L"MassEnthalpy", L"{659B8C3C-5EA6-4036-808B-7C2B30844EE4}", 118},
    {L"MassEntropy", L"{7E4F5C93-E369-4b6c-BE4F-C811173088F3}", 119},
    {L"MassFlowRate", L"{BDC15BA1-E919-46a8-9381-DAD3C7527A86}", 120},
    {L"MassFraction", L"{5A154B22-968A-4ed1-B3CD-75833FE1A658}", 121},
    {L"NetHeatingValue", L"{D7A75815-6415-42f9-9133-D4955C1CB714}", 122},
    {L"OilFormationVolumeFactor", L"{08A3B23A-DE3B-4ed8-9BD8-A9C857CA95F5}", 123},
    {L"OilViscosity", L"{78A467C1-0B4E-4ffb-A21B-1B7E9B7B42BC}", 125},
    {L"SolutionGOR", L"{DC6D821F-0ACF-4c4f-B8B1-2403CE07CD34}", 126},
    {L"Surface_Tension", L"{1310AEE9-D0BC-4038-AAB9-7D1250C47038}", 127},
    {L"ThermalConductivity", L"{8113CC0E-5FEA-4cdf-B1EA-2DB0BD45524F}", 128},
    {L"Viscosity", L"{17CE4F7D-7828-4656-B72A-97D3F2FD5CE8}", 129},
    {L"VolumeFraction", L"{486DDA58-C30E-45ae-B013-D1F8E7C483AB}", 130},
    {L"WatsonK", L"{A7FD6E38-11DD-4f2b-B1FA-98D055E8D4EC}", 132},
    {L"ZFactor", L"{2936EFFC-F4F6-4aa6-8E8E-EB7B8A59A7CE}", 133},
    {L"Coefficient_a", L"{45A8F93E-735D-452c-81E6-38A029DCAED7}", 134},
    {L"Coefficient_b", L"{D094CE4D-EA54-4589-8470-BE12172C6608}", 135},
    {L"StdLiqMassDensity", L"{F4521B60-693D-4716-BEF5-40B39D6911DD}", 136},
    {L"ThermalConductivityMassBlend", L"{E41CFA95-EEEB-49F1-B14D-5C5E77AE0CF9}", 137},
    {L"ThermalConductivityVolBlend", L"{B847D19F-1FF3-4ca4-AC9D-0C758583A7CB}", 138},
    {L"VolFlowRate", L"{4ED8B9D4-7059-4367-BF26-DB7CBFD88567}", 139},
};
inline constexpr std::size_t kRegisteredClassCount =
    sizeof(kRegisteredClasses) / sizeof(kRegisteredClasses[0]);

// Names the type library declares but the module never registers.
inline constexpr RegisteredClass kTypeLibraryOnlyClasses[] = {
    {L"OilGravity", L"{F0EAA17C-5047-4024-9A93-FE72BF66D8AB}", 0},
    {L"GasGravity", L"{24E8FEBE-072A-4653-A7E6-03B70A4D2896}", 0},
    {L"WaterGravity", L"{97CC4403-C92E-4E04-8205-52D6633F7A7A}", 0},
};

inline constexpr wchar_t kTypeLibraryIdText[] = L"{DEEC13C7-7766-4086-8C1B-434FBF176F1C}";

// One expected registry entry below HKEY_CLASSES_ROOT: a key with no value
// (valueName null) or one string value of a key ("" = the default value).
struct ExpectedEntry {
    std::wstring keyPath;
    const wchar_t* valueName;
    std::wstring value;
};

// Every key and value one registered class has.
inline std::vector<ExpectedEntry> ExpectedClassEntries(const RegisteredClass& cls,
                                                       const std::wstring& modulePath) {
    const std::wstring name = cls.name;
    const std::wstring clsid = cls.clsid;
    const std::wstring progId = L"PvtCorrelator." + name;
    const std::wstring classKey = L"CLSID\\" + clsid;
    const std::wstring display = name + L" Class";
    return {
        {progId + L".1", L"", display},
        {progId + L".1\\CLSID", L"", clsid},
        {progId, L"", display},
        {progId + L"\\CLSID", L"", clsid},
        {progId + L"\\CurVer", L"", progId + L".1"},
        {classKey, L"", display},
        {classKey + L"\\ProgID", L"", progId + L".1"},
        {classKey + L"\\VersionIndependentProgID", L"", progId},
        {classKey + L"\\Programmable", nullptr, std::wstring()},
        {classKey + L"\\InprocServer32", L"", modulePath},
        {classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {classKey + L"\\TypeLib", L"", kTypeLibraryIdText},
    };
}

}  // namespace pvt::test
