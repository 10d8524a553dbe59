// The reference data server through its exports only: class objects,
// variables, sets, cloning, lookup, and the read-back functions. Every test
// ends with no server object alive and the DLL ready to unload.
#include "VarHubAccess.h"
#include "host/HostInterfaces.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <string>

using Microsoft::WRL::ComPtr;
using namespace pvt;

namespace {

constexpr double kEmpty = -32767.0;

template <class T>
void** Out(ComPtr<T>& pointer) {
    return reinterpret_cast<void**>(pointer.ReleaseAndGetAddressOf());
}

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

HMODULE Server() { return GetModuleHandleW(L"varhub2.dll"); }

HRESULT GetClassObject(REFCLSID classId, REFIID iid, void** object) {
    auto entry = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(Server(), "DllGetClassObject")));
    return entry ? entry(classId, iid, object) : E_FAIL;
}

HRESULT CanUnloadNow() {
    auto entry = reinterpret_cast<CanUnloadNowFn>(
        reinterpret_cast<void*>(GetProcAddress(Server(), "DllCanUnloadNow")));
    return entry ? entry() : E_FAIL;
}

template <class T>
ComPtr<T> Create(REFCLSID classId, REFIID iid) {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(S_OK, GetClassObject(classId, IID_IClassFactory, Out(factory)));
    ComPtr<T> object;
    if (factory) {
        EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, iid, Out(object)));
    }
    return object;
}

ComPtr<IHostVariable> NewVariable(const wchar_t* taggedName) {
    auto variable = Create<IHostVariable>(CLSID_HostVariable, IID_IHostVariable);
    if (variable) {
        EXPECT_EQ(S_OK, variable->SetTaggedName(taggedName));
    }
    return variable;
}

ComPtr<IHostVariableSet> NewSet() {
    return Create<IHostVariableSet>(CLSID_HostVariableSet, IID_IHostVariableSet);
}

ULONG References(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

std::wstring TaggedName(IUnknown* variable) {
    BSTR name = nullptr;
    EXPECT_EQ(S_OK, VarHubGetTaggedName(variable, &name));
    std::wstring text = name ? std::wstring(name, SysStringLen(name)) : L"<null>";
    SysFreeString(name);
    return text;
}

double Value(IUnknown* variable, LONG index) {
    double value = 0;
    EXPECT_EQ(S_OK, VarHubGetValue(variable, index, &value));
    return value;
}

LONG ValueCount(IUnknown* variable) {
    LONG count = -1;
    EXPECT_EQ(S_OK, VarHubGetValueCount(variable, &count));
    return count;
}

LONG VariableCount(IUnknown* set) {
    LONG count = -1;
    EXPECT_EQ(S_OK, VarHubGetVariableCount(set, &count));
    return count;
}

ComPtr<IUnknown> Find(IHostVariableSet* set, const wchar_t* name) {
    ComPtr<IUnknown> found;
    EXPECT_EQ(S_OK, set->FindVariable(name, found.ReleaseAndGetAddressOf()));
    return found;
}

// The identity of a COM object, for "same object" comparisons.
IUnknown* Identity(IUnknown* object) {
    ComPtr<IUnknown> unknown;
    object->QueryInterface(IID_IUnknown, Out(unknown));
    return unknown.Get();  // the object stays alive through the caller's pointer
}

// A variable from somewhere else: the server must refuse to hold it.
class ForeignVariable final : public IHostVariable {
public:
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override {
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IHostVariable)) {
            return E_NOINTERFACE;
        }
        *object = this;
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++references; }
    STDMETHOD_(ULONG, Release)() override { return --references; }
    STDMETHOD(Reserved01)() override { return E_NOTIMPL; }
    STDMETHOD(SetTaggedName)(const wchar_t*) override { return S_OK; }
    STDMETHOD(Reserved03)() override { return E_NOTIMPL; }
    STDMETHOD(SetDisplayName)(BSTR) override { return S_OK; }
    STDMETHOD(Reserved05)() override { return E_NOTIMPL; }
    STDMETHOD(SetFlag)(LONG) override { return S_OK; }
    STDMETHOD(Reserved07)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved08)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved09)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved10)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved11)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved12)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved13)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved14)() override { return E_NOTIMPL; }
    STDMETHOD(SetValue)(LONG, double) override { return S_OK; }
    ULONG references = 1;
};

class VarHubTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(nullptr, Server()) << "the reference varhub2.dll is not loaded";
        liveAtStart_ = VarHubLiveObjectCount();
    }
    void TearDown() override {
        EXPECT_EQ(liveAtStart_, VarHubLiveObjectCount()) << "server objects leaked";
        EXPECT_EQ(0, liveAtStart_);
        EXPECT_EQ(S_OK, CanUnloadNow());
    }

private:
    LONG liveAtStart_ = 0;
};

TEST_F(VarHubTest, ClassObjectsCreateBothClassesAndRefuseTheRest) {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
              GetClassObject(IID_IHostVariable, IID_IClassFactory, Out(factory)));
    EXPECT_EQ(nullptr, factory.Get());
    ASSERT_EQ(S_OK, GetClassObject(CLSID_HostVariableSet, IID_IClassFactory, Out(factory)));

    ComPtr<IUnknown> object;
    ComPtr<IUnknown> outer = NewSet();  // any object will do as a would-be outer
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              factory->CreateInstance(outer.Get(), IID_IUnknown, Out(object)));
    EXPECT_EQ(nullptr, object.Get());
    outer.Reset();
    // An interface the class lacks: no object, and none left alive.
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IHostVariable, Out(object)));
    EXPECT_EQ(nullptr, object.Get());
    EXPECT_EQ(0, VarHubLiveObjectCount());

    // A live object or a lock keeps the server loaded.
    auto variable = NewVariable(L"v");
    EXPECT_EQ(S_FALSE, CanUnloadNow());
    variable.Reset();
    EXPECT_EQ(S_OK, CanUnloadNow());
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_FALSE, CanUnloadNow());
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
}

TEST_F(VarHubTest, VariableKeepsNamesFlagValuesAndLabels) {
    // The tagged name arrives as a plain array with no BSTR length before it.
    const wchar_t plainName[] = {L'P', L'h', L'a', L's', L'e', L'_',  L'V',
                                 L'a', L'l', L'u', L'e', L's', L'\0', L'X'};
    auto variable = NewVariable(plainName);
    ASSERT_TRUE(variable);
    EXPECT_EQ(L"Phase_Values", TaggedName(variable.Get()));
    EXPECT_EQ(E_POINTER, variable->SetTaggedName(nullptr));
    EXPECT_EQ(L"Phase_Values", TaggedName(variable.Get()));

    BSTR display = SysAllocString(L"Phase values");
    EXPECT_EQ(S_OK, variable->SetDisplayName(display));
    SysFreeString(display);
    BSTR readBack = nullptr;
    EXPECT_EQ(S_OK, VarHubGetDisplayName(variable.Get(), &readBack));
    EXPECT_STREQ(L"Phase values", readBack);
    SysFreeString(readBack);

    EXPECT_EQ(S_OK, variable->SetFlag(-1));
    LONG flag = 0;
    EXPECT_EQ(S_OK, VarHubGetFlag(variable.Get(), &flag));
    EXPECT_EQ(-1, flag);

    // Writing element 3 first leaves 0 to 2 "not available".
    EXPECT_EQ(0, ValueCount(variable.Get()));
    EXPECT_EQ(S_OK, variable->SetValue(3, 2.5));
    EXPECT_EQ(4, ValueCount(variable.Get()));
    EXPECT_EQ(kEmpty, Value(variable.Get(), 0));
    EXPECT_EQ(2.5, Value(variable.Get(), 3));
    EXPECT_EQ(S_OK, variable->SetValue(0, -0.125));
    EXPECT_EQ(-0.125, Value(variable.Get(), 0));
    EXPECT_EQ(E_INVALIDARG, variable->SetValue(-1, 1.0));
    EXPECT_EQ(E_INVALIDARG, variable->SetValue(0x7FFFFFFF, 1.0));
    EXPECT_EQ(4, ValueCount(variable.Get()));
    double value = 0;
    EXPECT_EQ(DISP_E_BADINDEX, VarHubGetValue(variable.Get(), 4, &value));

    ComPtr<IHostEnumVariable> enumVariable;
    ASSERT_EQ(S_OK, variable->QueryInterface(IID_IHostEnumVariable, Out(enumVariable)));
    EXPECT_EQ(S_OK, enumVariable->SetEnumFlag(1));
    EXPECT_EQ(S_OK, enumVariable->SetEnumIndex(0));
    BSTR label = SysAllocString(L"Vapour");
    EXPECT_EQ(S_OK, enumVariable->SetEnumValue(1, label));
    SysFreeString(label);
    LONG enumFlag = 0, enumIndex = -1, labels = 0;
    EXPECT_EQ(S_OK, VarHubGetEnumState(variable.Get(), &enumFlag, &enumIndex, &labels));
    EXPECT_EQ(1, enumFlag);
    EXPECT_EQ(0, enumIndex);
    EXPECT_EQ(2, labels);
    EXPECT_EQ(S_OK, VarHubGetEnumLabel(variable.Get(), 1, &readBack));
    EXPECT_STREQ(L"Vapour", readBack);
    SysFreeString(readBack);

    // Entries the server does not offer answer E_NOTIMPL.
    EXPECT_EQ(E_NOTIMPL, variable->Reserved01());
    EXPECT_EQ(E_NOTIMPL, variable->Reserved14());
    EXPECT_EQ(E_NOTIMPL, enumVariable->Reserved17());
}

