// The data-server double: variable sets and variables that log every call,
// count their objects and references, and fail or throw on request.
#define VARHUB_DOUBLE_BUILD
#include "VarHubControl.h"

#include "host/HostInterfaces.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

using namespace pvt;

namespace {

// Private identity, so that the control functions can find the double's
// variable behind any interface pointer it handed out.
constexpr IID IID_VarHubVariable = {
    0x6A1D3F10, 0x2B7C, 0x4E55, {0x9C, 0x1E, 0x3F, 0x55, 0x60, 0x7A, 0x81, 0x02}};

struct Fault {
    HRESULT hr = S_OK;
    bool fail = false;
    bool raise = false;
    bool leave = false;  // a failure still writes a pointer, without a reference
};

struct State {
    std::mutex mutex;
    std::vector<std::string> log;
    std::string logText;
    std::map<std::string, Fault> faults;
    int creations = 0;
    int failCreation = 0;
    HRESULT failCreationCode = E_FAIL;
    bool enumSupport = true;
    bool findGivesForeign = false;
    VarHubHook hook = nullptr;
    void* hookContext = nullptr;
    int nextSet = 0;
    int nextVariable = 0;
    int nextOther = 0;
};

State& Hub() {
    static State state;
    return state;
}

LONG liveObjects = 0;
LONG references = 0;

void Log(const std::string& line) {
    std::lock_guard<std::mutex> lock(Hub().mutex);
    Hub().log.push_back(line);
}

// Runs the test's hook for method, then gives the injected result of
// method, or S_OK; throws when asked to.
HRESULT Injected(const char* method) {
    VarHubHook hook = nullptr;
    void* context = nullptr;
    {
        std::lock_guard<std::mutex> lock(Hub().mutex);
        hook = Hub().hook;
        context = Hub().hookContext;
    }
    if (hook) hook(method, context);
    Fault fault;
    {
        std::lock_guard<std::mutex> lock(Hub().mutex);
        auto it = Hub().faults.find(method);
        if (it == Hub().faults.end()) return S_OK;
        fault = it->second;
    }
    if (fault.raise) throw std::runtime_error(std::string("varhub2 double: ") + method);
    return fault.fail ? fault.hr : S_OK;
}

// Whether a failing method is to leave a pointer in its out location.
bool LeavesOnFailure(const char* method) {
    std::lock_guard<std::mutex> lock(Hub().mutex);
    auto it = Hub().faults.find(method);
    return it != Hub().faults.end() && it->second.leave;
}

std::string Narrow(const wchar_t* text) {
    if (text == nullptr) return "(null)";
    std::string out;
    for (; *text; ++text) out += (*text < 128) ? static_cast<char>(*text) : '?';
    return out;
}

std::string Quoted(const wchar_t* text) { return text ? "\"" + Narrow(text) + "\"" : "(null)"; }

// Reference counting shared by every object of the double.
class Counted {
public:
    explicit Counted(std::string name) : name_(std::move(name)) {
        InterlockedIncrement(&liveObjects);
        Log("create " + name_);
    }
    virtual ~Counted() { InterlockedDecrement(&liveObjects); }
    const std::string& Name() const { return name_; }

protected:
    ULONG DoAddRef() {
        InterlockedIncrement(&references);
        return static_cast<ULONG>(InterlockedIncrement(&count_));
    }
    ULONG DoRelease() {
        InterlockedDecrement(&references);
        const LONG count = InterlockedDecrement(&count_);
        Log(name_ + ".Release() -> " + std::to_string(count));
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }
    HRESULT Reserved(const char* entry) {
        Log(name_ + "." + entry + "()");
        return E_NOTIMPL;
    }

private:
    std::string name_;
    LONG count_ = 0;
};

std::string NewName(const char* kind, int State::*counter) {
    std::lock_guard<std::mutex> lock(Hub().mutex);
    return std::string(kind) + "#" + std::to_string(++(Hub().*counter));
}

class Variable final : public Counted, public IHostVariable, public IHostEnumVariable {
public:
    Variable() : Counted(NewName("Variable", &State::nextVariable)) {}
    Variable(const Variable& other)
        : Counted(NewName("Variable", &State::nextVariable)),
          taggedName_(other.taggedName_),
          displayName_(other.displayName_),
          flag_(other.flag_),
          values_(other.values_),
          labels_(other.labels_) {}

