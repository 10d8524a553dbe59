// Expected text shared by the tests that read the module's registry scripts.
#pragma once

namespace pvt::test {

// The registry script of BubblePtPressure (resource 111), byte for byte.
inline constexpr char kBubblePtPressureScriptText[] =
    "HKCR\r\n"
    "{\r\n"
    "\tPvtCorrelator.BubblePtPressure.1 = s 'BubblePtPressure Class'\r\n"
    "\t{\r\n"
    "\t\tCLSID = s '{4DF4A90C-3E4E-4a2e-8186-3C9042C91674}'\r\n"
    "\t}\r\n"
    "\tPvtCorrelator.BubblePtPressure = s 'BubblePtPressure Class'\r\n"
    "\t{\r\n"
    "\t\tCLSID = s '{4DF4A90C-3E4E-4a2e-8186-3C9042C91674}'\r\n"
    "\t\tCurVer = s 'PvtCorrelator.BubblePtPressure.1'\r\n"
    "\t}\r\n"
    "\tNoRemove CLSID\r\n"
    "\t{\r\n"
    "\t\tForceRemove {4DF4A90C-3E4E-4a2e-8186-3C9042C91674} = s 'BubblePtPressure Class'\r\n"
    "\t\t{\r\n"
    "\t\t\tProgID = s 'PvtCorrelator.BubblePtPressure.1'\r\n"
    "\t\t\tVersionIndependentProgID = s 'PvtCorrelator.BubblePtPressure'\r\n"
    "\t\t\tForceRemove 'Programmable'\r\n"
    "\t\t\tInprocServer32 = s '%MODULE%'\r\n"
    "\t\t\t{\r\n"
    "\t\t\t\tval ThreadingModel = s 'Apartment'\r\n"
    "\t\t\t}\r\n"
    "\t\t\t'TypeLib' = s '{DEEC13C7-7766-4086-8C1B-434FBF176F1C}'\r\n"
    "\t\t}\r\n"
    "\t}\r\n"
    "}\r\n";

}  // namespace pvt::test