TEST_F(VarHubTest, SetHoldsOnlyItsOwnVariablesAndFindsThemByTaggedName) {
    auto set = NewSet();
    auto first = NewVariable(L"Phase_Values");
    auto second = NewVariable(L"Other");
    ASSERT_TRUE(set && first && second);

    EXPECT_EQ(E_POINTER, set->AddVariable(nullptr));
    ForeignVariable foreign;
    EXPECT_EQ(E_INVALIDARG, set->AddVariable(&foreign));
    EXPECT_EQ(1u, foreign.references);

    const ULONG before = References(first.Get());
    EXPECT_EQ(S_OK, set->AddVariable(first.Get()));
    EXPECT_EQ(before + 1, References(first.Get())) << "the set keeps one reference";
    EXPECT_EQ(S_OK, set->AddVariable(second.Get()));
    EXPECT_EQ(2, VariableCount(set.Get()));

    ComPtr<IUnknown> found = Find(set.Get(), L"Phase_Values");
    ASSERT_TRUE(found);
    EXPECT_EQ(Identity(first.Get()), Identity(found.Get()));
    EXPECT_EQ(before + 2, References(first.Get())) << "the caller owns one reference";
    found.Reset();

    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND,
              set->FindVariable(L"Missing", found.ReleaseAndGetAddressOf()));
    EXPECT_EQ(nullptr, found.Get());
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND,
              set->FindVariable(L"phase_values", found.ReleaseAndGetAddressOf()));
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, set->FindVariable(L"", found.ReleaseAndGetAddressOf()));
    EXPECT_EQ(E_POINTER, set->FindVariable(nullptr, found.ReleaseAndGetAddressOf()));
    EXPECT_EQ(E_POINTER, set->FindVariable(L"Other", nullptr));
    EXPECT_EQ(E_NOTIMPL, set->Reserved01());
    EXPECT_EQ(E_NOTIMPL, set->Reserved14());

    // The read-back functions refuse objects of other kinds and origins.
    LONG count = 0;
    EXPECT_EQ(E_INVALIDARG, VarHubGetValueCount(&foreign, &count));
    EXPECT_EQ(E_INVALIDARG, VarHubGetValueCount(set.Get(), &count));
    EXPECT_EQ(E_INVALIDARG, VarHubGetVariableCount(first.Get(), &count));
    EXPECT_EQ(E_INVALIDARG, VarHubGetValueCount(nullptr, &count));
    EXPECT_EQ(E_POINTER, VarHubGetValueCount(first.Get(), nullptr));

    // The set's references go when it does.
    set.Reset();
    EXPECT_EQ(before, References(first.Get()));
}