    STDMETHOD(QueryInterface)(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IHostVariable)) {
            *object = static_cast<IHostVariable*>(this);
        } else if (IsEqualIID(iid, IID_IHostEnumVariable) && Hub().enumSupport) {
            *object = static_cast<IHostEnumVariable*>(this);
        } else if (IsEqualIID(iid, IID_VarHubVariable)) {
            *object = this;  // not referenced: the control functions only peek
            return S_OK;
        } else {
            return E_NOINTERFACE;
        }
        DoAddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return DoAddRef(); }
    STDMETHOD_(ULONG, Release)() override { return DoRelease(); }

    // IHostVariable
    STDMETHOD(Reserved01)() override { return Reserved("Reserved01"); }
    STDMETHOD(SetTaggedName)(const wchar_t* name) override {
        Log(Name() + ".SetTaggedName(" + Quoted(name) + ")");
        HRESULT hr = Injected("SetTaggedName");
        if (SUCCEEDED(hr)) taggedName_ = Narrow(name);
        return hr;
    }
    STDMETHOD(Reserved03)() override { return Reserved("Reserved03"); }
    STDMETHOD(SetDisplayName)(BSTR name) override {
        Log(Name() + ".SetDisplayName(" + Quoted(name) + ")");
        HRESULT hr = Injected("SetDisplayName");
        if (SUCCEEDED(hr)) displayName_ = Narrow(name);
        return hr;
    }
    STDMETHOD(Reserved05)() override { return Reserved("Reserved05"); }
    STDMETHOD(SetFlag)(LONG flag) override {
        Log(Name() + ".SetFlag(" + std::to_string(flag) + ")");
        HRESULT hr = Injected("SetFlag");
        if (SUCCEEDED(hr)) flag_ = flag;
        return hr;
    }
    STDMETHOD(Reserved07)() override { return Reserved("Reserved07"); }
    STDMETHOD(Reserved08)() override { return Reserved("Reserved08"); }
    STDMETHOD(Reserved09)() override { return Reserved("Reserved09"); }
    STDMETHOD(Reserved10)() override { return Reserved("Reserved10"); }
    STDMETHOD(Reserved11)() override { return Reserved("Reserved11"); }
    STDMETHOD(Reserved12)() override { return Reserved("Reserved12"); }
    STDMETHOD(Reserved13)() override { return Reserved("Reserved13"); }
    STDMETHOD(Reserved14)() override { return Reserved("Reserved14"); }
    STDMETHOD(SetValue)(LONG index, double value) override {
        char text[64];
        std::snprintf(text, sizeof text, "%.17g", value);
        Log(Name() + ".SetValue(" + std::to_string(index) + ", " + text + ")");
        HRESULT hr = Injected("SetValue");
        if (SUCCEEDED(hr) && index >= 0 && index < 1024) {
            if (values_.size() <= static_cast<size_t>(index)) values_.resize(index + 1, NAN);
            values_[index] = value;
        }
        return hr;
    }

    // IHostEnumVariable: its entries 1 to 17 are placeholders.
    HRESULT STDMETHODCALLTYPE Reserved02() override { return Reserved("Reserved02"); }
    HRESULT STDMETHODCALLTYPE Reserved04() override { return Reserved("Reserved04"); }
    HRESULT STDMETHODCALLTYPE Reserved06() override { return Reserved("Reserved06"); }
    HRESULT STDMETHODCALLTYPE Reserved15() override { return Reserved("Reserved15"); }
    HRESULT STDMETHODCALLTYPE Reserved16() override { return Reserved("Reserved16"); }
    HRESULT STDMETHODCALLTYPE Reserved17() override { return Reserved("Reserved17"); }
    STDMETHOD(SetEnumFlag)(LONG flag) override {
        Log(Name() + ".SetEnumFlag(" + std::to_string(flag) + ")");
        return Injected("SetEnumFlag");
    }
    STDMETHOD(SetEnumIndex)(LONG index) override {
        Log(Name() + ".SetEnumIndex(" + std::to_string(index) + ")");
        return Injected("SetEnumIndex");
    }
    STDMETHOD(SetEnumValue)(LONG index, BSTR label) override {
        Log(Name() + ".SetEnumValue(" + std::to_string(index) + ", " + Quoted(label) + ")");
        labels_.push_back(Narrow(label));
        return Injected("SetEnumValue");
    }

    const std::string& TaggedName() const { return taggedName_; }
    const std::vector<double>& Values() const { return values_; }

private:
    std::string taggedName_;
    std::string displayName_;
    LONG flag_ = 0;
    std::vector<double> values_;
    std::vector<std::string> labels_;
};

