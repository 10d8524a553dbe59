// Creating and releasing one correlation through its class object, beside
// what creation cannot do without: the three host objects from the data
// server, an XML document, the definitions loaded into it and the
// definition selected.
#include "Report.h"

#include "VarHubControl.h"
#include "correlations/Correlation.h"
#include "host/HostInterfaces.h"
#include "host/VariableDefinition.h"
#include "module/ClassTable.h"

#include <msxml2.h>
#include <oleauto.h>

#include <string>

namespace pvt::bench {

namespace {

constexpr CLSID CLSID_DOMDocument60 = {
    0x88D96A05, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}};
constexpr IID IID_DomDocument = {
    0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

BSTR WideBstr(std::string_view text) {
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(length));
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result, length);
    return result;
}

// The floor's fixed inputs, made once: the data server's entry point, the
// document text and the path of the definition.
struct CreationFloor {
    LPFNGETCLASSOBJECT getClassObject = nullptr;
    BSTR document = nullptr;
    BSTR path = nullptr;
    // Also read the definition's three attributes the way the definition is
    // applied (an attribute step and the node's text each).
    bool readAttributes = false;
    BSTR attributePaths[3] = {nullptr, nullptr, nullptr};

    ~CreationFloor() {
        SysFreeString(document);
        SysFreeString(path);
        for (BSTR attribute : attributePaths) SysFreeString(attribute);
    }

    void ReadAttributes(IXMLDOMNode* definition) {
        for (BSTR attribute : attributePaths) {
            IXMLDOMNode* node = nullptr;
            if (definition->selectSingleNode(attribute, &node) != S_OK || node == nullptr) continue;
            BSTR text = nullptr;
            node->get_text(&text);
            SysFreeString(text);
            node->Release();
        }
    }

    template <class T>
    HRESULT Create(REFCLSID classId, REFIID iid, T** object) {
        IClassFactory* factory = nullptr;
        HRESULT hr = getClassObject(classId, IID_IClassFactory, reinterpret_cast<void**>(&factory));
        if (FAILED(hr)) return hr;
        hr = factory->CreateInstance(nullptr, iid, reinterpret_cast<void**>(object));
        factory->Release();
        return hr;
    }

    HRESULT Run() {
        IHostVariableSet* exposed = nullptr;
        IHostVariableSet* templ = nullptr;
        IHostVariable* variable = nullptr;
        HRESULT hr = Create(CLSID_HostVariableSet, IID_IHostVariableSet, &exposed);
        if (SUCCEEDED(hr)) hr = Create(CLSID_HostVariableSet, IID_IHostVariableSet, &templ);
        if (SUCCEEDED(hr)) hr = Create(CLSID_HostVariable, IID_IHostVariable, &variable);
        if (SUCCEEDED(hr)) hr = variable->SetTaggedName(L"Phase_Values");
        if (SUCCEEDED(hr)) hr = variable->SetFlag(-1);
        IXMLDOMDocument* xml = nullptr;
        if (SUCCEEDED(hr)) {
            hr = CoCreateInstance(CLSID_DOMDocument60, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_DomDocument, reinterpret_cast<void**>(&xml));
        }
        if (SUCCEEDED(hr)) {
            xml->put_async(VARIANT_FALSE);
            VARIANT_BOOL loaded = VARIANT_FALSE;
            hr = xml->loadXML(document, &loaded);
            IXMLDOMNode* definition = nullptr;
            if (SUCCEEDED(hr) && loaded) hr = xml->selectSingleNode(path, &definition);
            if (hr == S_OK && definition == nullptr) hr = E_FAIL;
            if (SUCCEEDED(hr) && readAttributes) ReadAttributes(definition);
            if (definition != nullptr) definition->Release();
            xml->Release();
        }
        if (SUCCEEDED(hr)) hr = templ->AddVariable(variable);
        if (variable != nullptr) variable->Release();
        if (templ != nullptr) templ->Release();
        if (exposed != nullptr) exposed->Release();
        return hr;
    }
};

}  // namespace

void BenchCreation(const RunPlan& plan, Report& report) {
    CreationFloor floor;
    HMODULE dataServer = GetModuleHandleW(L"varhub2.dll");
    floor.getClassObject = dataServer == nullptr
                               ? nullptr
                               : reinterpret_cast<LPFNGETCLASSOBJECT>(reinterpret_cast<void*>(
                                     GetProcAddress(dataServer, "DllGetClassObject")));
    if (floor.getClassObject == nullptr) {
        report.Fail("creation: the data server's DllGetClassObject was not found");
        return;
    }
    const std::string_view documentText = VariableDefinitionsDocument();
    floor.document = WideBstr(documentText);
    floor.path = WideBstr("VariableDefinitions/Variable[@TaggedName=\"Phase_Values\"]");

    IClassFactory* factory = nullptr;
    HRESULT hr = kClassTable[0].makeClassObject(kClassTable[0].makeInstance, IID_IClassFactory,
                                                reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) {
        report.Fail("creation: class object: " + HrText(hr));
        return;
    }
    const auto createRelease = [&](long n) {
        for (long i = 0; i < n; ++i) {
            ICorrelation* correlation = nullptr;
            const HRESULT created = factory->CreateInstance(nullptr, IID_ICorrelation,
                                                            reinterpret_cast<void**>(&correlation));
            if (FAILED(created)) {
                report.Fail("creation: " + HrText(created));
                return;
            }
            correlation->Release();
        }
    };
    const auto floorRun = [&](long n) {
        for (long i = 0; i < n; ++i) {
            const HRESULT done = floor.Run();
            if (FAILED(done)) {
                report.Fail("creation floor: " + HrText(done));
                return;
            }
        }
    };
    report.comparisons.push_back(
        Compare("Create + release " + std::string(kCatalogue[0].name),
                "3 data-server objects, XML document, load " + std::to_string(documentText.size()) +
                    " bytes, select definition",
                1.25, createRelease, floorRun, plan, [] { VarHub_Reset(); }));
    floor.readAttributes = true;
    floor.attributePaths[0] = WideBstr("@DisplayName");
    floor.attributePaths[1] = WideBstr("@TaggedName");
    floor.attributePaths[2] = WideBstr("@Type");
    report.comparisons.push_back(
        Compare("Create + release (floor reads attributes)",
                "as above, plus the definition's three attributes read by attribute step", 1.25,
                createRelease, floorRun, plan, [] { VarHub_Reset(); }));
    factory->Release();
}

}  // namespace pvt::bench