TEST_F(VarHubTest, CloneGivesIndependentCopiesOfEveryVariable) {
    auto set = NewSet();
    auto phase = NewVariable(L"Phase_Values");
    auto other = NewVariable(L"Other");
    ASSERT_TRUE(set && phase && other);
    phase->SetFlag(-1);
    for (LONG i = 0; i < 4; ++i) phase->SetValue(i, 10.0 + i);
    ComPtr<IHostEnumVariable> enumVariable;
    ASSERT_EQ(S_OK, other->QueryInterface(IID_IHostEnumVariable, Out(enumVariable)));
    BSTR label = SysAllocString(L"Oil");
    enumVariable->SetEnumValue(0, label);
    SysFreeString(label);
    ASSERT_EQ(S_OK, set->AddVariable(phase.Get()));
    ASSERT_EQ(S_OK, set->AddVariable(other.Get()));

    ComPtr<IHostVariableSet> clone;
    EXPECT_EQ(E_POINTER, set->Clone(nullptr));
    ASSERT_EQ(S_OK, set->Clone(clone.ReleaseAndGetAddressOf()));
    ASSERT_TRUE(clone);
    EXPECT_EQ(1u, References(clone.Get()));
    EXPECT_EQ(2, VariableCount(clone.Get()));
    EXPECT_EQ(6, VarHubLiveObjectCount()) << "two sets and four variables";

    ComPtr<IUnknown> copied = Find(clone.Get(), L"Phase_Values");
    ASSERT_TRUE(copied);
    EXPECT_NE(Identity(phase.Get()), Identity(copied.Get()));
    for (LONG i = 0; i < 4; ++i) EXPECT_EQ(10.0 + i, Value(copied.Get(), i));
    LONG flag = 0;
    EXPECT_EQ(S_OK, VarHubGetFlag(copied.Get(), &flag));
    EXPECT_EQ(-1, flag);
    ComPtr<IUnknown> copiedOther = Find(clone.Get(), L"Other");
    BSTR readBack = nullptr;
    EXPECT_EQ(S_OK, VarHubGetEnumLabel(copiedOther.Get(), 0, &readBack));
    EXPECT_STREQ(L"Oil", readBack);
    SysFreeString(readBack);

    // Writes on either side stay on that side.
    ComPtr<IHostVariable> copiedVariable;
    ASSERT_EQ(S_OK, copied->QueryInterface(IID_IHostVariable, Out(copiedVariable)));
    copiedVariable->SetValue(0, 99.0);
    copiedVariable->SetValue(5, 1.0);
    phase->SetValue(1, -5.0);
    EXPECT_EQ(10.0, Value(phase.Get(), 0));
    EXPECT_EQ(4, ValueCount(phase.Get()));
    EXPECT_EQ(11.0, Value(copied.Get(), 1));
    copiedVariable->SetTaggedName(L"Renamed");
    EXPECT_TRUE(Find(set.Get(), L"Phase_Values"));
    auto extra = NewVariable(L"Extra");
    EXPECT_EQ(S_OK, clone->AddVariable(extra.Get()));
    EXPECT_EQ(2, VariableCount(set.Get()));
    EXPECT_EQ(3, VariableCount(clone.Get()));

    // A clone outlives the set it came from, and a clone of a clone is
    // independent too.
    set.Reset();
    phase.Reset();
    other.Reset();
    enumVariable.Reset();
    ComPtr<IHostVariableSet> second;
    ASSERT_EQ(S_OK, clone->Clone(second.ReleaseAndGetAddressOf()));
    ComPtr<IUnknown> renamed = Find(second.Get(), L"Renamed");
    EXPECT_EQ(99.0, Value(renamed.Get(), 0));
    EXPECT_EQ(kEmpty, Value(renamed.Get(), 4));
    EXPECT_EQ(1.0, Value(renamed.Get(), 5));
}

TEST_F(VarHubTest, CloneOfAnEmptySetIsEmpty) {
    auto set = NewSet();
    ComPtr<IHostVariableSet> clone;
    ASSERT_EQ(S_OK, set->Clone(clone.ReleaseAndGetAddressOf()));
    EXPECT_EQ(0, VariableCount(clone.Get()));
    EXPECT_NE(Identity(set.Get()), Identity(clone.Get()));
}

}  // namespace
