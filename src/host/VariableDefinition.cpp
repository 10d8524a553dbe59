#include "host/VariableDefinition.h"

#include "com/ModuleResources.h"
#include "com/Text.h"
#include "host/HostPtr.h"

#include <objbase.h>
#include <wrl/client.h>

#include <cstring>

// The DOM document's interface, which the platform headers give no
// identifier the compiler knows.
__CRT_UUID_DECL(IXMLDOMDocument, 0x2933BF81, 0x7B36, 0x11D2, 0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98,
                0x3E, 0x60)

namespace pvt {

using Microsoft::WRL::ComPtr;

namespace {

// The platform's DOM document, version 6.0.
constexpr CLSID CLSID_DOMDocument60 = {
    0x88D96A05, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}};

std::string DefinitionPath(std::string_view taggedName) {
    // The name goes in verbatim: a quote in it makes the path invalid and the
    // lookup then fails quietly.
    std::string path = "VariableDefinitions/Variable[@TaggedName=\"";
    path.append(taggedName);
    path += "\"]";
    return path;
}

// Sets the labels of an "Enum" definition; every result is ignored.
void ApplyEnumLabels(IXMLDOMNode* definition, IHostVariable* variable) {
    HostPtr<IHostEnumVariable> enumVariable;
    if (FAILED(QueryHostObject(variable, enumVariable)) || !enumVariable) return;
    ComPtr<IXMLDOMNodeList> labels;
    BstrHolder labelPath(AllocBstrFromNarrow("EnumValue"));
    if (FAILED(Received(definition->selectNodes(labelPath.Get(), labels.ReleaseAndGetAddressOf()),
                        labels)) ||
        !labels) {
        return;
    }
    enumVariable->SetEnumFlag(1);
    enumVariable->SetEnumIndex(0);
    LONG index = 0;
    for (;;) {
        ComPtr<IXMLDOMNode> label;
        if (FAILED(Received(labels->nextNode(label.ReleaseAndGetAddressOf()), label)) || !label)
            break;
        BstrHolder text(AllocBstrFromNarrow(ReadNodeText(label.Get(), std::string_view())));
        enumVariable->SetEnumValue(index, text.Get());
        ++index;
    }
}

void ApplyDefinition(IXMLDOMNode* definition, IHostVariable* variable) {
    const std::string displayName = ReadNodeText(definition, "@DisplayName");
    const std::string taggedName = ReadNodeText(definition, "@TaggedName");
    const std::string type = ReadNodeText(definition, "@Type");

    if (!displayName.empty()) {
        BstrHolder text(AllocBstrFromNarrow(displayName));
        variable->SetDisplayName(text.Get());
    }
    if (!taggedName.empty()) {
        BstrHolder text(AllocBstrFromNarrow(taggedName));
        variable->SetTaggedName(text.Get());
    }
    if (definition != nullptr && type == "Enum") ApplyEnumLabels(definition, variable);
}

}  // namespace

std::string_view VariableDefinitionsDocument() {
    std::string_view data =
        FindModuleResource(MAKEINTRESOURCEW(23), MAKEINTRESOURCEW(kVariableDefinitionsResourceId));
    const void* nul = std::memchr(data.data(), '\0', data.size());
    if (nul != nullptr) data = data.substr(0, static_cast<const char*>(nul) - data.data());
    return data;
}

int ApplyVariableDefinition(std::string_view taggedName, IHostVariable* variable) {
    if (variable == nullptr) return 0;
    return ApplyVariableDefinitionFromText(taggedName, variable, VariableDefinitionsDocument());
}

int ApplyVariableDefinitionFromText(std::string_view taggedName, IHostVariable* variable,
                                    std::string_view documentText) {
    if (variable == nullptr) return 0;
    ComPtr<IXMLDOMDocument> document;
    if (FAILED(Received(CoCreateInstance(CLSID_DOMDocument60, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_PPV_ARGS(document.ReleaseAndGetAddressOf())),
                        document)) ||
        !document) {
        return 0;
    }
    document->put_async(VARIANT_FALSE);
    if (documentText.empty()) return 1;

    VARIANT_BOOL loaded = VARIANT_TRUE;
    HRESULT hr;
    {
        BstrHolder text(AllocBstrFromNarrow(documentText));
        hr = document->loadXML(text.Get(), &loaded);
    }
    const std::string path = DefinitionPath(taggedName);
    if (FAILED(hr) || loaded != VARIANT_TRUE) return 1;

    ComPtr<IXMLDOMNode> definition;
    {
        BstrHolder pathText(AllocBstrFromNarrow(path));
        if (FAILED(Received(document->selectSingleNode(pathText.Get(), definition.GetAddressOf()),
                            definition))) {
            return 1;
        }
    }
    ApplyDefinition(definition.Get(), variable);
    return 1;
}

std::string ReadNodeText(IXMLDOMNode* node, std::string_view path) {
    if (node == nullptr) return std::string();
    BstrHolder text;
    if (path.empty()) {
        if (FAILED(Received(node->get_text(text.Receive()), text))) return std::string();
    } else {
        ComPtr<IXMLDOMNode> selected;
        BstrHolder pathText(AllocBstrFromNarrow(path));
        if (FAILED(Received(node->selectSingleNode(pathText.Get(), selected.GetAddressOf()),
                            selected)) ||
            !selected) {
            return std::string();
        }
        if (FAILED(Received(selected->get_text(text.Receive()), text))) return std::string();
    }
    return NarrowFromWide(text.Get(), SysStringLen(text.Get()));
}

}  // namespace pvt