// An object that is no variable, for hosts that misbehave.
class Foreign final : public Counted, public IUnknown {
public:
    Foreign() : Counted(NewName("Foreign", &State::nextOther)) {}
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown)) return E_NOINTERFACE;
        *object = static_cast<IUnknown*>(this);
        DoAddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return DoAddRef(); }
    STDMETHOD_(ULONG, Release)() override { return DoRelease(); }
};

class VariableSet final : public Counted, public IHostVariableSet {
public:
    VariableSet() : Counted(NewName("Set", &State::nextSet)) {}
    ~VariableSet() override {
        for (Variable* v : variables_) v->Release();
    }

    STDMETHOD(QueryInterface)(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IHostVariableSet)) {
            return E_NOINTERFACE;
        }
        *object = static_cast<IHostVariableSet*>(this);
        DoAddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return DoAddRef(); }
    STDMETHOD_(ULONG, Release)() override { return DoRelease(); }

    STDMETHOD(Reserved01)() override { return Reserved("Reserved01"); }
    STDMETHOD(Reserved02)() override { return Reserved("Reserved02"); }
    STDMETHOD(Reserved03)() override { return Reserved("Reserved03"); }
    STDMETHOD(Reserved04)() override { return Reserved("Reserved04"); }
    STDMETHOD(AddVariable)(IHostVariable* variable) override {
        Variable* own = nullptr;
        if (variable) variable->QueryInterface(IID_VarHubVariable, reinterpret_cast<void**>(&own));
        Log(Name() + ".AddVariable(" + (own ? own->Name() : std::string("(foreign)")) + ")");
        HRESULT hr = Injected("AddVariable");
        if (FAILED(hr)) return hr;
        if (own == nullptr) return E_INVALIDARG;
        own->AddRef();
        variables_.push_back(own);
        return hr;
    }
    STDMETHOD(Reserved06)() override { return Reserved("Reserved06"); }
    STDMETHOD(Reserved07)() override { return Reserved("Reserved07"); }
    STDMETHOD(Reserved08)() override { return Reserved("Reserved08"); }
    STDMETHOD(Reserved09)() override { return Reserved("Reserved09"); }
    STDMETHOD(Reserved10)() override { return Reserved("Reserved10"); }
    STDMETHOD(Clone)(IHostVariableSet** clone) override {
        Log(Name() + ".Clone()");
        HRESULT hr = Injected("Clone");
        if (FAILED(hr)) {
            if (clone != nullptr && LeavesOnFailure("Clone")) *clone = this;
            return hr;
        }
        if (clone == nullptr) return E_POINTER;
        if (hr != S_OK) return hr;  // success without an object
        VariableSet* copy = new VariableSet();
        for (Variable* v : variables_) {
            Variable* c = new Variable(*v);
            c->AddRef();
            copy->variables_.push_back(c);
        }
        copy->AddRef();
        *clone = copy;
        Log(Name() + ".Clone() -> " + copy->Name());
        return S_OK;
    }
    STDMETHOD(Reserved12)() override { return Reserved("Reserved12"); }
    STDMETHOD(Reserved13)() override { return Reserved("Reserved13"); }
    STDMETHOD(Reserved14)() override { return Reserved("Reserved14"); }
    STDMETHOD(FindVariable)(const wchar_t* name, IUnknown** variable) override {
        Log(Name() + ".FindVariable(" + Quoted(name) + ")");
        HRESULT hr = Injected("FindVariable");
        if (FAILED(hr)) {
            if (variable != nullptr && LeavesOnFailure("FindVariable") && !variables_.empty()) {
                *variable = static_cast<IHostVariable*>(variables_.front());
            }
            return hr;
        }
        if (variable == nullptr) return E_POINTER;
        if (hr != S_OK) return hr;
        if (Hub().findGivesForeign) {
            Foreign* f = new Foreign();
            f->AddRef();
            *variable = f;
            return S_OK;
        }
        const std::string wanted = Narrow(name);
        for (Variable* v : variables_) {
            if (v->TaggedName() == wanted) {
                v->AddRef();
                *variable = static_cast<IHostVariable*>(v);
                return S_OK;
            }
        }
        return E_INVALIDARG;
    }

private:
    std::vector<Variable*> variables_;
};

