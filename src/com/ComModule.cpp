#include "com/ComModule.h"

namespace pvt {

CComModule::CComModule() {
    InitializeCriticalSection(&classTableLock_);
    InitializeCriticalSection(&staticDataLock_);
}

CComModule::~CComModule() {
    // After a shut-down this only deletes the class-table lock.
    Term(false);
    DeleteCriticalSection(&classTableLock_);
}

void CComModule::Init(ClassTableEntry* classTable, const GUID& typeLibraryId) {
    typeLibraryId_ = typeLibraryId;
    classTable_ = classTable;
}

HRESULT CComModule::GetClassObject(REFCLSID classId, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (classTable_ == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
    for (ClassTableEntry* entry = classTable_; entry->classId != nullptr; ++entry) {
        if (!IsEqualCLSID(*entry->classId, classId)) continue;
        HRESULT hr = S_OK;
        void* cached = InterlockedCompareExchangePointer(
            reinterpret_cast<void**>(&entry->cachedClassObject), nullptr, nullptr);
        if (cached == nullptr) {
            CriticalSectionLock lock(classTableLock_);
            if (entry->cachedClassObject == nullptr) {
                void* made = nullptr;
                hr = entry->makeClassObject(entry->makeInstance, IID_IUnknown, &made);
                InterlockedExchangePointer(reinterpret_cast<void**>(&entry->cachedClassObject),
                                           made);
            }
            cached = entry->cachedClassObject;
        }
        if (cached != nullptr) hr = static_cast<IUnknown*>(cached)->QueryInterface(iid, object);
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

void CComModule::Shutdown(bool foreignCallsAllowed) {
    if (classTable_ != nullptr) {
        for (ClassTableEntry* entry = classTable_; entry->classId != nullptr; ++entry) {
            IUnknown* cached = static_cast<IUnknown*>(InterlockedExchangePointer(
                reinterpret_cast<void**>(&entry->cachedClassObject), nullptr));
            if (cached != nullptr) cached->Release();
        }
    }
    Term(foreignCallsAllowed);
}

void CComModule::AddTermFunction(TermFunction function, void* argument) {
    terminationList_ = new TermNode{function, argument, terminationList_};
}

void CComModule::Term(bool runFunctions) {
    if (terminated_) return;
    while (terminationList_ != nullptr) {
        TermNode* node = terminationList_;
        terminationList_ = node->next;
        if (runFunctions) node->function(node->argument);
        delete node;
    }
    DeleteCriticalSection(&staticDataLock_);
    terminated_ = true;
}

CComModule& Module() {
    static CComModule module;
    return module;
}

}  // namespace pvt