// Class objects of the double; they are static and not counted.
class Factory final : public IClassFactory {
public:
    explicit Factory(bool makesSets) : makesSets_(makesSets) {}
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
            return E_NOINTERFACE;
        }
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return 2; }
    STDMETHOD_(ULONG, Release)() override { return 1; }
    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        HRESULT injected = S_OK;
        {
            std::lock_guard<std::mutex> lock(Hub().mutex);
            if (++Hub().creations == Hub().failCreation) injected = Hub().failCreationCode;
        }
        if (injected != S_OK) {
            Log(std::string("create ") + (makesSets_ ? "Set" : "Variable") + " refused");
            return injected;
        }
        IUnknown* created =
            makesSets_ ? static_cast<IUnknown*>(static_cast<IHostVariableSet*>(new VariableSet()))
                       : static_cast<IUnknown*>(static_cast<IHostVariable*>(new Variable()));
        created->AddRef();
        HRESULT hr = created->QueryInterface(iid, object);
        created->Release();
        return hr;
    }
    STDMETHOD(LockServer)(BOOL) override { return S_OK; }

private:
    bool makesSets_;
};

Factory setFactory(true);
Factory variableFactory(false);

Variable* FindOwnVariable(IUnknown* object) {
    Variable* own = nullptr;
    if (object) object->QueryInterface(IID_VarHubVariable, reinterpret_cast<void**>(&own));
    return own;
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE
    DllGetClassObject(REFCLSID classId, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (IsEqualCLSID(classId, CLSID_HostVariableSet)) return setFactory.QueryInterface(iid, object);
    if (IsEqualCLSID(classId, CLSID_HostVariable)) {
        return variableFactory.QueryInterface(iid, object);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

VARHUB_API void VarHub_Reset() {
    std::lock_guard<std::mutex> lock(Hub().mutex);
    State& s = Hub();
    s.log.clear();
    s.faults.clear();
    s.creations = 0;
    s.failCreation = 0;
    s.failCreationCode = E_FAIL;
    s.enumSupport = true;
    s.findGivesForeign = false;
    s.hook = nullptr;
    s.hookContext = nullptr;
    s.nextSet = 0;
    s.nextVariable = 0;
    s.nextOther = 0;
}

VARHUB_API LONG VarHub_LiveObjects() { return InterlockedCompareExchange(&liveObjects, 0, 0); }
VARHUB_API LONG VarHub_References() { return InterlockedCompareExchange(&references, 0, 0); }

VARHUB_API const char* VarHub_Log() {
    std::lock_guard<std::mutex> lock(Hub().mutex);
    State& s = Hub();
    s.logText.clear();
    for (const std::string& line : s.log) s.logText += line + "\n";
    return s.logText.c_str();
}

VARHUB_API void VarHub_Note(const char* line) { Log(line ? line : ""); }

VARHUB_API void VarHub_FailCreation(int n, HRESULT hr) {
    std::lock_guard<std::mutex> lock(Hub().mutex);
    Hub().failCreation = n;
    Hub().failCreationCode = hr;
}

VARHUB_API void VarHub_FailMethod(const char* method, HRESULT hr) {
    std::lock_guard<std::mutex> lock(Hub().mutex);
    Fault& f = Hub().faults[method];
    f.fail = true;
    f.hr = hr;
}

VARHUB_API void VarHub_FailMethodLeaving(const char* method, HRESULT hr) {
    VarHub_FailMethod(method, hr);
    std::lock_guard<std::mutex> lock(Hub().mutex);
    Hub().faults[method].leave = true;
}

VARHUB_API void VarHub_SetHook(VarHubHook hook, void* context) {
    std::lock_guard<std::mutex> lock(Hub().mutex);
    Hub().hook = hook;
    Hub().hookContext = context;
}

VARHUB_API void VarHub_ThrowIn(const char* method) {
    std::lock_guard<std::mutex> lock(Hub().mutex);
    Hub().faults[method].raise = true;
}

VARHUB_API void VarHub_SetEnumSupport(int enabled) { Hub().enumSupport = enabled != 0; }
VARHUB_API void VarHub_SetFindGivesForeignObject(int enabled) {
    Hub().findGivesForeign = enabled != 0;
}

VARHUB_API int VarHub_ValueCount(IUnknown* variable) {
    Variable* own = FindOwnVariable(variable);
    return own ? static_cast<int>(own->Values().size()) : -1;
}

VARHUB_API double VarHub_Value(IUnknown* variable, int index) {
    Variable* own = FindOwnVariable(variable);
    if (own == nullptr || index < 0 || static_cast<size_t>(index) >= own->Values().size()) {
        return NAN;
    }
    return own->Values()[index];
}

VARHUB_API void VarHub_TaggedName(IUnknown* variable, char* buffer, int capacity) {
    if (buffer == nullptr || capacity <= 0) return;
    Variable* own = FindOwnVariable(variable);
    std::snprintf(buffer, static_cast<size_t>(capacity), "%s",
                  own ? own->TaggedName().c_str() : "");
}
